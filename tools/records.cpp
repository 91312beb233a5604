#include "records.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "stdout_guard.h"
#include "user_case_trigger.h"
#include "xrq5_gige_descr.h"

using nlohmann::json;

nlohmann::json float_json(float f) {
  if (!std::isfinite(f)) return std::isnan(f) ? json("nan") : json(f > 0 ? "inf" : "-inf");
  char buf[32];
  for (int precision = 6; precision <= 9; ++precision) {
    snprintf(buf, sizeof buf, "%.*g", precision, static_cast<double>(f));
    if (strtof(buf, nullptr) == f) break;
  }
  return json(strtod(buf, nullptr));
}

std::string field_text(const char* field, size_t size) {
  return std::string(field, strnlen(field, size));
}

namespace {

// Length of the valid UTF-8 sequence at p (at most `left` bytes), or 0.
size_t utf8_length(const unsigned char* p, size_t left) {
  const unsigned char b = p[0];
  if (b < 0x80) return 1;
  size_t n;
  unsigned int c;
  if (b >= 0xC2 && b <= 0xDF) n = 2, c = b & 0x1Fu;
  else if (b >= 0xE0 && b <= 0xEF) n = 3, c = b & 0x0Fu;
  else if (b >= 0xF0 && b <= 0xF4) n = 4, c = b & 0x07u;
  else return 0;
  if (n > left) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    c = (c << 6) | (p[i] & 0x3Fu);
  }
  if ((n == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) || (n == 4 && (c < 0x10000 || c > 0x10FFFF)))
    return 0;
  return n;
}

