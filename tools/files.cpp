#include "files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kinds.h"
#include "xrq5_output.h"

std::string why_unreadable(const char* file) {
  struct stat st;
  if (stat(file, &st) != 0) return strerror(errno);
  if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? "it is a folder" : "not a regular file";
  // Non-blocking, should the name have been replaced by a FIFO since the stat.
  const int fd = open(file, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return strerror(errno);
  close(fd);
  return std::string();
}

int open_check(const char* command, const char* file) {
  const std::string why = why_unreadable(file);
  if (why.empty()) return EXIT_CLEAN;
  fprintf(stderr, "xrq5xml %s: cannot open '%s': %s\n", command, file, why.c_str());
  return EXIT_UNREADABLE;
}

namespace {

// Standard input, once read: a file in memory that has taken descriptor 0.
bool stdin_held = false;
const char stdin_path[] = "/dev/stdin";

// What the first bytes say: 1 they can begin an XML document (a byte-order mark, or
// blanks then '<', in UTF-8 or UTF-16/32 without a mark) or a recorded-event file, 0
// they cannot, -1 more bytes are needed to tell.
int could_begin_xml(const unsigned char* p, size_t n) {
  // A recorded-event file (eval and events read those from standard input too).
  static const char event_magic[] = "XRQ5EVTS";
  const size_t m = n < 8 ? n : 8;
  if (m > 0 && memcmp(p, event_magic, m) == 0) return n >= 8 ? 1 : -1;
  size_t i = 0;
  if (n >= 1 && p[0] == 0xEF) {
    if (n < 3) return -1;
    if (p[1] != 0xBB || p[2] != 0xBF) return 0;
    i = 3;
  } else if (n >= 1 && (p[0] == 0xFE || p[0] == 0xFF)) {
    if (n < 2) return -1;
    return (p[0] == 0xFE && p[1] == 0xFF) || (p[0] == 0xFF && p[1] == 0xFE) ? 1 : 0;
  } else if (n >= 1 && p[0] == 0x00) {
    // UTF-16BE "<" or blank, UCS-4 "<" or a mark.
    if (n < 2) return -1;
    if (p[1] == '<' || p[1] == ' ' || p[1] == '\t' || p[1] == '\r' || p[1] == '\n') return 1;
    if (p[1] != 0x00) return 0;
    if (n < 4) return -1;
    return (p[2] == 0x00 && p[3] == '<') || (p[2] == 0xFE && p[3] == 0xFF) ? 1 : 0;
  }
  for (; i < n; ++i) {
    const unsigned char c = p[i];
    if (c == '<') return 1;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    // UTF-16LE or UCS-4LE: the blank or '<' before was the low byte of one.
    return c == 0x00 && i % 2 == 1 ? 1 : 0;
  }
  return -1;
}

}  // namespace

// Read into memory (a file without a name, so nothing is left anywhere on any exit),
// up to stdin_bound bytes; the read ends at the first bytes that cannot begin a
// document. The file then stands in for descriptor 0, so that the readers open it
// as /dev/stdin.
std::string document_path(const char* command, const std::string& arg) {
  if (arg != "-") return arg;
  if (stdin_held) return stdin_path;
  auto refuse = [&](const std::string& why) {
    fprintf(stderr, "xrq5xml %s: %s\n", command, why.c_str());
    return std::string();
  };
  const int fd = memfd_create("standard-input", MFD_CLOEXEC);
  if (fd < 0) return refuse(std::string("cannot hold standard input: ") + strerror(errno));
  static unsigned char buf[65536];
  size_t total = 0;
  int begins = -1;
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      close(fd);
      return refuse(std::string("cannot read standard input: ") + strerror(e));
    }
    if (n == 0) break;
    if (total + static_cast<size_t>(n) > stdin_bound) {
      close(fd);
      return refuse("standard input is longer than " + std::to_string(stdin_bound >> 20) +
                    " MB; name the file instead");
    }
    if (!xrq5_output::write_all(fd, reinterpret_cast<char*>(buf), static_cast<size_t>(n))) {
      const int e = errno;
      close(fd);
      return refuse(std::string("cannot hold standard input: ") + strerror(e));
    }
    total += static_cast<size_t>(n);
    if (begins < 0) {
      // The first bytes are judged as they come (blanks for 4 KB are judged enough).
      unsigned char head[4096];
      const ssize_t h = pread(fd, head, total < sizeof head ? total : sizeof head, 0);
      begins = h > 0 ? could_begin_xml(head, static_cast<size_t>(h)) : -1;
      if (begins < 0 && total >= sizeof head) begins = 0;
      if (begins == 0) {
        close(fd);
        return refuse("standard input does not begin an XML document; read stopped");
      }
    }
  }
  if (dup2(fd, STDIN_FILENO) < 0) {
    const int e = errno;
    close(fd);
    return refuse(std::string("cannot hold standard input: ") + strerror(e));
  }
  close(fd);
  lseek(STDIN_FILENO, 0, SEEK_SET);  // for a reader of descriptor 0 itself
  stdin_held = true;
  return stdin_path;
}

std::string shown_name(const std::string& path) {
  return stdin_held && path == stdin_path ? "-" : path;
}
