#include "cleanup.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "xrq5_replace_file.h"

namespace {

constexpr int slots = 16;

// A slot is filled before it is marked used and marked free before it is reused, so
// the handler sees only whole names. The tool is single-threaded where it makes them.
char names[slots][PATH_MAX];
volatile sig_atomic_t used[slots];

void on_signal(int sig) {
  for (int i = 0; i < slots; ++i)
    if (used[i]) unlink(names[i]);
  _exit(signal_status(sig));
}

}  // namespace

void install_cleanup_handlers() {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_signal;
  sigfillset(&sa.sa_mask);  // one handler at a time
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    // A signal ignored by whoever started the tool (nohup, a shell's background job)
    // stays ignored.
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(sig, &sa, nullptr);
  }
}

std::string make_temporary() {
  const char* env = getenv("TMPDIR");
  std::string dir = env != nullptr && env[0] == '/' ? env : "/tmp";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  int slot = -1;
  for (int i = 0; i < slots && slot < 0; ++i)
    if (!used[i]) slot = i;
  if (slot < 0) {
    errno = EMFILE;
    return std::string();
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[12];
    xrq5_internal::random_name_part(suffix, sizeof suffix);
    const std::string path = dir + "/xrq5xml-" + std::string(suffix, sizeof suffix);
    if (path.size() >= PATH_MAX) {
      errno = ENAMETOOLONG;
      return std::string();
    }
    // The signals wait while the file is made and entered: it is never there without
    // being in the table, and nothing of another's is ever in it.
    sigset_t hold, saved;
    sigemptyset(&hold);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&hold, sig);
    sigprocmask(SIG_BLOCK, &hold, &saved);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const int e = errno;
    if (fd >= 0) {
      memcpy(names[slot], path.c_str(), path.size() + 1);
      used[slot] = 1;
      close(fd);
    }
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    if (fd >= 0) return path;
    errno = e;
    if (errno != EEXIST) break;
  }
  return std::string();
}

void forget_temporary(const std::string& path) {
  for (int i = 0; i < slots; ++i)
    if (used[i] && path == names[i]) {
      unlink(names[i]);
      used[i] = 0;
    }
}
