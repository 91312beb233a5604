// Where the libraries' own lines on standard output go while the tool writes its output.
#ifndef XRQ5_TOOL_STDOUT_GUARD_H
#define XRQ5_TOOL_STDOUT_GUARD_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <ext/stdio_sync_filebuf.h>
#include <iostream>

// Standard output of the library goes elsewhere meanwhile: to standard error while a
// file named by -o is written (its progress and failure lines are not the output of
// the command), to /dev/null while a listing for standard output is prepared in a
// temporary file (lines about that file mean nothing to the reader).
//
// Only the streams are swapped (C's stdout and C++'s std::cout); descriptor 1 stays
// where the caller pointed it, so that `-o /dev/stdout` still names the caller's
// standard output.
struct library_stdout {
  explicit library_stdout(bool to_null) {
    fflush(stdout);
    std::cout.flush();
    const int to = to_null ? open("/dev/null", O_WRONLY | O_CLOEXEC) : fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    FILE* f = to >= 0 ? fdopen(to, "w") : nullptr;
    if (f == nullptr) {
      if (to >= 0) close(to);
      return;
    }
    if (!to_null) setvbuf(f, nullptr, _IOLBF, 0);
    replacement = f;
    saved = stdout;
    stdout = f;
    buffer = new __gnu_cxx::stdio_sync_filebuf<char>(f);
    saved_buffer = std::cout.rdbuf(buffer);
  }
  ~library_stdout() {
    if (replacement == nullptr) return;
    std::cout.flush();
    std::cout.rdbuf(saved_buffer);
    delete buffer;
    stdout = saved;
    fclose(replacement);
  }
  library_stdout(const library_stdout&) = delete;
  library_stdout& operator=(const library_stdout&) = delete;
  FILE* replacement = nullptr;
  FILE* saved = nullptr;
  __gnu_cxx::stdio_sync_filebuf<char>* buffer = nullptr;
  std::streambuf* saved_buffer = nullptr;
};

#endif  // XRQ5_TOOL_STDOUT_GUARD_H
