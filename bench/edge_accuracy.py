"""Monte-Carlo measurement of findparticles on particles at and beyond the
sensor's edge: which are found, their errors in units of the reported
standard errors, the false rows; then small plates; then the cost of the
margin on large ones.

    PYTHONPATH=build/python python3 bench/edge_accuracy.py [plates] [small]
    PYTHONPATH=build/python python3 bench/edge_accuracy.py --timing [plates]

Edge plates (512x512, SNR 5): one particle inside and three at an edge, each
of them either near it (centre 2-15 px inside) or outside (centre 10-80 px
beyond it, a third and two thirds of them), on the toolbox's plates
(synthplate, 632.8 nm, 6.7 um pixels, z 5-15 cm, r 25-60 um) and on exact
ones (discplate, 632.8/532 nm and 6.7/3.45 um pixels, z 2-20 cm, r 20-100
um). An outside particle counts as detectable when its visible pattern
alone reaches the threshold: sqrt(sum over the sensor of (I - mean I)^2) /
sigma >= 6.5, I its own noise-free hologram, sigma the plate's noise. A row
is a particle's when its centre lies within 3 pixels and its depth within
10% (each particle claimed once); every other row is false.

Small plates (160x160, SNR 4-8, two particles anywhere on the sensor): rows
with a radius below the floor (half the smallest scanned radius), false
rows, and found particles whose z lies more than 4 standard errors off."""
import sys
import time

import numpy as np

import partiscope as ps

THRESHOLD = 6.5
TOOLBOX = dict(setups=[(632.8e-9, 6.7e-6)], z=(0.05, 0.15), r=(25e-6, 60e-6),
               depths=np.arange(0.04, 0.1601, 0.01), radii=[20e-6, 40e-6, 60e-6])
DISC = dict(setups=[(632.8e-9, 6.7e-6), (532e-9, 3.45e-6), (632.8e-9, 3.45e-6), (532e-9, 6.7e-6)],
            z=(0.02, 0.2), r=(20e-6, 100e-6), depths=np.arange(0.02, 0.2001, 0.01),
            radii=[20e-6, 40e-6, 60e-6, 80e-6, 100e-6])


def plate(model, n, lambda_, pix, size, snr, table, seed):
    """The hologram (level about 1) and its noise-free version."""
    if model == "toolbox":
        made = ps.synthplate(n, lambda_, pix, size, size, 1, snr, random_coordinates=0,
                             coordinates=table, meanh=1, seed=seed)
    else:
        made = ps.discplate(n, lambda_, pix, size, size, 1, snr, Coordinates=table, Seed=seed)
    noisy = made.hologram
    clean = noisy - made.noise
    if model == "toolbox":  # synthplate's plates are not normalised
        scale = clean.mean()
        noisy, clean = noisy / scale, clean / scale
    return noisy, clean, float(np.std(noisy - clean))


def visible_snr(model, lambda_, pix, size, row, sigma):
    _, clean, _ = plate(model, 1, lambda_, pix, size, 0, row[None, :], 1)
    return np.sqrt(((clean - clean.mean()) ** 2).sum()) / sigma


def edge_table(rng, size, ranges):
    rows, kinds = [], []
    half = size / 2
    for k in range(4):
        z, r = rng.uniform(*ranges["z"]), rng.uniform(*ranges["r"])
        if k == 0:
            x, y = rng.uniform(-half + 40, half - 40, 2)
            kinds.append("inside")
        else:
            near = rng.uniform() < 1 / 3
            d = -rng.uniform(2, 15) if near else rng.uniform(10, 80)  # beyond the edge
            t, e = rng.uniform(-half, half), half + d
            x, y = [(e, t), (-e, t), (t, e), (t, -e)][rng.integers(4)]
            kinds.append("near" if near else "outside")
        rows.append([x, y, z, r])
    return np.array(rows), kinds


def match(truth, p):
    """For each row of p, the truth row it finds (or -1)."""
    claimed, which = set(), []
    for k in range(p.shape[0]):
        d = np.hypot(*(truth[:, :2] - p[k, :2]).T)
        j = int(d.argmin())
        ok = d[j] < 3 and j not in claimed and abs(p[k, 2] - truth[j, 2]) < 0.1 * truth[j, 2]
        if ok:
            claimed.add(j)
        which.append(j if ok else -1)
    return which


def stats(errors):
    """RMS and mean error/se of x y z r, and how many particles lie beyond 4 se
    in any of them."""
    e = np.array(errors).reshape(-1, 4)
    return (" ".join("%.2f" % v for v in np.sqrt((e ** 2).mean(0))),
            " ".join("%+.2f" % v for v in e.mean(0)), int((np.abs(e) > 4).any(1).sum()))


