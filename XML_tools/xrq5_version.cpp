#include "xrq5_version.h"

const char* xrq5_library_version() { return XRQ5_VERSION_STRING; }
