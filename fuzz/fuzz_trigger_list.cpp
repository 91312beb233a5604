// Trigger lists from memory, read, written back as XML and to the screen (sent to
// /dev/null), and freed.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "user_case_trigger.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  xrq5_fuzz::setup();
  auto doc = xrq5_fuzz::text(data, size);
  std::vector<xrq5_user_case_trigger*> list;
  parse_trigger_list_read(doc.get(), &list);
  std::string xml;
  dump_user_trigger_list(&list, nullptr, USER_TRIG_DUMP_XML_STRING, -1, &xml);
  if (size & 1) dump_user_trigger_list(&list, nullptr, USER_TRIG_DUMP_TO_SCREEN, -1, nullptr);
  for (auto* t : list) XRQ5_FREE_USER(t);
  return 0;
}
