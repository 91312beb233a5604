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

// The hash of a name of `len` bytes: eight bytes at a time through a 64-bit mixer. The
// length, spread over the seed's bits, tells apart names whose tails agree once loaded.
inline uint64_t xrq5_name_mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  return h ^ (h >> 33);
}

inline uint64_t xrq5_name_hash(const char* p, size_t len) {
  uint64_t h = 0x9E3779B97F4A7C15ULL ^ (static_cast<uint64_t>(len) * 0xD6E8FEB86659FD93ULL);
  for (; len >= 8; p += 8, len -= 8) {
    uint64_t k;
    memcpy(&k, p, 8);
    h = xrq5_name_mix(h ^ k);
  }
  // The last 0 to 7 bytes in at most two loads rather than a loop of byte copies,
  // whose exit a branch predictor misses when names of a few lengths alternate.
  uint64_t tail = 0;
  if (len >= 4) {
    uint32_t lo, hi;
    memcpy(&lo, p, 4);
    memcpy(&hi, p + len - 4, 4);
    tail = lo | static_cast<uint64_t>(hi) << 32;
  } else if (len > 0) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    tail = u[0] | static_cast<uint64_t>(u[len / 2]) << 8 | static_cast<uint64_t>(u[len - 1]) << 16;
  }
  return xrq5_name_mix(h ^ tail);
}

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
