"""Throughput and memory of `partiscope find` over a recording.

    PYTHONPATH=build/python /usr/bin/python3 bench/batch_throughput.py [FRAMES] [SMALL]

Synthesizes a 16-bit TIFF stack of FRAMES (default 200) 512x512 frames,
10 particles each (z 5-15 cm, r 20-60 um, SNR 3, anywhere on the sensor),
into a temporary folder, then runs the command on it as a user would:
one worker with one thread, two local workers with one thread each, a
local Dask cluster of two one-thread workers; and, on SMALL (default 50)
frames, two local workers again (the memory at another length) and one
worker with every core (the default of --workers 1). Each run's wall time
includes starting its workers. Peak memory is the largest sum of the
resident sizes of the command and its worker processes, sampled every
0.1 s (the Dask cluster's workers are not the command's and not counted).
"""
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
import psutil
import tifffile

import partiscope as ps

LAMBDA, PIX, SIZE, COUNT = 632.8e-9, 6.7e-6, 512, 10
GRID = ["--wavelength", str(LAMBDA), "--pixel", str(PIX), "--depths", "0.04:0.01:0.16",
        "--radii", "20e-6:20e-6:60e-6"]


def recording(path, frames):
    light = 2000.0
    with tifffile.TiffWriter(path) as stack:
        for k in range(frames):
            plate = ps.synthplate(COUNT, LAMBDA, PIX, SIZE, SIZE, 1, 3, (0.05, 0.15),
                                  (20e-6, 60e-6), random_coordinates=1, meanh=1, seed=k + 1)
            stack.write(np.round(light * plate.hologram).astype(np.uint16), contiguous=False)


def run(stack, output, *options):
    """Wall time and peak resident memory (MB) of one run of the command."""
    if os.path.exists(output):
        os.remove(output)
        os.remove(output + ".log")
    start = time.monotonic()
    proc = subprocess.Popen([sys.executable, "-m", "partiscope", "find", stack, *GRID,
                             "--no-progress", "--output", output, *options],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    tree, peak = psutil.Process(proc.pid), 0
    while proc.poll() is None:
        try:
            rss = tree.memory_info().rss + sum(c.memory_info().rss
                                               for c in tree.children(recursive=True))
            peak = max(peak, rss)
        except psutil.Error:
            pass
        time.sleep(0.1)
    seconds = time.monotonic() - start
    out, err = proc.communicate()
    if proc.returncode != 0:
        sys.exit("run failed: %s\n%s" % (" ".join(options), err))
    return seconds, peak / 2**20, out.strip()


def main():
    frames = int(sys.argv[1]) if len(sys.argv) > 1 else 200
    small = int(sys.argv[2]) if len(sys.argv) > 2 else 50
    from distributed import LocalCluster
    with tempfile.TemporaryDirectory() as tmp:
        long_stack, short_stack = os.path.join(tmp, "long.tif"), os.path.join(tmp, "short.tif")
        recording(long_stack, frames)
        recording(short_stack, small)
        rows = []

        def measure(label, stack, n, output, *options):
            seconds, peak, summary = run(stack, os.path.join(tmp, output), *options)
            rows.append((label, n, seconds, n / seconds, peak))
            print("%-40s %4d frames %7.1f s %6.3f frames/s %7.0f MB | %s"
                  % (label, n, seconds, n / seconds, peak, summary), flush=True)

        measure("1 worker, 1 thread", long_stack, frames, "one.csv", "--threads", "1")
        measure("2 local workers, 1 thread each", long_stack, frames, "two.csv", "--workers", "2",
                "--threads", "1")
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster:
            measure("Dask, 2 workers, 1 thread each", long_stack, frames, "dask.csv",
                    "--scheduler", cluster.scheduler_address)
        measure("2 local workers, 1 thread each", short_stack, small, "two_short.csv",
                "--workers", "2", "--threads", "1")
        measure("1 worker, every core (2 threads)", short_stack, small, "one_all.csv")

        same = all(open(os.path.join(tmp, n), "rb").read() ==
                   open(os.path.join(tmp, "one.csv"), "rb").read() for n in ("two.csv", "dask.csv"))
    one, two, dask = (rows[k][3] for k in range(3))
    print("\n| run | frames | s | frames/s | peak MB |\n|---|---:|---:|---:|---:|")
    for label, n, seconds, rate, peak in rows:
        print("| %s | %d | %.1f | %.3f | %.0f |" % (label, n, seconds, rate, peak))
    print("\n2 local workers / 1: %.2fx (target >= 1.8); Dask / 2 local workers: %.2fx "
          "(target >= 0.9); peak memory of 2 local workers, %d / %d frames: %.0f / %.0f MB; "
          "tables of the %d-frame runs identical: %s"
          % (two / one, dask / two, small, frames, rows[3][4], rows[1][4], frames,
             "yes" if same else "NO"))


if __name__ == "__main__":
    main()
