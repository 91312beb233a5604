// Trigger records for tests, allocated as the list readers allocate them.
#ifndef XRQ5_TEST_TRIGGER_RECORDS_H
#define XRQ5_TEST_TRIGGER_RECORDS_H

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "user_case_trigger.h"

namespace xrq5_test {

struct trigger_deleter {
  void operator()(xrq5_user_case_trigger* t) const { XRQ5_FREE_USER(t); }
};
using trigger_ptr = std::unique_ptr<xrq5_user_case_trigger, trigger_deleter>;

inline trigger_ptr make_trigger(const char* channel, int function, int operation,
                                std::initializer_list<float> fparam = {}, float low = 0.0f,
                                float upper = 0.0f, u_int bitmask = 0) {
  trigger_ptr t(static_cast<xrq5_user_case_trigger*>(calloc(1, sizeof(xrq5_user_case_trigger))));
  strncpy(t->channel, channel, sizeof t->channel - 1);
  t->function = function;
  t->operation = operation;
  int i = 0;
  for (float f : fparam) t->fparam[i++] = f;
  t->low = low;
  t->upper = upper;
  t->bitmask = bitmask;
  return t;
}

}  // namespace xrq5_test

#endif  // XRQ5_TEST_TRIGGER_RECORDS_H
