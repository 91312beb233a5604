// Where the libraries' own lines on standard output go while the tool writes its output.
#ifndef XRQ5_TOOL_STDOUT_GUARD_H
#define XRQ5_TOOL_STDOUT_GUARD_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

// Standard output of the library goes elsewhere meanwhile: to standard error while a
// file named by -o is written (its progress and failure lines are not the output of
// the command), to /dev/null while a listing for standard output is prepared in a
// temporary file (lines about that file mean nothing to the reader).
struct library_stdout {
  explicit library_stdout(bool to_null) {
    fflush(stdout);
    saved = dup(STDOUT_FILENO);
    const int to = to_null ? open("/dev/null", O_WRONLY) : dup(STDERR_FILENO);
    if (to >= 0) {
      dup2(to, STDOUT_FILENO);
      close(to);
    }
  }
  ~library_stdout() {
    fflush(stdout);
    if (saved >= 0) {
      dup2(saved, STDOUT_FILENO);
      close(saved);
    }
  }
  library_stdout(const library_stdout&) = delete;
  library_stdout& operator=(const library_stdout&) = delete;
  int saved;
};

#endif  // XRQ5_TOOL_STDOUT_GUARD_H
