// Files named on the command line: what the tool checks before a reader sees them.
#ifndef XRQ5_TOOL_FILES_H
#define XRQ5_TOOL_FILES_H

// EXIT_CLEAN when `file` is a regular file that can be opened for reading; otherwise
// prints why ("xrq5xml COMMAND: ...") and gives EXIT_UNREADABLE. A FIFO, device or
// folder is refused without being opened, so nothing blocks on it.
int open_check(const char* command, const char* file);


#include <string>

// A document named "-" is standard input: read once, on first use, into a temporary
// file that the readers open like any other (removed when the tool exits). Gives the
// path to hand to the readers: `arg` itself unless it is "-"; empty, with a message,
// when standard input cannot be read.
std::string document_path(const char* command, const std::string& arg);

// The name to show in messages for a path from document_path: "-" for standard input.
std::string shown_name(const std::string& path);

#endif  // XRQ5_TOOL_FILES_H
