// The memory of one Xerces parser. Every block the parser allocates through it is
// linked into a list; what the parser has not given back when the manager is
// destroyed (after the parser) is freed then. Xerces leaks on some error paths (a
// parameter entity reference inside a mixed content model of the internal subset
// loses the content-model nodes built so far), and a DAQ process parses hostile or
// broken documents for as long as it runs.
#ifndef XRQ5_PARSER_MEMORY_H
#define XRQ5_PARSER_MEMORY_H

#include <xercesc/framework/MemoryManager.hpp>

class xrq5_parser_memory : public xercesc::MemoryManager {
 public:
  xrq5_parser_memory();
  ~xrq5_parser_memory() override;  // frees what is still allocated
  xrq5_parser_memory(const xrq5_parser_memory&) = delete;
  xrq5_parser_memory& operator=(const xrq5_parser_memory&) = delete;

  xercesc::MemoryManager* getExceptionMemoryManager() override;
  void* allocate(XMLSize_t size) override;  // throws OutOfMemoryException, as Xerces does
  void deallocate(void* p) override;

 private:
  struct block {
    block* prev;
    block* next;
  };
  block head_;  // of a circular list
};

#endif  // XRQ5_PARSER_MEMORY_H
