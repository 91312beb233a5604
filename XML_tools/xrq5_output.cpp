#include "xrq5_output.h"

#include "xrq5_name_index.h"
#include "xrq5_sax_common.h"

#include <unistd.h>

#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace xrq5_output {

namespace {

// Length of the valid UTF-8 sequence at p (at most `left` bytes) and its code point,
// or 0 when the bytes there are not one (overlong forms and surrogates included).
size_t utf8_sequence(const unsigned char* p, size_t left, unsigned int* cp) {
  const unsigned char b = p[0];
  size_t n;
  unsigned int c;
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
    c = b & 0x1Fu;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    c = b & 0x0Fu;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    c = b & 0x07u;
  } else {
    return 0;
  }
  if (n > left) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    c = (c << 6) | (p[i] & 0x3Fu);
  }
  if ((n == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) || (n == 4 && (c < 0x10000 || c > 0x10FFFF)))
    return 0;
  *cp = c;
  return n;
}

bool plain(unsigned char c, bool attr) {
  return c >= 0x20 && c < 0x7F && c != '&' && c != '<' && c != '>' && !(attr && c == '"');
}

// plain() by table, one per kind of value.
struct plain_table {
  explicit plain_table(bool attr) {
    for (int c = 0; c < 256; ++c) is[c] = plain(static_cast<unsigned char>(c), attr);
  }
  bool is[256];
};
const plain_table plain_in_text(false), plain_in_attribute(true);

// Whether any byte of x is zero.
inline uint64_t has_zero(uint64_t x) {
  return (x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull;
}

// Copies the run of plain characters at p (at most `size` bytes) to out and returns
// its length; out has room for `size` bytes, and those after the run may be
// overwritten. Eight bytes are tested and stored at once; a NUL ends a run like any
// other character that is not plain.
template <bool attr>
inline __attribute__((always_inline)) size_t copy_plain_run(char* out, const unsigned char* p,
                                                            size_t size) {
  constexpr uint64_t ones = 0x0101010101010101ull;
  size_t i = 0;
#ifdef __SSE2__
  // Sixteen at once: plain is 0x20..0x7E (as signed bytes, above 0x1F and below
  // 0x7F) and none of & < > (").
  for (; i + 16 <= size; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), x);
    const __m128i in_range =
        _mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8(0x1F)), _mm_cmplt_epi8(x, _mm_set1_epi8(0x7F)));
    __m128i special = _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('&')),
                                   _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('<')),
                                                _mm_cmpeq_epi8(x, _mm_set1_epi8('>'))));
    if (attr) special = _mm_or_si128(special, _mm_cmpeq_epi8(x, _mm_set1_epi8('"')));
    const unsigned int bad =
        static_cast<unsigned int>(_mm_movemask_epi8(_mm_andnot_si128(special, in_range))) ^ 0xFFFFu;
    if (bad != 0) return i + static_cast<size_t>(__builtin_ctz(bad));
  }
#endif
  for (; i + 8 <= size; i += 8) {
    uint64_t x;
    memcpy(&x, p + i, 8);
    memcpy(out + i, &x, 8);
    // below 0x20 or from 0x80 on; 0x7F; < and >; & (and ")
    uint64_t bad = (x | (x - ones * 0x20)) & 0x8080808080808080ull;
    bad |= has_zero(x ^ (ones * 0x7F));
    bad |= has_zero((x | ones * 0x02) ^ (ones * 0x3E));
    bad |= attr ? has_zero((x | ones * 0x04) ^ (ones * 0x26)) : has_zero(x ^ (ones * 0x26));
    if (bad != 0) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
      // A flag above a true one may be false (a borrow), never one below it: the
      // lowest flag is the first character that is not plain.
      return i + static_cast<size_t>(__builtin_ctzll(bad) >> 3);
#else
      break;
#endif
    }
  }
  const bool* is_plain = attr ? plain_in_attribute.is : plain_in_text.is;
  for (; i < size && is_plain[p[i]]; ++i) out[i] = static_cast<char>(p[i]);
  return i;
}

char* put_literal(char* out, const char* s, size_t n) {
  memcpy(out, s, n);
  return out + n;
}

// "&#n;"
char* put_reference(char* out, unsigned int cp) {
  *out++ = '&';
  *out++ = '#';
  out = write_int(out, static_cast<int>(cp));
  *out++ = ';';
  return out;
}

