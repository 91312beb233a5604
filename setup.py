"""Builds the Python package xrq5 with CMake: the project's libraries and the extension
xrq5._xrq5, installed into the package folder beside the package's Python files and
stubs; the extension finds the libraries beside itself. The version is the project's.

    python3 -m venv --system-site-packages venv
    venv/bin/pip install --no-build-isolation .
"""
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(XRQ5 VERSION (\d+\.\d+\.\d+)", f.read()).group(1)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        cmake = os.environ.get("CMAKE", "cmake")
        build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        stage = os.path.abspath(os.path.join(self.build_temp, "stage"))
        shutil.rmtree(stage, ignore_errors=True)
        # The libraries go into the package folder, so that the extension's run path
        # ($ORIGIN) finds them.
        subprocess.run([cmake, "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                        "-DXRQ5_BUILD_TESTS=OFF", "-DXRQ5_BUILD_PYTHON=ON",
                        "-DPython3_EXECUTABLE=" + sys.executable,
                        "-DCMAKE_INSTALL_PREFIX=" + stage,
                        "-DCMAKE_INSTALL_LIBDIR=python/xrq5",
                        "-DXRQ5_PYTHON_INSTALL_DIR=python"], check=True)
        jobs = str(self.parallel or os.cpu_count() or 1)
        subprocess.run([cmake, "--build", build, "--target", "xrq5_python", "-j", jobs],
                       check=True)
        for component in ("runtime", "python"):
            subprocess.run([cmake, "--install", build, "--component", component], check=True)

        source = os.path.join(stage, "python", "xrq5")
        dest = os.path.dirname(os.path.abspath(self.get_ext_fullpath(ext.name)))
        os.makedirs(dest, exist_ok=True)
        # A wheel holds no links: each library once, under the name it is loaded by.
        linked = {os.path.realpath(os.path.join(source, n)) for n in os.listdir(source)
                  if os.path.islink(os.path.join(source, n))}
        for dirpath, _, files in os.walk(source):
            for name in files:
                path = os.path.join(dirpath, name)
                if not os.path.islink(path) and os.path.realpath(path) in linked:
                    continue
                target = os.path.join(dest, os.path.relpath(path, source))
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copyfile(os.path.realpath(path), target)
                shutil.copymode(os.path.realpath(path), target)


setup(
    version=project_version(),
    packages=[],
    py_modules=[],
    ext_modules=[CMakeExtension("xrq5._xrq5")],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": "build-pip"}},
    zip_safe=False,
)
