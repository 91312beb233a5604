// Internal: a hash index from names to the first value filed under each name, for the
// look-ups that a linear first-match scan would make quadratic. Not installed.
//
// Open addressing with linear probing in one array: a probe touches one slot, and the
// name itself (which stays in the caller's record) only when the hashes agree.
#ifndef XRQ5_NAME_INDEX_H
#define XRQ5_NAME_INDEX_H

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "xrq5_keyed_hash.h"

// The hash of a name of `len` bytes: keyed per process, so that the names of a document
// cannot be chosen to collide.
inline uint64_t xrq5_name_hash(const char* p, size_t len) { return xrq5_keyed_hash(p, len); }

// V is the value filed under a name: a record pointer or a list position.
template <class V>
class xrq5_name_index {
 public:
  // Files `value` under the name unless the name is there already. Returns the value
  // filed under the name and whether it is the new one. The name's bytes must stay
  // unchanged while the index lives.
  std::pair<V, bool> insert(const char* name, size_t len, V value) {
    if (2 * (used_ + 1) > slots_.size()) grow();
    const uint64_t h = hash(name, len);
    for (size_t i = h & mask_;; i = (i + 1) & mask_) {
      slot& s = slots_[i];
      if (!s.used) {
        s = slot{h, name, len, value, true};
        ++used_;
        return {value, true};
      }
      if (s.hash == h && s.len == len && memcmp(s.name, name, len) == 0) return {s.value, false};
    }
  }

  // The value filed under the name, or null.
  const V* find(const char* name, size_t len) const {
    if (slots_.empty()) return nullptr;
    const uint64_t h = hash(name, len);
    for (size_t i = h & mask_;; i = (i + 1) & mask_) {
      const slot& s = slots_[i];
      if (!s.used) return nullptr;
      if (s.hash == h && s.len == len && memcmp(s.name, name, len) == 0) return &s.value;
    }
  }

  const V* find(const char* name) const { return find(name, strlen(name)); }

  size_t size() const { return used_; }

  void reserve(size_t n) {
    while (2 * n > slots_.size()) grow();
  }

 private:
  struct slot {
    uint64_t hash;
    const char* name;
    size_t len;
    V value;
    bool used;
  };

  static uint64_t hash(const char* p, size_t len) { return xrq5_name_hash(p, len); }

  void grow() {
    std::vector<slot> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 64 : 2 * old.size(), slot{0, nullptr, 0, V(), false});
    mask_ = slots_.size() - 1;
    for (const slot& s : old) {
      if (!s.used) continue;
      size_t i = s.hash & mask_;
      while (slots_[i].used) i = (i + 1) & mask_;
      slots_[i] = s;
    }
  }

  std::vector<slot> slots_;
  size_t mask_ = 0;
  size_t used_ = 0;
};

#endif  // XRQ5_NAME_INDEX_H
