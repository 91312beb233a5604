/// \file
/// Pull parser over an XML file: the twin of SAX_Memory_Parser (same calls, results
/// and messages), but the file is named at start() and the system id in messages is
/// the file's, as Xerces reports it. The bounds follow the size of the file named at
/// start() (the floors, for a file whose size is not known).
#ifndef XRQ5_SAX_FILE_PARSER_H
#define XRQ5_SAX_FILE_PARSER_H

#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>

#include "xrq5_sax_handler.h"

/// One attribute of the current element; the strings belong to the handler.
struct XRQ5_API attrf {
  const char* name;   ///< as written (no namespace processing)
  const char* type;   ///< as Xerces reports it, e.g. CDATA
  const char* value;  ///< the value
};

/// The handler of SAX_File_Parser.
class XRQ5_API FileParseHandlers : public xrq5_sax_handler<attrf> {};

extern template class xrq5_sax_handler<attrf>;

/// Pull parser over an XML file; see SAX_Memory_Parser for the calls.
class XRQ5_API SAX_File_Parser {
 public:
  SAX_File_Parser();
  ~SAX_File_Parser();
  SAX_File_Parser(const SAX_File_Parser&) = delete;
  SAX_File_Parser& operator=(const SAX_File_Parser&) = delete;

  bool init_ok();  ///< true when construction succeeded
  /// Begins parsing `file`: false on success, true on failure (also for a null name or
  /// a file that cannot be opened; message on standard error).
  bool start(char* file);
  int parse(char** tag, char** value);     ///< one step, as SAX_Memory_Parser::parse
  int get_attr(char* name, char** value);  ///< as SAX_Memory_Parser::get_attr
  int get_error_counter();  ///< warnings, errors and fatal errors so far
  unsigned int get_element_counter();  ///< as SAX_Memory_Parser::get_element_counter

 private:
  bool init;
  bool gotMore;
  xercesc::SAXParser* parser;
  xercesc::XMLPScanToken token;
  FileParseHandlers handler;
};

#endif  // XRQ5_SAX_FILE_PARSER_H
