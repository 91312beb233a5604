#include "diff.h"

#include <cstdio>
#include <unordered_map>
#include <vector>

#include "diff_events.h"
#include "files.h"
#include "kinds.h"
#include "records.h"
#include "xrq5_keyed_hash.h"

using nlohmann::json;

namespace {

// The field that names an element of a nested list.
const char* element_key(const std::string& list) {
  if (list == "bits") return "bit";
  if (list == "dims") return "dim";
  if (list == "stats") return "stat";
  if (list == "sb_list") return "sb_list";
  return nullptr;
}

std::string scalar_text(const json& v) {
  return v.is_string() ? v.get<std::string>() : json_text(v, -1);
}

// A record's name in the listing and the key it is paired by; a repeated key gets
// "#2", "#3"... so that every record is paired once.
std::vector<std::string> keys_of(const json& records, const std::string& key) {
  std::vector<std::string> keys;
  std::unordered_map<std::string, int, xrq5_keyed_hasher> seen;
  for (size_t i = 0; i < records.size(); ++i) {
    std::string k;
    if (key.empty()) {
      const json& r = records[i];
      k = "[" + std::to_string(i) + "]";
      if (r.contains("channel")) k += " " + scalar_text(r["channel"]);
    } else {
      k = records[i].contains(key) ? scalar_text(records[i][key]) : "?";
      const int n = ++seen[k];
      if (n > 1) k += " #" + std::to_string(n);
    }
    keys.push_back(k);
  }
  return keys;
}

std::string value_text(const json* v) { return v == nullptr ? "(none)" : json_text(*v, -1); }

const char* record_noun(const std::string& root) {
  if (root == "CHANDESCRIPTIONS" || root == "DAQvariables") return "channel";
  if (root == "XRQ5USERTRIGGERLIST") return "trigger";
  if (root == "ENVINDEXDICT") return "index";
  if (root == "BMR") return "event type";
  return "feature";
}

}  // namespace

void flatten_record(const json& record, const std::string& prefix,
                    std::map<std::string, json>* fields) {
  if (record.is_object()) {
    for (auto it = record.begin(); it != record.end(); ++it) {
      const std::string path = prefix.empty() ? it.key() : prefix + "." + it.key();
      const json& v = it.value();
      if (v.is_array()) {
        const char* k = element_key(it.key());
        for (size_t i = 0; i < v.size(); ++i) {
          const bool named = k != nullptr && v[i].is_object() && v[i].contains(k);
          flatten_record(v[i], path + "[" + (named ? scalar_text(v[i][k]) : std::to_string(i)) + "]",
                         fields);
        }
        if (v.empty()) (*fields)[path] = json::array();
      } else {
        flatten_record(v, path, fields);
      }
    }
    return;
  }
  (*fields)[prefix] = record;
}

json diff_records(const json& a, const json& b, const std::string& key) {
  const std::vector<std::string> ka = keys_of(a, key), kb = keys_of(b, key);
  std::unordered_map<std::string, size_t, xrq5_keyed_hasher> in_b;
  for (size_t i = 0; i < kb.size(); ++i) in_b[kb[i]] = i;
  std::unordered_map<std::string, size_t, xrq5_keyed_hasher> in_a;
  for (size_t i = 0; i < ka.size(); ++i) in_a[ka[i]] = i;
  // Trigger lists pair by position: a trigger whose channel changed is a changed record.
  auto partner = [&](size_t i) -> long {
    if (key.empty()) return i < b.size() ? static_cast<long>(i) : -1;
    const auto it = in_b.find(ka[i]);
    return it == in_b.end() ? -1 : static_cast<long>(it->second);
  };
  json out = {{"added", json::array()}, {"removed", json::array()}, {"changed", json::array()}};
  for (size_t i = 0; i < a.size(); ++i) {
    const long j = partner(i);
    if (j < 0) {
      out["removed"].push_back({{"key", ka[i]}, {"record", a[i]}});
      continue;
    }
    std::map<std::string, json> fa, fb;
    flatten_record(a[i], "", &fa);
    flatten_record(b[j], "", &fb);
    json changes = json::array();
    for (const auto& f : fa) {
      const auto it = fb.find(f.first);
      if (it == fb.end())
        changes.push_back({{"field", f.first}, {"old", f.second}, {"new", nullptr}});
      else if (it->second != f.second)
        changes.push_back({{"field", f.first}, {"old", f.second}, {"new", it->second}});
    }
    for (const auto& f : fb)
      if (fa.find(f.first) == fa.end())
        changes.push_back({{"field", f.first}, {"old", nullptr}, {"new", f.second}});
    if (!changes.empty()) out["changed"].push_back({{"key", ka[i]}, {"fields", changes}});
  }
  for (size_t j = 0; j < b.size(); ++j) {
    const bool paired = key.empty() ? j < a.size() : in_a.count(kb[j]) != 0;
    if (!paired) out["added"].push_back({{"key", kb[j]}, {"record", b[j]}});
  }
  return out;
}

