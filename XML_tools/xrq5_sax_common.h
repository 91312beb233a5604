// Internal: what the two pull parsers share besides their handler. Not installed.
#ifndef XRQ5_SAX_COMMON_H
#define XRQ5_SAX_COMMON_H

#include <string>

#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/XMLString.hpp>

#include "xrq5_messages.h"
#include "xrq5_parser_memory.h"

namespace xrq5_sax {

// A transcoded Xerces string, released when it goes out of scope.
class transcoded {
 public:
  explicit transcoded(const XMLCh* text);
  ~transcoded();
  transcoded(const transcoded&) = delete;
  transcoded& operator=(const transcoded&) = delete;
  const char* c_str() const { return text_ ? text_ : ""; }

 private:
  char* text_;
};

// XMLPlatformUtils::Initialize; prints "Error during initialization!" and returns
// false when it throws.
bool initialize_platform();

// Changes whenever the platform has been seen down: what was made with the platform of
// an earlier generation must not be used or deleted through Xerces any more.
unsigned long platform_generation();

// Creates the SAX1 parser with our settings over the memory `memory`, bounded for a
// document of `document_size` bytes (0: not known yet), and installs `handler` in it.
xercesc::SAXParser* make_parser(xercesc::HandlerBase* handler, xrq5_parser_memory* memory,
                                size_t document_size);

// Hands a problem to the thread's problem handler; false (nothing done) when none is
// set. A null `file` is a text read from memory.
bool deliver(xrq5_severity severity, const char* file, unsigned long line,
             unsigned long column, const char* message);

// The document a reader of this thread reads meanwhile, for the problems the reader
// finds itself (null: a text in memory).
class reading_document {
 public:
  explicit reading_document(const char* file);
  ~reading_document();
  reading_document(const reading_document&) = delete;
  reading_document& operator=(const reading_document&) = delete;

 private:
  const char* outer_;
};

// A problem a reader finds in the document it reads (see reading_document): to the
// problem handler when one is set (true), else nothing is done (false) and the caller
// prints it in its own words.
bool tell(xrq5_severity severity, const std::string& message);

// parseFirst over `source`, or over the system id `file` when source is null, with the
// messages of a failed start; true on failure.
bool start_parse(xercesc::SAXParser* parser, const char* file, const xercesc::InputSource* source,
                 xercesc::XMLPScanToken& token);

template <class Handler>
int get_attr(const Handler& handler, const char* name, char** value) {
  *value = nullptr;
  if (name == nullptr || handler.getErrorCount() != 0) return -1;
  *value = const_cast<char*>(handler.getAttr(name));
  return *value ? 0 : -1;
}

}  // namespace xrq5_sax

#endif  // XRQ5_SAX_COMMON_H
