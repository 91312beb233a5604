#include "strict.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "files.h"
#include "kinds.h"
#include "records.h"
#include "xrq5_check.h"

namespace {

struct run {
  const strict_options& opt;
  nlohmann::json json = nlohmann::json::array();

  void report(const xrq5_finding& f) {
    if (opt.json) {
      json.push_back({{"file", shown_name(f.file)},
                      {"line", f.line},
                      {"column", f.column},
                      {"severity", f.severity()},
                      {"message", f.message},
                      {"code", f.code}});
    } else if (f.line == 0 && f.code != "xml") {
      // A file-level problem that has no place inside the document.
      fprintf(stderr, "xrq5xml check: %s\n", f.message.c_str());
    } else {
      fprintf(stderr, "%s:%d:%d: %s: %s\n", shown_name(f.file).c_str(), f.line, f.column,
              f.severity(), f.message.c_str());
    }
  }
  void summary(bool ok, const std::string& file, const std::string& what) {
    if (opt.json || (opt.quiet && ok)) return;
    printf("%s: %s (%s)\n", shown_name(file).c_str(), ok ? "ok" : "FAILED", what.c_str());
    fflush(stdout);
  }
};

std::string plural(size_t n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

int check_file(run& out, const std::string& file, const xrq5_check_options& options) {
  // Folders, FIFOs and devices are refused here, without blocking on them.
  const std::string why = why_unreadable(file.c_str());
  if (!why.empty()) {
    xrq5_finding f;
    f.file = file;
    f.code = "unreadable";
    f.message = "cannot open '" + shown_name(file) + "': " + why;
    out.report(f);
    return EXIT_UNREADABLE;
  }
  const xrq5_check_result r = xrq5_check_file(file, options);
  for (const xrq5_finding& f : r.findings)
    if (f.code == "xcd") {
      fprintf(stderr, "xrq5xml check: %s\n", f.message.c_str());
      return -EXIT_UNREADABLE;  // no document is read without its descriptions
    }
  for (const xrq5_finding& f : r.findings) out.report(f);
  if (!r.readable) return EXIT_UNREADABLE;
  if (r.kind.empty()) {
    out.summary(false, file, "not well-formed XML");
    return EXIT_PROBLEMS;
  }
  const size_t errors = r.errors(), warnings = r.warnings();
  if (r.kind == "camera feature description") {
    // No schema of ours: what its reader says, as the plain check.
    out.summary(errors == 0, file, r.kind + (errors ? ", result 1" : ""));
    return errors ? EXIT_PROBLEMS : EXIT_CLEAN;
  }
  const bool failed = errors > 0 || (out.opt.werror && warnings > 0);
  std::string counts;
  if (errors > 0) counts = ", " + plural(errors, "error");
  if (warnings > 0) counts += ", " + plural(warnings, "warning");
  out.summary(!failed, file, r.kind + counts);
  return failed ? EXIT_PROBLEMS : EXIT_CLEAN;
}

}  // namespace

int strict_check_command(const strict_options& opt) {
  // The descriptions given are checked once, before any document.
  for (const std::string& x : opt.xcd) {
    const std::string why = why_unreadable(x.c_str());
    if (!why.empty()) {
      fprintf(stderr, "xrq5xml check: cannot open '%s': %s\n", x.c_str(), why.c_str());
      return EXIT_UNREADABLE;
    }
  }
  xrq5_check_options options;
  options.classic = classic_layout();
  options.xcd = opt.xcd;
  run out{opt};
  int status = EXIT_CLEAN;
  for (const std::string& file : opt.files) {
    const int s = check_file(out, file, options);
    if (s < 0) return -s;
    if (s > status) status = s;
  }
  if (opt.json) printf("%s\n", json_text(out.json, 2).c_str());
  return status;
}
