// What the benchmarks share: the bare Xerces progressive scan that readers are held
// against, and a reporter that prints their ratios.
#ifndef XRQ5_BENCH_SUPPORT_H
#define XRQ5_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "xrq5_parser_factory.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Standard output goes to /dev/null while one lives (the libraries print listings and
// value lines that would drown the report).
struct quiet_stdout {
  quiet_stdout() {
    fflush(stdout);
    saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
  }
  ~quiet_stdout() {
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
  }
  quiet_stdout(const quiet_stdout&) = delete;
  quiet_stdout& operator=(const quiet_stdout&) = delete;
  int saved;
};

// Keeps freed memory in the process unless --first-touch is among the arguments:
// glibc would otherwise hand large freed blocks back to the kernel and fault them in
// again in the next timed iteration, which measures the kernel, not the code.
inline void keep_freed_memory(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "--first-touch") return;
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
}

// Holds one platform initialisation for the length of a benchmark, so that parsers
// made inside it do not pay the platform's start-up each time.
struct xerces_platform {
  xerces_platform() { xercesc::XMLPlatformUtils::Initialize(); }
  ~xerces_platform() { xercesc::XMLPlatformUtils::Terminate(); }
};

// A bare progressive parse with the pull parsers' settings and a handler that does
// nothing: of a document in memory (not copied), or of a file when `file` is set.
// The parser comes from the project's factory, with the same bounds as the readers'.
inline void bare_xerces_scan(const std::string& doc, const char* file = nullptr) {
  xercesc::HandlerBase handler;
  xrq5_parser_memory memory;  // outlives the parser
  std::unique_ptr<xercesc::SAXParser> p(xrq5_make_parser<xercesc::SAXParser>(
      &memory, file ? xrq5_file_size(file) : doc.size()));
  xercesc::SAXParser& parser = *p;
  parser.setDocumentHandler(&handler);
  parser.setErrorHandler(&handler);
  parser.setValidationScheme(xercesc::SAXParser::Val_Auto);
  parser.setDoNamespaces(false);
  parser.setDoSchema(false);
  xercesc::MemBufInputSource src(reinterpret_cast<const XMLByte*>(doc.data()), doc.size(),
                                 "bench", false);
  src.setCopyBufToStream(false);
  xercesc::XMLPScanToken token;
  bool more = file ? parser.parseFirst(file, token) : parser.parseFirst(src, token);
  while (more) more = parser.parseNext(token);
}

// After the usual table: the time of one benchmark over another's at each size, the
// time per item, and the spread of that time across sizes.
class ratio_reporter : public benchmark::ConsoleReporter {
 public:
  // Each pair: (benchmark, baseline), both run over the same sizes. The time per item
  // is the time of an iteration over its n items, or of one iteration when
  // `per_iteration` (one query per iteration, n the size of what it queries).
  explicit ratio_reporter(std::vector<std::pair<std::string, std::string>> pairs,
                          bool per_iteration = false)
      : pairs_(std::move(pairs)), per_iteration_(per_iteration) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration || r.iterations == 0 || r.error_occurred) continue;
      const std::string name = r.benchmark_name();
      const size_t slash = name.find('/');
      if (slash == std::string::npos) continue;
      const std::string base = name.substr(0, slash);
      const long n = std::stol(name.substr(slash + 1));
      // CPU time: the ratios of two benchmarks run in one process stay meaningful on
      // a loaded machine, where wall-clock time is mostly other processes' time.
      times_[base][n] = r.GetAdjustedCPUTime();
      units_[base] = benchmark::GetTimeUnitString(r.time_unit);
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    printf("\n%-34s %10s %12s %10s\n", "benchmark / baseline", "n", "ns per item", "ratio");
    for (const auto& p : pairs_) {
      const auto a = times_.find(p.first), b = times_.find(p.second);
      if (a == times_.end()) continue;
      double lo = 0, hi = 0;
      for (const auto& t : a->second) {
        const double per_item =
            to_ns(t.second, units_[p.first]) / (per_iteration_ ? 1.0 : static_cast<double>(t.first));
        lo = lo == 0 ? per_item : std::min(lo, per_item);
        hi = std::max(hi, per_item);
        const std::string label = p.second.empty() ? p.first : p.first + " / " + p.second;
        if (b != times_.end() && b->second.count(t.first) && b->second.at(t.first) > 0) {
          const double ratio =
              to_ns(t.second, units_[p.first]) / to_ns(b->second.at(t.first), units_[p.second]);
          printf("%-34s %10ld %12.1f %9.2fx\n", label.substr(0, 34).c_str(), t.first, per_item,
                 ratio);
        } else {  // no baseline: only the time per item
          printf("%-34s %10ld %12.1f %10s\n", label.substr(0, 34).c_str(), t.first, per_item, "-");
        }
      }
      if (lo > 0) printf("%-34s %10s %12s %9.2fx spread of ns per item\n", p.first.c_str(), "", "", hi / lo);
    }
  }

 private:
  static double to_ns(double t, const std::string& unit) {
    if (unit == "s") return t * 1e9;
    if (unit == "ms") return t * 1e6;
    if (unit == "us") return t * 1e3;
    return t;
  }

  std::vector<std::pair<std::string, std::string>> pairs_;
  bool per_iteration_;
  std::map<std::string, std::map<long, double>> times_;
  std::map<std::string, std::string> units_;
};

#endif  // XRQ5_BENCH_SUPPORT_H