char* put_character(char* out, unsigned int cp, bool attr) {
  switch (cp) {
    case '&': return put_literal(out, "&amp;", 5);
    case '<': return put_literal(out, "&lt;", 4);
    case '>': return put_literal(out, "&gt;", 4);
    case '"':
      if (attr) return put_literal(out, "&quot;", 6);
      *out++ = '"';
      return out;
    case '\t':
    case '\n':
      if (attr) return put_reference(out, cp);
      *out++ = static_cast<char>(cp);
      return out;
    case '\r': return put_reference(out, cp);
    default: break;
  }
  if (cp < 0x20 || cp == 0xFFFE || cp == 0xFFFF)
    *out++ = '?';
  else if (cp <= 0xFF)
    *out++ = static_cast<char>(cp);
  else
    out = put_reference(out, cp);
  return out;
}

// Runs of plain characters are found first and copied in one piece. No character
// grows beyond six bytes: "&quot;" from one byte, "&#1114111;" from four.
template <bool attr>
char* escape(char* out, std::string_view value) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(value.data());
  const size_t size = value.size();
  size_t i = 0;
  for (;;) {
    const size_t run = copy_plain_run<attr>(out, p + i, size - i);
    out += run;
    i += run;
    if (i == size) return out;
    unsigned int cp = p[i];
    size_t n = 1;
    if (cp >= 0x80) {
      n = utf8_sequence(p + i, size - i, &cp);
      if (n == 0) {
        cp = p[i];  // not UTF-8: the byte is its ISO-8859-1 character
        n = 1;
      }
    }
    out = put_character(out, cp, attr);
    i += n;
  }
}

template <bool attr>
void append_value(std::string& out, std::string_view value) {
  if (value.size() <= 256) {
    char buf[6 * 256];
    out.append(buf, static_cast<size_t>(escape<attr>(buf, value) - buf));
    return;
  }
  const size_t old = out.size();
  out.resize(old + escaped_room(value.size()));
  char* const end = escape<attr>(&out[old], value);
  out.resize(static_cast<size_t>(end - &out[0]));
}

}  // namespace

void append_text(std::string& out, std::string_view value) { append_value<false>(out, value); }

void append_attribute(std::string& out, std::string_view value) {
  append_value<true>(out, value);
}

std::string attribute(std::string_view value) {
  std::string out;
  append_value<true>(out, value);
  return out;
}

char* escape_text(char* out, std::string_view value) { return escape<false>(out, value); }

int format_float(char* buf, float v) {
  // to_chars with a format and a precision writes what printf does with them.
  const double d = static_cast<double>(v);
  char* end = std::to_chars(buf, buf + 63, d, std::chars_format::fixed, 6).ptr;  // "%f"
  *end = '\0';
  if (std::isnan(v) || strtof(buf, nullptr) == v) return static_cast<int>(end - buf);
  // The fewest significant digits that give the float back ("%.6g".."%.9g"); nine always do.
  for (int digits = 6; digits <= 9; ++digits) {
    end = std::to_chars(buf, buf + 63, d, std::chars_format::general, digits).ptr;
    *end = '\0';
    if (strtof(buf, nullptr) == v) break;
  }
  return static_cast<int>(end - buf);
}

