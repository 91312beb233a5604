// xrq5xml check --strict: each document against the schema of its kind, then what the
// readers would make of it that its writer likely did not mean, with line and column
// (the libraries' check, xrq5_check.h).
#ifndef XRQ5_TOOL_STRICT_H
#define XRQ5_TOOL_STRICT_H

#include <string>
#include <vector>

struct strict_options {
  bool werror = false;  // warnings fail too
  bool json = false;    // findings as one array on standard output
  bool quiet = false;   // no summary line for a clean document
  std::vector<std::string> xcd;    // channel descriptions that trigger channels must be in
  std::vector<std::string> files;  // paths to read (standard input already copied)
};

// `check --strict`; an exit status of kinds.h.
int strict_check_command(const strict_options& opt);

#endif  // XRQ5_TOOL_STRICT_H
