"""Monte-Carlo measurement of the sphere fit on Lorenz-Mie holograms from
sphereplate (the series summed at every pixel, no table): the errors in units
of the reported standard errors, the convergence and the time a fit.

    PYTHONPATH=build/python python3 bench/sphere_accuracy.py [beads] [sigma]

One bead a 201x201 crop, drawn uniformly over a 0.3-2 um, n_p 1.38-1.6,
z 5-40 um, a vacuum wavelength of 447-660 nm in water (1.33) and 48-115 nm
pixels in the sample plane, placed within a pixel of the crop's centre. The
fit starts 0.5 px off in x and y, 5% off in z and a, and 0.02 off in the
index."""
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


if __name__ == "__main__":
    main()
