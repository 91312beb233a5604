// The channel-description blob loader over a blob held in a buffer of exactly its
// size. The loader cannot know the size of the block around a blob, so a declared
// length beyond the input is brought down to the input: every byte it may read is
// the blob's own, and a read past it is a fault.
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "parse_chan_descr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  xrq5_fuzz::setup();
  if (size < 8) return 0;
  std::unique_ptr<char[]> blob(new char[size]);
  memcpy(blob.get(), data, size);
  int length;
  memcpy(&length, blob.get() + 4, sizeof length);
  if (length > 0 && static_cast<size_t>(length) > size) {
    length = static_cast<int>(size);
    memcpy(blob.get() + 4, &length, sizeof length);
  }
  std::vector<chan_descr_2010*> list;
  xrq5_load_chan_descr(reinterpret_cast<xrq5_xml_chan_descr_header*>(blob.get()), &list);
  clean_chan_desr_list(&list);
  return 0;
}
