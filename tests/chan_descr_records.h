// Channel-description records for tests, built as the readers build them.
#ifndef XRQ5_TEST_CHAN_DESCR_RECORDS_H
#define XRQ5_TEST_CHAN_DESCR_RECORDS_H

#include <cstring>
#include <vector>

#include "parse_chan_descr.h"

namespace xrq5_test {

using descr_list = std::vector<chan_descr_2010*>;

inline chan_descr_2010* make(const char* prop) {
  chan_descr_2010* c = new chan_descr_2010();
  strncpy(c->prop_name, prop, sizeof c->prop_name - 1);
  c->db_key = -1;
  c->max_size = 1;
  return c;
}

inline bit_descr* bit(int n, const char* name = "") {
  bit_descr* b = new bit_descr();
  b->bit = n;
  strncpy(b->bit_name, name, sizeof b->bit_name - 1);
  return b;
}

inline dim_descr* dim(int id, int nstats) {
  dim_descr* d = new dim_descr();
  d->dim = id;
  for (int i = 0; i < nstats; ++i) {
    d->stats.push_back(new stat_descr());
    d->stats.back()->stat = i;
  }
  d->nstats = nstats;
  return d;
}

// Owns a list for the length of a test.
struct owned_list {
  descr_list v;
  ~owned_list() { clean_chan_desr_list(&v); }
};

}  // namespace xrq5_test

#endif  // XRQ5_TEST_CHAN_DESCR_RECORDS_H
