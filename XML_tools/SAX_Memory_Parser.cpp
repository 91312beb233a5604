#include "SAX_Memory_Parser.h"

#include <cstring>

#include <xercesc/util/PlatformUtils.hpp>

#include "xrq5_sax_common.h"

SAX_Memory_Parser::SAX_Memory_Parser(char* buffer)
    : init(false), gotMore(true), memBufIS(nullptr), parser(nullptr), handler(nullptr) {
  if (!xrq5_sax::initialize_platform()) return;
  try {
    handler = new MemParseHandlers;
    const char* text = buffer ? buffer : "";
    const size_t size = strlen(text);
    parser = xrq5_sax::make_parser(handler, handler->parser_memory(), size);
    memBufIS = new xercesc::MemBufInputSource(reinterpret_cast<const XMLByte*>(text), size,
                                              "my_mem_info", false);
    memBufIS->setCopyBufToStream(false);  // parse the caller's buffer in place
    init = true;
  } catch (...) {
    // Out of memory while building the parser: leave init false and own nothing.
    delete parser;
    parser = nullptr;
    delete handler;
    handler = nullptr;
  }
}

SAX_Memory_Parser::~SAX_Memory_Parser() {
  if (init) {
    handler->resetTagValue();
    delete parser;
    delete memBufIS;
  }
  delete handler;
  // Xerces counts nested initialisations; every construction called Initialize.
  xercesc::XMLPlatformUtils::Terminate();
}

bool SAX_Memory_Parser::init_ok() { return init; }

bool SAX_Memory_Parser::start() {
  if (!init) return true;
  return xrq5_sax::start_parse(parser, nullptr, memBufIS, token);
}

int SAX_Memory_Parser::parse(char** tag, char** value) {
  if (!init) return -1;
  return handler->parse_step(parser, token, gotMore, tag, value);
}

int SAX_Memory_Parser::get_attr(char* name, char** value) {
  if (!init) {
    *value = nullptr;
    return -1;
  }
  return xrq5_sax::get_attr(*handler, name, value);
}

int SAX_Memory_Parser::get_error_counter() { return init ? handler->getErrorCount() : 0; }

unsigned int SAX_Memory_Parser::get_element_counter() {
  return init ? handler->getElementCount() : 0;
}
