// Internal: what the writers share when they put a finished document out. Not
// installed.
#ifndef XRQ5_OUTPUT_H
#define XRQ5_OUTPUT_H

#include <cstdio>
#include <string>

namespace xrq5_output {

// Writes the whole text to fd, going on after short writes; false when write fails.
bool write_all(int fd, const std::string& text);

// Closes a file the writer opened. When writing or closing failed (a full disk often
// shows only when the buffer is flushed at the close) prints "<failed_text><file>'" on
// standard output and the system error text, and returns false.
bool close_file(FILE* f, const char* failed_text, const char* file_name);

}  // namespace xrq5_output

#endif  // XRQ5_OUTPUT_H
