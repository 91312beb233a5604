#include "descr_extractor.h"

descr_extractor::descr_extractor() : mode(EXTR_FROM_FILE) {}

descr_extractor::~descr_extractor() = default;

bool descr_extractor::in_vector(std::vector<int>& in, int ent) {
  for (int v : in)
    if (v == ent) return true;
  return false;
}

bool descr_extractor::get_descriptions(std::vector<char*>& source, int* total,
                                       std::vector<chan_descr_2010*>& out, bool shift) {
  if (source.empty()) {
    if (total) *total = 0;
    return false;
  }
  int err = 0, ok = 0;
  for (char* name : source) {
    if (mode == EXTR_FROM_FILE)
      err = parse_descr_list_readf(name, &out, shift, false);
    else if (mode == EXTR_FROM_XML)
      err = parse_descr_list_read(name, &out, shift, false);
    else
      continue;
    if (err == 0) ++ok;
  }
  if (err != 0) return true;
  if (total) *total = ok;
  return false;
}

bool descr_extractor::set_mode(int m) {
  mode = m;
  return m != EXTR_FROM_FILE && m != EXTR_FROM_XML;
}

int descr_extractor::get_mode() { return mode; }
