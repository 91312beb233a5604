#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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
