// Scanning a document with the pull parser against a bare Xerces progressive parse
// whose handler does nothing, and the fixed cost of reading one small document.
//
// The scans hold one outer platform initialisation, so that both sides measure the
// parse itself. The small-document read is measured twice beside expat on the same
// text: with nothing held by the caller (the library keeps its own reference to the
// platform, so only the first read pays its set-up) and with the platform held.
#include <benchmark/benchmark.h>

#include <expat.h>

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

// n elements, each with 4 KB of text split by character references, which Xerces hands
// over in many pieces that the handler joins.
std::string long_text_document(int n) {
  std::string doc = "<?xml version=\"1.0\"?>\n<ROOT>\n";
  std::string text;
  for (int k = 0; text.size() < 4096; ++k)
    text += "BPM.ARC" + std::to_string(k % 10) + ".X readings of the orbit&#38;";
  for (int i = 0; i < n; ++i) doc += "  <TEXT>" + text + "</TEXT>\n";
  return doc + "</ROOT>\n";
}

std::string document_for(const benchmark::State& state, bool long_text) {
  const int n = static_cast<int>(state.range(0));
  return long_text ? long_text_document(n / 100) : synthetic_document(n);
}

template <bool long_text>
void BM_pull_scan(benchmark::State& state) {
  xerces_platform hold;
  std::string doc = document_for(state, long_text);
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

template <bool long_text>
void BM_bare_xerces_scan(benchmark::State& state) {
  xerces_platform hold;
  const std::string doc = document_for(state, long_text);
  for (auto _ : state) bare_xerces_scan(doc);
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

const char small_event_list[] =
    "<?xml version=\"1.0\"?>\n<BMR><EVENT><TYPE>1</TYPE><TMASK>0x1F</TMASK>"
    "<SBLOCK>BPM.ARC1</SBLOCK><CHLIST><CHAN>BPM.ARC1.X</CHAN><CHAN>BPM.ARC1.Y</CHAN></CHLIST>"
    "</EVENT><EVENT><TYPE>4</TYPE></EVENT></BMR>\n";

// Nothing held by the caller: only the library's own reference to the platform.
void BM_small_event_list_read(benchmark::State& state) {
  std::string doc = small_event_list;
  std::vector<xrq5_ev_entry*> list;
  for (auto _ : state) {
    if (xrq5_parse_ev_list_read(&doc[0], &list) != 0) state.SkipWithError("read failed");
    xrq5_clean_ev_list(&list);
  }
}

void BM_small_event_list_read_held(benchmark::State& state) {
  xerces_platform hold;
  BM_small_event_list_read(state);
}

// The floor: expat over the same text, with handlers that look at every element and
// every piece of text as a reader would.
struct expat_counts {
  size_t elements = 0;
  size_t text = 0;
};

void BM_expat_small_read(benchmark::State& state) {
  const std::string doc = small_event_list;
  for (auto _ : state) {
    expat_counts counts;
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetUserData(p, &counts);
    XML_SetElementHandler(
        p,
        [](void* data, const XML_Char*, const XML_Char**) {
          ++static_cast<expat_counts*>(data)->elements;
        },
        [](void*, const XML_Char*) {});
    XML_SetCharacterDataHandler(p, [](void* data, const XML_Char*, int len) {
      static_cast<expat_counts*>(data)->text += static_cast<size_t>(len);
    });
    if (XML_Parse(p, doc.data(), static_cast<int>(doc.size()), 1) != XML_STATUS_OK)
      state.SkipWithError("expat failed");
    XML_ParserFree(p);
    benchmark::DoNotOptimize(counts);
  }
}

void BM_platform_init_term(benchmark::State& state) {
  for (auto _ : state) {
    xercesc::XMLPlatformUtils::Initialize();
    xercesc::XMLPlatformUtils::Terminate();
  }
}

BENCHMARK_TEMPLATE(BM_pull_scan, false)->Name("BM_pull_scan")->RangeMultiplier(10)
    ->Range(1000, 100000)->Complexity(benchmark::oN)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_bare_xerces_scan, false)->Name("BM_bare_xerces_scan")->RangeMultiplier(10)
    ->Range(1000, 100000)->Complexity(benchmark::oN)->Unit(benchmark::kMicrosecond);
// Long texts (n / 100 elements of 4 KB): the handler's joining of character data.
BENCHMARK_TEMPLATE(BM_pull_scan, true)->Name("BM_pull_scan_long_text")->RangeMultiplier(10)
    ->Range(1000, 100000)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_bare_xerces_scan, true)->Name("BM_bare_scan_long_text")
    ->RangeMultiplier(10)->Range(1000, 100000)->Unit(benchmark::kMicrosecond);
// One size (1): the ratio reporter pairs benchmarks by their sizes.
BENCHMARK(BM_small_event_list_read)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_small_event_list_read_held)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_expat_small_read)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_platform_init_term)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  ratio_reporter reporter(
      std::vector<std::pair<std::string, std::string>>{
          {"BM_pull_scan", "BM_bare_xerces_scan"},
          {"BM_pull_scan_long_text", "BM_bare_scan_long_text"},
          {"BM_small_event_list_read", "BM_expat_small_read"},
          {"BM_small_event_list_read_held", "BM_expat_small_read"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
