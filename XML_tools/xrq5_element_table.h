// Internal: the element names a reader acts on, looked up once per step. Not installed.
#ifndef XRQ5_ELEMENT_TABLE_H
#define XRQ5_ELEMENT_TABLE_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>

namespace xrq5_read {

struct element_name {
  const char* name;  // exact and case-sensitive; the table keeps the pointer
  int id;            // the reader's own number for it, not negative
};

// Names to the reader's ids. A look-up reads the tag once (its length and the bytes
// at both ends place it in the table) and compares it with at most a few names, so
// a step costs the same whatever the reader and however long an unknown tag is.
class element_table {
 public:
  static constexpr int none = -1;  // not one of the names

  element_table(std::initializer_list<element_name> names) {
    for (const element_name& n : names) add(n);
  }

  int find(const char* tag) const {
    if (tag == nullptr || tag[0] == '\0') return none;
    size_t len = 1;
    while (tag[len] != '\0') ++len;
    for (size_t i = place(len, tag[0], tag[len - 1]);; i = (i + 1) & (slots - 1)) {
      const slot& s = slots_[i];
      if (s.name == nullptr) return none;
      if (s.len == len && same(s.name, tag, len)) return s.id;
    }
  }

 private:
  static constexpr size_t slots = 128;  // at most half of them used

  struct slot {
    const char* name = nullptr;
    uint32_t len = 0;
    int id = none;
  };

  static size_t place(size_t len, char first, char last) {
    const uint32_t h = static_cast<uint32_t>(len) * 0x9E3779B1u ^
                       static_cast<uint32_t>(static_cast<unsigned char>(first)) * 0x85EBCA6Bu ^
                       static_cast<uint32_t>(static_cast<unsigned char>(last)) * 0xC2B2AE35u;
    return (h ^ (h >> 15)) & (slots - 1);
  }

  static bool same(const char* a, const char* b, size_t len) {
    for (size_t i = 0; i < len; ++i)
      if (a[i] != b[i]) return false;
    return true;
  }

  void add(const element_name& n) {
    size_t len = 0;
    while (n.name[len] != '\0') ++len;
    if (len == 0 || n.id < 0 || 2 * (used_ + 1) > slots)
      throw std::logic_error("element_table: empty name, negative id or too many names");
    size_t i = place(len, n.name[0], n.name[len - 1]);
    for (; slots_[i].name != nullptr; i = (i + 1) & (slots - 1))
      if (slots_[i].len == len && same(slots_[i].name, n.name, len)) return;  // first wins
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
