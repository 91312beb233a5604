/// \file
/// Where the libraries' problem messages go. By default each reader prints its problems
/// on standard error in its own words, as it always has. A program may instead set a
/// handler for its thread: every problem of the XML parser (warnings, errors, fatal
/// errors, a document that cannot be started) then reaches the handler as data, with
/// the name of the document as the caller gave it ("<memory>" for a text read from
/// memory), and nothing of it is printed. The writers' progress lines (a file "has
/// been created", "has been closed"), printed on standard output by default, reach
/// the handler too, as notes.
///
/// The handler belongs to the thread that sets it: reads on other threads keep their
/// own handler (or the default), so two threads never race for one. A handler must
/// not throw; it may keep what it receives only by copying it (the strings are valid
/// during the call only).
#ifndef XRQ5_MESSAGES_H
#define XRQ5_MESSAGES_H

#include "xrq5_export.h"

/// How bad a problem is.
enum xrq5_severity {
  XRQ5_SEVERITY_NOTE = 0,     ///< no problem: a progress line ("... has been created")
  XRQ5_SEVERITY_WARNING = 1,  ///< the document reads, but perhaps not as meant
  XRQ5_SEVERITY_ERROR = 2,    ///< the document breaks a rule; the read goes on
  XRQ5_SEVERITY_FATAL = 3     ///< the document cannot be read past this point
};

/// One problem, as the libraries found it.
struct xrq5_problem {
  xrq5_severity severity;  ///< how bad it is
  const char* file;        ///< the name as the caller gave it, "<memory>" for a text
  unsigned long line;      ///< line in the document, from 1; 0 when not known
  unsigned long column;    ///< column in that line, from 1; 0 when not known
  const char* message;     ///< what is wrong, one line without a newline
};

/// A receiver of problems; `context` is the pointer given with it.
typedef void (*xrq5_problem_handler)(const xrq5_problem* problem, void* context);

/// A reader's own findings about the document as a whole (a wrong root element) come
/// with line and column 0.

/// Sets the handler of the calling thread (null: back to the default, standard error),
/// with the `context` handed to each call.
XRQ5_API void xrq5_set_problem_handler(xrq5_problem_handler handler, void* context);

/// The handler of the calling thread (null for the default), and its context in
/// *context when that is not null.
XRQ5_API xrq5_problem_handler xrq5_get_problem_handler(void** context);

/// Sets a handler for the calling thread while it lives, then puts back the one
/// before.
class xrq5_problem_scope {
 public:
  /// Sets `handler` with `context` for this thread.
  xrq5_problem_scope(xrq5_problem_handler handler, void* context)
      : old_(xrq5_get_problem_handler(&old_context_)) {
    xrq5_set_problem_handler(handler, context);
  }
  /// Puts back the handler that was set before.
  ~xrq5_problem_scope() { xrq5_set_problem_handler(old_, old_context_); }
  xrq5_problem_scope(const xrq5_problem_scope&) = delete;
  xrq5_problem_scope& operator=(const xrq5_problem_scope&) = delete;

 private:
  void* old_context_ = nullptr;
  xrq5_problem_handler old_;
};

#endif  // XRQ5_MESSAGES_H
