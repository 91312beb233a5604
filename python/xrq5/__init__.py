"""Documents, triggers and channel selection of the XRQ5 DAQ libraries.

Everything is defined by the extension ``xrq5._xrq5`` over the C++ libraries and is
importable from here as ``xrq5.NAME``; ``xrq5.__version__`` is the project's version.
"""
from ._version import __version__
from ._xrq5 import *  # noqa: F401,F403
from ._xrq5 import Error, Warning  # noqa: F401
