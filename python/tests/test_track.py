"""Linking particles into trajectories: identities kept through missed
frames, across crossings (with velocity prediction) and in bounded memory;
the command on a table of partiscope find, CSV and HDF5 alike."""
import numpy as np
import pandas as pd
import pytest

import partiscope as ps
from partiscope.tracking import Linker, TrackError


def walkers(frames, count, step, seed):
    """count particles on random walks of rms step `step` px, far apart;
    rows of a table (frame names f1, f2, ...) with their true identity."""
    rng = np.random.default_rng(seed)
    start = np.column_stack([np.arange(count) * 40.0, rng.uniform(-100, 100, count),
                             rng.uniform(0.05, 0.1, count)])
    rows = []
    for f in range(frames):
        start[:, :2] += rng.normal(0, step, (count, 2))
        start[:, 2] += rng.normal(0, 1e-4, count)
        rows += [("f%d" % (f + 1), *start[k], 0.05, 0.05, 2e-5, k) for k in range(count)]
    t = pd.DataFrame(rows, columns=["frame", "x", "y", "z", "se_x", "se_y", "se_z", "truth"])
    return t


def same_partition(a, b):
    pairs = set(zip(a, b))
    return len(pairs) == len(set(a)) == len(set(b))


def test_identities_kept_through_missed_frames_and_short_tracks_dropped():
    t = walkers(30, 12, 1.5, 1)
    t = t.drop(index=t.index[(t["truth"] == 3) & t["frame"].isin(["f10", "f11"])])  # missed twice
    stray = pd.DataFrame([("f7", 500.0, 500.0, 0.07, 0.05, 0.05, 2e-5, -1),
                          ("f8", np.nan, 0.0, 0.07, 0.05, 0.05, 2e-5, -1)], columns=t.columns)
    t = pd.concat([t, stray], ignore_index=True)
    linked = ps.track(t, search_range=6, memory=2, min_length=3)
    assert len(linked) == len(t) - 2 and -1 not in set(linked["truth"])  # the stray rows dropped
    assert same_partition(linked["particle"], linked["truth"])
    assert linked["frame_index"].is_monotonic_increasing
    # Without memory the particle missed twice becomes two tracks.
    assert ps.track(t, search_range=6, min_length=3)["particle"].nunique() == 13


def test_crossing_particles_keep_their_identity_with_velocity_prediction():
    x = np.arange(12) * 3.0
    rows = [("f%d" % (k + 1), xa, 0.0, 0.05, "a") for k, xa in enumerate(x)]
    rows += [("f%d" % (k + 1), 33.0 - xa, 0.5, 0.05, "b") for k, xa in enumerate(x)]
    t = pd.DataFrame(rows, columns=["frame", "x", "y", "z", "truth"])
    linked = ps.track(t, search_range=5, predict="velocity")
    assert linked["particle"].nunique() == 2 and same_partition(linked["particle"], linked["truth"])


def test_bounded_window_and_refused_options():
    linker = Linker(5.0, memory=1, min_length=2)
    for f in range(1, 200):
        linker.add(f, np.array([[f * 0.1, 0.0, 0.05]]), np.full((1, 3), np.nan), [f])
        assert len(linker.pending) <= linker.delay + 1 and len(linker.open) == 1
    for bad in ({"search_range": 0}, {"search_range": 5, "memory": -1},
                {"search_range": 5, "min_length": 0}, {"search_range": 5, "predict": "acc"}):
        with pytest.raises(TrackError):
            Linker(**bad)


def test_the_worked_example_finds_links_and_draws_six_trajectories(tmp_path):
    import os
    import subprocess
    import sys
    example = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "track_particles.py")
    run = subprocess.run([sys.executable, example, str(tmp_path)], capture_output=True, text=True,
                         timeout=600)
    assert run.returncode == 0, run.stderr
    assert "6 trajectories; mean drift 2.0" in run.stdout
    assert (tmp_path / "rec-tracks.png").read_bytes()[:4] == b"\x89PNG"
