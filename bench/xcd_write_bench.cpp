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

// The floor: the same bytes, line by line, to a string or to a file (a temporary file
// renamed over the target, as the writers do). The writers are held against it at
// the same number of channels.
template <int mode, int format, bool to_file>
void BM_plain(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  channels c(n);
  char path[] = "/tmp/xrq5-bench-plain-XXXXXX";
  close(mkstemp(path));
  const std::string temp = std::string(path) + ".tmp";
  std::string doc;
  {
    quiet_stdout quiet;
    if (to_file) {
      dump_chan_desr(&c.list, path, mode, format, -1, nullptr, nullptr);
      FILE* f = fopen(path, "rb");
      for (int ch; (ch = fgetc(f)) != EOF;) doc += static_cast<char>(ch);
      fclose(f);
    } else {
      dump_chan_desr(&c.list, nullptr, mode, format, -1, &doc, nullptr);
    }
  }
  std::vector<std::pair<size_t, size_t>> lines;
  for (size_t at = 0; at < doc.size();) {
    size_t end = doc.find('\n', at);
    end = end == std::string::npos ? doc.size() : end + 1;
    lines.emplace_back(at, end - at);
    at = end;
  }
  for (auto _ : state) {
    if (to_file) {
      FILE* f = fopen(temp.c_str(), "w");
      for (const auto& l : lines) fwrite(doc.data() + l.first, 1, l.second, f);
      if (fclose(f) != 0 || rename(temp.c_str(), path) != 0) state.SkipWithError("write failed");
    } else {
      std::string out;
      out.reserve(doc.size());
      for (const auto& l : lines) out.append(doc.data() + l.first, l.second);
      benchmark::DoNotOptimize(out.data());
    }
  }
  remove(path);
  state.SetItemsProcessed(state.iterations() * n);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

#define PLAIN_BENCH(name, ...)                                                       \
  BENCHMARK_TEMPLATE(BM_plain, __VA_ARGS__)->Name(name)->RangeMultiplier(10)->Range(1000, 100000) \
      ->Unit(benchmark::kMillisecond)

#define WRITE_BENCH(name, ...)                                                       \
  BENCHMARK_TEMPLATE(BM_write, __VA_ARGS__)->Name(name)->RangeMultiplier(10)->Range(1000, 100000) \
      ->Unit(benchmark::kMillisecond)

WRITE_BENCH("BM_write_tag_string", DUMP_XML_FILE, XRQ5_FORMAT, false);
WRITE_BENCH("BM_write_tag_file", DUMP_XML_FILE, XRQ5_FORMAT, true);
WRITE_BENCH("BM_write_var_string", DUMP_XML_FILE, VESK_FORMAT, false);
WRITE_BENCH("BM_write_var_file", DUMP_XML_FILE, VESK_FORMAT, true);
WRITE_BENCH("BM_write_text_file", DUMP_TXT_FILE, XRQ5_FORMAT, true);
WRITE_BENCH("BM_write_short_file", DUMP_TXT_FILE_SHORT, XRQ5_FORMAT, true);
PLAIN_BENCH("BM_plain_tag_string", DUMP_XML_FILE, XRQ5_FORMAT, false);
PLAIN_BENCH("BM_plain_tag_file", DUMP_XML_FILE, XRQ5_FORMAT, true);
PLAIN_BENCH("BM_plain_var_string", DUMP_XML_FILE, VESK_FORMAT, false);
PLAIN_BENCH("BM_plain_var_file", DUMP_XML_FILE, VESK_FORMAT, true);
PLAIN_BENCH("BM_plain_text_file", DUMP_TXT_FILE, XRQ5_FORMAT, true);
PLAIN_BENCH("BM_plain_short_file", DUMP_TXT_FILE_SHORT, XRQ5_FORMAT, true);

}  // namespace

int main(int argc, char** argv) {
  keep_freed_memory(argc, argv);
  benchmark::Initialize(&argc, argv);
  ratio_reporter reporter({{"BM_write_tag_string", "BM_plain_tag_string"},
                           {"BM_write_tag_file", "BM_plain_tag_file"},
                           {"BM_write_var_string", "BM_plain_var_string"},
                           {"BM_write_var_file", "BM_plain_var_file"},
                           {"BM_write_text_file", "BM_plain_text_file"},
                           {"BM_write_short_file", "BM_plain_short_file"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
