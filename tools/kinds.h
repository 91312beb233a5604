// The kinds of document that xrq5xml knows, by root element, and what it can do with
// each: read (and print), and convert to other forms.
#ifndef XRQ5_TOOL_KINDS_H
#define XRQ5_TOOL_KINDS_H

#include <string>

// Exit status of the tool; the worst of all files wins.
enum {
  EXIT_CLEAN = 0,      // every document read (and written) without a warning or error
  EXIT_PROBLEMS = 1,   // a document drew warnings or errors, or could not be written
  EXIT_USAGE = 2,      // bad command line
  EXIT_UNREADABLE = 3  // a file could not be opened, or its kind is unknown
};

struct doc_kind {
  const char* root;
  const char* name;
  // Reads `file`, printing it with the library's printer when `print`; the reader's
  // own result (0 when clean).
  int (*read)(char* file, bool print);
  // The forms `convert` takes, "a|b|c", or null when the kind has none.
  const char* forms;
  // Rewrites `file` in form `to` into `out` (null: standard output); an exit status.
  int (*convert)(char* file, const std::string& to, const char* out);
};

// Environment index dictionaries are read in the 2010 layout unless this is set
// (--classic).
void set_classic_layout(bool classic);
bool classic_layout();

// convert writes a form that cannot hold all that was read (otherwise it refuses, with
// one line per kind of field lost) (--lossy).
void set_lossy(bool lossy);

// With --lossy, convert does not list what the form loses (-q).
void set_quiet_convert(bool quiet);

// The kind whose root element is `root`, or null.
const doc_kind* find_kind(const std::string& root);

// The kind of `file` from its root element, or null with the exit status in *status
// and a message ("xrq5xml COMMAND: ...") printed.
const doc_kind* kind_of(const char* command, char* file, int* status);

// Whether `file` is of the kind its place wants: a document whose root element is
// `root`, or a recorded-event file when `root` is null. False, with a message
// ("xrq5xml COMMAND: 'F' is a trigger list, not a recorded-event file"), when it is of
// another kind the tool knows; anything else passes, for its reader to report.
bool is_kind(const char* command, const char* file, const char* root);

// Whether `file` starts as a recorded-event file does (event_builder.h).
bool is_recorded_events(const char* file);

// One line per kind for the help text.
std::string kinds_help();

#endif  // XRQ5_TOOL_KINDS_H
