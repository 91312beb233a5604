/// \file
/// A check of a document beyond reading it: against the schema of its kind (the
/// schemas are built into the library), then for what the readers would make of it
/// that its writer likely did not mean (a value cut to its field, a name the reader
/// ignores, a trigger that never or always fires, a channel that no channel
/// description given holds), each finding with its line and column.
///
/// Event lists, channel descriptions of both forms, environment index dictionaries
/// and trigger lists have a schema; camera feature descriptions are only read, and
/// what their reader reports becomes the findings. Each call reads its document with a
/// parser of its own and gathers the readers' problems through a problem handler of
/// its own thread (xrq5_messages.h), which it puts back before it returns.
#ifndef XRQ5_CHECK_H
#define XRQ5_CHECK_H

#include <string>
#include <vector>

#include "xrq5_export.h"

/// One thing found in a document.
struct xrq5_finding {
  std::string file;     ///< the document as the caller named it, "<memory>" for a text
  int line = 0;         ///< from 1; 0 for a finding about the whole file
  int column = 0;       ///< from 1; 0 for a finding about the whole file
  bool error = true;    ///< an error, or else a warning
  std::string code;     ///< stable short name of the kind of finding (see below)
  std::string message;  ///< what is wrong and what the reader does with it

  /// "error" or "warning".
  const char* severity() const { return error ? "error" : "warning"; }
};

/// The codes of findings: "xml" (not well-formed), "schema" (against the schema),
/// "bounds" (past the parser's memory or expansion bounds), "depth" (elements nested
/// deeper than the parser allows), "unreadable" (the file
/// cannot be opened), "kind" (no document of a known kind), "xcd" (a channel
/// description given cannot be read), "read" (what the reader of a kind without a
/// schema reports), and of the meaning checks "cut", "ignored", "number", "range",
/// "empty", "blanks", "repeated", "modulo", "duplicate", "name", "mask", "channel",
/// "never", "always".

/// What a check looks at.
struct xrq5_check_options {
  /// Against the schema and for the meaning (the default); else the document is only
  /// read with the library's reader of its kind, and what the reader reports becomes
  /// the findings (code "read").
  bool strict = true;
  /// Environment index dictionaries in the classic layout rather than the 2010 one.
  bool classic = false;
  /// Channel descriptions (file names) whose property or DAQ names the channels of
  /// triggers must be among; empty: channels are not looked up.
  std::vector<std::string> xcd;
};

/// The outcome of checking one document.
struct xrq5_check_result {
  /// The kind, as the tool names it ("trigger list", ...); empty when not known.
  std::string kind;
  /// The document could be opened, is well-formed enough to have a root element of a
  /// known kind, and its channel descriptions could be read; false with a finding
  /// saying why otherwise.
  bool readable = false;
  /// In order of line and column.
  std::vector<xrq5_finding> findings;

  /// The number of errors among the findings.
  size_t errors() const;
  /// The number of warnings among the findings.
  size_t warnings() const;
};

/// Checks the file `path` (opened under exactly that name).
XRQ5_API xrq5_check_result xrq5_check_file(const std::string& path,
                                           const xrq5_check_options& options = {});

/// Checks the document `text`, named `name` in the findings.
XRQ5_API xrq5_check_result xrq5_check_text(const std::string& text,
                                           const xrq5_check_options& options = {},
                                           const std::string& name = "<memory>");

inline size_t xrq5_check_result::errors() const {
  size_t n = 0;
  for (const xrq5_finding& f : findings) n += f.error;
  return n;
}

inline size_t xrq5_check_result::warnings() const { return findings.size() - errors(); }

#endif  // XRQ5_CHECK_H
