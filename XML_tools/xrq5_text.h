// Internal: the readers' conversions of element text into record fields: text into a
// fixed character field, and numbers. Not installed.
#ifndef XRQ5_TEXT_H
#define XRQ5_TEXT_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace xrq5_internal {

// The length of `text` cut to at most `max` bytes. The readers hand out UTF-8, so a
// cut never splits a multi-byte character: the whole character goes instead. Text
// that is not UTF-8 at the cut is cut at `max`.
inline size_t cut_length(const char* text, size_t max) {
  const size_t len = strnlen(text, max + 1);
  if (len <= max) return len;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  if ((p[max] & 0xC0) != 0x80) return max;  // the cut falls between characters
  size_t k = max;
  while (k > 0 && max - k < 3 && (p[k - 1] & 0xC0) == 0x80) --k;
  if (k == 0) return max;
  const unsigned char lead = p[k - 1];
  const size_t n = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 && lead <= 0xEF ? 3
                   : lead >= 0xC2 && lead <= 0xDF ? 2 : 0;
  return n != 0 && k - 1 + n > max ? k - 1 : max;
}

// Puts `text` into the field: at most `max` bytes of it (cut_length), the rest of the
// field zero-filled, so the field is always terminated. The field must hold a string
// followed by zeros to its end, as a zeroed field or one filled here does: then only
// a longer string written before leaves bytes to clear. A null text leaves the field.
inline void copy_field(char* field, size_t size, const char* text, size_t max) {
  if (text == nullptr || size == 0) return;
  if (max > size - 1) max = size - 1;  // the terminator always fits
  const size_t n = cut_length(text, max);
  memcpy(field, text, n);
  if (field[n] != '\0') memset(field + n, 0, size - n);
}

template <size_t N>
void copy_field(char (&field)[N], const char* text) {
  copy_field(field, N, text, N - 1);
}

// How a reader turns text into a number.
enum class number_form {
  // What strtol base 10 reads (leading white space, a sign, digits), saturated to the
  // range of int as on the 32-bit target.
  int_saturated,
  // As int_saturated, except that (INT_MAX, UINT_MAX] keeps its 32-bit pattern: a
  // number written with "%u" reads back as the int it came from.
  int_or_u32_pattern,
  // What sscanf reads with "%u", or with " 0x%X" when a lowercase x appears anywhere.
  unsigned_or_hex,
};

// Reads a number of `form` from `text` into *out as its 32-bit pattern; false, with
// *out unchanged, when the text holds none (or is null).
inline bool read_number(const char* text, number_form form, uint32_t* out) {
  if (text == nullptr) return false;
  if (form == number_form::unsigned_or_hex) {
    unsigned int v = 0;
    const int got = strchr(text, 'x') ? sscanf(text, " 0x%X ", &v) : sscanf(text, "%u", &v);
    if (got != 1) return false;
    *out = v;
    return true;
  }
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (*p < '0' || *p > '9') return false;
  // Stops growing once past every range below, so it cannot overflow.
  const long long cap = static_cast<long long>(UINT_MAX) + 1;
  long long v = 0;
  for (; *p >= '0' && *p <= '9'; ++p)
    if (v <= cap) v = v * 10 + (*p - '0');
  if (negative) v = -v;
  if (form == number_form::int_or_u32_pattern && v > INT_MAX && v <= static_cast<long long>(UINT_MAX)) {
    *out = static_cast<uint32_t>(v);
    return true;
  }
  const long long clamped = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : v;
  *out = static_cast<uint32_t>(static_cast<int>(clamped));
  return true;
}

inline bool read_number(const char* text, number_form form, int* out) {
  uint32_t bits;
  if (!read_number(text, form, &bits)) return false;
  *out = static_cast<int>(bits);
  return true;
}

// The int that strtol base 10 reads, saturated; 0 when the text holds no number.
inline int int_of(const char* text) {
  int v = 0;
  read_number(text, number_form::int_saturated, &v);
  return v;
}

}  // namespace xrq5_internal

#endif  // XRQ5_TEXT_H
