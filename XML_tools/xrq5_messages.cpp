#include "xrq5_messages.h"

namespace {

struct thread_handler {
  xrq5_problem_handler handler = nullptr;
  void* context = nullptr;
};

thread_handler& current() {
  thread_local thread_handler h;
  return h;
}

}  // namespace

void xrq5_set_problem_handler(xrq5_problem_handler handler, void* context) {
  current().handler = handler;
  current().context = handler ? context : nullptr;
}

xrq5_problem_handler xrq5_get_problem_handler(void** context) {
  if (context != nullptr) *context = current().context;
  return current().handler;
}
