// The memory of one Xerces parser. Every block the parser allocates through it is
// linked into a list; what the parser has not given back when the manager is
// destroyed (after the parser) is freed then. Blocks of 1 KB and more go instead to a
// cache of the thread (at most 48 blocks and 1 MB, freed when the thread ends), where
// the next parser's requests of the same sizes find them; blocks of up to 512 bytes
// stay with the manager (at most 64 KB of them) for its own next requests. Xerces
// leaks on some error paths (a parameter entity reference inside a mixed content model
// of the internal subset loses the content-model nodes built so far), and a DAQ
// process parses hostile or broken documents for as long as it runs.
//
// A budget bounds what the parser holds at once: an allocation past it prints why on
// standard error (once per budget set) and throws OutOfMemoryException, which ends the
// parse. Without a budget set, only the system limits it.
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

  // Bytes that may be held at once from now on (0: no bound); rearms the message.
  void set_budget(size_t bytes);
  size_t held() const { return held_; }

 private:
  struct block {
    block* prev;
    block* next;
    size_t size;
  };
  block head_;  // of a circular list
  // The last large block given back, kept for the next request of its size: Xerces
  // makes and drops a reader of some 100 KB per entity reference, which would
  // otherwise map and unmap pages each time.
  block* spare_ = nullptr;
  // Small blocks given back, by size class (16 bytes apart), for the next requests of
  // their class: a parser kept for the thread's next document makes and drops the same
  // small objects (element declarations, names) for every document.
  static constexpr size_t small_classes = 32;
  block* small_[small_classes] = {};
  size_t small_bytes_ = 0;
  size_t held_ = 0;
  size_t budget_ = 0;
  bool told_ = false;
};

#endif  // XRQ5_PARSER_MEMORY_H
