"""The same jobs as the benchmarks, written the way a Python user would:
vectorised NumPy, numpy.fft and scipy.special. Prints one line per job:
name and milliseconds (best of a few runs)."""
import sys
import time

import numpy as np
from scipy import special

LAMBDA, PIX = 6.328e-7, 6.7e-6


def best_ms(job, repeat=3):
    best = float("inf")
    for _ in range(repeat):
        t = time.perf_counter()
        job()
        best = min(best, time.perf_counter() - t)
    return best * 1e3


def grid(side, x=1.3e-5, y=-2.1e-5):
    k = np.arange(-(side // 2), side // 2) * PIX
    return np.meshgrid(k - x, k - y, indexing="ij")


def particle(side, z=0.1, r=5e-5, x=1.3e-5, y=-2.1e-5):
    dx, dy = grid(side, x, y)
    rho = np.hypot(dx, dy)
    c = 1 / LAMBDA / z
    u = 2 * np.pi * r * rho * c
    jinc = np.where(u < 1e-4, 0.5, special.j1(u) / np.where(u == 0, 1, u))
    a = jinc * np.pi * r * r * c
    phi = np.pi * rho**2 * c
    return -1j * a * np.exp(1j * phi)


def detection(side_m, side_n, z=0.1, r=3e-5):
    hol = np.sin(0.001 * np.arange(side_m * side_n)).reshape(side_n, side_m).T
    w = np.ones_like(hol)
    m = particle(max(side_m, side_n), z, r, 0, 0).real[:side_m, :side_n]
    fm = np.fft.fft2(m)
    cw = np.fft.ifft2(np.fft.fft2(w) * fm).real
    cwd = np.fft.ifft2(np.fft.fft2(w * hol) * fm).real
    cwm2 = np.fft.ifft2(np.fft.fft2(w) * np.fft.fft2(m * m)).real
    cw, cwd, cwm2 = (np.fft.fftshift(a) for a in (cw, cwd, cwm2))
    s = w.sum()
    q = s * cwd**2 / (s * cwm2 - cw**2)
    return np.unravel_index(np.argmax(q), q.shape)


def plate(count=100, side=1024, snr=10):
    rng = np.random.default_rng(1)
    field = np.zeros((side, side), complex)
    for _ in range(count):
        x, y = (rng.random(2) - 0.5) * side * PIX
        field += particle(side, rng.uniform(0.05, 0.15), rng.uniform(2e-5, 6e-5), x, y)
    holo = np.abs(1 - field) ** 2
    if snr:
        holo += rng.normal(0, 1 / snr, holo.shape)
    return holo - holo.mean()


def bound(side=1024, z=0.1, r=5e-5, x=1.3e-5, y=-2.1e-5):
    dx, dy = grid(side, x, y)
    rho2 = dx * dx + dy * dy
    rho = np.sqrt(rho2)
    L = LAMBDA * z
    q = rho2 * np.pi / L
    v = rho * 2 * np.pi * r / L
    s = np.where(q == 0, 1, np.sin(q) / np.where(q == 0, 1, q))
    jq = np.where(v < 1e-6, 0.5, special.j1(v) / np.where(v == 0, 1, v))
    j0 = special.j0(v)
    kxy = r * np.pi**2 * r / L**2
    d = (j0 - 2 * jq) * s + 2 * jq * np.cos(q)
    derivs = [kxy * dx * d, kxy * dy * d,
              r * r * -np.pi**2 / L**2 / z * rho2 * (jq * np.cos(q) + (j0 - jq) * s),
              np.pi * r / L * s * q * j0]
    F = np.array([[np.sum(a * b) for b in derivs] for a in derivs]) / 0.1**2
    return np.sqrt(np.diag(np.linalg.inv(F)))


JOBS = {
    "ringform/complex/1024": lambda: particle(1024),
    "ringform/complex/2048": lambda: particle(2048),
    "ringform/real/1024": lambda: particle(1024).real,
    "ringform/real/2048": lambda: particle(2048).real,
    "detectscan/steady/1024/1024": lambda: detection(1024, 1024),
    "detectscan/steady/1280/1024": lambda: detection(1280, 1024),
    "detectscan/steady/2048/2048": lambda: detection(2048, 2048),
    "synthplate/100/10": lambda: plate(100, 1024, 10),
    "synthplate/100/0": lambda: plate(100, 1024, 0),
    "precbound/1024/0": lambda: bound(),
    "cylone/1e7": lambda: np.where(np.arange(10**7) * 1e-5 < 1e-4, 0.5,
                                   special.j1(np.arange(10**7) * 1e-5)
                                   / np.maximum(np.arange(10**7) * 1e-5, 1e-300)),
}

if __name__ == "__main__":
    wanted = sys.argv[1:] or list(JOBS)
    for name in wanted:
        repeat = 1 if name.startswith("synthplate") else 3
        print(f"{name} {best_ms(JOBS[name], repeat):.1f}", flush=True)
