// Internal: names to the first position of a list that holds each name, for a reader
// that merges records of one name while it appends them. Not installed.
//
// A slot is eight bytes, part of the name's hash and the position, so that the table
// of a large list stays in cache; the names stay in the list's records and are read
// only when the hash parts agree.
#ifndef XRQ5_POSITION_INDEX_H
#define XRQ5_POSITION_INDEX_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "xrq5_name_index.h"

class xrq5_position_index {
 public:
  // Files `pos` under the name unless the name is filed already. Returns the position
  // filed under the name and whether it is the new one. name_at(p) returns the name at
  // position p as a pair (pointer, length); positions must stay below UINT32_MAX.
  template <class NameAt>
  std::pair<uint32_t, bool> insert(const char* name, size_t len, uint32_t pos, NameAt name_at) {
    if (2 * (used_ + 1) > slots_.size()) grow();
    const uint32_t h = static_cast<uint32_t>(xrq5_name_hash(name, len));
    for (size_t i = h & mask_;; i = (i + 1) & mask_) {
      slot& s = slots_[i];
      if (s.pos_plus_one == 0) {
        s = slot{h, pos + 1};
        ++used_;
        return {pos, true};
      }
      if (s.hash != h) continue;
      const std::pair<const char*, size_t> other = name_at(s.pos_plus_one - 1);
      if (other.second == len && memcmp(other.first, name, len) == 0)
        return {s.pos_plus_one - 1, false};
    }
  }

  void reserve(size_t n) {
    while (2 * n > slots_.size()) grow();
  }

  size_t size() const { return used_; }

 private:
  struct slot {
    uint32_t hash;
    uint32_t pos_plus_one;  // 0: free
  };

  void grow() {
    std::vector<slot> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 64 : 2 * old.size(), slot{0, 0});
    mask_ = slots_.size() - 1;
    for (const slot& s : old) {
      if (s.pos_plus_one == 0) continue;
      size_t i = s.hash & mask_;
      while (slots_[i].pos_plus_one != 0) i = (i + 1) & mask_;
      slots_[i] = s;
    }
  }

  std::vector<slot> slots_;
  size_t mask_ = 0;
  size_t used_ = 0;
};

#endif  // XRQ5_POSITION_INDEX_H
