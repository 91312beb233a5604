// Camera feature descriptions: fill (DOM parse and walk), dump and clean for the
// largest corpus file (976 KB, 1139 features), with the peak of heap in use during a
// fill. operator new is counted here, which is what Xerces' default memory manager
// and the records use.
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

// Counted allocation: new and delete go to malloc and free here, both of them.
void* operator new(size_t n) {
  void* p = malloc(n ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  note_alloc(p);
  return p;
}
void* operator new[](size_t n) { return operator new(n); }
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  in_use -= malloc_usable_size(p);
  free(p);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, size_t) noexcept { operator delete(p); }
void operator delete[](void* p, size_t) noexcept { operator delete(p); }

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

BENCHMARK(BM_fill)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_dump)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_clean)->Unit(benchmark::kMicrosecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
