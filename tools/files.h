// Files named on the command line: what the tool checks before a reader sees them.
#ifndef XRQ5_TOOL_FILES_H
#define XRQ5_TOOL_FILES_H

// EXIT_CLEAN when `file` is a regular file that can be opened for reading; otherwise
// prints why ("xrq5xml COMMAND: ...") and gives EXIT_UNREADABLE. A FIFO, device or
// folder is refused without being opened, so nothing blocks on it.
int open_check(const char* command, const char* file);

#include <string>

// Why `file` cannot be read as a document (its system error, "it is a folder", "not a
// regular file"), or empty when it can; never blocks.
std::string why_unreadable(const char* file);


#include <string>

#include <cstddef>

// The most of standard input that the tool holds as a document.
constexpr size_t stdin_bound = size_t(256) << 20;

// A document named "-" is standard input: read once, on first use, into memory (at
// most stdin_bound bytes; the read ends as soon as the first bytes cannot begin an
// XML document or a recorded-event file), where the readers open it like a file. Nothing is written to any
// folder. Gives the path to hand to the readers: `arg` itself unless it is "-"; empty,
// with a message, when standard input cannot be read or is refused.
std::string document_path(const char* command, const std::string& arg);

// The name to show in messages for a path from document_path: "-" for standard input.
std::string shown_name(const std::string& path);

#endif  // XRQ5_TOOL_FILES_H
