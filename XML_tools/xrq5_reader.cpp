#include "xrq5_reader.h"

#include <exception>
#include <iostream>

#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>

#include "xrq5_sax_common.h"

namespace xrq5_read {

void report_exception(const char* file) {
  const char* head = "\nError during parsing memory stream:\nException message is:  \n";
  auto say = [&](const char* message) {
    if (!xrq5_sax::deliver(XRQ5_SEVERITY_FATAL, file, 0, 0, message))
      std::cerr << head << message << std::endl;
  };
  try {
    throw;
  } catch (const xercesc::XMLException& e) {
    xrq5_sax::transcoded msg(e.getMessage());
    say(msg.c_str());
  } catch (const xercesc::OutOfMemoryException&) {
    say("out of memory");
  } catch (const std::exception& e) {
    say(e.what());
  } catch (...) {
    say("unknown exception");
  }
}

}  // namespace xrq5_read
