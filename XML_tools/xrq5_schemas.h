// Internal: the schemas of the document kinds, built into the library from
// schemas/*.xsd, so that a check needs no file beside it. Not installed.
#ifndef XRQ5_SCHEMAS_H
#define XRQ5_SCHEMAS_H

#include <cstddef>

// The text of the schema file `name` ("triggers.xsd", ...) and its size in *size, or
// null when there is none of that name.
const char* xrq5_schema_text(const char* name, size_t* size);

#endif  // XRQ5_SCHEMAS_H
