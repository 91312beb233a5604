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
constexpr size_t cache_from = 1024;
constexpr size_t small_step = 16;
constexpr size_t small_bytes_max = 64 * 1024;

// The size class of a request, and the bytes a block of that class can hold.
constexpr size_t small_class(size_t size) { return size == 0 ? 0 : (size - 1) / small_step; }
constexpr size_t class_bytes(size_t c) { return (c + 1) * small_step; }

// Blocks of 1 KB and more that this thread's parsers gave back, kept for the next
// parser of the same thread: every parser makes its scanner's and readers' buffers
// anew (some 25 blocks, one of 160 KB), and for a small document finding them with
// malloc, and consolidating the heap as they go back, costs more than the parse.
// Bounded in count and in bytes; a block is reused only for a request of its size.
//
// The cache has no destructor, so its storage lasts as long as its thread: a parser
// that a later thread_local destructor of the thread frees (an idle parser) still
// finds it, closed, and frees its blocks. A destructor of the cache itself could not
// mark it closed: stores at the end of an object's lifetime are dead to the compiler,
// which drops them, and blocks kept afterwards were lost with the thread.
class block_cache {
 public:
  // Frees what is kept, and every block given back later.
  void close() {
    for (int i = 0; i < n_; ++i) free(kept_[i].p);
    n_ = 0;
    bytes_ = 0;
    closed_ = true;
  }
  void* take(size_t size) {
    for (int i = n_ - 1; i >= 0; --i) {
      if (kept_[i].size != size) continue;
      void* p = kept_[i].p;
      bytes_ -= size;
      kept_[i] = kept_[--n_];
      return p;
    }
    return nullptr;
  }
  // False when full or closed: the caller frees the block.
  bool keep(void* p, size_t size) {
    if (closed_ || n_ == slots || size > max_bytes - bytes_) return false;
    kept_[n_++] = {p, size};
    bytes_ += size;
    return true;
  }

 private:
  static constexpr int slots = 48;
  static constexpr size_t max_bytes = size_t(1) << 20;
  struct kept {
    void* p;
    size_t size;
  };
  kept kept_[slots] = {};
  int n_ = 0;
  size_t bytes_ = 0;
  bool closed_ = false;
};

thread_local block_cache cache;

// Closes the cache of its thread when the thread ends (at exit for the main thread,
// before the statics' destructors: a parser freed by one of them frees its blocks).
struct cache_closer {
  ~cache_closer() { cache.close(); }
  bool armed = false;
};

thread_local cache_closer closer;

// Frees a block whose request was `size` bytes, or keeps it for the next parser.
void give_back(void* b, size_t size) {
  if (size < cache_from) {
    free(b);
    return;
  }
  closer.armed = true;  // the first use in a thread makes the closer, due at its end
  if (!cache.keep(b, size)) free(b);
}
}  // namespace

xrq5_parser_memory::xrq5_parser_memory() { head_.prev = head_.next = &head_; }

xrq5_parser_memory::~xrq5_parser_memory() {
  block* b = head_.next;
  while (b != &head_) {
    block* next = b->next;
    give_back(b, b->size);
    b = next;
  }
  if (spare_ != nullptr) give_back(spare_, spare_->size);
  for (block* b : small_) {
    while (b != nullptr) {
      block* next = b->next;
      free(b);
      b = next;
    }
  }
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
  const size_t c = small_class(size);
  if (c < small_classes) {
    b = small_[c];
    if (b != nullptr) {
      small_[c] = b->next;
      small_bytes_ -= class_bytes(c);
    } else {
      // Room for any request of its class, so that any of them can reuse it.
      b = static_cast<block*>(malloc(link_size + class_bytes(c)));
      if (b == nullptr) throw xercesc::OutOfMemoryException();
    }
  } else if (spare_ != nullptr && spare_->size == size) {
    b = spare_;
    spare_ = nullptr;
  } else {
    b = size >= cache_from ? static_cast<block*>(cache.take(size)) : nullptr;
    if (b == nullptr) b = static_cast<block*>(malloc(link_size + size));
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
  const size_t c = small_class(b->size);
  if (c < small_classes) {
    if (small_bytes_ + class_bytes(c) > small_bytes_max) {
      free(b);
      return;
    }
    small_bytes_ += class_bytes(c);
    b->next = small_[c];
    small_[c] = b;
    return;
  }
  if (b->size >= spare_from) std::swap(b, spare_);
  if (b != nullptr) give_back(b, b->size);
}
