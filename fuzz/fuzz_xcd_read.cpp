// XCD documents of both forms from memory, read with the shift and merge options that
// the input's size selects, written back in both forms, and freed.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "parse_chan_descr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  xrq5_fuzz::setup();
  auto doc = xrq5_fuzz::text(data, size);
  std::vector<chan_descr_2010*> list;
  parse_descr_list_read(doc.get(), &list, size & 1, size & 2);
  std::string tag, var;
  dump_chan_desr(&list, nullptr, DUMP_XML_FILE, XRQ5_FORMAT, -1, &tag, nullptr);
  dump_chan_desr(&list, nullptr, DUMP_XML_FILE, VESK_FORMAT, -1, &var, nullptr);
  clean_chan_desr_list(&list);
  return 0;
}
