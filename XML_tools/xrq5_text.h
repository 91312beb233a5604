// Internal: copying text into the fixed character fields of the records. Not installed.
#ifndef XRQ5_TEXT_H
#define XRQ5_TEXT_H

#include <cstddef>
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

}  // namespace xrq5_internal

#endif  // XRQ5_TEXT_H
