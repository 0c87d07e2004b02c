"""Monte-Carlo measurement of findparticles on exact holograms of opaque
discs (discplate, pixels with area): detections, false rows, the errors in
units of the reported standard errors and the time a plate, with the disc
model (the default); then the toolbox's model on synthplate's plates of the
same particles, in the same run; and ringfit from perturbed starts.

    PYTHONPATH=build/python python3 bench/disc_accuracy.py [plates] [size] [discs]
    PYTHONPATH=build/python python3 bench/disc_accuracy.py --timing [plates]

Plates cycle through 632.8 and 532 nm and 3.45 and 6.7 um pixels; discs are
drawn anywhere on the sensor with r 20-100 um and z 2-20 cm (Fresnel numbers
up to 0.8). A found row is a particle's when its centre lies within 2 pixels
and its depth within 10% (each particle claimed once); every other row is
false."""
import sys
import time

import numpy as np

import partiscope as ps

SETUPS = [(632.8e-9, 6.7e-6), (532e-9, 3.45e-6), (632.8e-9, 3.45e-6), (532e-9, 6.7e-6)]
RANGE_Z, RANGE_R = (0.02, 0.2), (20e-6, 100e-6)
DEPTHS, RADII = np.arange(0.02, 0.2001, 0.01), [20e-6, 40e-6, 60e-6, 80e-6, 100e-6]


class Row:
    def __init__(self, name):
        self.name, self.found, self.false, self.total, self.errors, self.seconds = name, 0, 0, 0, [], 0.0

    def score(self, truth, p, se):
        self.total += len(truth)
        claimed = set()
        for k in range(p.shape[0]):
            d = np.hypot(*(truth[:, :2] - p[k, :2]).T)
            j = int(d.argmin())
            if d[j] < 2 and j not in claimed and abs(p[k, 2] - truth[j, 2]) < 0.1 * truth[j, 2]:
                claimed.add(j)
                self.found += 1
                self.errors.append((p[k] - truth[j]) / se[k])
            else:
                self.false += 1

    def print(self, plates):
        e = np.array(self.errors).reshape(-1, 4)
        rms, mean = np.sqrt((e ** 2).mean(0)), e.mean(0)
        print("| %s | %d/%d (%.1f%%) | %d | %s | %s | %.1f |" % (
            self.name, self.found, self.total, 100.0 * self.found / self.total, self.false,
            " ".join("%.2f" % v for v in rms), " ".join("%+.2f" % v for v in mean),
            self.seconds / plates), flush=True)


def find(row, hol, lambda_, pix, truth, **options):
    start = time.perf_counter()
    p, se, _ = ps.findparticles(hol, lambda_, pix, DEPTHS, RADII, **options)
    row.seconds += time.perf_counter() - start
    row.score(truth, p, se)


def perturbed_starts(row, hol, lambda_, pix, truth, rng):
    """ringfit from starts 0.5-1 px, 1% in z and 10% in r off the truth."""
    n = len(truth)
    sign = lambda: rng.choice([-1.0, 1.0], n)
    p0 = truth.copy()
    p0[:, 0] += sign() * rng.uniform(0.5, 1.0, n)
    p0[:, 1] += sign() * rng.uniform(0.5, 1.0, n)
    p0[:, 2] *= 1 + 0.01 * sign()
    p0[:, 3] *= 1 + 0.1 * sign()
    start = time.perf_counter()
    p, se, _ = ps.ringfit(hol, lambda_, pix, p0)
    row.seconds += time.perf_counter() - start
    row.score(truth, p, se)


def timing(plates):
    """findparticles' time on 1024x1024 plates of 20 particles drawn as
    find_bench draws them (z 5-15 cm, r 20-60 um, 632.8 nm, 6.7 um pixels,
    SNR 3; the scan 11 depths by 3 radii): the disc model on discplate's
    plate against the toolbox model on synthplate's plate of the same
    particles, plate by plate in one run."""
    rng = np.random.default_rng(5)
    depths, radii = np.arange(0.05, 0.1501, 0.01), [20e-6, 40e-6, 60e-6]
    lambda_, pix = 632.8e-9, 6.7e-6
    disc = toolbox = 0.0
    for k in range(plates):
        table = np.column_stack([rng.uniform(-512, 512, (20, 2)), rng.uniform(0.05, 0.15, 20),
                                 rng.uniform(20e-6, 60e-6, 20)])
        h = ps.discplate(20, lambda_, pix, 1024, 1024, 1, 3, Coordinates=table, Seed=k).hologram
        s = ps.synthplate(20, lambda_, pix, 1024, 1024, 1, 3, random_coordinates=0,
                          coordinates=table, meanh=1, seed=k + 1).hologram
        start = time.perf_counter()
        ps.findparticles(h, lambda_, pix, depths, radii)
        disc += time.perf_counter() - start
        start = time.perf_counter()
        ps.findparticles(s / s.mean(), lambda_, pix, depths, radii, Particle="toolbox")
        toolbox += time.perf_counter() - start
    print("1024x1024, 20 particles, SNR 3, %d plates: disc model on discplate %.1f s a plate, "
          "toolbox model on synthplate %.1f s (ratio %.2f)" % (plates, disc / plates,
                                                               toolbox / plates, disc / toolbox))


if __name__ == "__main__":
    if "--timing" in sys.argv:
        timing(int(sys.argv[2]) if len(sys.argv) > 2 else 5)
        sys.exit(0)
    plates = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    size = int(sys.argv[2]) if len(sys.argv) > 2 else 1024
    discs = int(sys.argv[3]) if len(sys.argv) > 3 else 20
    print("%d plates of %dx%d, %d discs each (r 20-100 um, z 2-20 cm), 632.8/532 nm, "
          "3.45/6.7 um pixels" % (plates, size, size, discs))
    print("| model, plates, noise | found | false rows | RMS err/se x y z r | mean err/se x y z r "
          "| s a plate |")
    print("|---|---|---|---|---|---|")
    rng = np.random.default_rng(7)
    rows = {k: Row(k) for k in ("disc, discplate, SNR 3", "disc, discplate, Sigma 0.01",
                                "toolbox, synthplate, SNR 3",
                                "ringfit from perturbed starts, discplate, SNR 3",
                                "ringfit from perturbed starts, discplate, Sigma 0.01")}
    for seed in range(plates):
        lambda_, pix = SETUPS[seed % len(SETUPS)]
        for noise, name in (({"SNR": 3}, "SNR 3"), ({"Sigma": 0.01}, "Sigma 0.01")):
            plate = ps.discplate(discs, lambda_, pix, size, size, 1, noise.get("SNR", 0), RANGE_Z,
                                 RANGE_R, Seed=seed, Sigma=noise.get("Sigma", 0))
            find(rows["disc, discplate, " + name], plate.hologram, lambda_, pix, plate.particles)
            perturbed_starts(rows["ringfit from perturbed starts, discplate, " + name],
                             plate.hologram, lambda_, pix, plate.particles, rng)
        s = ps.synthplate(discs, lambda_, pix, size, size, 1, 3, random_coordinates=0,
                          coordinates=plate.particles, meanh=1, seed=seed + 1)
        find(rows["toolbox, synthplate, SNR 3"], s.hologram / s.hologram.mean(), lambda_, pix, s.particles,
             Particle="toolbox")
        print("plate %d done" % (seed + 1), file=sys.stderr, flush=True)
    for row in rows.values():
        row.print(plates)
