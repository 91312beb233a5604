#include "chan_selector.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>

#include "event_util.h"
#include "xrq5_name_index.h"

namespace {

// A name hashed once serves the look-ups of several indexes.
struct probe {
  explicit probe(const char* n) : name(n), len(strlen(n)), hash(hash_of(n, len)) {}

  static uint64_t hash_of(const char* p, size_t len) { return xrq5_name_hash(p, len); }

  const char* name;
  size_t len;
  uint64_t hash;
};

// From names to the first list position filed under each. The names are copied into
// one block beside the 16-byte slots, so that a hit reads a slot and a few bytes of
// the block, never the 1.5 KB description the name came from.
class name_block_index {
 public:
  void insert(const char* name, size_t len, size_t pos) {
    if (2 * (used_ + 1) > slots_.size()) grow();
    const uint64_t h = probe::hash_of(name, len);
    for (size_t i = h & mask_;; i = (i + 1) & mask_) {
      slot& s = slots_[i];
      if (s.pos == 0) {
        if (len > UINT32_MAX || block_.size() > UINT32_MAX - len || pos >= UINT32_MAX)
          throw std::length_error("channel selector: names beyond 4 GB");
        s = slot{static_cast<uint32_t>(h >> 32), static_cast<uint32_t>(len),
                 static_cast<uint32_t>(block_.size()), static_cast<uint32_t>(pos + 1)};
        block_.append(name, len);
        ++used_;
        return;
      }
      if (same(s, h, name, len)) return;  // the first of a name wins
    }
  }

  // The position filed under the name, or -1.
  long long find(const probe& q) const {
    if (slots_.empty()) return -1;
    for (size_t i = q.hash & mask_;; i = (i + 1) & mask_) {
      const slot& s = slots_[i];
      if (s.pos == 0) return -1;
      if (same(s, q.hash, q.name, q.len)) return static_cast<long long>(s.pos) - 1;
    }
  }

  void clear() { *this = name_block_index(); }

 private:
  struct slot {
    uint32_t hash_high;  // the slot's index gives the low bits
    uint32_t len;
    uint32_t offset;  // in block_
    uint32_t pos;     // list position + 1; 0 for a free slot
  };

  bool same(const slot& s, uint64_t h, const char* name, size_t len) const {
    return s.hash_high == static_cast<uint32_t>(h >> 32) && s.len == len &&
           memcmp(block_.data() + s.offset, name, len) == 0;
  }

  void grow() {
    std::vector<slot> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 64 : 2 * old.size(), slot{0, 0, 0, 0});
    mask_ = slots_.size() - 1;
    for (const slot& s : old) {
      if (s.pos == 0) continue;
      const uint64_t h = probe::hash_of(block_.data() + s.offset, s.len);
      size_t i = h & mask_;
      while (slots_[i].pos != 0) i = (i + 1) & mask_;
      slots_[i] = s;
    }
  }

  std::vector<slot> slots_;
  std::string block_;
  size_t mask_ = 0;
  size_t used_ = 0;
};

// (A type of this file: vectors of it are not exported from the library.)
struct types {
  unsigned int ev_type, dtype;
};

}  // namespace

// Positions in descr of the first description with a DAQ name or a property name (any
// mask), with a DAQ name and a non-empty mask, and with a property name and a mask
// holding an event type of another structure than LOCAL and ML.
struct chan_selector::name_indexes {
  name_block_index daq_any, prop_any, daq_typed, prop_typed;
  // The masks and data types of descr, by position: an answer reads them here rather
  // than a line of a record that is most likely out of the caches (the records are
  // not changed once held).
  std::vector<types> held;
  unsigned int by_prop_mask = 0;  // event types whose channels are named by property
};

namespace {

// Position of the first description, in list order, that get_event_type's scan would
// match; -1 when none does.
long long first_position(const name_block_index& daq_typed, const name_block_index& prop_typed,
                         const char* chan) {
  const probe q(chan);
  const long long by_daq = daq_typed.find(q);
  const long long by_prop = prop_typed.find(q);
  if (by_daq >= 0 && (by_prop < 0 || by_daq <= by_prop)) return by_daq;
  return by_prop;
}

template <size_t N>
size_t name_length(const char (&f)[N]) {
  return strnlen(f, N);
}

bool named_by_daq_name(int structure) {
  return structure == XRQ5_EV_STRUCT_LOCAL || structure == XRQ5_EV_STRUCT_ML;
}

const unsigned int slow_event_types =
    (1u << XRQ5_EV_BOR) | (1u << XRQ5_EV_EOR) | (1u << XRQ5_EV_ENV) | (1u << XRQ5_EV_UPD);

}  // namespace

chan_selector::chan_selector() : ev_types(0), shift(true), indexes(new name_indexes) {}

chan_selector::~chan_selector() {
  clean_chan_desr_list(&descr);
  delete indexes;
}

int chan_selector::size() { return static_cast<int>(descr.size()); }

void chan_selector::set_shift(bool s) { shift = s; }

bool chan_selector::change_mode(int m) { return set_mode(m); }

