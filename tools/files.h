// Files named on the command line: what the tool checks before a reader sees them.
#ifndef XRQ5_TOOL_FILES_H
#define XRQ5_TOOL_FILES_H

// EXIT_CLEAN when `file` is a regular file that can be opened for reading; otherwise
// prints why ("xrq5xml COMMAND: ...") and gives EXIT_UNREADABLE. A FIFO, device or
// folder is refused without being opened, so nothing blocks on it.
int open_check(const char* command, const char* file);

#endif  // XRQ5_TOOL_FILES_H
