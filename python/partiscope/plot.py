"""The first look at a recording's particle table, drawn headless."""

import numpy as np

from .table import read_frames, read_table


def _unit(lengths):
    """The unit lengths of this size read best in: micrometres under a
    millimetre (microscope data), millimetres otherwise."""
    size = float(np.nanmax(np.abs(lengths))) if len(lengths) else 0.0
    return (1e6, "µm") if size < 1e-3 else (1e3, "mm")


def _lateral(t):
    """x and y in the unit of their scale when the pitch is known, else in
    pixels, and the unit's name."""
    if "x_m" not in t:
        return t["x"], t["y"], "pixels"
    scale, unit = _unit(np.concatenate([t["x_m"], t["y_m"]]))
    return t["x_m"] * scale, t["y_m"] * scale, unit


def plot_table(path, output):
    """Draws the table at `path` to the PNG `output`: x-y positions coloured
    by depth, histograms of depth and radius, particles a frame; for a table
    of tracks (partiscope track's), the trajectories in 3-D and their speeds.
    Returns the number of rows drawn."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    t = read_table(path)
    if "particle" in t:
        return _plot_tracks(t, path, output, plt)
    per_frame = read_frames(path)  # frames without particles included
    fig, ax = plt.subplots(2, 2, figsize=(10, 8))
    zs, zu = _unit(t["z"])
    x, y, xu = _lateral(t)
    s = ax[0, 0].scatter(y, x, c=t["z"] * zs, s=8, cmap="viridis")
    ax[0, 0].invert_yaxis()  # x along the image's rows, drawn downwards as in the image
    ax[0, 0].set(xlabel="y (%s from the centre)" % xu, ylabel="x (%s from the centre)" % xu,
                 title="positions, coloured by depth")
    ax[0, 0].set_aspect("equal", adjustable="datalim")
    fig.colorbar(s, ax=ax[0, 0], label="z (%s)" % zu)
    ax[0, 1].hist(t["z"] * zs, bins=40, color="tab:blue")
    ax[0, 1].set(xlabel="z (%s)" % zu, ylabel="particles", title="depth")
    ax[1, 0].hist(t["r"] * 1e6, bins=40, color="tab:orange")
    ax[1, 0].set(xlabel="r (µm)", ylabel="particles", title="radius")
    ax[1, 1].plot(np.arange(1, len(per_frame) + 1), per_frame, ".-", ms=3)
    ax[1, 1].set(xlabel="frame (in the recording's order)", ylabel="particles",
                 title="particles a frame")
    ax[1, 1].set_ylim(bottom=0)
    fig.suptitle("%s: %d particles in %d frames" % (path, len(t["frame"]), len(per_frame)))
    fig.tight_layout()
    fig.savefig(output, dpi=100)
    plt.close(fig)
    return len(t["frame"])


def _plot_tracks(t, path, output, plt):
    """The trajectories in x, y and z, one colour each, and a histogram of
    the lateral speeds between consecutive rows of a track (z's errors are
    tens of times x's, so its steps are left out of the speed)."""
    zs, zu = _unit(t["z"])
    x, y, xu = _lateral(t)
    fig = plt.figure(figsize=(12, 5))
    ax = fig.add_subplot(1, 2, 1, projection="3d")
    speeds = []
    for k, (_, g) in enumerate(t.groupby("particle", sort=False)):
        i = g.index
        ax.plot(y[i], x[i], g["z"] * zs, lw=0.8, color=plt.cm.tab20(k % 20))
        step = np.hypot(np.diff(x[i]), np.diff(y[i])) / np.diff(g["frame_index"])
        speeds.append(step)
    ax.set(xlabel="y (%s)" % xu, ylabel="x (%s)" % xu, zlabel="z (%s)" % zu,
           title="%d trajectories" % t["particle"].nunique())
    h = fig.add_subplot(1, 2, 2)
    h.hist(np.concatenate(speeds) if speeds else [], bins=50, color="tab:green")
    h.set(xlabel="speed in x-y (%s a frame)" % xu, ylabel="steps",
          title="speeds between consecutive frames")
    fig.suptitle("%s: %d rows" % (path, len(t)))
    fig.tight_layout()
    fig.savefig(output, dpi=100)
    plt.close(fig)
    return len(t)
