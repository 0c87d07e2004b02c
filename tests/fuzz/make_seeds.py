"""Writes the seed corpus of the module fuzzers: the calls the module tests
make, in the harness's byte format (result count, argument count, then per
argument: kind, rows, columns and one value index per element; the value
table is kValues in module_fuzz.cpp)."""
import os
import sys

VALUES = [0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 7.0, 8.0, 9.0, 16.0, 33.0, 64.0, -1.0, -2.5, 0.5, 1.5,
          0.9, -0.9, 1e-6, 5e-7, 6.328e-7, 6.7e-6, 1e-5, 3e-5, 5e-5, 0.02, 0.1, float("nan"),
          float("inf"), -float("inf"), 1e300, -1e300, 4e-320, 2147483648.0, -2147483649.0, 1.33,
          4e-7, 6e-8]


def real(rows, cols, values):
    assert len(values) == rows * cols
    return bytes([0, rows, cols] + [VALUES.index(v) for v in values])


def scalar(v):
    return real(1, 1, [v])


def pair(a, b):
    return real(1, 2, [a, b])


def empty():
    return bytes([6, 0, 0])


def sparse(rows, cols, values):
    """A sparse double holding only `values` (its nonzeros) in its storage."""
    return bytes([7, rows, cols, len(values)] + [VALUES.index(v) for v in values])


WORDS = ["Model", "contrast", "BACKGROUND", "Offset", "Weights", "Free", "Sigma", "K", "MaxIter",
         "Tolerance", "intensity", "Linear", "free", "", "Colour", "Threshold", "minseparation",
         "MaxCount", "PositionWeights", "MapFOVx", "MapFOVy", "MaxPasses", "Coordinates", "Seed",
         "Photons", "Pixels", "point", "AREA", "Oversampling", "Particle", "sphere", "MediumIndex",
         "Index", "Polarization", "Margin"]


def text(word):
    return bytes([8, 0, 0, WORDS.index(word)])


def complex_grid(rows, cols, re, im):
    n = rows * cols
    return bytes([1, rows, cols] + [VALUES.index(re[k % len(re)]) for k in range(n)] +
                 [VALUES.index(im[k % len(im)]) for k in range(n)])


def call(nlhs, *args):
    return bytes([nlhs, len(args)]) + b"".join(args)


def grid(rows, cols, pattern):
    return real(rows, cols, [pattern[k % len(pattern)] for k in range(rows * cols)])


