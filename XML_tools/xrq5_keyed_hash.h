// Internal: the hash of every index keyed by names that come from outside (channel
// names, trigger names, the names a writer has written). Not installed.
//
// The names of a document are the author's choice, so a hash that anyone can compute
// lets a document pick names that all land in one bucket and turn every look-up into
// a scan of the others: a reader of n such names then works n^2. This hash is keyed:
// XXH3 over a secret of random bytes drawn once per process (getrandom), so which
// names collide differs from run to run and cannot be worked out from the document's
// side. The whole secret is random, not a seed spread over a fixed secret, so every
// length of name is keyed the same way.
//
// Values differ between processes (and between the libraries of one process): never
// store them or hand them to another process.
#ifndef XRQ5_KEYED_HASH_H
#define XRQ5_KEYED_HASH_H

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string_view>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace xrq5_keyed {

constexpr size_t secret_size = XXH3_SECRET_DEFAULT_SIZE;

struct secret {
  alignas(64) unsigned char bytes[secret_size];

  secret() {
    if (fill_random()) return;
    // No kernel randomness at all (a seccomp filter, no /dev): the clock, the process
    // and the place of this object stirred into a secret. Weaker, but still not
    // known to a document written in advance.
    struct {
      timespec real, mono;
      pid_t pid;
      const void* where;
    } seed{};
    clock_gettime(CLOCK_REALTIME, &seed.real);
    clock_gettime(CLOCK_MONOTONIC, &seed.mono);
    seed.pid = getpid();
    seed.where = this;
    XXH3_generateSecret(bytes, sizeof bytes, &seed, sizeof seed);
  }

 private:
  bool fill_random() {
    size_t got = 0;
    while (got < sizeof bytes) {
      const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
      if (n > 0) {
        got += static_cast<size_t>(n);
      } else if (n < 0 && errno != EINTR) {
        break;
      }
    }
    if (got == sizeof bytes) return true;
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    got = 0;
    while (got < sizeof bytes) {
      const ssize_t n = read(fd, bytes + got, sizeof bytes - got);
      if (n > 0) {
        got += static_cast<size_t>(n);
      } else if (n == 0 || errno != EINTR) {
        break;
      }
    }
    close(fd);
    return got == sizeof bytes;
  }
};

// The process's secret, drawn on first use.
inline const unsigned char* process_secret() {
  static const secret s;
  return s.bytes;
}

}  // namespace xrq5_keyed

// The keyed hash of `len` bytes at `p`.
inline uint64_t xrq5_keyed_hash(const void* p, size_t len) {
  return XXH3_64bits_withSecret(p, len, xrq5_keyed::process_secret(), xrq5_keyed::secret_size);
}

// The hasher of a std::unordered_map or unordered_set keyed by outside names.
struct xrq5_keyed_hasher {
  size_t operator()(std::string_view s) const noexcept {
    return static_cast<size_t>(xrq5_keyed_hash(s.data(), s.size()));
  }
};

#endif  // XRQ5_KEYED_HASH_H
