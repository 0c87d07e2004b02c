"""Monte-Carlo measurement of the sphere fit on Lorenz-Mie holograms from
sphereplate (the series summed at every pixel, no table): the errors in units
of the reported standard errors, the convergence and the time a fit.

    PYTHONPATH=build/python python3 bench/sphere_accuracy.py [beads] [sigma]
    PYTHONPATH=build/python python3 bench/sphere_accuracy.py --frames [frames]

One bead a 201x201 crop, drawn uniformly over a 0.3-2 um, n_p 1.38-1.6,
z 5-40 um, a vacuum wavelength of 447-660 nm in water (1.33) and 48-115 nm
pixels in the sample plane, placed within a pixel of the crop's centre. The
fit starts 0.5 px off in x and y, 5% off in z and a, and 0.02 off in the
index.

--frames: findparticles on 1024x1280 frames of 5 beads each (a 0.4-1.5 um,
n_p 1.4-1.6, z 8-30 um, 532 nm in water, 70 nm pixels, noise 0.02; depths
5-40 um in 8 steps, radii 0.3 and 2 um): beads found, false rows, errors in
standard errors and the time a frame (FFT plans made before the first)."""
import sys
import time

import numpy as np

import partiscope as ps

MEDIUM = 1.33


def main():
    beads = int(sys.argv[1]) if len(sys.argv) > 1 else 200
    sigma = float(sys.argv[2]) if len(sys.argv) > 2 else 0.01
    rng = np.random.default_rng(2026)
    errors, seconds, failed = [], [], 0
    for _ in range(beads):
        lambda_ = rng.uniform(447e-9, 660e-9) / MEDIUM
        pix = rng.uniform(48e-9, 115e-9)
        a, z = rng.uniform(0.3e-6, 2e-6), rng.uniform(5e-6, 40e-6)
        n_p = rng.uniform(1.38, 1.6)
        truth = np.array([rng.uniform(-1, 1), rng.uniform(-1, 1), z, a, n_p])
        hol = ps.sphereplate(truth, 201, 201, lambda_, pix, MEDIUM, Sigma=sigma,
                             Seed=int(rng.integers(1 << 31))).hologram
        sign = rng.choice([-1.0, 1.0], 4)
        p0 = np.array([truth[0] + 0.5 * sign[0], truth[1] - 0.5 * sign[0], z * (1 + 0.05 * sign[1]),
                       a * (1 + 0.05 * sign[2])])
        start = time.perf_counter()
        f = ps.ringfit(hol, lambda_, pix, p0, Particle="sphere", MediumIndex=MEDIUM,
                       Index=n_p + 0.02 * sign[3], Sigma=sigma)
        seconds.append(time.perf_counter() - start)
        if not f.converged[0]:
            failed += 1
            continue
        got = np.append(f.p[0], f.index[0])
        se = np.append(f.se[0], f.index_se[0])
        errors.append((got - truth) / se)
    e = np.array(errors)
    print("beads %d, sigma %g: %d converged, %d not" % (beads, sigma, len(e), failed))
    print("            x      y      z      a      n_p")
    print("RMS err/se  " + " ".join("%6.2f" % v for v in np.sqrt((e ** 2).mean(0))))
    print("mean err/se " + " ".join("%+6.2f" % v for v in e.mean(0)))
    print("beyond 4 se: %d beads" % int((np.abs(e) > 4).any(1).sum()))
    print("time a fit: median %.3f s, 90th percentile %.3f s, largest %.3f s" % (
        np.median(seconds), np.percentile(seconds, 90), max(seconds)))


def frames(count):
    lambda_, pix, sigma = 532e-9 / MEDIUM, 70e-9, 0.02
    depths, radii = np.arange(5e-6, 41e-6, 5e-6), [0.3e-6, 2e-6]
    rng = np.random.default_rng(5)
    found = false = total = 0
    errors, seconds = [], []
    # The FFT plans of the frame's size, made once as a batch run makes them.
    ps.findparticles(np.ones((1024, 1280)), lambda_, pix, depths, radii, Particle="sphere",
                     MediumIndex=MEDIUM)
    for _ in range(count):
        beads = np.array([[rng.uniform(-400, 400), rng.uniform(-500, 500), rng.uniform(8e-6, 30e-6),
                           rng.uniform(0.4e-6, 1.5e-6), rng.uniform(1.4, 1.6)] for _ in range(5)])
        hol = ps.sphereplate(beads, 1024, 1280, lambda_, pix, MEDIUM, Sigma=sigma,
                             Seed=int(rng.integers(1 << 31))).hologram
        start = time.perf_counter()
        f = ps.findparticles(hol, lambda_, pix, depths, radii, Particle="sphere", MediumIndex=MEDIUM)
        seconds.append(time.perf_counter() - start)
        total += len(beads)
        claimed = set()
        for k in range(f.p.shape[0]):
            d = np.hypot(*(beads[:, :2] - f.p[k, :2]).T)
            j = int(d.argmin())
            if d[j] < 2 and j not in claimed:
                claimed.add(j)
                found += 1
                errors.append((np.append(f.p[k], f.index[k]) - beads[j]) /
                              np.append(f.se[k], f.index_se[k]))
            else:
                false += 1
    e = np.array(errors)
    print("frames %d: %d/%d beads found, %d false rows" % (count, found, total, false))
    print("RMS err/se x y z a n_p: " + " ".join("%.2f" % v for v in np.sqrt((e ** 2).mean(0))))
    # A bead measured in a neighbouring minimum along the radius-index
    # valley is thousands of standard errors off and swamps the RMS.
    near = e[(np.abs(e) <= 4).all(1)]
    print("beyond 4 se: %d beads; RMS err/se of the rest: " % (len(e) - len(near)) +
          " ".join("%.2f" % v for v in np.sqrt((near ** 2).mean(0))))
    print("time a frame: median %.1f s, largest %.1f s" % (np.median(seconds), max(seconds)))


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--frames":
        frames(int(sys.argv[2]) if len(sys.argv) > 2 else 4)
    else:
        main()
