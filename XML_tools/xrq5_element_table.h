// Internal: the element names a reader acts on, looked up once per step. Not installed.
#ifndef XRQ5_ELEMENT_TABLE_H
#define XRQ5_ELEMENT_TABLE_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <stdexcept>

namespace xrq5_read {

struct element_name {
  const char* name;  // exact and case-sensitive; the table keeps the pointer
  int id;            // the reader's own number for it, not negative
};

// Names to the reader's ids. A look-up reads the tag's length and its first and last
// eight bytes (fewer for short tags) into a key; a slot holds the same key of its
// name, so one slot, and no second memory access, decides for names of up to 16 bytes.
class element_table {
 public:
  static constexpr int none = -1;  // not one of the names

  // At most 64 names.
  element_table(std::initializer_list<element_name> names)
      : element_table(names.begin(), names.end()) {}
  element_table(const element_name* first, const element_name* last) {
    for (; first != last; ++first) add(*first);
  }

  int find(const char* tag) const {
    if (tag == nullptr || tag[0] == '\0') return none;
    const size_t len = strlen(tag);
    const key k = key_of(tag, len);
    for (size_t i = place(k, len);; i = (i + 1) & (slots - 1)) {
      const slot& s = slots_[i];
      if (s.name == nullptr) return none;
      if (s.len == len && s.k.head == k.head && s.k.tail == k.tail &&
          (len <= 16 || memcmp(s.name, tag, len) == 0))
        return s.id;
    }
  }

 private:
  static constexpr size_t slots = 128;  // at most half of them used

  // Bytes [0, 8) and [len - 8, len) of a name (overlapping when shorter than 16);
  // [0, 4) and [len - 4, len) below 8 bytes; every byte below 4. Never reads past len.
  struct key {
    uint64_t head = 0, tail = 0;
  };

  struct slot {
    key k;
    const char* name = nullptr;
    uint32_t len = 0;
    int id = none;
  };

  static key key_of(const char* p, size_t len) {
    key k;
    if (len >= 8) {
      memcpy(&k.head, p, 8);
      memcpy(&k.tail, p + len - 8, 8);
    } else if (len >= 4) {
      uint32_t a, b;
      memcpy(&a, p, 4);
      memcpy(&b, p + len - 4, 4);
      k.head = a;
      k.tail = b;
    } else {
      for (size_t i = 0; i < len; ++i) k.head |= uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
    }
    return k;
  }

  static size_t place(const key& k, size_t len) {
    const uint64_t h = ((k.head * 0x9E3779B97F4A7C15ULL) ^ k.tail ^ len) * 0xC2B2AE3D27D4EB4FULL;
    return static_cast<size_t>(h >> 57) & (slots - 1);
  }

  void add(const element_name& n) {
    const size_t len = strlen(n.name);
    if (len == 0 || n.id < 0 || 2 * (used_ + 1) > slots)
      throw std::logic_error("element_table: empty name, negative id or too many names");
    const key k = key_of(n.name, len);
    size_t i = place(k, len);
    for (; slots_[i].name != nullptr; i = (i + 1) & (slots - 1))
      if (slots_[i].len == len && memcmp(slots_[i].name, n.name, len) == 0) return;  // first wins
    slots_[i].k = k;
    slots_[i].name = n.name;
    slots_[i].len = static_cast<uint32_t>(len);
    slots_[i].id = n.id;
    ++used_;
  }

  slot slots_[slots];
  size_t used_ = 0;
};

}  // namespace xrq5_read

#endif  // XRQ5_ELEMENT_TABLE_H
