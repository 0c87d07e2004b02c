"""Find and measure the particles of a simulated hologram from Python, and
save a figure (headless).

    PYTHONPATH=build/python python3 examples/find_particles.py   (from the repository)
    python3 examples/find_particles.py                           (after tools/install-python)

Change the parameters below to match your own setup; for a recorded frame,
replace the simulated plate by `frame / background` (floats, not integers),
and mask bad pixels with Weights (see examples/find_particles_in_image.m).
"""
import sys

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt
import numpy as np

import partiscope as ps

# Setup (lengths in metres, particle positions in pixels from the grid centre)
sensor, pix, wavelength = 512, 6.7e-6, 632.8e-9
count, z_range, r_range, snr = 8, (0.05, 0.15), (20e-6, 60e-6), 3
depths = np.arange(0.04, 0.165, 0.01)  # the depths scanned, a step beyond each end
radii = [20e-6, 40e-6, 60e-6]
figure_file = sys.argv[1] if len(sys.argv) > 1 else "partiscope-demo-python.png"

# A recorded-style plate: particles drawn at random (reproducibly), the
# background level kept and divided out, as a frame divided by a background.
plate = ps.synthplate(count, wavelength, pix, sensor, sensor, 1, snr, z_range, r_range,
                      random_coordinates=1, meanh=1, seed=7)
hol = plate.hologram / plate.hologram.mean()

found = ps.findparticles(hol, wavelength, pix, depths, radii, Particle="toolbox")  # synthplate's model
print("found %d of %d particles in %d scans (%s)" % (len(found.p), count, found.passes,
                                                     found.message))
print("   x true  x found    y true  y found   z true  z found   r true  r found   (px, mm, um)")
for t in plate.particles:
    j = int(np.argmin(np.hypot(found.p[:, 0] - t[0], found.p[:, 1] - t[1]))) if len(found.p) else -1
    f = found.p[j] if j >= 0 else np.full(4, np.nan)
    print("%8.2f %8.2f  %8.2f %8.2f  %7.2f %7.2f  %7.2f %7.2f" % (
        t[0], f[0], t[1], f[1], t[2] * 1e3, f[2] * 1e3, t[3] * 1e6, f[3] * 1e6))

# The figure: the hologram with the true (o) and found (+) particles. Row i
# of the array is x = i - sensor // 2; imshow draws rows downwards.
h = sensor // 2
fig, ax = plt.subplots(figsize=(6, 6))
ax.imshow(hol, cmap="gray")
ax.plot(plate.particles[:, 1] + h, plate.particles[:, 0] + h, "go", mfc="none", ms=12, label="true")
ax.plot(found.p[:, 1] + h, found.p[:, 0] + h, "r+", ms=12, label="found")
ax.legend(loc="upper right")
ax.set_title("findparticles on a simulated %dx%d plate" % (sensor, sensor))
fig.savefig(figure_file, dpi=80)
print("figure written to", figure_file)
