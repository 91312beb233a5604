// A recorded-event file of 10^5 events evaluated three ways, CPU time each:
//   BM_tool_eval    xrq5xml eval --summary, a child process (its CPU time from wait4);
//   BM_eval_loop    a bare loop here that streams the file with xrq5_evb_reader and
//                   calls xrq5_eval_trigger_list per event;
//   BM_stream_only  the same loop without the evaluation.
// The reporter prints tool / loop (target: at most 1.2) and loop / stream.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "event_builder.h"
#include "user_case_trigger.h"

extern char** environ;

namespace {

const int n_events = 100000;

const char triggers_xml[] =
    "<?xml version=\"1.0\"?>\n<XRQ5USERTRIGGERLIST>\n"
    "<USERTRIGGER><Chan name=\"TOROID\" subchan=\"0\"/><Function name=\"MEAN\" start=\"0\" "
    "end=\"-1\" incr=\"1\"/><Operation name=\"GT\"/><UpperLimit value=\"50\"/></USERTRIGGER>\n"
    "<USERTRIGGER><Chan name=\"TOROID\" subchan=\"0\"/><Function name=\"DIFFMEAN\" start=\"0\" "
    "end=\"-1\"/><Operation name=\"GT\"/><UpperLimit value=\"5\"/></USERTRIGGER>\n"
    "<USERTRIGGER><Chan name=\"BPM.3\" subchan=\"1\"/><Function name=\"VALUE\"/>"
    "<Operation name=\"OUTSIDE\"/><LowLimit value=\"-1\"/><UpperLimit value=\"1\"/></USERTRIGGER>\n"
    "<USERTRIGGER><Chan name=\"BPM.7\" subchan=\"0\"/><Function name=\"VALUE\"/>"
    "<Operation name=\"GT\"/><UpperLimit value=\"0.5\"/></USERTRIGGER>\n"
    "<USERTRIGGER><Chan name=\"ABSENT\" subchan=\"0\"/><Function name=\"VALUE\"/>"
    "<Operation name=\"GT\"/><UpperLimit value=\"0\"/></USERTRIGGER>\n"
    "</XRQ5USERTRIGGERLIST>\n";

struct archive_files {
  std::string dir, events, triggers;
  archive_files() {
    char tmpl[] = "/tmp/xrq5-archive-bench-XXXXXX";
    dir = mkdtemp(tmpl);
    events = dir + "/season.xrq5ev";
    triggers = dir + "/triggers.xml";
    FILE* t = fopen(triggers.c_str(), "w");
    fputs(triggers_xml, t);
    fclose(t);
    // Every event: a 64-sample spectrum and 8 name/value blocks of 3 values.
    std::vector<xrq5_evb_event> events_v(n_events);
    unsigned int seed = 7;
    auto next = [&seed] {
      seed = seed * 1103515245u + 12345u;
      return static_cast<float>((seed >> 8) % 1000) * 0.1f;
    };
    for (int e = 0; e < n_events; ++e) {
      xrq5_evb_event& ev = events_v[static_cast<size_t>(e)];
      ev.ev_number = static_cast<unsigned int>(e);
      ev.time = time_stamp{static_cast<unsigned int>(1800000000 + e / 10), 0};
      std::vector<float> spectrum(64);
      for (float& s : spectrum) s = next();
      xrq5_evb_add_spectrum(ev.blocks, "TOROID", XRQ5_BLOCK_TOROID_2010, {{0.0f, 1.0f, spectrum}});
      for (int b = 0; b < 8; ++b)
        xrq5_evb_add_namval(ev.blocks, ("BPM." + std::to_string(b)).c_str(),
                            XRQ5_BLOCK_3CHAN_2010, {next() / 100, next() / 100, next() / 100});
    }
    std::string error;
    if (xrq5_evb_write_file(events.c_str(), events_v, &error) != XRQ5_EVB_OK) {
      fprintf(stderr, "archive_bench: %s\n", error.c_str());
      exit(1);
    }
  }
  ~archive_files() {
    unlink(events.c_str());
    unlink(triggers.c_str());
    rmdir(dir.c_str());
  }
};

const archive_files& files() {
  static archive_files f;
  return f;
}

double cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// The tool's CPU time (user and system) for one eval of the file, summary only.
double tool_eval_seconds() {
  const archive_files& f = files();
  std::vector<std::string> args = {XRQ5_TOOL, "eval", "--summary", f.triggers, f.events};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  if (posix_spawn(&pid, XRQ5_TOOL, &actions, nullptr, argv.data(), environ) != 0) return -1;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The bare loop: stream, walk the blocks, evaluate every trigger; with `evaluate`
// false only the stream and the walk.
double loop_seconds(bool evaluate, long* fired) {
  const archive_files& f = files();
  xrq5_trigger_list triggers;
  const double start = cpu_seconds();
  if (evaluate) triggers.readf(const_cast<char*>(f.triggers.c_str()));
  xrq5_evb_reader reader;
  reader.open(f.events.c_str());
  xrq5_evb_event ev;
  std::vector<xrq5_serv_block_subhead_2010*> blocks;
  std::vector<xrq5_trigger_outcome> out;
  long n = 0;
  while (reader.next(&ev)) {
    blocks.clear();
    size_t off = 0;
    while (xrq5_serv_block_subhead_2010* b =
               xrq5_evb_next_block(ev.blocks.data(), ev.blocks.size(), &off))
      blocks.push_back(b);
    if (evaluate)
      n += xrq5_eval_trigger_list(triggers.get(), &blocks, nullptr, &out);
    else
      n += static_cast<long>(blocks.size());
  }
  *fired = n;
  return cpu_seconds() - start;
}

std::map<std::string, double> best;

void keep(const std::string& name, double s) {
  auto it = best.find(name);
  if (it == best.end() || s < it->second) best[name] = s;
}

void BM_tool_eval(benchmark::State& state) {
  files();
  for (auto _ : state) {
    const double s = tool_eval_seconds();
    if (s < 0) {
      state.SkipWithError("the tool failed");
      return;
    }
    state.SetIterationTime(s);
    keep("tool", s);
  }
  state.SetItemsProcessed(state.iterations() * n_events);
}

void BM_eval_loop(benchmark::State& state) {
  files();
  long fired = 0;
  for (auto _ : state) {
    quiet_stdout quiet;  // what the functions print
    const double s = loop_seconds(true, &fired);
    state.SetIterationTime(s);
    keep("loop", s);
  }
  state.counters["fired"] = static_cast<double>(fired);
  state.SetItemsProcessed(state.iterations() * n_events);
}

void BM_stream_only(benchmark::State& state) {
  files();
  long blocks = 0;
  for (auto _ : state) {
    const double s = loop_seconds(false, &blocks);
    state.SetIterationTime(s);
    keep("stream", s);
  }
  state.counters["blocks"] = static_cast<double>(blocks);
  state.SetItemsProcessed(state.iterations() * n_events);
}

BENCHMARK(BM_tool_eval)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_eval_loop)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_stream_only)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // Best of the runs of each: the least disturbed by other work on the machine.
  if (best.count("tool") && best.count("loop"))
    printf("archive: eval --summary / bare eval loop = %.2fx (target <= 1.2x): %.1f ms / %.1f ms "
           "CPU for %d events\n",
           best["tool"] / best["loop"], best["tool"] * 1e3, best["loop"] * 1e3, n_events);
  if (best.count("loop") && best.count("stream"))
    printf("archive: bare eval loop / stream alone = %.2fx: %.1f ms / %.1f ms CPU\n",
           best["loop"] / best["stream"], best["loop"] * 1e3, best["stream"] * 1e3);
  return 0;
}
