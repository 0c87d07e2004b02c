"""Two Python threads calling the package at once compute side by side:
the same calls made one after another on one thread, then split over two
threads, each call on one core (PARTISCOPE_NUM_THREADS=1), in one run.

    PARTISCOPE_NUM_THREADS=1 PYTHONPATH=build/python python3 bench/python_threads.py
"""
import os
import threading
import time

import numpy as np

import partiscope as ps

assert os.environ.get("PARTISCOPE_NUM_THREADS") == "1", "run with PARTISCOPE_NUM_THREADS=1"
rng = np.random.default_rng(1)
hol = rng.standard_normal((512, 512))
depths, radii = np.linspace(0.05, 0.15, 5), [3e-5, 5e-5]
calls = 8


def work(k):
    for _ in range(k):
        ps.detectstack(hol, 632.8e-9, 6.7e-6, depths, radii)


work(1)  # plans learned
for round_ in range(2):
    t0 = time.perf_counter()
    work(calls)
    one = time.perf_counter() - t0
    threads = [threading.Thread(target=work, args=(calls // 2,)) for _ in range(2)]
    t0 = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    two = time.perf_counter() - t0
    print("%d detectstack calls (512^2, 10 pairs): one thread %.2f s, two threads %.2f s: %.2fx"
          % (calls, one, two, one / two))
