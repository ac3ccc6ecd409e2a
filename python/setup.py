"""The wheel's tag. The package binds its modules with ctypes and builds no
extension, so any Python 3 loads it and no ABI is asked of it (py3-none);
but the modules are one platform's, so the wheel is tagged with the platform
they were built for (setup.cfg's plat_name, given by the build) and is
installed as platform code, never as 'any'."""
from setuptools import Distribution, setup

try:
    from setuptools.command.bdist_wheel import bdist_wheel
except ImportError:  # setuptools before 70: the wheel package's
    from wheel.bdist_wheel import bdist_wheel


class PlatformDistribution(Distribution):
    def has_ext_modules(self) -> bool:
        return True  # the modules, which setuptools did not build


class PlatformWheel(bdist_wheel):  # type: ignore[misc]
    def get_tag(self) -> tuple:  # type: ignore[type-arg]
        return "py3", "none", self.plat_name.lower().replace("-", "_").replace(".", "_")


setup(distclass=PlatformDistribution, cmdclass={"bdist_wheel": PlatformWheel})
