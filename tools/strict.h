// xrq5xml check --strict: each document against the schema of its kind, then what the
// readers would make of it that its writer likely did not mean, with line and column.
// An extra pass of the tool only; the library readers are not involved.
#ifndef XRQ5_TOOL_STRICT_H
#define XRQ5_TOOL_STRICT_H

#include <string>
#include <vector>

#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>

#include "xrq5_parser_memory.h"

struct strict_options {
  bool werror = false;  // warnings fail too
  bool json = false;    // findings as one array on standard output
  bool quiet = false;   // no summary line for a clean document
  std::vector<std::string> xcd;    // channel descriptions that trigger channels must be in
  std::vector<std::string> files;  // paths to read (standard input already copied)
};

// `check --strict`; an exit status of kinds.h.
int strict_check_command(const strict_options& opt);

// The Xerces reader of this pass, made by the project's parser factory (no external
// DTD, no entity or schema fetching named by a document, bounded memory and entity
// expansion for a document of `document_size` bytes) from `memory`, which must outlive
// it. With a schema file it validates against that schema only (null when the schema
// cannot be loaded); with an empty name it does not validate. Xerces must be
// initialised.
xercesc::SAX2XMLReader* make_strict_reader(xrq5_parser_memory* memory, size_t document_size,
                                           xercesc::DefaultHandler* handler,
                                           const std::string& schema_file);

#endif  // XRQ5_TOOL_STRICT_H
