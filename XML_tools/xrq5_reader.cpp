#include "xrq5_reader.h"

#include <exception>
#include <iostream>

#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>

#include "xrq5_sax_common.h"

namespace xrq5_read {

void report_exception() {
  const char* head = "\nError during parsing memory stream:\nException message is:  \n";
  try {
    throw;
  } catch (const xercesc::XMLException& e) {
    xrq5_sax::transcoded msg(e.getMessage());
    std::cerr << head << msg.c_str() << std::endl;
  } catch (const xercesc::OutOfMemoryException&) {
    std::cerr << head << "out of memory" << std::endl;
  } catch (const std::exception& e) {
    std::cerr << head << e.what() << std::endl;
  } catch (...) {
    std::cerr << head << "unknown exception" << std::endl;
  }
}

}  // namespace xrq5_read
