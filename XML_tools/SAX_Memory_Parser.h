/// \file
/// Pull parser over an XML text held in memory. Each parse() call is one Xerces
/// progressive-parse step and hands back the current element's tag and text.
///
/// Use: construct over a NUL-terminated buffer (kept alive and unchanged while the
/// parser exists; not copied); if init_ok() is false give up; start() once (false is
/// success); parse() until it returns non-zero; get_attr() after any step; destroy.
/// Every construction initialises and every destruction terminates the Xerces
/// platform, so parsers must not be created or destroyed in several threads at once.
/// A parser destroyed after a document without problems leaves its Xerces parser and
/// buffers to the next parser of the same thread (each thread keeps at most one of
/// each kind, released when the thread ends).
///
/// The document cannot make the parser read anything else: external DTDs and external
/// entities are not fetched (a document that needs one fails). What a parse may hold
/// and the text it may expand from entities are bounded by the document's size, and
/// elements nest at most 256 levels (the root is the first); past a bound a line on
/// standard error says which, and parse() throws Xerces' OutOfMemoryException (for
/// the nesting at the step of the first element too deep). Messages go to standard error; the system id in them is
/// "my_mem_info".
#ifndef XRQ5_SAX_MEMORY_PARSER_H
#define XRQ5_SAX_MEMORY_PARSER_H

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>

#include "xrq5_sax_handler.h"

/// One attribute of the current element; the strings belong to the handler.
struct XRQ5_API attr {
  const char* name;   ///< as written (no namespace processing)
  const char* type;   ///< as Xerces reports it, e.g. CDATA
  const char* value;  ///< the value
};

/// The handler of SAX_Memory_Parser.
class XRQ5_API MemParseHandlers : public xrq5_sax_handler<attr> {};

extern template class xrq5_sax_handler<attr>;

/// Pull parser over an XML text held in memory (see the file's description for its use).
class XRQ5_API SAX_Memory_Parser {
 public:
  /// A null buffer is taken as an empty document (start() then fails).
  explicit SAX_Memory_Parser(char* buffer);
  ~SAX_Memory_Parser();
  SAX_Memory_Parser(const SAX_Memory_Parser&) = delete;
  SAX_Memory_Parser& operator=(const SAX_Memory_Parser&) = delete;

  /// True when construction succeeded ("Error during initialization!" otherwise).
  bool init_ok();
  /// Begins the parse: false on success, true on failure (message on standard error).
  bool start();
  /// One step. Sets *tag and *value (either may be null; null pointers are skipped).
  /// Returns 0 for a step, -1 once the document has ended, or the number of warnings,
  /// errors and fatal errors so far once there is any. The strings live until the next
  /// call. Exceptions that Xerces raises during the step pass to the caller.
  int parse(char** tag, char** value);
  /// Attribute `name` of the current element: 0 and *value set when found, else -1 and
  /// *value null (also after any warning or error, and for a null name).
  int get_attr(char* name, char** value);
  /// Warnings, errors and fatal errors so far; 0 when construction failed.
  int get_error_counter();
  /// Start tags seen so far: two steps that report the same count belong to the same
  /// element (an element with attributes and text arrives in two steps).
  unsigned int get_element_counter();

 private:
  bool init;
  bool gotMore;
  xercesc::MemBufInputSource* memBufIS;
  xercesc::SAXParser* parser;
  xercesc::XMLPScanToken token;
  MemParseHandlers* handler;
};

#endif  // XRQ5_SAX_MEMORY_PARSER_H
