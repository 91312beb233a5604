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

// True when the arguments of `check` ask for the strict pass (--strict, --werror,
// --json or --xcd).
bool strict_requested(const std::vector<char*>& args);

// `check` with the strict options; an exit status of kinds.h.
int strict_check_command(const std::vector<char*>& args);

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
