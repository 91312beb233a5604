# Type stubs of the package xrq5: everything of the extension, and the version.
from ._xrq5 import *
from ._xrq5 import Error as Error
from ._xrq5 import Warning as Warning

__version__: str
