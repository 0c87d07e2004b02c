"""`pip install .` from a clone, as the README shows it: into a virtual
environment that sees Debian's packages it installs the package and its
command; an interpreter without NumPy is told what to do, before a build."""
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The tests run with the build's package on PYTHONPATH: not in here.
ENV = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}


def _venv(path, system_site):
    subprocess.run([sys.executable, "-m", "venv", str(path)] +
                   (["--system-site-packages"] if system_site else []), check=True)
    return str(path / "bin" / "python")


def _pip_install(python):
    return subprocess.run([python, "-m", "pip", "install", "--no-build-isolation", "--no-index",
                           ROOT], capture_output=True, text=True, env=ENV)


def test_pip_installs_the_package_and_its_command(tmp_path):
    python = _venv(tmp_path / "venv", True)
    run = _pip_install(python)
    assert run.returncode == 0, run.stdout + run.stderr
    out = subprocess.run([python, "-c", "import partiscope, numpy as np; print(partiscope.__file__); "
                          "print(partiscope.cylone(np.array([0.0])).item())"],
                         cwd=str(tmp_path), env=ENV, capture_output=True, text=True, check=True).stdout.split()
    assert out[0].startswith(str(tmp_path / "venv")) and float(out[1]) == 0.5
    command = subprocess.run([str(tmp_path / "venv" / "bin" / "partiscope"), "find", "--help"],
                             env=ENV, capture_output=True, text=True)
    assert command.returncode == 0 and "--wavelength" in command.stdout


def test_an_interpreter_without_numpy_is_told_what_to_do(tmp_path):
    run = _pip_install(_venv(tmp_path / "bare", False))
    assert run.returncode != 0
    said = run.stdout + run.stderr
    assert "lacks NumPy" in said and "--system-site-packages" in said
