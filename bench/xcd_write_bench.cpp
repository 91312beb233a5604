// Writing 10^3 to 10^5 channel descriptions in each mode and form, to a string and to
// a file. The names already written are looked up in a hash set, so the time per
// channel must stay flat as the list grows. As in xcd_read_bench, freed memory stays
// in the process (mallopt) unless --first-touch is given.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "parse_chan_descr.h"
#include "xcd_documents.h"

namespace {

// The channels of a synthetic tag-form document, read once per benchmark.
struct channels {
  explicit channels(int n) {
    xerces_platform hold;
    std::string doc = tag_form(n);
    parse_descr_list_read(&doc[0], &list, true, false);
  }
  ~channels() { clean_chan_desr_list(&list); }
  std::vector<chan_descr_2010*> list;
};

template <int mode, int format, bool to_file>
void BM_write(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  channels c(n);
  char path[] = "/tmp/xrq5-bench-write-XXXXXX";
  close(mkstemp(path));
  size_t bytes = 0;
  {
    quiet_stdout quiet;
    for (auto _ : state) {
      std::string out;
      const int r = dump_chan_desr(&c.list, to_file ? path : nullptr, mode, format, -1,
                                   to_file ? nullptr : &out, nullptr);
      if (r != 0) state.SkipWithError("write failed");
      bytes = out.size();
    }
  }
  if (to_file) {
    FILE* f = fopen(path, "rb");
    fseek(f, 0, SEEK_END);
    bytes = static_cast<size_t>(ftell(f));
    fclose(f);
  }
  remove(path);
  state.SetItemsProcessed(state.iterations() * n);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

#define WRITE_BENCH(name, ...)                                                       \
  BENCHMARK_TEMPLATE(BM_write, __VA_ARGS__)->Name(name)->RangeMultiplier(10)->Range(1000, 100000) \
      ->Unit(benchmark::kMillisecond)

WRITE_BENCH("BM_write_tag_string", DUMP_XML_FILE, XRQ5_FORMAT, false);
WRITE_BENCH("BM_write_tag_file", DUMP_XML_FILE, XRQ5_FORMAT, true);
WRITE_BENCH("BM_write_var_string", DUMP_XML_FILE, VESK_FORMAT, false);
WRITE_BENCH("BM_write_var_file", DUMP_XML_FILE, VESK_FORMAT, true);
WRITE_BENCH("BM_write_text_file", DUMP_TXT_FILE, XRQ5_FORMAT, true);
WRITE_BENCH("BM_write_short_file", DUMP_TXT_FILE_SHORT, XRQ5_FORMAT, true);

}  // namespace

int main(int argc, char** argv) {
  keep_freed_memory(argc, argv);
  benchmark::Initialize(&argc, argv);
  ratio_reporter reporter({{"BM_write_tag_string", ""},  {"BM_write_tag_file", ""},
                           {"BM_write_var_string", ""},  {"BM_write_var_file", ""},
                           {"BM_write_text_file", ""},   {"BM_write_short_file", ""}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
