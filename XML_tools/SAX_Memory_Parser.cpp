#include "SAX_Memory_Parser.h"

#include <cstring>

#include <xercesc/util/PlatformUtils.hpp>

#include "xrq5_sax_common.h"
#include "xrq5_sax_state.h"

SAX_Memory_Parser::SAX_Memory_Parser(char* buffer)
    : init(false), gotMore(true), memBufIS(nullptr), parser(nullptr), handler(nullptr) {
  if (!xrq5_sax::initialize_platform()) return;
  try {
    handler = new MemParseHandlers;
    const char* text = buffer ? buffer : "";
    const size_t size = strlen(text);
    // Parser and input source belong to the handler's state, which the next parser of
    // this thread takes over.
    parser = xrq5_sax_state<attr>::parser_for(*handler, size);
    memBufIS = xrq5_sax_state<attr>::input_for(*handler, text, size);
    init = true;
  } catch (...) {
    // Out of memory while building the parser: leave init false and own nothing.
    parser = nullptr;
    memBufIS = nullptr;
    delete handler;
    handler = nullptr;
  }
}

SAX_Memory_Parser::~SAX_Memory_Parser() {
  if (handler != nullptr) xrq5_sax_state<attr>::recycle(*handler, token);
  delete handler;
  // Xerces counts nested initialisations; every construction called Initialize.
  xercesc::XMLPlatformUtils::Terminate();
}

bool SAX_Memory_Parser::init_ok() { return init; }

bool SAX_Memory_Parser::start() {
  if (!init) return true;
  return xrq5_sax_state<attr>::start(*handler, nullptr, memBufIS, token);
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
