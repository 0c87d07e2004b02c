"""A worked example of a recording's trajectories: a simulated 16-bit
recording of particles drifting in a flow, measured frame by frame by
`partiscope find`, linked by `partiscope track`, drawn by `partiscope plot`.

    PYTHONPATH=build/python python3 examples/track_particles.py [folder]

Writes into the folder (default: a new temporary one) the recording
(rec.tif), its background (background.tif), the table (rec.csv), the tracks
(rec-tracks.csv) and their figure (rec-tracks.png), and prints where.
"""
import os
import sys
import tempfile

import numpy as np
import tifffile

import partiscope as ps
from partiscope.cli import main

LAMBDA, PIX, SIZE, FRAMES = 632.8e-9, 6.7e-6, 256, 24


def simulate(folder):
    """Six particles drifting 2 px a frame along x with Brownian steps
    (0.7 px, 0.3 mm in z), under an uneven illumination of 2000 counts."""
    rng = np.random.default_rng(4)
    table = np.column_stack([rng.uniform(-90, -40, 6), np.linspace(-90, 90, 6),
                             rng.uniform(0.05, 0.1, 6), rng.uniform(30e-6, 50e-6, 6)])
    x = np.linspace(-1, 1, SIZE)
    light = 2000 * (1 + 0.2 * x[:, None] - 0.1 * x[None, :] ** 2)
    tifffile.imwrite(os.path.join(folder, "background.tif"), np.round(light).astype(np.uint16))
    with tifffile.TiffWriter(os.path.join(folder, "rec.tif")) as rec:
        for f in range(FRAMES):
            table[:, 0] += 2.0 + rng.normal(0, 0.7, 6)
            table[:, 1] += rng.normal(0, 0.7, 6)
            table[:, 2] += rng.normal(0, 3e-4, 6)
            plate = ps.synthplate(6, LAMBDA, PIX, SIZE, SIZE, 1, 8, random_coordinates=0,
                                  coordinates=table, meanh=1, seed=f + 1)
            rec.write(np.round(light * plate.hologram).astype(np.uint16), contiguous=False)


if __name__ == "__main__":
    folder = sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp(prefix="partiscope-tracks-")
    os.makedirs(folder, exist_ok=True)
    simulate(folder)
    os.chdir(folder)
    for command in (["find", "rec.tif", "--wavelength", str(LAMBDA), "--pixel", str(PIX),
                     "--depths", "0.04:0.01:0.11", "--radii", "20e-6:20e-6:60e-6",
                     "--background", "background.tif", "--particle", "toolbox",
                     "--output", "rec.csv", "--no-progress", "--overwrite"],
                    ["track", "rec.csv", "--search-range", "5", "--memory", "1",
                     "--min-length", "5", "--predict", "velocity"],
                    ["plot", "rec-tracks.csv"]):
        if main(command) != 0:
            sys.exit(1)
    tracks = ps.read_table("rec-tracks.csv")
    kept = tracks[(tracks["converged"] == 1) & (tracks["se_z"] < 1e-3)]  # rows to trust
    print("%d trajectories; mean drift %.2f px a frame along x (simulated: 2)"
          % (kept["particle"].nunique(),
             np.mean([np.polyfit(g["frame_index"], g["x"], 1)[0]
                      for _, g in kept.groupby("particle")])))
    print("written in %s" % folder)
