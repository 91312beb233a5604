#include "chan_selector.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "event_util.h"
#include "xrq5_name_index.h"

namespace {

// A name hashed once, at the start of a query.
struct probe {
  explicit probe(const char* n) : name(n), len(strlen(n)), hash(hash_of(n, len)) {}

  static uint64_t hash_of(const char* p, size_t len) { return xrq5_name_hash(p, len); }

  const char* name;
  size_t len;
  uint64_t hash;
};

// Zeroed slot storage, aligned to a cache line; tables of 2 MB and more are aligned to
// 2 MB and asked of the kernel in huge pages. The queries of a large selector land on
// random slots: with 4 KB pages nearly each would miss the TLB as well as the caches.
// Both requests are hints; where the kernel declines them the table works the same.
class slot_memory {
 public:
  static constexpr size_t huge = size_t(2) << 20;

  slot_memory() = default;
  explicit slot_memory(size_t bytes) {
    const bool large = bytes >= huge;
    if (posix_memalign(&p_, large ? huge : 64, bytes) != 0) {
      p_ = nullptr;
      throw std::bad_alloc();
    }
    if (large) madvise(p_, bytes, MADV_HUGEPAGE);  // for the pages memset faults in
    memset(p_, 0, bytes);
    if (large) madvise(p_, bytes, collapse);  // those that came small, made huge now
  }
  ~slot_memory() { free(p_); }
  slot_memory(slot_memory&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  slot_memory& operator=(slot_memory&& o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  slot_memory(const slot_memory&) = delete;
  slot_memory& operator=(const slot_memory&) = delete;

  void* get() const { return p_; }

 private:
#ifdef MADV_COLLAPSE
  static constexpr int collapse = MADV_COLLAPSE;
#else
  static constexpr int collapse = 25;  // Linux 6.1; older kernels refuse it
#endif
  void* p_ = nullptr;
};

// From names to a value (a mask, a data type) filed by the first list position that
// holds each name. A slot is one cache line with the hash's high bits, the value and
// the name's first 48 bytes: a hit on a name of up to 48 bytes reads that line only,
// and a slot of another name is told apart by its hash bits. The bytes of longer names
// past the first 48 stay in a block beside.
class name_value_index {
 public:
  static constexpr size_t head_size = 48;

  // Files `value` under the name unless the name is there already (the first of a name
  // wins, as in a scan of the list in order).
  void insert(const char* name, size_t len, uint32_t value) {
    if (2 * (used_ + 1) > size_) grow();
    if (len >= UINT32_MAX || (len > head_size && rest_.size() > UINT32_MAX - len))
      throw std::length_error("channel selector: names beyond 4 GB");
    const uint64_t h = probe::hash_of(name, len);
    for (size_t i = h & mask_;; i = (i + 1) & mask_) {
      slot& s = slots_[i];
      if (s.len_plus_1 == 0) {
        s.tag = static_cast<uint32_t>(h >> 32);
        s.value = value;
        s.len_plus_1 = static_cast<uint32_t>(len + 1);
        memcpy(s.head, name, len < head_size ? len : head_size);
        if (len > head_size) {
          s.rest = static_cast<uint32_t>(rest_.size());
          rest_.append(name + head_size, len - head_size);
        }
        ++used_;
        return;
      }
      if (same(s, h, name, len)) return;
    }
  }

  // The value filed under the name, or null.
  const uint32_t* find(const probe& q) const {
    if (size_ == 0) return nullptr;
    for (size_t i = q.hash & mask_;; i = (i + 1) & mask_) {
      const slot& s = slots_[i];
      if (s.len_plus_1 == 0) return nullptr;
      if (same(s, q.hash, q.name, q.len)) return &s.value;
    }
  }

  void clear() {
    name_value_index none;
    std::swap(memory_, none.memory_);
    std::swap(slots_, none.slots_);
    rest_.swap(none.rest_);
    size_ = mask_ = used_ = 0;
  }

 private:
  struct alignas(64) slot {
    uint32_t tag;         // the hash's high bits; the slot's index gives the low ones
    uint32_t value;
    uint32_t len_plus_1;  // 0 for a free slot
    uint32_t rest;        // offset in rest_ of the bytes past the head
    char head[head_size];
  };
  static_assert(sizeof(slot) == 64, "a slot is one cache line");

  bool same(const slot& s, uint64_t h, const char* name, size_t len) const {
    if (s.tag != static_cast<uint32_t>(h >> 32) || s.len_plus_1 != len + 1) return false;
    if (len <= head_size) return memcmp(s.head, name, len) == 0;
    return memcmp(s.head, name, head_size) == 0 &&
           memcmp(rest_.data() + s.rest, name + head_size, len - head_size) == 0;
  }

  void grow() {
    const size_t n = size_ == 0 ? 64 : 2 * size_;
    if (n > static_cast<size_t>(-1) / sizeof(slot) / 2)
      throw std::length_error("channel selector: too many names");
    slot_memory fresh(n * sizeof(slot));
    slot* to = static_cast<slot*>(fresh.get());
    std::string name;
    for (size_t k = 0; k < size_; ++k) {
      const slot& s = slots_[k];
      if (s.len_plus_1 == 0) continue;
      const size_t len = s.len_plus_1 - 1;
      name.assign(s.head, len < head_size ? len : head_size);
      if (len > head_size) name.append(rest_, s.rest, len - head_size);
      size_t i = probe::hash_of(name.data(), len) & (n - 1);
      while (to[i].len_plus_1 != 0) i = (i + 1) & (n - 1);
      to[i] = s;
    }
    memory_ = std::move(fresh);
    slots_ = to;
    size_ = n;
    mask_ = n - 1;
  }

  slot_memory memory_;
  slot* slots_ = nullptr;
  std::string rest_;
  size_t size_ = 0;  // slots
  size_t mask_ = 0;
  size_t used_ = 0;
};

}  // namespace

// By name: the data type of the first description with the DAQ name (find_channel with
// a LOCAL or ML event type, get_data_type); whether some description has the property
// name (find_channel otherwise); for get_event_type, the mask of the first description
// that has the DAQ name and a non-empty mask or has the property name and a mask
// holding an event type of another structure than LOCAL and ML. A query is one look-up
// in one index and reads no record (the records are mostly out of the caches).
struct chan_selector::name_indexes {
  name_value_index daq_any, prop_any, typed;
  unsigned int by_prop_mask = 0;  // event types whose channels are named by property
};

namespace {

template <size_t N>
size_t name_length(const char (&f)[N]) {
  return strnlen(f, N);
}

bool named_by_daq_name(int structure) {
  return structure == XRQ5_EV_STRUCT_LOCAL || structure == XRQ5_EV_STRUCT_ML;
}

// Into get_event_type's index, the DAQ name and then the property name of d, as far as
// its mask lets get_event_type's scan match them.
void file_typed(name_value_index& typed, unsigned int by_prop_mask, const chan_descr_2010* d) {
  if (d->ev_type != 0) typed.insert(d->daq_name, name_length(d->daq_name), d->ev_type);
  if (d->ev_type & by_prop_mask) typed.insert(d->prop_name, name_length(d->prop_name), d->ev_type);
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
    x.typed.clear();
    for (size_t i = 0; i < first; ++i) file_typed(x.typed, x.by_prop_mask, descr[i]);
  }
  for (size_t i = first; i < descr.size(); ++i) {
    const chan_descr_2010* d = descr[i];
    x.daq_any.insert(d->daq_name, name_length(d->daq_name), d->dtype);
    x.prop_any.insert(d->prop_name, name_length(d->prop_name), 0);
    file_typed(x.typed, x.by_prop_mask, d);
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
  const name_value_index& names =
      named_by_daq_name(get_event_struct_type(ev_type)) ? indexes->daq_any : indexes->prop_any;
  return names.find(probe(chan)) != nullptr;
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
  const uint32_t* mask = chan ? indexes->typed.find(probe(chan)) : nullptr;
  if (mask == nullptr) {
    printf("CHANNEL %s NOT FOUND\n", chan ? chan : "");
    return 0;
  }
  return static_cast<int>(*mask);
}

int chan_selector::get_data_type(char* chan) {
  if (descr.empty()) {
    std::cout << "get_event_type() No descroption !!!!" << std::endl;
    return 0;
  }
  const uint32_t* dtype = chan ? indexes->daq_any.find(probe(chan)) : nullptr;
  return dtype ? static_cast<int>(*dtype) : 0;
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
