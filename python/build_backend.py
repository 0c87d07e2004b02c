"""The build backend of `pip install .`: setuptools' own, after a check that
this interpreter has what the build and the package need, so that a missing
piece is named before anything is compiled (instead of an import error after
a build that looked successful)."""

import importlib.util
import shutil
import sys

from setuptools import build_meta as _setuptools
from setuptools.build_meta import build_sdist, get_requires_for_build_sdist  # noqa: F401

_VENV = ("Make the virtual environment from Debian's Python with its packages in view:\n"
         "    /usr/bin/python3 -m venv --system-site-packages VENV\n"
         "and install Debian's packages with tools/bootstrap (as root).")


def _check():
    missing = [name for module, name in (("numpy", "NumPy (python3-numpy)"),
                                         ("pandas", "pandas (python3-pandas)"),
                                         ("tifffile", "tifffile (python3-tifffile)"),
                                         ("PIL", "Pillow (python3-pil)"),
                                         ("tqdm", "tqdm (python3-tqdm)"))
               if importlib.util.find_spec(module) is None]
    if missing:
        raise SystemExit("partiscope: this Python (%s) lacks %s.\n%s"
                         % (sys.executable, ", ".join(missing), _VENV))
    if shutil.which("cmake") is None:
        raise SystemExit("partiscope: the build needs CMake and a C++ compiler (cmake, g++);\n"
                         + _VENV)


def get_requires_for_build_wheel(config_settings=None):
    _check()
    return _setuptools.get_requires_for_build_wheel(config_settings)


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    _check()
    return _setuptools.prepare_metadata_for_build_wheel(metadata_directory, config_settings)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    _check()
    return _setuptools.build_wheel(wheel_directory, config_settings, metadata_directory)


# Editable installs build the same way.
get_requires_for_build_editable = get_requires_for_build_wheel
prepare_metadata_for_build_editable = _setuptools.prepare_metadata_for_build_editable
build_editable = _setuptools.build_editable
