// Internal: a file written by name that replaces the old one only when it is complete.
// Not installed. Header-only, so that the recorded-event file writer (a static library
// of its own) shares it with the XML writers.
//
// The text goes to a temporary file in the folder of the target; commit() flushes it,
// gives it its final mode (and, where the process may, the old file's owner and group)
// and renames it over the target. Until then, and whenever anything fails (a full
// disk, a file-size limit), the old file stays byte for byte and the temporary file
// is gone.
//
// The temporary file is private from its first byte: it is made without a name
// (O_TMPFILE) and linked under a random name only for the rename, with the usual
// termination signals held back for those two calls, so that nothing is left behind
// when the process is killed. Where the file system cannot make unnamed files, it is
// created exclusively (O_EXCL, no link followed) with mode 0600 under a name drawn
// from the kernel's random source (a collision draws again), and SIGINT, SIGTERM,
// SIGHUP and SIGPIPE are held back in the writing thread while that name exists; a
// signal that came meanwhile takes effect once the file is in place or removed.
// Names planted by others therefore neither block a write nor redirect it.
//
// Other targets:
// - A target that exists and is not a regular file (a device, a pipe), or a name for
//   one of the process's own descriptors (/dev/stdout, /dev/fd/N, /proc/...), is
//   opened and written as it is.
// - A symbolic link keeps pointing where it did: the file it points to is replaced,
//   or created when the link dangles (as a shell's `>` would).
// - An existing file in a folder where no file can be created is written in place,
//   but only once the whole text is known, its size is within the file-size limit
//   and the room for it has been reserved (posix_fallocate, which never cuts): a
//   failure before then leaves the old file as it was; after that only an I/O error
//   of the device could.
// The replaced file keeps its permission bits; a new one gets 0666 less the umask.
//
// Descriptors 0 to 2 are never taken: with standard output closed, a file opened the
// plain way would become descriptor 1, and whatever the process prints would land in
// it. Nothing here is shared between objects: any number of threads may each write
// their own file at once.
#ifndef XRQ5_REPLACE_FILE_H
#define XRQ5_REPLACE_FILE_H

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// `n` random letters and digits from the kernel's random source.
inline void random_name_part(char* out, size_t n) {
  static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  unsigned char raw[32];
  if (n > sizeof raw) n = sizeof raw;
  size_t got = 0;
  while (got < n) {
    const ssize_t r = getrandom(raw + got, n - got, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  if (got < n) {
    // No random source (a very old kernel): a clock and an address still differ.
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    unsigned long long x = static_cast<unsigned long long>(ts.tv_nsec) ^
                           (static_cast<unsigned long long>(ts.tv_sec) << 30) ^
                           reinterpret_cast<unsigned long long>(&ts) ^
                           (static_cast<unsigned long long>(getpid()) << 40);
    for (size_t i = got; i < n; ++i, x = x * 6364136223846793005ull + 1442695040888963407ull)
      raw[i] = static_cast<unsigned char>(x >> 56);
  }
  for (size_t i = 0; i < n; ++i) out[i] = digits[raw[i] % 62];
}

// The process's umask, read without changing it (umask() would, for every thread).
inline mode_t current_umask() {
  FILE* f = fopen("/proc/self/status", "re");
  mode_t mask = 022;
  if (f == nullptr) return mask;
  char line[256];
  while (fgets(line, sizeof line, f) != nullptr) {
    if (strncmp(line, "Umask:", 6) == 0) {
      mask = static_cast<mode_t>(strtoul(line + 6, nullptr, 8) & 0777);
      break;
    }
  }
  fclose(f);
  return mask;
}

class replace_file {
 public:
  replace_file() = default;
  // unnamed false: always the named temporary file, as where the file system has no
  // unnamed ones (for tests of that way).
  explicit replace_file(bool unnamed) : unnamed_allowed_(unnamed) {}
  ~replace_file() { discard(); }
  replace_file(const replace_file&) = delete;
  replace_file& operator=(const replace_file&) = delete;

  // Opens the output for `name` with the stdio `mode` ("w" or "wb"). False, with
  // errno set and nothing created, when it cannot be opened.
  bool open(const char* name, const char* mode) {
    discard();
    struct stat st;
    const bool exists = stat(name, &st) == 0;
    if ((exists && !S_ISREG(st.st_mode)) || names_own_descriptor(name))
      return adopt(::open(name, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY), mode, direct);
    std::string path;
    if (!resolve(name, &path)) return false;
    const size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    if (slash == 0) dir = "/";
    base_ = slash == std::string::npos ? path : path.substr(slash + 1);
    dir_ = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir_ < 0) return fail(errno);
    dir_ = above_standard_descriptors(dir_);
    if (dir_ < 0) return fail(errno);
    struct stat old;
    exists_ = fstatat(dir_, base_.c_str(), &old, 0) == 0 && S_ISREG(old.st_mode);
    if (exists_) {
      mode_ = old.st_mode & 07777;
      uid_ = old.st_uid;
      gid_ = old.st_gid;
    } else {
      mode_ = 0666 & ~current_umask();
    }
    int fd = unnamed_allowed_ ? openat(dir_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC | O_NOCTTY, 0600) : -1;
    if (fd >= 0 && access("/proc/self/fd", X_OK) == 0) return adopt(fd, mode, unnamed);
    if (fd >= 0) close(fd);
    fd = open_named();
    if (fd >= 0) return adopt(fd, mode, named);
    const int e = errno;
    if (exists_ && (e == EACCES || e == EPERM)) return open_in_place(mode);
    return fail(e);
  }

  FILE* stream() const { return f_; }

  // Flushes and closes the output and puts it in place of the target. False, with
  // errno set, when writing, closing or renaming failed; the target is then as it was.
  bool commit() {
    if (f_ == nullptr) return false;
    bool ok = fflush(f_) == 0 && ferror(f_) == 0;
    int e = errno;
    if (ok && kind_ == in_place) {
      fclose(f_);
      f_ = nullptr;
      ok = write_in_place(&e);
    } else if (ok && kind_ != direct) {
      ok = put_in_place(fileno(f_), &e);
    }
    if (f_ != nullptr) {
      if (fclose(f_) != 0 && ok) {
        ok = false;
        e = errno;
      }
      f_ = nullptr;
    }
    if (ok) temp_.clear();  // renamed: the name is the target's now
    discard();
    errno = ok ? 0 : e;
    return ok;
  }

  // Drops an uncommitted output: the temporary file goes, the target stays.
  void discard() {
    const int e = errno;
    if (f_ != nullptr) fclose(f_);
    f_ = nullptr;
    if (!temp_.empty() && dir_ >= 0) unlinkat(dir_, temp_.c_str(), 0);
    temp_.clear();
    if (dir_ >= 0) close(dir_);
    dir_ = -1;
    if (target_ >= 0) close(target_);
    target_ = -1;
    free(memory_);
    memory_ = nullptr;
    memory_size_ = 0;
    release_signals();
    kind_ = none;
    errno = e;
  }

 private:
  enum kind_t { none, direct, unnamed, named, in_place };

  bool fail(int e) {
    discard();
    errno = e;
    return false;
  }

  bool adopt(int fd, const char* mode, kind_t kind) {
    fd = above_standard_descriptors(fd);
    if (fd < 0) return fail(errno);
    f_ = fdopen(fd, mode);
    if (f_ == nullptr) {
      const int e = errno;
      close(fd);
      return fail(e);
    }
    kind_ = kind;
    return true;
  }

  // Names that stand for a descriptor of this process: /dev/stdout, /dev/fd/1,
  // /proc/self/fd/1 and the like. Their links lead to what the descriptor has open,
  // which may not be a file at all (a pipe), so they are opened as they are.
  static bool names_own_descriptor(const char* name) {
    std::string dir = name;
    const size_t slash = dir.rfind('/');
    if (slash == std::string::npos) return false;
    dir.resize(slash == 0 ? 1 : slash);
    char* real = realpath(dir.c_str(), nullptr);
    if (real == nullptr) return false;
    const bool proc = strncmp(real, "/proc/", 6) == 0;
    free(real);
    if (proc) return true;
    struct stat link;
    char target[32];
    if (lstat(name, &link) != 0 || !S_ISLNK(link.st_mode)) return false;
    const ssize_t n = readlink(name, target, sizeof target - 1);
    if (n <= 0) return false;
    target[n] = '\0';
    return strncmp(target, "/proc/", 6) == 0;
  }

  // The file that a write to `name` lands in: `name` with every symbolic link in its
  // last part followed, dangling ones included. False (ELOOP) for a loop.
  static bool resolve(const char* name, std::string* out) {
    std::string path = name;
    for (int depth = 0; depth < 40; ++depth) {
      struct stat st;
      if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        *out = path;
        return true;
      }
      std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
      const ssize_t n = readlink(path.c_str(), &target[0], target.size());
      if (n < 0) return false;
      if (static_cast<size_t>(n) >= target.size()) {
        errno = ENAMETOOLONG;
        return false;
      }
      target.resize(static_cast<size_t>(n));
      if (target.empty()) {
        errno = ENOENT;
        return false;
      }
      if (target[0] != '/') {
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos) target = path.substr(0, slash + 1) + target;
      }
      path = target;
    }
    errno = ELOOP;
    return false;
  }

  // A fresh name in the folder: "." + the target's name + "." + 12 random characters,
  // the target's name shortened so that the whole stays within NAME_MAX.
  std::string fresh_name() const {
    std::string base = base_.substr(0, base_.size() > NAME_MAX - 14 ? NAME_MAX - 14 : base_.size());
    char suffix[12];
    random_name_part(suffix, sizeof suffix);
    return "." + base + "." + std::string(suffix, sizeof suffix);
  }

  static sigset_t termination_signals() {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGINT);
    sigaddset(&s, SIGTERM);
    sigaddset(&s, SIGHUP);
    sigaddset(&s, SIGPIPE);
    sigaddset(&s, SIGQUIT);
    return s;
  }
  void hold_signals() {
    if (held_) return;
    const sigset_t s = termination_signals();
    held_ = pthread_sigmask(SIG_BLOCK, &s, &saved_mask_) == 0;
  }
  void release_signals() {
    if (!held_) return;
    pthread_sigmask(SIG_SETMASK, &saved_mask_, nullptr);
    held_ = false;
  }

  // The exclusive named file (no unnamed files here); its name is in temp_.
  int open_named() {
    hold_signals();
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string temp = fresh_name();
      const int fd = openat(dir_, temp.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
      if (fd >= 0) {
        temp_ = temp;
        return fd;
      }
      if (errno != EEXIST) break;
    }
    const int e = errno;
    release_signals();
    errno = e;
    return -1;
  }

  // Final mode, owner and group on the descriptor, then the name, then the rename.
  bool put_in_place(int fd, int* e) {
    // Best effort: the owner can only be kept by a privileged process. The owner goes
    // first: changing it would clear set-user-ID bits set before.
    if (exists_ && fchown(fd, uid_, gid_) != 0) errno = 0;
    if (fchmod(fd, mode_) != 0) {
      *e = errno;
      return false;
    }
    if (kind_ == unnamed) {
      hold_signals();
      char proc[64];
      snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
      for (int attempt = 0; attempt < 100 && temp_.empty(); ++attempt) {
        const std::string temp = fresh_name();
        if (linkat(AT_FDCWD, proc, dir_, temp.c_str(), AT_SYMLINK_FOLLOW) == 0)
          temp_ = temp;
        else if (errno != EEXIST)
          break;
      }
      if (temp_.empty()) {
        *e = errno;
        return false;
      }
    }
    if (renameat(dir_, temp_.c_str(), dir_, base_.c_str()) != 0) {
      *e = errno;
      return false;
    }
    return true;
  }

  // An existing target in a folder where no file can be made: the text is gathered in
  // memory and written over the old one at the commit.
  bool open_in_place(const char* mode) {
    (void)mode;
    target_ = above_standard_descriptors(
        openat(dir_, base_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW));
    if (target_ < 0) return fail(errno);
    f_ = open_memstream(&memory_, &memory_size_);
    if (f_ == nullptr) return fail(errno);
    kind_ = in_place;
    return true;
  }

  bool write_in_place(int* e) {
    struct rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        memory_size_ > limit.rlim_cur) {
      *e = EFBIG;
      return false;
    }
    if (memory_size_ > 0) {
      const int r = posix_fallocate(target_, 0, static_cast<off_t>(memory_size_));
      if (r != 0) {
        *e = r;
        return false;
      }
    }
    for (size_t done = 0; done < memory_size_;) {
      const ssize_t n = pwrite(target_, memory_ + done, memory_size_ - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        *e = n < 0 ? errno : EIO;
        return false;
      }
      done += static_cast<size_t>(n);
    }
    if (ftruncate(target_, static_cast<off_t>(memory_size_)) != 0 || close(target_) != 0) {
      *e = errno;
      target_ = -1;
      return false;
    }
    target_ = -1;
    return true;
  }

  FILE* f_ = nullptr;
  kind_t kind_ = none;
  int dir_ = -1;          // the target's folder
  std::string base_;      // the target's name in it
  std::string temp_;      // the temporary file's name in it while it has one
  bool exists_ = false;   // the target is there already
  mode_t mode_ = 0;       // what the file gets at the commit
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  int target_ = -1;       // in place: the target
  char* memory_ = nullptr;
  size_t memory_size_ = 0;
  bool held_ = false;
  sigset_t saved_mask_;
  bool unnamed_allowed_ = true;
};

}  // namespace xrq5_internal

#endif  // XRQ5_REPLACE_FILE_H