char* write_int(char* out, int v) {
  unsigned int u = static_cast<unsigned int>(v);
  if (v < 0) {
    *out++ = '-';
    u = 0u - u;
  }
  if (u < 10) {
    *out = static_cast<char>('0' + u);
    return out + 1;
  }
  size_t n = 2;
  for (unsigned int t = u / 100; t != 0; t /= 10) ++n;
  char* p = out + n;
  do {
    *--p = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  return out + n;
}

void append_int(std::string& out, int v) {
  char num[16];
  out.append(num, static_cast<size_t>(write_int(num, v) - num));
}

// ---- name_set ------------------------------------------------------------------------

name_set::name_set(size_t n) {
  size_t size = 64;
  while (size < 2 * n) size *= 2;
  slots_.assign(size, slot{0, nullptr});
  mask_ = size - 1;
}

uint64_t name_set::key(const char* name, size_t len) {
  return (xrq5_keyed_hash(name, len) & ~uint64_t{0xFFFF}) | (len & 0xFFFF);
}

bool name_set::insert(uint64_t key, const char* name) {
  if (2 * (used_ + 1) > slots_.size()) grow();
  const size_t len = static_cast<size_t>(key & 0xFFFF);
  for (size_t i = key_slot(key);; i = (i + 1) & mask_) {
    slot& s = slots_[i];
    if (s.name == nullptr) {
      s = slot{key, name};
      ++used_;
      return true;
    }
    if (s.key == key && memcmp(s.name, name, len) == 0) return false;
  }
}

void name_set::grow() {
  std::vector<slot> old(2 * slots_.size(), slot{0, nullptr});
  old.swap(slots_);
  mask_ = slots_.size() - 1;
  for (const slot& s : old) {
    if (s.name == nullptr) continue;
    size_t i = key_slot(s.key);
    while (slots_[i].name != nullptr) i = (i + 1) & mask_;
    slots_[i] = s;
  }
}

// ---- sink ----------------------------------------------------------------------------

namespace {
constexpr size_t sink_step = 65536;
}

sink::sink(std::string& s, block_target target, void* context)
    : s_(s), target_(target), context_(context) {
  p_ = &s_[0] + s_.size();
  end_ = p_;
}

void sink::reserve(size_t n) {
  const size_t used = static_cast<size_t>(p_ - &s_[0]);
  const size_t size = s_.size();
  s_.reserve(used + n);
  p_ = &s_[0] + used;
  end_ = &s_[0] + size;
}

void sink::grow(size_t n) {
  size_t used = static_cast<size_t>(p_ - &s_[0]);
  if (target_ != nullptr && used > 0) {
    target_(context_, s_.data(), used);
    used = 0;
  }
  const size_t want = used + (n > sink_step ? n : sink_step);
  if (want > s_.size()) s_.resize(want);
  p_ = &s_[0] + used;
  end_ = &s_[0] + s_.size();
}

void sink::finish() {
  const size_t used = static_cast<size_t>(p_ - &s_[0]);
  if (target_ != nullptr) {
    if (used > 0) target_(context_, s_.data(), used);
    s_.clear();
  } else {
    s_.resize(used);
  }
  p_ = &s_[0] + s_.size();
  end_ = p_;
}

char* sink::field_text(char* out, const char* f, size_t cap) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(f);
  const size_t run = copy_plain_run<false>(out, p, cap);
  if (run == cap || f[run] == '\0') return out + run;
  const size_t len = run + strnlen(f + run, cap - run);
  return escape<false>(out + run, std::string_view(f + run, len - run));
}

bool write_all(int fd, const char* p, size_t left) {
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

namespace {

// "<text><name>'" on standard output, then the system error of the failed call.
void report_failure(const char* text, const char* name, const char* call) {
  const int e = errno;
  const std::string message = std::string(text) + name + "': " + strerror(e);
  if (xrq5_sax::deliver(XRQ5_SEVERITY_ERROR, name, 0, 0, message.c_str())) {
    errno = e;
    return;
  }
  printf("%s%s'\n", text, name);
  fflush(stdout);
  errno = e;
  perror(call);
}

}  // namespace

// A writer's progress line: on standard output, or to the thread's problem handler.
static void announce(const char* head, const char* name, const char* what) {
  const std::string line = std::string(head) + name + "' has been " + what;
  if (!xrq5_sax::deliver(XRQ5_SEVERITY_NOTE, name, 0, 0, line.c_str()))
    printf("%s\n", line.c_str());
}

bool output::open(const char* file_name) {
  if (file_name == nullptr || file_name[0] == '\0') return true;
  name_ = file_name;
  if (!file_.open(file_name, "w")) {
    report_failure(m_.open_failed, file_name, "fopen");
    return false;
  }
  if (m_.announce) announce(m_.announce, file_name, "created");
  return true;
}

bool output::put(const std::string& doc, int fd) {
  if (file() != nullptr) fwrite(doc.data(), 1, doc.size(), file());
  if (fd != -1 && !write_all(fd, doc)) {
    printf("%s\n", m_.write_failed);
    return false;
  }
  return true;
}

void output::put_block(void* self, const char* data, size_t size) {
  output& o = *static_cast<output*>(self);
  if (o.file() != nullptr) fwrite(data, 1, size, o.file());
  if (o.fd_ != -1 && !o.fd_failed_ && !write_all(o.fd_, data, size)) o.fd_failed_ = true;
}

bool output::blocks_done() {
  if (!fd_failed_) return true;
  printf("%s\n", m_.write_failed);
  return false;
}

bool output::close(bool announce_close) {
  if (file() == nullptr) return true;
  if (!file_.commit()) {
    report_failure(m_.file_failed, name_, "fwrite");
    return false;
  }
  if (announce_close && m_.announce) announce(m_.announce, name_, "closed");
  return true;
}

}  // namespace xrq5_output
