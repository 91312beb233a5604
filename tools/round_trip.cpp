#include "round_trip.h"

#include <cstring>
#include <string>
#include <unordered_map>

#include "xrq5_keyed_hash.h"

namespace {

template <size_t N>
bool same(const char (&a)[N], const char (&b)[N]) {
  return strncmp(a, b, N) == 0;
}

template <size_t N>
std::string key(const char (&f)[N]) {
  return std::string(f, strnlen(f, N));
}

// Floats as bits: a NaN that comes back is not lost.
bool same_float(float a, float b) { return memcmp(&a, &b, sizeof a) == 0 || a == b; }

bool same_bits(const chan_descr_2010& a, const chan_descr_2010& b, bool with_descriptions) {
  if (a.bits.size() != b.bits.size()) return false;
  for (size_t i = 0; i < a.bits.size(); ++i) {
    const bit_descr &x = *a.bits[i], &y = *b.bits[i];
    if (x.bit != y.bit || !same(x.bit_name, y.bit_name)) return false;
    if (with_descriptions && !same(x.bit_desc, y.bit_desc)) return false;
  }
  return true;
}

bool same_dims(const chan_descr_2010& a, const chan_descr_2010& b, bool with_stats) {
  if (a.dims.size() != b.dims.size()) return false;
  for (size_t i = 0; i < a.dims.size(); ++i) {
    const dim_descr &x = *a.dims[i], &y = *b.dims[i];
    if (x.dim != y.dim || !same(x.dim_name, y.dim_name) || !same(x.dim_desc, y.dim_desc) ||
        !same(x.units, y.units))
      return false;
    if (!with_stats) continue;
    if (x.stats.size() != y.stats.size()) return false;
    for (size_t j = 0; j < x.stats.size(); ++j) {
      const stat_descr &s = *x.stats[j], &t = *y.stats[j];
      if (s.stat != t.stat || !same(s.stat_name, t.stat_name) || !same(s.stat_desc, t.stat_desc) ||
          !same(s.units, t.units))
        return false;
    }
  }
  return true;
}

void compare_channel(const chan_descr_2010& a, const chan_descr_2010& b, losses& l) {
  if (a.stream != b.stream) l.add("stream");
  if (a.ev_type != b.ev_type) l.add("event type");
  if (a.dtype != b.dtype) l.add("data type");
  if (a.count != b.count) l.add("count");
  if (a.db_key != b.db_key) l.add("DB key");
  // An empty DAQ name is written, and read back, as "!!!UNDEFINED!!!".
  if (!same(a.daq_name, b.daq_name) && !(a.daq_name[0] == '\0' && key(b.daq_name) == "!!!UNDEFINED!!!"))
    l.add("DAQ name");
  if (!same(a.prop_desc, b.prop_desc)) l.add("description");
  if (!same(a.units, b.units)) l.add("units");
  if (a.max_size != b.max_size) l.add("size");
  if (a.set_point != b.set_point) l.add("set point");
  if (!same(a.sb_name, b.sb_name)) l.add("server-block name");
  if (!same(a.subsystem, b.subsystem)) l.add("subsystem");
  if (!same_bits(a, b, false))
    l.add("bits");
  else if (!same_bits(a, b, true))
    l.add("bit descriptions");
  if (!same_dims(a, b, false))
    l.add("dimensions");
  else if (!same_dims(a, b, true))
    l.add("statistics");
}

template <class Entry>
losses compare_entries(const std::vector<Entry*>& read, const std::vector<Entry*>& back) {
  losses l;
  size_t j = 0;
  for (const Entry* e : read) {
    // The reader lists a channel only once it has both an index and a name.
    if (e->data.env_prop[0] == '\0') {
      l.add("records without a property name");
      continue;
    }
    if (j == back.size()) {
      l.add("records");
      continue;
    }
    const Entry* b = back[j++];
    if (e->index != b->index) l.add("index");
    if (!same(e->data.env_prop, b->data.env_prop)) l.add("property name");
    if (!same_float(e->data.env_ch_abs_delta, b->data.env_ch_abs_delta)) l.add("absolute threshold");
    if (!same_float(e->data.env_ch_rel_delta, b->data.env_ch_rel_delta)) l.add("relative threshold");
  }
  return l;
}

}  // namespace

losses compare(const std::vector<chan_descr_2010*>& read, const std::vector<chan_descr_2010*>& back) {
  losses l;
  std::unordered_map<std::string, const chan_descr_2010*, xrq5_keyed_hasher> came_back, written;
  for (const chan_descr_2010* b : back) came_back.emplace(key(b->prop_name), b);
  for (const chan_descr_2010* a : read) {
    const std::string name = key(a->prop_name);
    if (name.empty()) {
      l.add("records without a property name");
      continue;
    }
    if (!written.emplace(name, a).second) {
      l.add("records with a repeated property name");
      continue;
    }
    const auto b = came_back.find(name);
    if (b == came_back.end()) {
      l.add("records");
      continue;
    }
    compare_channel(*a, *b->second, l);
  }
  return l;
}

losses compare(const std::vector<xrq5_user_case_trigger*>& read,
               const std::vector<xrq5_user_case_trigger*>& back) {
  losses l;
  for (size_t i = 0; i < read.size(); ++i) {
    if (i == back.size()) {
      l.add("triggers");
      continue;
    }
    const xrq5_user_case_trigger &a = *read[i], &b = *back[i];
    if (!same(a.channel, b.channel)) l.add("channel");
    if (a.subchannel != b.subchannel) l.add("sub-channel");
    if (a.function != b.function) l.add("function");
    bool params = true;
    for (int k = 0; k < 16; ++k) params = params && same_float(a.fparam[k], b.fparam[k]);
    if (!params) l.add("function parameters");
    if (a.operation != b.operation) l.add("operation");
    if (!same_float(a.low, b.low)) l.add("low limit");
    if (!same_float(a.upper, b.upper)) l.add("upper limit");
    if (a.bitmask != b.bitmask) l.add("bit mask");
    if (!same(a.description, b.description)) l.add("description");
    if (!same(a.group, b.group)) l.add("group");
    if (a.pre_mode != b.pre_mode) l.add("pre-mode");
    if (a.post_mode != b.post_mode) l.add("post-mode");
  }
  return l;
}

losses compare(const std::vector<xrq5_env_index_dictionary_entry*>& read,
               const std::vector<xrq5_env_index_dictionary_entry*>& back) {
  return compare_entries(read, back);
}

losses compare(const std::vector<xrq5_env_index_dictionary_entry_2010*>& read,
               const std::vector<xrq5_env_index_dictionary_entry_2010*>& back) {
  return compare_entries(read, back);
}
