// Reading synthetic XCD documents of 10^3 to 10^5 channels in both forms, from memory
// and from a file, beside a bare Xerces progressive scan of the same document. Every
// channel has its own property, so a linear duplicate scan would be quadratic here;
// the tag form is read with delete_duplicated so that both forms merge.
//
// The records of 10^5 channels take 120 MB. glibc would hand that memory back to the
// kernel after every clean and fault it in again during the next timed read, so the
// benchmark keeps freed memory in the process (mallopt): it measures the reader, not
// the kernel's page-fault path. Pass --first-touch to measure with the default.
//
// BM_loop reads the memory forms through the readers' shared loop with a reader that
// keeps nothing: what the parsers, their handler and the loop cost before any record
// is built, the floor of the XCD read.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "parse_chan_descr.h"
#include "xcd_documents.h"
#include "xrq5_reader.h"

namespace {

// The document of one benchmark, also as a file.
struct fixture {
  explicit fixture(std::string text) : doc(std::move(text)) {
    char templ[] = "/tmp/xrq5-bench-XXXXXX";
    const int fd = mkstemp(templ);
    path = templ;
    FILE* f = fdopen(fd, "w");
    fwrite(doc.data(), 1, doc.size(), f);
    fclose(f);
  }
  ~fixture() { remove(path.c_str()); }
  std::string doc;
  std::string path;
};

template <bool var, bool from_file>
void BM_read(benchmark::State& state) {
  xerces_platform hold;
  const int n = static_cast<int>(state.range(0));
  fixture fx(var ? var_form(n) : tag_form(n));
  std::vector<chan_descr_2010*> list;
  auto read = [&] {
    return from_file ? parse_descr_list_readf(&fx.path[0], &list, true, true)
                     : parse_descr_list_read(&fx.doc[0], &list, true, true);  // not written to
  };
  read();  // warm-up: the heap reaches its size once, outside the timing
  clean_chan_desr_list(&list);
  for (auto _ : state) {
    const int r = read();
    if (r != 0 || list.size() != static_cast<size_t>(n)) state.SkipWithError("read failed");
    state.PauseTiming();
    clean_chan_desr_list(&list);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fx.doc.size()));
}

template <bool var, bool from_file>
void BM_bare(benchmark::State& state) {
  xerces_platform hold;
  const int n = static_cast<int>(state.range(0));
  fixture fx(var ? var_form(n) : tag_form(n));
  bare_xerces_scan(fx.doc, from_file ? fx.path.c_str() : nullptr);  // warm-up
  for (auto _ : state) bare_xerces_scan(fx.doc, from_file ? fx.path.c_str() : nullptr);
  state.SetItemsProcessed(state.iterations() * n);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fx.doc.size()));
}

template <bool var>
void BM_loop(benchmark::State& state) {
  xerces_platform hold;
  const int n = static_cast<int>(state.range(0));
  std::string doc = var ? var_form(n) : tag_form(n);
  // The names of the document, so that every start tag is looked up and found.
  const xrq5_read::element_table names =
      var ? xrq5_read::element_table{{"DaqFloat", 0}, {"DaqBits", 1},    {"evType", 2},
                                     {"tarvo", 3},    {"daqName", 4},    {"setPoint", 5},
                                     {"subSystem", 6}, {"description", 7}, {"units", 8},
                                     {"bitTitle", 9}}
          : xrq5_read::element_table{{"CHANNEL", 0},  {"STREAM", 1}, {"EVTYPE", 2},
                                     {"DTYPE", 3},    {"DB_KEY", 4}, {"COUNT", 5},
                                     {"SB_NAME", 6},  {"PROP", 7},   {"NAME", 8},
                                     {"SETPOINT", 9}, {"SUBSYSTEM", 10}, {"UNITS", 11},
                                     {"DESC", 12},    {"SIZE", 13}};
  long elements = 0;
  auto root = [](const char* tag) { return tag != nullptr; };
  auto on_step = [&elements](const xrq5_read::step& s) { elements += s.new_element; };
  for (auto _ : state) {
    const xrq5_read::outcome r = xrq5_read::read<SAX_Memory_Parser>(&doc[0], names, root, on_step);
    if (r.at != xrq5_read::read_done || r.errors != 0) state.SkipWithError("read failed");
  }
  benchmark::DoNotOptimize(elements);
  state.SetItemsProcessed(state.iterations() * n);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

#define XCD_BENCH(name, ...)                                                    \
  BENCHMARK_TEMPLATE(name, __VA_ARGS__)->RangeMultiplier(10)->Range(1000, 100000) \
      ->Unit(benchmark::kMillisecond)

XCD_BENCH(BM_read, false, false)->Name("BM_read_tag_mem");
XCD_BENCH(BM_bare, false, false)->Name("BM_bare_tag_mem");
XCD_BENCH(BM_read, false, true)->Name("BM_read_tag_file");
XCD_BENCH(BM_bare, false, true)->Name("BM_bare_tag_file");
XCD_BENCH(BM_read, true, false)->Name("BM_read_var_mem");
XCD_BENCH(BM_bare, true, false)->Name("BM_bare_var_mem");
XCD_BENCH(BM_read, true, true)->Name("BM_read_var_file");
XCD_BENCH(BM_bare, true, true)->Name("BM_bare_var_file");
XCD_BENCH(BM_loop, false)->Name("BM_loop_tag_mem");
XCD_BENCH(BM_loop, true)->Name("BM_loop_var_mem");

}  // namespace

int main(int argc, char** argv) {
  keep_freed_memory(argc, argv);
  benchmark::Initialize(&argc, argv);
  ratio_reporter reporter({{"BM_read_tag_mem", "BM_bare_tag_mem"},
                           {"BM_read_tag_file", "BM_bare_tag_file"},
                           {"BM_read_var_mem", "BM_bare_var_mem"},
                           {"BM_read_var_file", "BM_bare_var_file"},
                           {"BM_loop_tag_mem", "BM_bare_tag_mem"},
                           {"BM_loop_var_mem", "BM_bare_var_mem"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
