#include "xrq5_output.h"

#include <unistd.h>

#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

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

// plain() by table, one per kind of value: the scan of a run costs a load a byte.
struct plain_table {
  explicit plain_table(bool attr) {
    for (int c = 0; c < 256; ++c) is[c] = plain(static_cast<unsigned char>(c), attr);
  }
  bool is[256];
};
const plain_table plain_in_text(false), plain_in_attribute(true);

void append_reference(std::string& out, unsigned int cp) {
  char ref[16];
  const int n = snprintf(ref, sizeof ref, "&#%u;", cp);
  out.append(ref, static_cast<size_t>(n));
}

void append_character(std::string& out, unsigned int cp, bool attr) {
  switch (cp) {
    case '&': out += "&amp;"; return;
    case '<': out += "&lt;"; return;
    case '>': out += "&gt;"; return;
    case '"':
      out += attr ? "&quot;" : "\"";
      return;
    case '\t':
    case '\n':
      if (attr)
        append_reference(out, cp);
      else
        out += static_cast<char>(cp);
      return;
    case '\r': append_reference(out, cp); return;
    default: break;
  }
  if (cp < 0x20 || cp == 0xFFFE || cp == 0xFFFF)
    out += '?';
  else if (cp <= 0xFF)
    out += static_cast<char>(cp);
  else
    append_reference(out, cp);
}

void append_value(std::string& out, std::string_view value, bool attr) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(value.data());
  const size_t size = value.size();
  const bool* is_plain = attr ? plain_in_attribute.is : plain_in_text.is;
  size_t i = 0;
  while (i < size) {
    // Runs of plain characters go in one piece.
    size_t run = i;
    while (run < size && is_plain[p[run]]) ++run;
    if (run > i) out.append(value.data() + i, run - i);
    i = run;
    if (i == size) break;
    unsigned int cp = p[i];
    size_t n = 1;
    if (cp >= 0x80) {
      n = utf8_sequence(p + i, size - i, &cp);
      if (n == 0) {
        cp = p[i];  // not UTF-8: the byte is its ISO-8859-1 character
        n = 1;
      }
    }
    append_character(out, cp, attr);
    i += n;
  }
}

}  // namespace

void append_text(std::string& out, std::string_view value) { append_value(out, value, false); }

void append_attribute(std::string& out, std::string_view value) { append_value(out, value, true); }

std::string attribute(std::string_view value) {
  std::string out;
  append_value(out, value, true);
  return out;
}

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

void append_int(std::string& out, int v) {
  char num[16];
  char* p = num + sizeof num;
  unsigned int u = v < 0 ? 0u - static_cast<unsigned int>(v) : static_cast<unsigned int>(v);
  do {
    *--p = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (v < 0) *--p = '-';
  out.append(p, static_cast<size_t>(num + sizeof num - p));
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
  printf("%s%s'\n", text, name);
  fflush(stdout);
  errno = e;
  perror(call);
}

}  // namespace

bool output::open(const char* file_name) {
  if (file_name == nullptr || file_name[0] == '\0') return true;
  name_ = file_name;
  if (!file_.open(file_name, "w")) {
    report_failure(m_.open_failed, file_name, "fopen");
    return false;
  }
  if (m_.announce) printf("%s%s' has been created\n", m_.announce, file_name);
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

bool output::close(bool announce_close) {
  if (file() == nullptr) return true;
  if (!file_.commit()) {
    report_failure(m_.file_failed, name_, "fwrite");
    return false;
  }
  if (announce_close && m_.announce) printf("%s%s' has been closed\n", m_.announce, name_);
  return true;
}

}  // namespace xrq5_output
