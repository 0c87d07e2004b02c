"""setuptools' part of `pip install .` (see pyproject.toml): the version
from CMakeLists.txt, and the extension built by CMake, only its target and
the libraries it links (not the MEX modules, tests or benchmarks)."""

import os
import re
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


def version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(Partiscope VERSION ([0-9.]+)", f.read()).group(1)


class CMakeExtension(build_ext):
    def build_extension(self, ext):
        build = os.path.join(ROOT, "build-pip")
        subprocess.check_call([
            "cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
            "-DPython_EXECUTABLE=" + sys.executable, "-DPARTISCOPE_OCTAVE=OFF",
            "-DPARTISCOPE_MATLAB=OFF", "-DPARTISCOPE_TESTS=OFF", "-DPARTISCOPE_BENCH=OFF",
            "-DPARTISCOPE_PYTHON=ON"])
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            if "pybind11_DIR:PATH=pybind11_DIR-NOTFOUND" in f.read():
                raise SystemExit("partiscope: the build needs pybind11's CMake files (Debian's "
                                 "pybind11-dev; tools/bootstrap installs it)")
        subprocess.check_call(["cmake", "--build", build, "--target", "_partiscope",
                               "-j", str(os.cpu_count() or 2)])
        built = os.path.join(build, "python", "partiscope", os.path.basename(self.get_ext_filename(ext.name)))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        self.copy_file(built, target)


os.makedirs(os.path.join(ROOT, "build-pip"), exist_ok=True)
setup(
    version=version(),
    packages=["partiscope"],
    package_dir={"": "python"},
    package_data={"partiscope": ["__init__.pyi", "py.typed"]},
    ext_modules=[Extension("partiscope._partiscope", sources=[])],
    cmdclass={"build_ext": CMakeExtension},
    options={"build": {"build_base": "build-pip"}, "egg_info": {"egg_base": "build-pip"}},
)
