// The tool's own temporary files, and what becomes of them when a signal ends it.
#ifndef XRQ5_TOOL_CLEANUP_H
#define XRQ5_TOOL_CLEANUP_H

#include <string>

// Catches SIGINT, SIGTERM, SIGHUP and SIGPIPE: the handler removes every file held in
// the table below (nothing but unlink, from a fixed table: safe in a signal handler)
// and ends the tool with status 128 + the signal. The writers of the libraries leave
// nothing behind on their own (their temporary files have no name until the rename,
// or hold these signals back while they have one).
void install_cleanup_handlers();

// A new empty file, private to the caller (mode 0600, made exclusively under a random
// name) in $TMPDIR or /tmp, entered in the table until forget_temporary(); its path,
// or empty with errno set (also when the table is full).
std::string make_temporary();

// Removes a file made by make_temporary() and takes it out of the table.
void forget_temporary(const std::string& path);

// The exit status of the tool ended by `signal`.
inline int signal_status(int signal) { return 128 + signal; }

#endif  // XRQ5_TOOL_CLEANUP_H
