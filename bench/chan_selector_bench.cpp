// Channel-selector queries with 10^3 to 10^5 held descriptions: find_channel,
// get_event_type and get_data_type for names that are held and names that are not.
// The queries go through hash indexes, so the time per query must not grow with the
// number held. get_event_type prints a line for a name it does not find; standard
// output goes to /dev/null meanwhile, and that printing is part of the time.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "chan_selector.h"

namespace {

struct held {
  explicit held(int n) {
    xerces_platform hold;
    std::string doc = "<CHANDESCRIPTIONS>";
    char buf[256];
    for (int i = 0; i < n; ++i) {
      snprintf(buf, sizeof buf,
               "<CHANNEL><PROP>LINAC/DEV/%d/VALUE</PROP><NAME>DAQ.%d</NAME><EVTYPE>%d</EVTYPE>"
               "<DTYPE>%d</DTYPE></CHANNEL>",
               i, i, 1 + i % 6, 38 + i % 4);
      doc += buf;
    }
    doc += "</CHANDESCRIPTIONS>";
    std::vector<char*> src{&doc[0]};
    sel.change_mode(EXTR_FROM_XML);
    sel.set_descriptions(src, nullptr);
    for (int k = 0; k < 4096; ++k) {
      const int i = static_cast<int>((k * 2654435761u) % static_cast<unsigned int>(n));
      daq.push_back("DAQ." + std::to_string(i));
      prop.push_back("LINAC/DEV/" + std::to_string(i) + "/VALUE");
      absent.push_back("NOT.HELD." + std::to_string(i));
    }
  }
  chan_selector sel;
  std::vector<std::string> daq, prop, absent;
};

enum query { FIND_GLOBAL, FIND_LOCAL, EVENT_TYPE, DATA_TYPE };

template <query q, bool present>
void BM_query(benchmark::State& state) {
  held h(static_cast<int>(state.range(0)));
  std::vector<std::string>& names =
      !present ? h.absent : (q == FIND_GLOBAL ? h.prop : h.daq);
  size_t k = 0;
  quiet_stdout quiet;
  for (auto _ : state) {
    char* name = &names[k++ & 4095][0];
    int r = 0;
    switch (q) {
      case FIND_GLOBAL: r = h.sel.find_channel(XRQ5_EV_NORMAL, name); break;  // by property
      case FIND_LOCAL: r = h.sel.find_channel(XRQ5_EV_IMAGE, name); break;    // by DAQ name
      case EVENT_TYPE: r = h.sel.get_event_type(name); break;
      case DATA_TYPE: r = h.sel.get_data_type(name); break;
    }
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
}

#define QUERY(name, ...) \
  BENCHMARK_TEMPLATE(BM_query, __VA_ARGS__)->Name(name)->RangeMultiplier(10)->Range(1000, 100000)

QUERY("BM_find_channel_by_prop", FIND_GLOBAL, true);
QUERY("BM_find_channel_by_daq", FIND_LOCAL, true);
QUERY("BM_find_channel_absent", FIND_GLOBAL, false);
QUERY("BM_get_event_type", EVENT_TYPE, true);
QUERY("BM_get_event_type_absent", EVENT_TYPE, false);
QUERY("BM_get_data_type", DATA_TYPE, true);
QUERY("BM_get_data_type_absent", DATA_TYPE, false);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  ratio_reporter reporter({{"BM_find_channel_by_prop", ""}, {"BM_find_channel_by_daq", ""},
                           {"BM_find_channel_absent", ""}, {"BM_get_event_type", ""},
                           {"BM_get_event_type_absent", ""}, {"BM_get_data_type", ""},
                           {"BM_get_data_type_absent", ""}},
                          true);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
