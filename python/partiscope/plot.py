"""The first look at a recording's particle table, drawn headless."""

import numpy as np

from .table import read_frames, read_table


def plot_table(path, output):
    """Draws the table at `path` to the PNG `output`: x-y positions coloured
    by depth, histograms of depth and radius, particles a frame. Returns the
    number of particles drawn."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    t = read_table(path)
    per_frame = read_frames(path)  # frames without particles included
    fig, ax = plt.subplots(2, 2, figsize=(10, 8))
    s = ax[0, 0].scatter(t["y"], t["x"], c=t["z"] * 1e3, s=8, cmap="viridis")
    ax[0, 0].invert_yaxis()  # x along the image's rows, drawn downwards as in the image
    ax[0, 0].set(xlabel="y (pixels from the centre)", ylabel="x (pixels from the centre)",
                 title="positions, coloured by depth", aspect="equal")
    fig.colorbar(s, ax=ax[0, 0], label="z (mm)")
    ax[0, 1].hist(t["z"] * 1e3, bins=40, color="tab:blue")
    ax[0, 1].set(xlabel="z (mm)", ylabel="particles", title="depth")
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
