// Camera feature descriptions: fill (DOM parse and walk), dump and clean for the
// largest corpus file (976 KB, 1139 features), with the peak of heap in use during a
// fill, beside pugixml's load of the same file (a DOM without validation, the floor).
// malloc, calloc, realloc and free are counted here: operator new, Xerces' memory
// managers and the records all come to them.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "bench_support.h"
#include "xrq5_gige_descr.h"

namespace {

std::atomic<size_t> in_use{0}, peak{0};

void note_alloc(void* p) {
  if (p == nullptr) return;
  const size_t now = in_use += malloc_usable_size(p);
  size_t top = peak.load();
  while (now > top && !peak.compare_exchange_weak(top, now)) {
  }
}

}  // namespace

// Counted allocation over glibc's own entry points; these definitions take the place
// of malloc and free for the whole process, libraries included.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);

void* malloc(size_t n) {
  void* p = __libc_malloc(n);
  note_alloc(p);
  return p;
}
void* calloc(size_t n, size_t size) {
  void* p = __libc_calloc(n, size);
  note_alloc(p);
  return p;
}
void* realloc(void* old, size_t n) {
  const size_t before = old ? malloc_usable_size(old) : 0;
  void* p = __libc_realloc(old, n);
  if (p != nullptr || n == 0) in_use -= before;
  note_alloc(p);
  return p;
}
void free(void* p) {
  if (p == nullptr) return;
  in_use -= malloc_usable_size(p);
  __libc_free(p);
}
}

namespace {

std::string largest() {
  return std::string(XRQ5_SOURCE_DIR) + "/tests/data/corpus/camera/adgenicam/FLIR-BFS-PGE-23S6C.xml";
}

void BM_fill(benchmark::State& state) {
  std::string path = largest();
  std::vector<XRQ5GigEFeature*> out;
  size_t peak_bytes = 0;
  for (auto _ : state) {
    const size_t before = in_use.load();
    peak = before;
    if (xrq5_fill_gige_descr(&path[0], &out)) state.SkipWithError("fill failed");
    peak_bytes = peak.load() - before;
    state.PauseTiming();
    xrq5_clean_gige_descr(&out);
    state.ResumeTiming();
  }
  state.counters["features"] = 1139;
  state.counters["peak_heap_MB"] = static_cast<double>(peak_bytes) / (1 << 20);
}

void BM_pugixml_load(benchmark::State& state) {
  const std::string path = largest();
  size_t peak_bytes = 0;
  for (auto _ : state) {
    const size_t before = in_use.load();
    peak = before;
    {
      pugi::xml_document doc;
      if (!doc.load_file(path.c_str())) state.SkipWithError("load failed");
      peak_bytes = peak.load() - before;
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  state.counters["peak_heap_MB"] = static_cast<double>(peak_bytes) / (1 << 20);
}

void BM_dump(benchmark::State& state) {
  std::string path = largest();
  std::vector<XRQ5GigEFeature*> out;
  xrq5_fill_gige_descr(&path[0], &out);
  {
    quiet_stdout quiet;
    for (auto _ : state) xrq5_dump_gige_descr(&out);
  }
  xrq5_clean_gige_descr(&out);
}

void BM_clean(benchmark::State& state) {
  std::string path = largest();
  std::vector<XRQ5GigEFeature*> out;
  for (auto _ : state) {
    state.PauseTiming();
    xrq5_fill_gige_descr(&path[0], &out);
    state.ResumeTiming();
    xrq5_clean_gige_descr(&out);
  }
}

// One size (the features) so that the ratio reporter pairs the two.
BENCHMARK(BM_fill)->Arg(1139)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_pugixml_load)->Arg(1139)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_dump)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_clean)->Unit(benchmark::kMicrosecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  ratio_reporter reporter({{"BM_fill", "BM_pugixml_load"}}, true);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
