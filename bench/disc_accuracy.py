"""Monte-Carlo measurement of findparticles on exact holograms of opaque
discs (discplate, pixels with area): detections, false rows, and the errors
in units of the reported standard errors, for the disc model (the default)
and the toolbox's far-field model; then the time of a 1024x1024 plate of 20
discs against the toolbox model on synthplate's plate of the same particles.

    PYTHONPATH=build/python python3 bench/disc_accuracy.py [plates] [size] [--disc-only]

A found row is a particle's when its centre lies within 2 pixels and its
depth within 10% (each particle claimed once); every other row is false."""
import sys
import time

import numpy as np

import partiscope as ps

LAMBDA, PIX = 632.8e-9, 6.7e-6
DEPTHS, RADII = np.arange(0.03, 0.2101, 0.01), [20e-6, 40e-6, 60e-6, 80e-6, 100e-6]


def measure(plates, size, particle, noise):
    found = false = total = 0
    errors = []
    seconds = 0.0
    for seed in range(plates):
        plate = ps.discplate(4, LAMBDA, PIX, size, size, 1, noise.get("SNR", 0), (0.03, 0.2),
                             (20e-6, 100e-6), Seed=seed, Sigma=noise.get("Sigma", 0))
        truth = plate.particles
        start = time.perf_counter()
        p, se, _ = ps.findparticles(plate.hologram, LAMBDA, PIX, DEPTHS, RADII, Particle=particle)
        seconds += time.perf_counter() - start
        total += len(truth)
        claimed = set()
        for k in range(p.shape[0]):
            d = np.hypot(*(truth[:, :2] - p[k, :2]).T)
            j = int(d.argmin())
            if d[j] < 2 and j not in claimed and abs(p[k, 2] - truth[j, 2]) < 0.1 * truth[j, 2]:
                claimed.add(j)
                found += 1
                errors.append((p[k] - truth[j]) / se[k])
            else:
                false += 1
    e = np.array(errors).reshape(-1, 4)
    rms, mean = np.sqrt((e ** 2).mean(0)), e.mean(0)
    print("| %s | %s | %d/%d (%.1f%%) | %d | %s | %s | %.2f |" % (
        particle, ", ".join("%s %g" % kv for kv in noise.items()), found, total,
        100.0 * found / total, false, " ".join("%.2f" % v for v in rms),
        " ".join("%+.2f" % v for v in mean), seconds / plates), flush=True)


def timing(plates):
    rng = np.random.default_rng(5)
    disc = toolbox = 0.0
    for k in range(plates):
        table = np.column_stack([rng.uniform(-400, 400, (20, 2)), rng.uniform(0.03, 0.2, 20),
                                 rng.uniform(20e-6, 100e-6, 20)])
        h = ps.discplate(20, LAMBDA, PIX, 1024, 1024, 1, 3, Coordinates=table, Seed=k).hologram
        start = time.perf_counter()
        ps.findparticles(h, LAMBDA, PIX, DEPTHS, RADII)
        disc += time.perf_counter() - start
        s = ps.synthplate(20, LAMBDA, PIX, 1024, 1024, 1, 3, random_coordinates=0,
                          coordinates=table, meanh=1, seed=k + 1).hologram
        start = time.perf_counter()
        ps.findparticles(s / s.mean(), LAMBDA, PIX, DEPTHS, RADII, Particle="toolbox")
        toolbox += time.perf_counter() - start
    print("1024x1024, 20 particles, SNR 3, %d plates: disc on discplate %.1f s a plate, toolbox "
          "on synthplate %.1f s (ratio %.2f)" % (plates, disc / plates, toolbox / plates,
                                                disc / toolbox), flush=True)


if __name__ == "__main__":
    plates = int(sys.argv[1]) if len(sys.argv) > 1 else 50
    size = int(sys.argv[2]) if len(sys.argv) > 2 else 512
    print("%d plates of %dx%d, 4 discs each (r 20-100 um, z 3-20 cm, F up to 0.8), 632.8 nm, "
          "6.7 um pixels" % (plates, size, size))
    print("| model | noise | found | false rows | RMS err/se x y z r | mean err/se x y z r | s a plate |")
    print("|---|---|---|---|---|---|---|")
    for noise in ({"SNR": 3}, {"Sigma": 0.01}):
        for particle in ("disc", "toolbox")[:1 if "--disc-only" in sys.argv else 2]:
            measure(plates, size, particle, noise)
    timing(1 if "--disc-only" in sys.argv else 3)
