#include "xrq5_sax_common.h"

#include <atomic>
#include <iostream>

#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "xrq5_parser_factory.h"

using xercesc::XMLString;

namespace xrq5_sax {

transcoded::transcoded(const XMLCh* text) : text_(text ? XMLString::transcode(text) : nullptr) {}

transcoded::~transcoded() {
  if (text_) XMLString::release(&text_);
}

namespace {
std::atomic<unsigned long> generation{1};
}

unsigned long platform_generation() {
  if (xercesc::XMLPlatformUtils::fgMemoryManager == nullptr) generation.fetch_add(1);
  return generation.load(std::memory_order_relaxed);
}

bool initialize_platform() {
  xrq5_hold_platform();  // a failure shows again in the Initialize below
  // A program that terminated the platform once too often took the library's
  // reference: this Initialize sets up a new platform.
  platform_generation();
  try {
    xercesc::XMLPlatformUtils::Initialize(xercesc::XMLUni::fgXercescDefaultLocale, nullptr,
                                          nullptr, nullptr);
  } catch (const xercesc::XMLException& e) {
    transcoded msg(e.getMessage());
    std::cerr << "Error during initialization! Message:\n" << msg.c_str() << std::endl;
    return false;
  }
  return true;
}

xercesc::SAXParser* make_parser(xercesc::HandlerBase* handler, xrq5_parser_memory* memory,
                                size_t document_size) {
  xercesc::SAXParser* p = xrq5_make_parser<xercesc::SAXParser>(memory, document_size);
  p->setDocumentHandler(handler);
  p->setErrorHandler(handler);
  p->setValidationScheme(xercesc::SAXParser::Val_Auto);
  p->setDoNamespaces(false);
  p->setDoSchema(false);
  p->setValidationSchemaFullChecking(false);
  return p;
}

bool deliver(xrq5_severity severity, const char* file, unsigned long line,
             unsigned long column, const char* message) {
  void* context = nullptr;
  const xrq5_problem_handler handler = xrq5_get_problem_handler(&context);
  if (handler == nullptr) return false;
  xrq5_problem p{severity, file ? file : "<memory>", line, column, message ? message : ""};
  handler(&p, context);
  return true;
}

namespace {

const char*& current_document() {
  thread_local const char* name = nullptr;
  return name;
}

}  // namespace

reading_document::reading_document(const char* file) : outer_(current_document()) {
  current_document() = file;
}

reading_document::~reading_document() { current_document() = outer_; }

bool tell(xrq5_severity severity, const std::string& message) {
  return deliver(severity, current_document(), 0, 0, message.c_str());
}

bool start_parse(xercesc::SAXParser* parser, const char* file, const xercesc::InputSource* source,
                 xercesc::XMLPScanToken& token) {
  try {
    const bool ok = source ? parser->parseFirst(*source, token)
                           : (file != nullptr && parser->parseFirst(file, token));
    if (ok) return false;
    // With a handler set, the fatal error before this said all there is to say.
    if (xrq5_get_problem_handler(nullptr) == nullptr) std::cerr << "scanFirst() failed\n";
    return true;
  } catch (const xercesc::XMLException& e) {
    transcoded msg(e.getMessage());
    if (deliver(XRQ5_SEVERITY_FATAL, file, 0, 0, msg.c_str())) return true;
    std::cerr << "\nError during parsing memory stream:\n"
              << "Exception message is:  \n"
              << msg.c_str() << std::endl;
    return true;
  }
}

}  // namespace xrq5_sax
