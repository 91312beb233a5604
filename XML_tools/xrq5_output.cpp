#include "xrq5_output.h"

#include <unistd.h>

#include <cerrno>

namespace xrq5_output {

bool write_all(int fd, const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

bool close_file(FILE* f, const char* failed_text, const char* file_name) {
  const bool write_error = ferror(f) != 0;
  const bool close_error = fclose(f) != 0;
  if (!write_error && !close_error) return true;
  printf("%s%s'\n", failed_text, file_name);
  fflush(stdout);
  perror(close_error ? "fclose" : "fwrite");
  return false;
}

}  // namespace xrq5_output
