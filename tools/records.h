// The records of a document as the library reads them, as JSON: one object per record,
// every field under the name it has in the record. For show --json and diff.
#ifndef XRQ5_TOOL_RECORDS_H
#define XRQ5_TOOL_RECORDS_H

#include <string>

#include <nlohmann/json.hpp>

#include "kinds.h"

// Reads `file` (of kind `k`) with the library reader that show uses and puts its
// records into *records (an array); the reader's result, 0 when clean. The library's
// own lines go to standard error meanwhile.
int read_records(const doc_kind& k, char* file, nlohmann::json* records);

// The field that identifies a record of kind `k` in a diff ("prop_name", "index", ...);
// empty when records are paired by position.
std::string record_key(const doc_kind& k);

// A float as the shortest decimal that reads back as the same float.
nlohmann::json float_json(float f);

// Text of a fixed-size character field, up to its NUL.
std::string field_text(const char* field, size_t size);

// Dumps `j` for standard output. Text that is not UTF-8 (a file name in Latin-1) is
// never thrown on: each byte outside a UTF-8 character is written \udcXX.
std::string json_text(const nlohmann::json& j, int indent);

#endif  // XRQ5_TOOL_RECORDS_H