int diff_command(const std::string& a, const std::string& b, bool json_out, bool verbose) {
  const std::string files[2] = {a, b};
  // Recorded-event files are compared as they are read.
  const bool events[2] = {is_recorded_events(a.c_str()), is_recorded_events(b.c_str())};
  if (events[0] || events[1]) {
    for (const std::string& f : files)
      if (open_check("diff", f.c_str()) != EXIT_CLEAN) return EXIT_UNREADABLE;
    if (events[0] && events[1]) return diff_events(a, b, json_out, verbose);
    fprintf(stderr, "xrq5xml diff: '%s' is %s, '%s' %s: only documents of one kind compare\n",
            shown_name(a).c_str(), events[0] ? "a recorded-event file" : "not",
            shown_name(b).c_str(), events[1] ? "a recorded-event file" : "not");
    return EXIT_USAGE;
  }
  const doc_kind* kinds[2] = {nullptr, nullptr};
  json records[2];
  for (int i = 0; i < 2; ++i) {
    int status = EXIT_CLEAN;
    kinds[i] = kind_of("diff", const_cast<char*>(files[i].c_str()), &status);
    if (kinds[i] == nullptr) return EXIT_UNREADABLE;
    const int r = read_records(*kinds[i], const_cast<char*>(files[i].c_str()), &records[i]);
    if (r != 0) {
      fprintf(stderr, "xrq5xml diff: '%s' (%s) did not read cleanly (result %d); not compared\n",
              shown_name(files[i]).c_str(), kinds[i]->name, r);
      return EXIT_UNREADABLE;
    }
  }
  // The tag and variable forms of channel descriptions are one kind of record.
  if (kinds[0]->read != kinds[1]->read) {
    fprintf(stderr, "xrq5xml diff: '%s' is %s, '%s' %s: only documents of one kind compare\n",
            shown_name(a).c_str(), kinds[0]->name, shown_name(b).c_str(), kinds[1]->name);
    return EXIT_USAGE;
  }
  const json d = diff_records(records[0], records[1], record_key(*kinds[0]));
  const bool equal = d["added"].empty() && d["removed"].empty() && d["changed"].empty();
  if (json_out) {
    json out = {{"a", shown_name(a)}, {"b", shown_name(b)}, {"kind", kinds[0]->name},
                {"equal", equal}};
    out.update(d);
    printf("%s\n", json_text(out, 2).c_str());
    return equal ? EXIT_CLEAN : EXIT_PROBLEMS;
  }
  const char* noun = record_noun(kinds[0]->root);
  for (const json& r : d["removed"]) printf("removed %s %s\n", noun, scalar_text(r["key"]).c_str());
  for (const json& r : d["added"]) printf("added %s %s\n", noun, scalar_text(r["key"]).c_str());
  for (const json& c : d["changed"]) {
    printf("changed %s %s\n", noun, scalar_text(c["key"]).c_str());
    for (const json& f : c["fields"]) {
      const json* o = f["old"].is_null() ? nullptr : &f["old"];
      const json* n = f["new"].is_null() ? nullptr : &f["new"];
      printf("  %s: %s -> %s\n", scalar_text(f["field"]).c_str(), value_text(o).c_str(),
             value_text(n).c_str());
    }
  }
  if (!equal || verbose)
    printf("%s and %s: %zu added, %zu removed, %zu changed of %zu and %zu records (%s)\n",
           shown_name(a).c_str(), shown_name(b).c_str(), d["added"].size(), d["removed"].size(),
           d["changed"].size(), records[0].size(), records[1].size(), kinds[0]->name);
  return equal ? EXIT_CLEAN : EXIT_PROBLEMS;
}
