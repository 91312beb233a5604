// Internal: a file written by name that replaces the old one only when it is complete.
// Not installed. Header-only, so that the recorded-event file writer (a static library
// of its own) shares it with the XML writers.
//
// The text goes to a temporary file in the folder of the target; commit() flushes and
// closes it and renames it over the target. Until then, and whenever anything fails
// (a full disk, a file-size limit), the old file stays byte for byte and the
// temporary file is removed. A target that exists and is not a regular file (a
// device, a pipe) is written in place, as is an existing target in a folder where no
// file can be created. A symbolic link keeps pointing where it did: the file it
// points to is replaced. The replaced file keeps its permission bits; a new one gets
// the usual 0666 less the umask.
//
// Descriptors 0 to 2 are never taken: with standard output closed, a file opened the
// plain way would become descriptor 1, and whatever the process prints would land in
// it.
#ifndef XRQ5_REPLACE_FILE_H
#define XRQ5_REPLACE_FILE_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace xrq5_internal {

// `fd` moved above the standard descriptors (closed and replaced when it was one of
// them); -1 stays -1, and -1 with errno set when no other descriptor is free.
inline int above_standard_descriptors(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  const int e = errno;
  close(fd);
  errno = e;
  return moved;
}

class replace_file {
 public:
  replace_file() = default;
  ~replace_file() { discard(); }
  replace_file(const replace_file&) = delete;
  replace_file& operator=(const replace_file&) = delete;

  // Opens the output for `name` with the stdio `mode` ("w" or "wb"). False, with
  // errno set and nothing created, when it cannot be opened.
  bool open(const char* name, const char* mode) {
    discard();
    target_ = name;
    struct stat st;
    const bool exists = stat(name, &st) == 0;
    int fd = -1;
    if (exists && !S_ISREG(st.st_mode)) {
      fd = ::open(name, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
    } else {
      std::string path = target_;
      struct stat link;
      if (exists && lstat(name, &link) == 0 && S_ISLNK(link.st_mode)) {
        char* real = realpath(name, nullptr);
        if (real != nullptr) {
          path = real;
          free(real);
        }
      }
      fd = open_temporary(path);
      if (fd >= 0) {
        final_ = path;
        if (exists) {
          // Best effort: the owner can only be kept by a privileged process.
          if (fchmod(fd, st.st_mode & 07777) != 0 || fchown(fd, st.st_uid, st.st_gid) != 0)
            errno = 0;
        }
      } else if (exists && (errno == EACCES || errno == EPERM)) {
        fd = ::open(name, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
      }
    }
    fd = above_standard_descriptors(fd);
    if (fd < 0) {
      forget_temporary();
      return false;
    }
    f_ = fdopen(fd, mode);
    if (f_ == nullptr) {
      const int e = errno;
      close(fd);
      forget_temporary();
      errno = e;
      return false;
    }
    return true;
  }

  FILE* stream() const { return f_; }

  // Flushes and closes the output and puts it in place of the target. False, with
  // errno set, when writing, closing or renaming failed; the target is then as it was.
  bool commit() {
    if (f_ == nullptr) return false;
    FILE* f = f_;
    f_ = nullptr;
    bool ok = fflush(f) == 0 && ferror(f) == 0;
    int e = errno;
    if (fclose(f) != 0 && ok) {
      ok = false;
      e = errno;
    }
    if (ok && !temp_.empty() && rename(temp_.c_str(), final_.c_str()) != 0) {
      ok = false;
      e = errno;
    }
    if (ok) {
      temp_.clear();
      return true;
    }
    forget_temporary();
    errno = e;
    return false;
  }

  // Drops an uncommitted output: the temporary file goes, the target stays.
  void discard() {
    if (f_ != nullptr) {
      fclose(f_);
      f_ = nullptr;
    }
    forget_temporary();
  }

 private:
  // A new file beside `path`, created with O_EXCL under a name of our own.
  int open_temporary(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    static unsigned long counter = 0;
    const unsigned long seed = static_cast<unsigned long>(getpid()) * 2654435761ul ^
                               static_cast<unsigned long>(time(nullptr));
    for (int attempt = 0; attempt < 100; ++attempt) {
      unsigned long x = seed + 7919ul * ++counter;
      char suffix[8];
      for (int i = 0; i < 6; ++i, x /= 36) suffix[i] = "0123456789abcdefghijklmnopqrstuvwxyz"[x % 36];
      suffix[6] = '\0';
      std::string temp = dir + "." + base + "." + suffix;
      const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
      if (fd >= 0) {
        temp_ = temp;
        return fd;
      }
      if (errno != EEXIST) return -1;
    }
    return -1;
  }

  void forget_temporary() {
    if (temp_.empty()) return;
    const int e = errno;
    unlink(temp_.c_str());
    errno = e;
    temp_.clear();
  }

  FILE* f_ = nullptr;
  std::string target_;  // as given
  std::string final_;   // what the temporary file is renamed to
  std::string temp_;    // the temporary file while it exists
};

}  // namespace xrq5_internal

#endif  // XRQ5_REPLACE_FILE_H
