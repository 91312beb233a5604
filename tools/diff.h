// xrq5xml diff A B: two documents of the same kind compared record by record.
#ifndef XRQ5_TOOL_DIFF_H
#define XRQ5_TOOL_DIFF_H

#include <map>
#include <string>

#include <nlohmann/json.hpp>

// Every scalar field of a record under a path ("units", "bits[3].bit_name"); records
// in a list that have a number or name of their own (bits, dimensions, statistics,
// server blocks) are keyed by it, others by position.
void flatten_record(const nlohmann::json& record, const std::string& prefix,
                    std::map<std::string, nlohmann::json>* fields);

// The records of two documents compared: channel descriptions keyed by property name,
// dictionaries by index, event lists by event type, camera features by name, trigger
// lists by position. JSON object with "added", "removed" and "changed".
nlohmann::json diff_records(const nlohmann::json& a, const nlohmann::json& b,
                            const std::string& key);

// Reads A and B and prints their differences (json: one object); exit status 0 equal,
// 1 different, 2 documents of different kinds, 3 a document unreadable.
int diff_command(const std::string& a, const std::string& b, bool json, bool verbose);

#endif  // XRQ5_TOOL_DIFF_H
