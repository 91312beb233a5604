// The entity-expansion attack documents of tests/data/regress/ read by the file reader
// of their kind: the time of a read, and the peak memory of a process that does
// nothing but that read (the resident high-water mark of a forked child, measured
// after the read; "read_MB" is its growth during the read). Each read fails; the
// target is under a second and 64 MB each.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "user_case_trigger.h"
#include "xrq5_gige_descr.h"

namespace {

// Resident high-water mark of this process, in kB.
long high_water_kb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, 6, "VmHWM:") == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// The file reader of the document's kind (by name prefix); true when the read failed.
bool read_file(const std::string& name, std::string file) {
  char* f = &file[0];
  if (name.compare(0, 7, "ev_list") == 0) {
    std::vector<xrq5_ev_entry*> l;
    const int r = xrq5_parse_ev_list_readf(f, &l);
    xrq5_clean_ev_list(&l);
    return r != 0;
  }
  if (name.compare(0, 4, "xcd_") == 0) {
    std::vector<chan_descr_2010*> l;
    const int r = parse_descr_list_readf(f, &l, true, false);
    clean_chan_desr_list(&l);
    return r != 0;
  }
  if (name.compare(0, 8, "env_dict") == 0) {
    std::vector<xrq5_env_index_dictionary_entry_2010*> l;
    const int r = parse_env_index_dict_readf_2010(f, &l);
    for (auto* e : l) free(e);
    return r != 0;
  }
  if (name.compare(0, 12, "trigger_list") == 0) {
    std::vector<xrq5_user_case_trigger*> l;
    const bool failed = parse_trigger_list_readf(f, &l);
    for (auto* t : l) XRQ5_FREE_USER(t);
    return failed;
  }
  // The camera reader reports on standard output, where the results go.
  fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, STDOUT_FILENO);
  std::vector<XRQ5GigEFeature*> l;
  const bool failed = xrq5_fill_gige_descr(f, &l);
  xrq5_clean_gige_descr(&l);
  fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(null);
  return failed;
}

// Peak resident memory of a child that does only this read, and its growth, in MB.
bool peak_of_read(const std::string& name, const std::string& file, double* peak, double* grew) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    // Restart the high-water mark from what the child holds now.
    if (FILE* f = fopen("/proc/self/clear_refs", "w")) {
      fputs("5", f);
      fclose(f);
    }
    const long before = high_water_kb();
    read_file(name, file);
    long kb[2] = {before, high_water_kb()};
    const bool ok = write(fds[1], kb, sizeof kb) == static_cast<ssize_t>(sizeof kb);
    _exit(ok ? 0 : 1);
  }
  close(fds[1]);
  long kb[2] = {0, 0};
  const bool got = read(fds[0], kb, sizeof kb) == static_cast<ssize_t>(sizeof kb);
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  *peak = kb[1] / 1024.0;
  *grew = (kb[1] - kb[0]) / 1024.0;
  return got;
}

struct peak {
  bool measured;
  double mb, grew_mb;
};

void BM_attack_read(benchmark::State& state, const std::string& name, const std::string& file,
                    peak p) {
  if (!p.measured) state.SkipWithError("no peak from the child");
  for (auto _ : state)
    if (!read_file(name, file)) state.SkipWithError("the attack read cleanly");
  state.counters["peak_MB"] = p.mb;
  state.counters["read_MB"] = p.grew_mb;
}

}  // namespace

int main(int argc, char** argv) {
  // The readers say why they stop, for every iteration: not wanted here.
  if (freopen("/dev/null", "w", stderr) == nullptr) return 1;
  const std::string regress = std::string(XRQ5_SOURCE_DIR) + "/tests/data/regress";
  std::vector<std::filesystem::path> docs;
  for (const auto& e : std::filesystem::recursive_directory_iterator(regress)) {
    const std::string n = e.path().filename().string();
    if (n.find("_laughs_") != std::string::npos || n.find("_quadratic_") != std::string::npos)
      docs.push_back(e.path());
  }
  std::sort(docs.begin(), docs.end(),
            [](const auto& a, const auto& b) { return a.filename() < b.filename(); });
  // Peaks first, from children of a process that has read nothing yet.
  for (const auto& p : docs) {
    const std::string name = p.filename().string();
    peak k{};
    k.measured = peak_of_read(name, p.string(), &k.mb, &k.grew_mb);
    benchmark::RegisterBenchmark(("attack/" + p.stem().string()).c_str(), BM_attack_read, name,
                                 p.string(), k)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
