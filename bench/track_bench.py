"""Linking on simulated recordings with known trajectories: how many of the
true links between consecutive detections of a particle `partiscope.track`
makes, how many false ones, and its time a frame.

    PYTHONPATH=build/python python3 bench/track_bench.py [frames] [particles]

Particles diffuse (rms step 1.5 px a frame in x and y, 0.2 mm in z) in a
1024x1024 field, each also drifting with a flow of 3 px a frame (and kept
however far it drifts); positions
carry the find table's typical errors (0.05 px, 20 um); 3% of detections
are missed and 2% of the rows of a frame are false ones anywhere. Linked
with --search-range 8 px, --memory 2 and the same with --predict velocity.
"""
import sys
import time

import numpy as np
import pandas as pd

import partiscope as ps


def recording(frames, count, seed):
    rng = np.random.default_rng(seed)
    pos = np.column_stack([rng.uniform(-512, 512, (count, 2)), rng.uniform(0.05, 0.15, count)])
    rows = []
    for f in range(frames):
        pos[:, :2] += rng.normal(0, 1.5, (count, 2)) + [3.0, 0.0]
        pos[:, 2] += rng.normal(0, 2e-4, count)
        seen = rng.random(count) > 0.03
        for k in np.flatnonzero(seen):
            rows.append(("f%d" % (f + 1), *(pos[k] + rng.normal(0, [0.05, 0.05, 2e-5])),
                         0.05, 0.05, 2e-5, k))
    return pd.DataFrame(rows, columns=["frame", "x", "y", "z", "se_x", "se_y", "se_z", "truth"])


def score(linked):
    """True links kept (consecutive detections of one true particle in one
    track), of all true links, and links joining different particles."""
    true_made = true_all = false = 0
    for _, g in linked.groupby("particle"):
        t = g["truth"].to_numpy()
        false += int(np.sum(t[1:] != t[:-1]))
    real = linked[linked["truth"] >= 0].sort_values("frame_index", kind="stable")
    for _, g in real.groupby("truth"):
        p = g["particle"].to_numpy()
        true_all += len(p) - 1
        true_made += int(np.sum(p[1:] == p[:-1]))
    return true_made, true_all, false


if __name__ == "__main__":
    frames = int(sys.argv[1]) if len(sys.argv) > 1 else 400
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 150
    table = recording(frames, count, 3)
    print("%d frames, %d particles, %d rows" % (frames, count, len(table)))
    ps.track(table.iloc[:100], search_range=8)  # SciPy's modules imported
    print("| linking | true links kept | wrong links | detections a second |\n|---|---|---|---|")
    for name, search, predict in (("--search-range 8 --memory 2", 8, None),
                                  ("--search-range 12 --memory 2", 12, None),
                                  ("--search-range 8 --memory 2 --predict velocity", 8, "velocity")):
        start = time.perf_counter()
        linked = ps.track(table, search_range=search, memory=2, predict=predict)
        seconds = time.perf_counter() - start
        made, total, false = score(linked)
        print("| %s | %d/%d (%.2f%%) | %d (%.3f%%) | %.0f |" % (
            name, made, total, 100.0 * made / total, false, 100.0 * false / total,
            len(table) / seconds))
