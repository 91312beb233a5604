#include "SAX_File_Parser.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <iostream>

#include "xrq5_file_source.h"
#include "xrq5_parser_factory.h"
#include "xrq5_sax_common.h"
#include "xrq5_sax_state.h"

SAX_File_Parser::SAX_File_Parser() : init(false), gotMore(true), parser(nullptr) {
  if (!xrq5_sax::initialize_platform()) return;
  try {
    parser = xrq5_sax_state<attrf>::parser_for(handler, 0);
    init = true;
  } catch (...) {
    parser = nullptr;  // out of memory while building the parser
  }
}

SAX_File_Parser::~SAX_File_Parser() {
  // The handler is a member, destroyed only after this body: its state and parser go
  // now, before the platform is terminated.
  xrq5_sax_state<attrf>::recycle(handler, token);
  xercesc::XMLPlatformUtils::Terminate();
}

bool SAX_File_Parser::init_ok() { return init; }

// The file is opened here, by its name as given (see xrq5_file_source.h); the parse
// keeps its own descriptor.
bool SAX_File_Parser::start(char* file) {
  if (!init) return true;
  if (file == nullptr) return xrq5_sax_state<attrf>::start(handler, nullptr, nullptr, token);
  const xrq5_file_source source(file);
  if (!source.ok()) {
    const std::string message = "unable to open primary document entity '" + source.id() + "'";
    if (xrq5_sax::deliver(XRQ5_SEVERITY_FATAL, file, 0, 0, message.c_str())) return true;
    std::cerr << "\nError during parsing memory stream:\n"
              << "Exception message is:  \n"
              << "unable to open primary document entity '" << source.id() << "'" << std::endl;
    return true;
  }
  xrq5_bound_parser(parser, source.size());
  return xrq5_sax_state<attrf>::start(handler, file, &source, token);
}

int SAX_File_Parser::parse(char** tag, char** value) {
  if (!init) return -1;
  return handler.parse_step(parser, token, gotMore, tag, value);
}

int SAX_File_Parser::get_attr(char* name, char** value) {
  if (!init) {
    *value = nullptr;
    return -1;
  }
  return xrq5_sax::get_attr(handler, name, value);
}

int SAX_File_Parser::get_error_counter() { return handler.getErrorCount(); }

unsigned int SAX_File_Parser::get_element_counter() { return handler.getElementCount(); }
