// Internal: the one way to make a Xerces parser in this project. Not installed.
//
// Every parser (the pull parsers' SAX parsers, the camera DOM parser, the tool's root
// sniffing, the benchmarks' bare scans) comes from xrq5_make_parser, so that each
// reads a hostile document with the same protections:
// - nothing but the document is read: no external DTD, no external entity, no
//   network (a document that needs one fails);
// - entity expansions are counted (Xerces' security manager);
// - the parser allocates from the caller's xrq5_parser_memory, with a budget of
//   xrq5_parse_bounds::memory bytes held at once;
// - the characters it delivers (text, ignorable whitespace and attribute values, with
//   entities expanded) are bounded by xrq5_parse_bounds::characters in total. A
//   document without a DOCTYPE delivers at most as many characters as it has bytes,
//   a fraction of the bound.
// - elements nest at most xrq5_max_depth levels (the root is level 1). The bound is
//   far above any real document; past it the parse stops at that element, so a
//   document nested deeper costs no more than one nested to the bound.
// Past a bound a line on standard error says which and the parse throws
// xercesc::OutOfMemoryException; whoever calls parse, parseFirst or parseNext catches
// it and reports the read as failed. The parser is then only fit to be deleted.
#ifndef XRQ5_PARSER_FACTORY_H
#define XRQ5_PARSER_FACTORY_H

#include <cstddef>

#include "xrq5_parser_memory.h"

// Levels of elements a document may nest, the root being level 1.
constexpr size_t xrq5_max_depth = 256;

struct xrq5_parse_bounds {
  size_t memory;      // bytes the parser may hold at once
  size_t characters;  // characters it may deliver over the whole document
};

// The bounds for a document of `document_size` bytes (0 when unknown): a multiple of
// the size, with floors that no real document comes near.
xrq5_parse_bounds xrq5_bounds_for(size_t document_size);

// A new parser of type Parser (xercesc::SAXParser or xercesc::XercesDOMParser) with
// the protections above, bounded for a document of `document_size` bytes. It is
// allocated from `memory`, which must outlive it; delete it with `delete`. Handlers,
// validation and namespace settings are the caller's. Throws OutOfMemoryException
// when even the parser does not fit.
template <class Parser>
Parser* xrq5_make_parser(xrq5_parser_memory* memory, size_t document_size);

// Bounds `parser` (made by xrq5_make_parser) for the next document, of `document_size`
// bytes, and restarts its count; for parsers made before the document was known.
template <class Parser>
void xrq5_bound_parser(Parser* parser, size_t document_size);

// Whether the last parse of `parser` (made by xrq5_make_parser) stopped because its
// elements nested deeper than xrq5_max_depth.
template <class Parser>
bool xrq5_parse_too_deep(const Parser* parser);

// Takes the library's one reference to the Xerces platform on the first call, and
// keeps it until the library is unloaded or the process exits. Xerces counts
// Initialize/Terminate pairs, so every later Initialize of a parser only counts: the
// full set-up and tear-down are paid once. A program that initialises the platform
// itself before its first read keeps its own settings (memory manager, locale); its
// balanced Terminate calls leave the platform up until exit, where this reference is
// released last. False when the first initialisation threw; it is then tried again.
bool xrq5_hold_platform();

// Byte size of the regular file `name`, or 0 (no such file, not a regular file).
size_t xrq5_file_size(const char* name);

#endif  // XRQ5_PARSER_FACTORY_H
