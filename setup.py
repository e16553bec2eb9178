"""pip's way to the Python module kelvane: setuptools runs CMake on this
checkout for the extension _kelvane alone (no window, no kelvane-run, no
tests), then installs it with the package python/kelvane."""

import glob
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.join(os.path.abspath(self.build_temp), "cmake")
        subprocess.run(
            ["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
             "-DKELVANE_GUI=OFF", "-DKELVANE_CLI=OFF", "-DKELVANE_TESTS=OFF",
             "-DKELVANE_BENCH=OFF", "-DKELVANE_PYTHON=ON",
             f"-DPython3_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", build, "--target", "_kelvane",
                        "-j", os.environ.get("KELVANE_BUILD_JOBS", "2")],
                       check=True)
        built = glob.glob(os.path.join(build, "python", "kelvane",
                                       "_kelvane*.so"))
        if len(built) != 1:
            raise RuntimeError(f"CMake built {built}, not one _kelvane module")
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built[0], target)


setup(
    name="kelvane",
    version="0.1",
    description="Molecular diffusion simulator: the engine from Python",
    packages=["kelvane"],
    package_dir={"": "python"},
    ext_modules=[Extension("kelvane._kelvane", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    install_requires=["numpy"],
    python_requires=">=3.9",
    # Apart from CMake's build folders (build*/).
    options={"build": {"build_base": "build-pip"}},
)