def edges(model, plates, rng):
    ranges = TOOLBOX if model == "toolbox" else DISC
    size = 512
    detectable = found_detectable = near = found_near = false = plates_false = 0
    undetectable_found = undetectable = 0
    errors, seconds = [], 0.0
    for seed in range(plates):
        lambda_, pix = ranges["setups"][seed % len(ranges["setups"])]
        truth, kinds = edge_table(rng, size, ranges)
        hol, _, sigma = plate(model, 4, lambda_, pix, size, 5, truth, seed + 1)
        start = time.perf_counter()
        f = ps.findparticles(hol, lambda_, pix, ranges["depths"], ranges["radii"], Particle=model)
        seconds += time.perf_counter() - start
        which = match(truth, f.p)
        rows_false = which.count(-1)
        false += rows_false
        plates_false += rows_false > 0
        for j, kind in enumerate(kinds):
            if kind == "inside":
                continue
            hit = j in which
            if hit:
                k = which.index(j)
                errors.append((f.p[k] - truth[j]) / f.se[k])
            if kind == "near":
                near += 1
                found_near += hit
            elif visible_snr(model, lambda_, pix, size, truth[j], sigma) >= THRESHOLD:
                detectable += 1
                found_detectable += hit
            else:
                undetectable += 1
                undetectable_found += hit
    rms, mean, beyond = stats(errors)
    print("| %s, %d plates | %d/%d | %d/%d (%.1f%%) | %d/%d | %d (%d plates) | %s | %s | %d | %.2f |"
          % (model, plates, found_near, near, found_detectable, detectable,
             100.0 * found_detectable / max(detectable, 1), undetectable_found, undetectable, false,
             plates_false, rms, mean, beyond, seconds / plates), flush=True)


def small(model, plates, rng):
    ranges = TOOLBOX if model == "toolbox" else DISC
    size, floor = 160, 0.5 * ranges["radii"][0]
    found = total = false = below = off = 0
    for seed in range(plates):
        lambda_, pix = ranges["setups"][seed % len(ranges["setups"])]
        truth = np.column_stack([rng.uniform(-80, 80, (2, 2)), rng.uniform(*ranges["z"], 2),
                                 rng.uniform(*ranges["r"], 2)])
        hol, _, _ = plate(model, 2, lambda_, pix, size, rng.uniform(4, 8), truth, seed + 1)
        f = ps.findparticles(hol, lambda_, pix, ranges["depths"], ranges["radii"], Particle=model)
        which = match(truth, f.p)
        total += 2
        found += sum(j >= 0 for j in which)
        false += which.count(-1)
        below += int((f.p[:, 3] < floor).sum())
        off += sum(abs(f.p[k, 2] - truth[j, 2]) > 4 * f.se[k, 2] for k, j in enumerate(which) if j >= 0)
    print("| %s, 160x160, %d plates | %d/%d | %d | %d | %d |" % (
        model, plates, found, total, false, below, off), flush=True)


def timing(plates):
    """1024x1024 plates of 20 particles drawn as find_bench draws them (z
    5-15 cm, r 20-60 um, 632.8 nm, 6.7 um pixels, SNR 3, anywhere on the
    sensor): the default margin (256 px, 2.25 times the area) against
    Margin 0, plate by plate in one run."""
    rng = np.random.default_rng(5)
    depths, radii = np.arange(0.05, 0.1501, 0.01), [20e-6, 40e-6, 60e-6]
    lambda_, pix = 632.8e-9, 6.7e-6
    for model in ("toolbox", "disc"):
        spent = {0: 0.0, None: 0.0}
        for k in range(plates):
            table = np.column_stack([rng.uniform(-512, 512, (20, 2)), rng.uniform(0.05, 0.15, 20),
                                     rng.uniform(20e-6, 60e-6, 20)])
            hol, _, _ = plate(model, 20, lambda_, pix, 1024, 3, table, k + 1)
            for margin in spent:
                start = time.perf_counter()
                ps.findparticles(hol, lambda_, pix, depths, radii, Particle=model, Margin=margin)
                spent[margin] += time.perf_counter() - start
        print("%s, 1024x1024, 20 particles, %d plates: Margin 0 %.1f s a plate, default margin "
              "%.1f s (ratio %.2f; area ratio 2.25)" % (model, plates, spent[0] / plates,
                                                       spent[None] / plates, spent[None] / spent[0]),
              flush=True)


if __name__ == "__main__":
    if "--timing" in sys.argv:
        timing(int(sys.argv[2]) if len(sys.argv) > 2 else 3)
        sys.exit(0)
    plates = int(sys.argv[1]) if len(sys.argv) > 1 else 70
    small_plates = int(sys.argv[2]) if len(sys.argv) > 2 else 40
    rng = np.random.default_rng(11)
    print("| plates | near edge found | outside, detectable, found | outside, not detectable, "
          "found | false rows | RMS err/se x y z r (near and outside) | mean err/se | beyond 4 se "
          "| s a plate |")
    print("|---|---|---|---|---|---|---|---|---|")
    for model in ("toolbox", "disc"):
        edges(model, plates, rng)
    print()
    print("| plates | found | false rows | radius below the floor | z beyond 4 se |")
    print("|---|---|---|---|---|")
    for model in ("toolbox", "disc"):
        small(model, small_plates, rng)
