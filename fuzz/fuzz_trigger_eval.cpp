// Trigger evaluation over arbitrary event data blocks through libXRQ5evutl. The input
// gives, in order: the sub-block type, the operation, the sub-channel, the bit mask,
// three function parameters and the two limits (floats), the trigger's channel name
// (up to a NUL, at most 16 bytes), then the block's data. The block's ldata is the
// data's real length, as the reader of an event file makes sure. Every function index
// 0..31 (and one outside) is evaluated twice on one record, so the DIFF functions
// reach their second step; an environment dictionary resolves names too. Then a
// trigger list meets the block as the event's only one.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "event_builder.h"
#include "event_util.h"
#include "fuzz_support.h"
#include "user_case_trigger.h"

namespace {

struct reader {
  const uint8_t* p;
  size_t left;
  template <class T>
  T take() {
    T v{};
    const size_t n = left < sizeof v ? left : sizeof v;
    memcpy(&v, p, n);
    p += n;
    left -= n;
    return v;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  xrq5_fuzz::setup();
  static std::vector<char> dict = [] {
    std::vector<char> d;
    xrq5_evb_add_env_dict(d, {{0, "A"}, {1, "ENV.B"}, {-1, "C"}, {7, ""}});
    return d;
  }();
  reader in{data, size};
  const int dtype = in.take<uint8_t>() % 64;
  const int operation = in.take<uint8_t>() % 34;
  const int subchannel = in.take<int8_t>();
  const u_int mask = in.take<u_int>();
  float param[5];
  for (float& v : param) v = in.take<float>();
  char name[17] = {0};
  for (size_t i = 0; i < 16 && in.left > 0; ++i) {
    name[i] = static_cast<char>(in.take<uint8_t>());
    if (name[i] == '\0') break;
  }
  std::vector<char> block;
  xrq5_evb_add_block(block, name, dtype, in.p, in.left);
  auto* head = reinterpret_cast<xrq5_serv_block_subhead_2010*>(block.data());

  xrq5_user_trigger_set_ext_env_dictionary(size & 1 ? dict.data() : nullptr);
  for (int function = 0; function <= 32; ++function) {
    auto* t = static_cast<xrq5_user_case_trigger*>(calloc(1, sizeof(xrq5_user_case_trigger)));
    strcpy(t->channel, name);
    t->function = function;
    t->operation = operation;
    t->subchannel = subchannel;
    t->bitmask = mask;
    t->fparam[0] = param[0];
    t->fparam[1] = param[1];
    t->fparam[2] = param[2];
    t->low = param[3];
    t->upper = param[4];
    xrq5_is_trigger_on(head, t);
    xrq5_is_trigger_on(head, t);
    XRQ5_FREE_USER(t);
  }
  xrq5_user_trigger_set_ext_env_dictionary(nullptr);

  // The same block as the only one of an event, met by a list whose channels it holds
  // by name or (a slow block) through its records and the dictionary.
  xrq5_trigger_list list;
  for (const char* channel : {static_cast<const char*>(name), "A", "ENV.B", "C", ""}) {
    auto* t = static_cast<xrq5_user_case_trigger*>(calloc(1, sizeof(xrq5_user_case_trigger)));
    strcpy(t->channel, channel);
    t->function = static_cast<int>(mask % 33);
    t->operation = operation;
    t->subchannel = subchannel;
    list.get()->push_back(t);
  }
  std::vector<xrq5_serv_block_subhead_2010*> blocks{head, head};
  std::vector<xrq5_trigger_outcome> out;
  xrq5_eval_trigger_list(list.get(), &blocks, size & 2 ? dict.data() : nullptr, &out);
  xrq5_eval_trigger_list(list.get(), &blocks, nullptr, &out);
  return 0;
}
