// Scanning a document with the pull parser against a bare Xerces progressive parse
// whose handler does nothing, and the fixed cost of reading one small document.
//
// The scans hold one outer platform initialisation, so that both sides measure the
// parse itself; the small-document read does not, so it pays the platform's full
// initialisation and termination as a DAQ process reading one file would.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "SAX_Memory_Parser.h"
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

struct platform {
  platform() { xercesc::XMLPlatformUtils::Initialize(); }
  ~platform() { xercesc::XMLPlatformUtils::Terminate(); }
};

void BM_pull_scan(benchmark::State& state) {
  platform hold;
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
  platform hold;
  const std::string doc = synthetic_document(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    xercesc::HandlerBase handler;
    xercesc::SAXParser parser;
    parser.setDocumentHandler(&handler);
    parser.setErrorHandler(&handler);
    parser.setValidationScheme(xercesc::SAXParser::Val_Auto);
    xercesc::MemBufInputSource src(reinterpret_cast<const XMLByte*>(doc.data()), doc.size(),
                                   "bench", false);
    src.setCopyBufToStream(false);
    xercesc::XMLPScanToken token;
    bool more = parser.parseFirst(src, token);
    while (more) more = parser.parseNext(token);
  }
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

// Prints, after the usual table, the pull parser's time over the bare scan's per size.
class ratio_reporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && r.iterations > 0)
        times_[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    printf("\npull parser / bare Xerces scan:\n");
    for (const auto& t : times_) {
      const std::string name = t.first;
      if (name.rfind("BM_pull_scan/", 0) != 0) continue;
      const std::string size = name.substr(sizeof "BM_pull_scan/" - 1);
      auto bare = times_.find("BM_bare_xerces_scan/" + size);
      if (bare != times_.end() && bare->second > 0)
        printf("  %7s elements: %.2fx\n", size.c_str(), t.second / bare->second);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  ratio_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
