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

// Names to the reader's ids. A look-up takes the tag's length and the bytes at both
// ends to place it in the table, then compares it with the few names placed there.
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

  // Names are short: two overlapping word compares cover up to 16 bytes without a
  // call, and never read outside the `len` bytes.
  static bool same(const char* a, const char* b, size_t len) {
    if (len >= 8 && len <= 16) return word<uint64_t>(a, b, 0) && word<uint64_t>(a, b, len - 8);
    if (len >= 4 && len < 8) return word<uint32_t>(a, b, 0) && word<uint32_t>(a, b, len - 4);
    return memcmp(a, b, len) == 0;
  }

  template <class Word>
  static bool word(const char* a, const char* b, size_t at) {
    Word x, y;
    memcpy(&x, a + at, sizeof x);
    memcpy(&y, b + at, sizeof y);
    return x == y;
  }

  static size_t place(size_t len, char first, char last) {
    const uint32_t h = static_cast<uint32_t>(len) * 0x9E3779B1u ^
                       static_cast<uint32_t>(static_cast<unsigned char>(first)) * 0x85EBCA6Bu ^
                       static_cast<uint32_t>(static_cast<unsigned char>(last)) * 0xC2B2AE35u;
    return (h ^ (h >> 15)) & (slots - 1);
  }

  void add(const element_name& n) {
    const size_t len = strlen(n.name);
    if (len == 0 || n.id < 0 || 2 * (used_ + 1) > slots)
      throw std::logic_error("element_table: empty name, negative id or too many names");
    size_t i = place(len, n.name[0], n.name[len - 1]);
    for (; slots_[i].name != nullptr; i = (i + 1) & (slots - 1))
      if (slots_[i].len == len && memcmp(slots_[i].name, n.name, len) == 0) return;  // first wins
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