// Files the descriptions from position `first` on; the first of each name wins, as in
// a scan of the list in order.
void chan_selector::index_from(size_t first) {
  name_indexes& x = *indexes;
  unsigned int mask = 0;
  for (int i = 0; i < 32; ++i)
    if (!named_by_daq_name(get_event_struct_type(i))) mask |= 1u << i;
  if (mask != x.by_prop_mask) {  // which event types count as named by property changed
    x.by_prop_mask = mask;
    x.prop_typed.clear();
    for (size_t i = 0; i < first; ++i)
      if (descr[i]->ev_type & x.by_prop_mask)
        x.prop_typed.insert(descr[i]->prop_name, name_length(descr[i]->prop_name), i);
  }
  x.held.resize(first);
  for (size_t i = first; i < descr.size(); ++i) {
    const chan_descr_2010* d = descr[i];
    x.held.push_back(types{d->ev_type, d->dtype});
    const size_t dl = name_length(d->daq_name), pl = name_length(d->prop_name);
    x.daq_any.insert(d->daq_name, dl, i);
    x.prop_any.insert(d->prop_name, pl, i);
    if (d->ev_type != 0) x.daq_typed.insert(d->daq_name, dl, i);
    if (d->ev_type & x.by_prop_mask) x.prop_typed.insert(d->prop_name, pl, i);
  }
}

bool chan_selector::set_descriptions(std::vector<char*>& source, int* total) {
  const size_t before = descr.size();
  const bool failed = get_descriptions(source, total, descr, shift);
  // What a failed read appended is held and queried like the rest, so the mask and
  // the indexes take it in too.
  for (size_t i = before; i < descr.size(); ++i) ev_types |= static_cast<int>(descr[i]->ev_type);
  index_from(before);
  return failed;
}

bool chan_selector::find_channel(int ev_type, char* chan) {
  if (descr.empty()) return true;
  if (ev_type < 0 || ev_type > 31 || !(static_cast<unsigned int>(ev_types) & (1u << ev_type)))
    return false;
  if (chan == nullptr) return false;
  const name_block_index& names =
      named_by_daq_name(get_event_struct_type(ev_type)) ? indexes->daq_any : indexes->prop_any;
  return names.find(probe(chan)) >= 0;
}

bool chan_selector::set_counter(int num, int cnt) {
  if (static_cast<unsigned int>(num) >= descr.size()) return true;
  descr[num]->count = cnt;
  return false;
}

int chan_selector::get_event_type(char* chan) {
  if (descr.empty()) {
    std::cout << "get_event_type() No descroption !!!!" << std::endl;
    return 0;
  }
  const long long at = chan ? first_position(indexes->daq_typed, indexes->prop_typed, chan) : -1;
  if (at < 0) {
    printf("CHANNEL %s NOT FOUND\n", chan ? chan : "");
    return 0;
  }
  return static_cast<int>(indexes->held[static_cast<size_t>(at)].ev_type);
}

int chan_selector::get_data_type(char* chan) {
  if (descr.empty()) {
    std::cout << "get_event_type() No descroption !!!!" << std::endl;
    return 0;
  }
  const long long at = chan ? indexes->daq_any.find(probe(chan)) : -1;
  return at >= 0 ? static_cast<int>(indexes->held[static_cast<size_t>(at)].dtype) : 0;
}

char* chan_selector::get_channel(int num) {
  return static_cast<unsigned int>(num) < descr.size() ? descr[num]->daq_name : nullptr;
}

char* chan_selector::get_prop(int num) {
  return static_cast<unsigned int>(num) < descr.size() ? descr[num]->prop_name : nullptr;
}

int chan_selector::is_channel_slow(int num) {
  if (static_cast<unsigned int>(num) >= descr.size()) return -1;
  const unsigned int m = static_cast<unsigned int>(get_event_type(get_channel(num)));
  if (m == 0) return -1;
  return (m & slow_event_types) ? 1 : 0;
}

int chan_selector::is_channel_ml(int num) {
  if (static_cast<unsigned int>(num) >= descr.size()) return -1;
  const unsigned int m = static_cast<unsigned int>(get_event_type(get_channel(num)));
  if (m == 0) return -1;
  for (int i = 0; i < 32; ++i) {
    if (!(m & (1u << i))) continue;
    const int structure = get_event_struct_type(i);
    // Structure results 10..15 count as ML too; the framework's types stop at 4, so
    // with them only the ML structure and the name decide.
    if (structure == XRQ5_EV_STRUCT_ML || (structure >= 10 && structure <= 15)) return 1;
    if (strstr(descr[num]->daq_name, ".ML") != nullptr) return 1;
  }
  return 0;
}

int chan_selector::get_subchannels(int num) {
  const int r = is_channel_slow(num);
  if (r == 1) return 1;
  if (r == -1) return 0;
  return static_cast<int>(descr[num]->dims.size());
}

void chan_selector::dump(char* title, int from, int count) {
  printf("%s\n", title ? title : "");
  const long long n = static_cast<long long>(descr.size());
  long long first = from < 0 ? 0 : from;
  long long last = static_cast<long long>(from) + (count < 0 ? 0 : count);
  if (last > n) last = n;
  for (long long i = first; i < last; ++i) {
    const chan_descr_2010* d = descr[static_cast<size_t>(i)];
    printf("[%lld] %.256s  prop %.256s  ev_type 0x%x  dtype 0x%x  count %d  dims %d\n", i,
           d->daq_name, d->prop_name, d->ev_type, d->dtype, d->count,
           static_cast<int>(d->dims.size()));
  }
}