SEEDS = {
    "cylone": [call(1, grid(3, 4, [0.0, 1.0, 5.0, -1.0, 1e-6, 33.0])), call(0, empty()),
               call(1, sparse(17, 17, [3.0, 4.0]))],
    "cylzero": [call(1, grid(3, 4, [0.0, 1.0, 5.0, -1.0, 1e-6, 33.0])), call(0, empty()),
                call(1, sparse(17, 17, [3.0, 4.0]))],
    "ringform": [
        call(3, scalar(0.0), scalar(0.0), scalar(0.1), scalar(5e-5), scalar(1e-5), scalar(5e-7),
             pair(16.0, 16.0), scalar(0.0), scalar(0.0)),
        call(2, scalar(1e-5), scalar(0.0), scalar(0.1), scalar(0.0), scalar(1e-5), scalar(5e-7),
             pair(9.0, 8.0), scalar(1.0), scalar(1.0)),
    ],
    "detectscan": [
        call(4, grid(8, 8, [0.5, -0.9, 1.0, 0.0, 0.9]), scalar(6.328e-7), scalar(6.7e-6),
             grid(8, 8, [1.0]), scalar(3e-5), scalar(0.02), grid(8, 8, [1.0]), pair(1.0, 8.0),
             pair(1.0, 8.0), scalar(0.0)),
        call(1, grid(7, 9, [0.5, -0.9, 1.0]), scalar(6.328e-7), scalar(6.7e-6),
             grid(7, 9, [1.0, 0.5]), scalar(3e-5), scalar(0.02), grid(7, 9, [1.0]), pair(3.0, 5.0),
             pair(2.0, 2.0), scalar(1.0)),
        call(4, sparse(8, 8, [1.0, 0.5]), scalar(6.328e-7), scalar(6.7e-6),
             grid(8, 8, [1.0]), scalar(3e-5), scalar(0.02), grid(8, 8, [1.0]), pair(1.0, 8.0),
             pair(1.0, 8.0), scalar(0.0)),
    ],
    "synthplate": [
        call(4, scalar(3.0), scalar(6.328e-7), scalar(6.7e-6), scalar(16.0), scalar(16.0),
             scalar(1.0), scalar(5.0), pair(0.02, 0.1), pair(1e-5, 5e-5), scalar(1.0), empty(),
             scalar(0.0), scalar(0.0)),
        call(2, scalar(1.0), scalar(5e-7), scalar(1e-5), scalar(9.0), scalar(8.0), scalar(1.0),
             scalar(0.0), pair(0.0, 0.0), pair(0.0, 0.0), scalar(0.0),
             real(1, 4, [1.0, -1.0, 0.1, 3e-5]), scalar(1.0), scalar(1.0)),
    ],
    "ringfit": [
        call(3, grid(12, 10, [1.0, 0.9, 1.5, 0.5]), scalar(6.328e-7), scalar(6.7e-6),
             real(1, 4, [0.5, -1.0, 0.02, 3e-5])),
        call(2, grid(9, 8, [1.0, 0.9, 1.5]), scalar(6.328e-7), scalar(6.7e-6),
             real(1, 4, [0.0, 1.0, 0.1, 5e-5]), text("Model"), text("Linear"), text("contrast"),
             text("free"), text("MaxIter"), scalar(3.0), text("Weights"), grid(9, 8, [1.0, 0.0])),
        # A bead under a microscope: 60 nm pixels, 1 um radius, 10 um up.
        call(3, grid(12, 10, [1.0, 0.9, 1.5, 0.5]), scalar(4e-7), scalar(6e-8),
             real(1, 4, [0.5, -1.0, 1e-5, 1e-6]), text("Particle"), text("sphere"),
             text("MediumIndex"), scalar(1.33), text("Index"), scalar(1.5), text("Polarization"),
             scalar(0.5)),
    ],
    "detectstack": [
        call(4, grid(8, 8, [0.5, -0.9, 1.0, 0.0, 0.9]), scalar(6.328e-7), scalar(6.7e-6),
             pair(0.02, 0.1), real(1, 3, [1e-5, 3e-5, 5e-5])),
        call(2, grid(9, 7, [0.5, -0.9, 1.0]), scalar(6.328e-7), scalar(6.7e-6), scalar(0.02),
             scalar(3e-5), text("Weights"), grid(9, 7, [1.0, 0.0]), text("MapFOVx"),
             pair(2.0, 5.0), text("Threshold"), scalar(0.5), text("minseparation"), scalar(2.0),
             text("MaxCount"), scalar(3.0), text("Sigma"), scalar(0.1)),
    ],
    "findparticles": [
        call(3, grid(12, 10, [1.0, 0.9, 1.5, 0.5]), scalar(6.328e-7), scalar(6.7e-6),
             pair(0.02, 0.1), real(1, 2, [1e-5, 3e-5])),
        call(2, grid(9, 8, [1.0, 0.9, 1.5]), scalar(6.328e-7), scalar(6.7e-6), scalar(0.02),
             scalar(3e-5), text("Model"), text("Linear"), text("contrast"), scalar(2.0),
             text("MaxPasses"), scalar(2.0), text("Weights"), grid(9, 8, [1.0, 0.0]),
             text("Threshold"), scalar(3.0)),
        call(3, grid(12, 10, [1.0, 0.9, 1.5, 0.5]), scalar(4e-7), scalar(6e-8),
             pair(1e-5, 3e-5), pair(5e-7, 1e-6), text("Particle"), text("sphere"),
             text("MediumIndex"), scalar(1.33), text("Threshold"), scalar(3.0)),
        call(3, grid(12, 10, [1.0, 0.9, 1.5, 0.5]), scalar(6.328e-7), scalar(6.7e-6),
             pair(0.02, 0.1), real(1, 2, [1e-5, 3e-5]), text("Margin"), scalar(2.0)),
    ],
    "sphereplate": [
        call(2, real(1, 5, [0.5, -1.0, 1e-5, 1e-6, 1.5]), scalar(16.0), scalar(9.0),
             scalar(4e-7), scalar(6e-8), text("MediumIndex"), scalar(1.33), text("Sigma"),
             scalar(0.1), text("Seed"), scalar(3.0)),
        call(1, empty(), scalar(5.0), scalar(4.0), scalar(4e-7), scalar(6e-8), text("MediumIndex"),
             scalar(1.33)),
    ],
    "propagate": [
        call(1, complex_grid(12, 9, [1.0, 0.5, 0.0], [0.0, -1.0]), scalar(6.328e-7), scalar(6.7e-6),
             scalar(0.02)),
        call(0, grid(5, 7, [1.0, 0.0]), scalar(5e-7), scalar(1e-6), scalar(-1.0)),
    ],
    "discplate": [
        call(3, scalar(2.0), scalar(6.328e-7), scalar(6.7e-6), scalar(16.0), scalar(9.0),
             scalar(1.0), scalar(3.0), pair(0.02, 0.1), pair(1e-5, 5e-5), text("Seed"),
             scalar(7.0)),
        call(1, scalar(1.0), scalar(6.328e-7), scalar(6.7e-6), scalar(9.0), scalar(8.0),
             scalar(1.0), scalar(0.0), empty(), empty(), text("Coordinates"),
             real(1, 4, [0.5, -1.0, 0.02, 3e-5]), text("Pixels"), text("point"),
             text("Oversampling"), scalar(3.0), text("Photons"), scalar(16.0)),
    ],
    "precbound": [
        call(4, scalar(0.0), scalar(0.0), scalar(0.1), scalar(5e-5), scalar(1e-5), scalar(5e-7),
             pair(16.0, 16.0), scalar(1.0), scalar(0.0), scalar(0.0)),
        call(2, scalar(1e-5), scalar(0.0), scalar(0.1), scalar(5e-5), scalar(1e-5), scalar(5e-7),
             pair(9.0, 8.0), scalar(1.0), scalar(2.0), scalar(0.5)),
    ],
}

if __name__ == "__main__":
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    for module, seeds in SEEDS.items():
        os.makedirs(os.path.join(root, module), exist_ok=True)
        for k, seed in enumerate(seeds):
            with open(os.path.join(root, module, f"seed{k}"), "wb") as f:
                f.write(seed)
