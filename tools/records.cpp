#include "records.h"

#include <cmath>
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

std::string json_text(const nlohmann::json& j, int indent) {
  return j.dump(indent, ' ', false, json::error_handler_t::replace);
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
