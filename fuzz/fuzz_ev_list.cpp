// Event lists from memory, read and freed.
#include <vector>

#include "fuzz_support.h"
#include "parse_ev_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  xrq5_fuzz::setup();
  auto doc = xrq5_fuzz::text(data, size);
  std::vector<xrq5_ev_entry*> list;
  xrq5_parse_ev_list_read(doc.get(), &list);
  if (size & 1) xrq5_print_ev_list(&list);
  xrq5_clean_ev_list(&list);
  return 0;
}
