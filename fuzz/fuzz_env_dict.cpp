// Environment index dictionaries in both layouts from memory, read, written back as
// XML and as the event-utility library's dictionary block, and freed.
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "parse_env_index_dictionary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  xrq5_fuzz::setup();
  auto doc = xrq5_fuzz::text(data, size);
  std::vector<xrq5_env_index_dictionary_entry*> classic;
  std::vector<xrq5_env_index_dictionary_entry_2010*> modern;
  parse_env_index_dict_list_read(doc.get(), &classic);
  parse_env_index_dict_list_read_2010(doc.get(), &modern);
  std::string a, b;
  std::vector<char> block;
  dump_env_index_dict(&classic, nullptr, ENV_INDX_DUMP_XML_STRING, -1, &a);
  dump_env_index_dict_2010(&modern, nullptr, ENV_INDX_DUMP_XML_STRING, -1, &b);
  xrq5_make_env_dict_block(&classic, &block);
  xrq5_make_env_dict_block_2010(&modern, &block);
  for (auto* e : classic) free(e);
  for (auto* e : modern) free(e);
  return 0;
}
