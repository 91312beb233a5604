#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kinds.h"

int open_check(const char* command, const char* file) {
  struct stat st;
  if (stat(file, &st) != 0) {
    fprintf(stderr, "xrq5xml %s: cannot open '%s': %s\n", command, file, strerror(errno));
    return EXIT_UNREADABLE;
  }
  if (!S_ISREG(st.st_mode)) {
    fprintf(stderr, "xrq5xml %s: cannot open '%s': %s\n", command, file,
            S_ISDIR(st.st_mode) ? "it is a folder" : "not a regular file");
    return EXIT_UNREADABLE;
  }
  // Non-blocking, should the name have been replaced by a FIFO since the stat.
  const int fd = open(file, O_RDONLY | O_NONBLOCK);
  if (fd < 0) {
    fprintf(stderr, "xrq5xml %s: cannot open '%s': %s\n", command, file, strerror(errno));
    return EXIT_UNREADABLE;
  }
  close(fd);
  return EXIT_CLEAN;
}

namespace {

std::string stdin_dir;
std::string stdin_copy;

void remove_stdin_copy() {
  if (!stdin_copy.empty()) unlink(stdin_copy.c_str());
  if (!stdin_dir.empty()) rmdir(stdin_dir.c_str());
}

}  // namespace

// The copy sits in a folder of its own under a plain name, so that what the parsers say
// about it names "standard-input".
std::string document_path(const char* command, const std::string& arg) {
  if (arg != "-") return arg;
  if (!stdin_copy.empty()) return stdin_copy;
  char dir[] = "/tmp/xrq5xml-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    fprintf(stderr, "xrq5xml %s: cannot make a temporary folder for standard input: %s\n",
            command, strerror(errno));
    return std::string();
  }
  stdin_dir = dir;
  const std::string path = stdin_dir + "/standard-input";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    fprintf(stderr, "xrq5xml %s: cannot copy standard input: %s\n", command, strerror(errno));
    rmdir(stdin_dir.c_str());
    stdin_dir.clear();
    return std::string();
  }
  stdin_copy = path;
  atexit(remove_stdin_copy);
  char buf[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      fprintf(stderr, "xrq5xml %s: cannot read standard input: %s\n", command, strerror(errno));
      ok = false;
    }
    if (n <= 0) break;
    for (ssize_t done = 0; ok && done < n;) {
      const ssize_t w = write(fd, buf + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        fprintf(stderr, "xrq5xml %s: cannot copy standard input: %s\n", command,
                strerror(w < 0 ? errno : EIO));
        ok = false;
      }
      done += w > 0 ? w : 0;
    }
    if (!ok) break;
  }
  if (close(fd) != 0) ok = false;
  if (!ok) return std::string();
  return stdin_copy;
}

std::string shown_name(const std::string& path) {
  return !stdin_copy.empty() && path == stdin_copy ? "-" : path;
}
