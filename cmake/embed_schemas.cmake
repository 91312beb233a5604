# Writes OUT, a C++ source that holds the schema files SCHEMAS (a ;-list) as byte
# arrays, and xrq5_schema_text() that finds one by its file name.
set(body "// Generated from schemas/*.xsd at build time; do not edit.\n#include \"xrq5_schemas.h\"\n\n#include <cstring>\n\nnamespace {\n")
set(table "")
set(i 0)
foreach(xsd ${SCHEMAS})
  get_filename_component(name ${xsd} NAME)
  file(READ ${xsd} hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND body "const char schema_${i}[] = {${bytes} 0};\n")
  string(APPEND table "    {\"${name}\", schema_${i}, ${size}},\n")
  math(EXPR i "${i} + 1")
endforeach()
string(APPEND body "\nstruct entry {\n  const char* name;\n  const char* text;\n  size_t size;\n};\n"
  "const entry schemas[] = {\n${table}};\n\n}  // namespace\n\n"
  "const char* xrq5_schema_text(const char* name, size_t* size) {\n"
  "  for (const entry& e : schemas)\n"
  "    if (strcmp(e.name, name) == 0) {\n"
  "      *size = e.size;\n"
  "      return e.text;\n"
  "    }\n"
  "  return nullptr;\n}\n")
file(WRITE ${OUT}.tmp "${body}")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
