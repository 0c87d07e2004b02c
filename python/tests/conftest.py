"""Every test process computes with the reproducible arithmetic (the same
bits in this process and in the Octave processes the values are compared
with), set before the extension is first loaded."""
import os

os.environ["PARTISCOPE_REPRODUCIBLE"] = "1"
