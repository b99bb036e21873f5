"""Builds the Python package ocrb: CMake compiles the engine, the reader library, the pybind11
module and the decoder helper, and the wheel carries the module with libocrb.so.0 and the
helper ocrb-decode beside it (the reader looks for the helper beside libocrb).

    python3 -m pip install --no-build-isolation .

Needs cmake, a C++20 compiler, Leptonica (libleptonica-dev) and pybind11 (python3-pybind11);
nothing is downloaded.
"""

import os
import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
(ROOT / "build-python").mkdir(exist_ok=True)  # setuptools' build and egg-info folder
VERSION = re.search(r"project\(ocrb VERSION ([0-9.]+)",
                    (ROOT / "CMakeLists.txt").read_text()).group(1)


class CMakeBuild(build_ext):
    """Configures, builds and installs the module into a staging prefix, then copies the
    module, the engine library and the decoder helper into the package."""

    def build_extension(self, ext: Extension) -> None:
        temp = Path(self.build_temp).resolve()
        build, stage = temp / "cmake", temp / "stage"
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        # OCRB_CMAKE_BUILD_DIR names a build tree configured with -DOCRB_BUILD_PYTHON=ON for
        # this interpreter (scripts/test.sh passes the one its tests ran in): its module and
        # libraries are installed as they are, instead of compiling every source again.
        existing = os.environ.get("OCRB_CMAKE_BUILD_DIR")
        if existing:
            build = Path(existing).resolve()
        else:
            subprocess.check_call([
                "cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                "-DOCRB_BUILD_PYTHON=ON", "-DOCRB_BUILD_TESTS=OFF", "-DOCRB_BUILD_TOOLS=OFF",
                "-DOCRB_BUILD_BENCH=OFF", f"-DPython3_EXECUTABLE={sys.executable}",
                "-DCMAKE_INSTALL_LIBDIR=lib", "-DCMAKE_INSTALL_LIBEXECDIR=libexec",
                "-DOCRB_PYTHON_INSTALL_DIR=python"])
        # Everything cmake --install installs; in an existing build, nothing is out of date.
        subprocess.check_call(["cmake", "--build", str(build), "-j", jobs, "--target", "_ocrb",
                               "ocrb_decode_helper", "ocrb_reader_shared"])
        if stage.exists():
            shutil.rmtree(stage)
        subprocess.check_call(["cmake", "--install", str(build), "--prefix", str(stage)])
        module = Path(self.get_ext_fullpath(ext.name))
        module.parent.mkdir(parents=True, exist_ok=True)
        suffix = sysconfig.get_config_var("EXT_SUFFIX")
        built = [path for path in stage.rglob("_ocrb*.so") if path.name == "_ocrb" + suffix]
        if len(built) != 1:
            raise RuntimeError(f"{build} holds no module _ocrb{suffix} for {sys.executable}")
        shutil.copyfile(built[0], module)
        # The module's run path starts at its own folder, where the engine library goes; the
        # helper goes beside the library, where the reader looks for it, and stays executable.
        [library] = stage.rglob("libocrb.so.0")
        [helper] = stage.rglob("ocrb-decode")
        shutil.copyfile(library, module.parent / "libocrb.so.0")
        shutil.copy(helper, module.parent / "ocrb-decode")


setup(
    name="ocrb",
    version=VERSION,
    description="Read numeric OCR-B text (0123456789+-><#) from images",
    packages=["ocrb"],
    package_dir={"ocrb": "python/ocrb"},
    package_data={"ocrb": ["py.typed", "_ocrb.pyi"]},
    ext_modules=[Extension("ocrb._ocrb", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.9",
    zip_safe=False,
    # Apart from the CMake build folders (build/, build-asan/) of a developer's checkout.
    options={"build": {"build_base": "build-python"}, "egg_info": {"egg_base": "build-python"}},
)