bool valid_utf8(const std::string& s) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  for (size_t i = 0; i < s.size();) {
    const size_t n = utf8_length(p + i, s.size() - i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// The JSON string for `s` (quotes included) as the dump writes one, but with each byte
// that is not part of a UTF-8 character as \udcXX: the escape that Python's
// surrogateescape and os.fsencode() turn back into that byte.
std::string escaped_json_string(const std::string& s) {
  std::string out = "\"";
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  char hex[8];
  for (size_t i = 0; i < s.size();) {
    const size_t n = utf8_length(p + i, s.size() - i);
    if (n == 0) {
      snprintf(hex, sizeof hex, "\\udc%02x", p[i]);
      out += hex;
      ++i;
      continue;
    }
    if (n == 1) {
      const std::string one = json(std::string(1, static_cast<char>(p[i]))).dump();
      out.append(one, 1, one.size() - 2);
    } else {
      out.append(s, i, n);
    }
    i += n;
  }
  return out + "\"";
}

// Strings that are not UTF-8 are put aside and a token of their own stands in for
// each; false when there were none.
bool set_aside(json& j, const std::string& nonce, std::vector<std::string>* aside) {
  bool any = false;
  if (j.is_string()) {
    const std::string& s = j.get_ref<const std::string&>();
    if (valid_utf8(s)) return false;
    aside->push_back(s);
    j = nonce + std::to_string(aside->size() - 1) + "#";
    return true;
  }
  if (j.is_structured())
    for (auto& v : j) any = set_aside(v, nonce, aside) || any;
  return any;
}

}  // namespace

std::string json_text(const nlohmann::json& j, int indent) {
  try {
    return j.dump(indent);
  } catch (const json::type_error&) {
    // Some text is not UTF-8 (a file name in Latin-1, say): escaped byte by byte below.
  }
  json copy = j;
  std::vector<std::string> aside;
  const std::string nonce = "xrq5-not-utf8-" + std::to_string(reinterpret_cast<uintptr_t>(&copy)) + "-";
  set_aside(copy, nonce, &aside);
  std::string text = copy.dump(indent, ' ', false, json::error_handler_t::replace);
  std::string out;
  size_t at = 0;
  for (size_t found; (found = text.find("\"" + nonce, at)) != std::string::npos;) {
    const size_t number = found + 1 + nonce.size();
    const size_t end = text.find("#\"", number);
    const size_t index = std::strtoul(text.c_str() + number, nullptr, 10);
    out.append(text, at, found - at);
    if (end == std::string::npos || index >= aside.size()) {
      at = found + 1;
      out += '"';
      continue;
    }
    out += escaped_json_string(aside[index]);
    at = end + 2;
  }
  out.append(text, at, std::string::npos);
  return out;
}

#define TEXT(rec, f) field_text((rec).f, sizeof (rec).f)

namespace {

json time_json(const time_stamp& t) { return {{"timeup", t.timeup}, {"timelow", t.timelow}}; }

json ev_entry(const xrq5_ev_entry& e) {
  json sb = nullptr;
  if (e.sb_list != nullptr) {
    sb = json::array();
    for (const xrq5_ev_sb_list* b : *e.sb_list) {
      json channels = json::array();
      if (b->ch_list != nullptr)
        for (const char* c : *b->ch_list) channels.push_back(c);
      sb.push_back({{"sb_list", TEXT(*b, sb_list)}, {"ch_list", channels}});
    }
  }
  return {{"evtype", static_cast<int>(e.evtype)}, {"sb_list", sb},
          {"min_ev_time", time_json(e.min_ev_time)}, {"tmask", e.tmask},
          {"priority", e.priority}};
}

json chan_descr(const chan_descr_2010& d) {
  json bits = json::array();
  for (const bit_descr* b : d.bits)
    bits.push_back({{"bit", b->bit}, {"bit_name", TEXT(*b, bit_name)}, {"bit_desc", TEXT(*b, bit_desc)}});
  json dims = json::array();
  for (const dim_descr* m : d.dims) {
    json stats = json::array();
    for (const stat_descr* s : m->stats)
      stats.push_back({{"stat", s->stat}, {"stat_name", TEXT(*s, stat_name)},
                       {"stat_desc", TEXT(*s, stat_desc)}, {"units", TEXT(*s, units)}});
    dims.push_back({{"dim", m->dim}, {"dim_name", TEXT(*m, dim_name)}, {"dim_desc", TEXT(*m, dim_desc)},
                    {"units", TEXT(*m, units)}, {"nstats", m->nstats}, {"stats", stats}});
  }
  return {{"stream", d.stream}, {"ev_type", d.ev_type}, {"count", d.count}, {"dtype", d.dtype},
          {"db_key", d.db_key}, {"prop_name", TEXT(d, prop_name)}, {"daq_name", TEXT(d, daq_name)},
          {"prop_desc", TEXT(d, prop_desc)}, {"units", TEXT(d, units)}, {"max_size", d.max_size},
          {"nbits", d.nbits}, {"bits", bits}, {"ndims", d.ndims}, {"dims", dims},
          {"sb_name", TEXT(d, sb_name)}, {"set_point", d.set_point},
          {"subsystem", TEXT(d, subsystem)}};
}

json cell(const float* f) { return f ? float_json(*f) : json(nullptr); }

json trigger(const xrq5_user_case_trigger& t) {
  json fparam = json::array();
  for (float f : t.fparam) fparam.push_back(float_json(f));
  return {{"channel", TEXT(t, channel)}, {"subchannel", t.subchannel}, {"function", t.function},
          {"fparam", fparam}, {"low", float_json(t.low)}, {"upper", float_json(t.upper)},
          {"bitmask", t.bitmask}, {"operation", t.operation},
          {"time", static_cast<long long>(t.time)}, {"description", TEXT(t, description)},
          {"pre_mode", t.pre_mode}, {"group", TEXT(t, group)}, {"post_mode", t.post_mode},
          {"valid", t.valid}, {"fprevresult", cell(t.fprevresult)}, {"fresult", cell(t.fresult)},
          {"iresult", t.iresult ? json(*t.iresult) : json(nullptr)}};
}

template <class Entry>
json dict_entry(const Entry& e) {
  return {{"index", e.index},
          {"data", {{"env_prop", TEXT(e.data, env_prop)},
                    {"env_ch_abs_delta", float_json(e.data.env_ch_abs_delta)},
                    {"env_ch_rel_delta", float_json(e.data.env_ch_rel_delta)}}}};
}

json feature(const XRQ5GigEFeature& f) {
  return {{"type", f.type}, {"name", f.name}, {"extension", f.extension},
          {"tooltip", f.tooltip}, {"description", f.description}};
}

template <class Entry>
int read_dict(int (*read)(char*, std::vector<Entry*>*), char* file, json* records) {
  std::vector<Entry*> list;
  const int r = read(file, &list);
  for (Entry* e : list) {
    records->push_back(dict_entry(*e));
    free(e);
  }
  return r;
}

}  // namespace

int read_records(const doc_kind& k, char* file, nlohmann::json* records) {
  *records = json::array();
  const std::string root = k.root;
  library_stdout to_stderr(false);
  if (root == "BMR") {
    std::vector<xrq5_ev_entry*> list;
    const int r = xrq5_parse_ev_list_readf(file, &list);
    for (const xrq5_ev_entry* e : list) records->push_back(ev_entry(*e));
    xrq5_clean_ev_list(&list);
    return r;
  }
  if (root == "CHANDESCRIPTIONS" || root == "DAQvariables") {
    // As show prints them: types as masks.
    std::vector<chan_descr_2010*> list;
    const int r = parse_descr_list_readf(file, &list, true, false);
    for (const chan_descr_2010* d : list) records->push_back(chan_descr(*d));
    clean_chan_desr_list(&list);
    return r;
  }
  if (root == "XRQ5USERTRIGGERLIST") {
    std::vector<xrq5_user_case_trigger*> list;
    const bool failed = parse_trigger_list_readf(file, &list);
    for (xrq5_user_case_trigger* t : list) {
      records->push_back(trigger(*t));
      XRQ5_FREE_USER(t);
    }
    return failed ? 1 : 0;
  }
  if (root == "ENVINDEXDICT") {
    return classic_layout() ? read_dict(parse_env_index_dict_readf, file, records)
                            : read_dict(parse_env_index_dict_readf_2010, file, records);
  }
  if (root == "RegisterDescription") {
    std::vector<XRQ5GigEFeature*> list;
    const bool failed = xrq5_fill_gige_descr(file, &list);
    for (const XRQ5GigEFeature* f : list) records->push_back(feature(*f));
    xrq5_clean_gige_descr(&list);
    return failed ? 1 : 0;
  }
  return 1;
}

std::string record_key(const doc_kind& k) {
  const std::string root = k.root;
  if (root == "CHANDESCRIPTIONS" || root == "DAQvariables") return "prop_name";
  if (root == "ENVINDEXDICT") return "index";
  if (root == "BMR") return "evtype";
  if (root == "RegisterDescription") return "name";
  return std::string();
}
