// Scanning a document with the pull parser against a bare Xerces progressive parse
// whose handler does nothing, and the fixed cost of reading one small document.
//
// The scans hold one outer platform initialisation, so that both sides measure the
// parse itself; the small-document read does not, so it pays the platform's full
// initialisation and termination as a DAQ process reading one file would.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include <xercesc/util/PlatformUtils.hpp>

#include "SAX_Memory_Parser.h"
#include "bench_support.h"
#include "parse_ev_list.h"

namespace {

// n elements, each with an attribute and a short text, one per line.
std::string synthetic_document(int n) {
  std::string doc = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<ROOT>\n";
  char line[96];
  for (int i = 0; i < n; ++i) {
    snprintf(line, sizeof line, "  <CHAN id=\"%d\">BPM.ARC%d.X</CHAN>\n", i, i % 97);
    doc += line;
  }
  return doc + "</ROOT>\n";
}

void BM_pull_scan(benchmark::State& state) {
  xerces_platform hold;
  std::string doc = synthetic_document(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    SAX_Memory_Parser p(&doc[0]);
    if (!p.init_ok() || p.start()) state.SkipWithError("parser failed");
    char* tag;
    char* value;
    size_t texts = 0;
    while (p.parse(&tag, &value) == 0) texts += value != nullptr;
    benchmark::DoNotOptimize(texts);
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void BM_bare_xerces_scan(benchmark::State& state) {
  xerces_platform hold;
  const std::string doc = synthetic_document(static_cast<int>(state.range(0)));
  for (auto _ : state) bare_xerces_scan(doc);
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

const char small_event_list[] =
    "<?xml version=\"1.0\"?>\n<BMR><EVENT><TYPE>1</TYPE><TMASK>0x1F</TMASK>"
    "<SBLOCK>BPM.ARC1</SBLOCK><CHLIST><CHAN>BPM.ARC1.X</CHAN><CHAN>BPM.ARC1.Y</CHAN></CHLIST>"
    "</EVENT><EVENT><TYPE>4</TYPE></EVENT></BMR>\n";

void BM_small_event_list_read(benchmark::State& state) {
  std::string doc = small_event_list;
  std::vector<xrq5_ev_entry*> list;
  for (auto _ : state) {
    if (xrq5_parse_ev_list_read(&doc[0], &list) != 0) state.SkipWithError("read failed");
    xrq5_clean_ev_list(&list);
  }
}

void BM_platform_init_term(benchmark::State& state) {
  for (auto _ : state) {
    xercesc::XMLPlatformUtils::Initialize();
    xercesc::XMLPlatformUtils::Terminate();
  }
}

BENCHMARK(BM_pull_scan)->RangeMultiplier(10)->Range(1000, 100000)->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_bare_xerces_scan)->RangeMultiplier(10)->Range(1000, 100000)
    ->Complexity(benchmark::oN)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_small_event_list_read)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_platform_init_term)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  ratio_reporter reporter(
      std::vector<std::pair<std::string, std::string>>{{"BM_pull_scan", "BM_bare_xerces_scan"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
