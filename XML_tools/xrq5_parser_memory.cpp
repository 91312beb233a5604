#include "xrq5_parser_memory.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>

namespace {
// The link stays a multiple of 16 bytes, so the blocks handed out keep malloc's alignment.
constexpr size_t link_size = (sizeof(void*) * 2 + sizeof(size_t) + 15) / 16 * 16;
constexpr size_t spare_from = 32 * 1024;
}  // namespace

xrq5_parser_memory::xrq5_parser_memory() { head_.prev = head_.next = &head_; }

xrq5_parser_memory::~xrq5_parser_memory() {
  block* b = head_.next;
  while (b != &head_) {
    block* next = b->next;
    free(b);
    b = next;
  }
  free(spare_);
}

xercesc::MemoryManager* xrq5_parser_memory::getExceptionMemoryManager() {
  // Exceptions may outlive the parser: they take the process-wide manager.
  return xercesc::XMLPlatformUtils::fgMemoryManager;
}

void xrq5_parser_memory::set_budget(size_t bytes) {
  budget_ = bytes;
  told_ = false;
}

void* xrq5_parser_memory::allocate(XMLSize_t size) {
  if (size > static_cast<XMLSize_t>(-1) - link_size) throw xercesc::OutOfMemoryException();
  if (budget_ != 0 && (size > budget_ || held_ > budget_ - size)) {
    if (!told_)
      fprintf(stderr, "parser memory: the document needs more than %zu bytes; read stopped\n",
              budget_);
    told_ = true;
    throw xercesc::OutOfMemoryException();
  }
  block* b;
  if (spare_ != nullptr && spare_->size == size) {
    b = spare_;
    spare_ = nullptr;
  } else {
    b = static_cast<block*>(malloc(link_size + size));
    if (b == nullptr) throw xercesc::OutOfMemoryException();
  }
  b->size = size;
  held_ += size;
  b->next = head_.next;
  b->prev = &head_;
  head_.next->prev = b;
  head_.next = b;
  return reinterpret_cast<char*>(b) + link_size;
}

void xrq5_parser_memory::deallocate(void* p) {
  if (p == nullptr) return;
  block* b = reinterpret_cast<block*>(static_cast<char*>(p) - link_size);
  held_ -= b->size;
  b->prev->next = b->next;
  b->next->prev = b->prev;
  if (b->size >= spare_from) std::swap(b, spare_);
  free(b);
}
