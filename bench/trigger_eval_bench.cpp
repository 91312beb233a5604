// Trigger evaluation: MEAN, STD, MIN, MAX and SUM over spectra of 10^3 to 10^6 samples
// through xrq5_is_trigger_on, each beside a plain loop computing the same statistic
// over the same samples; and the cost of one evaluation on a slow channel (update
// record, environment record through the dictionary) and on a name/value channel.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "event_builder.h"
#include "user_case_trigger.h"

namespace {

enum { MIN = 0, MAX = 1, MEAN = 2, STD = 4, SUM = 5, VALUE = 6, TRUE_OP = 10, GT = 0 };

std::vector<float> samples(size_t n) {
  std::vector<float> v(n);
  unsigned int seed = 12345;
  for (float& x : v) {
    seed = seed * 1103515245u + 12345u;
    x = static_cast<float>((seed >> 8) % 10000) * 0.01f;
  }
  return v;
}

xrq5_user_case_trigger* trigger(const char* channel, int function) {
  auto* t = static_cast<xrq5_user_case_trigger*>(calloc(1, sizeof(xrq5_user_case_trigger)));
  strncpy(t->channel, channel, sizeof t->channel - 1);
  t->function = function;
  t->operation = GT;
  t->fparam[0] = 0.0f;
  t->fparam[1] = -1.0f;  // to the end
  t->fparam[2] = 1.0f;
  t->upper = 1e30f;
  return t;
}

template <int function>
void BM_eval(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::vector<char> block;
  xrq5_evb_add_spectrum(block, "SPECT", XRQ5_BLOCK_TOROID_2010, {{0.0f, 1.0f, samples(n)}});
  auto* data = reinterpret_cast<xrq5_serv_block_subhead_2010*>(block.data());
  xrq5_user_case_trigger* t = trigger("SPECT", function);
  {
    quiet_stdout quiet;
    for (auto _ : state) benchmark::DoNotOptimize(xrq5_is_trigger_on(data, t));
  }
  XRQ5_FREE_USER(t);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}

// The same statistics written as plain loops: double accumulators, float extremes.
template <int function>
void BM_loop(benchmark::State& state) {
  const std::vector<float> x = samples(static_cast<size_t>(state.range(0)));
  const size_t n = x.size();
  for (auto _ : state) {
    float r = 0;
    if (function == MIN || function == MAX) {
      float e = x[0];
      for (size_t i = 1; i < n; ++i)
        if (function == MIN ? x[i] < e : x[i] > e) e = x[i];
      r = e;
    } else if (function == STD) {
      double s = 0;
      for (size_t i = 0; i < n; ++i) s += x[i];
      const double m = s / n;
      double d = 0;
      for (size_t i = 0; i < n; ++i) d += (x[i] - m) * (x[i] - m);
      r = static_cast<float>(std::sqrt(d / n));
    } else {
      double s = 0;
      for (size_t i = 0; i < n; ++i) s += x[i];
      r = function == SUM ? static_cast<float>(s) : static_cast<float>(s) / n;
    }
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}

#define STAT_BENCH(name, f)                                                                \
  BENCHMARK_TEMPLATE(BM_eval, f)->Name("BM_eval_" name)->RangeMultiplier(10)->Range(1000, 1000000); \
  BENCHMARK_TEMPLATE(BM_loop, f)->Name("BM_loop_" name)->RangeMultiplier(10)->Range(1000, 1000000)

STAT_BENCH("mean", MEAN);
STAT_BENCH("std", STD);
STAT_BENCH("min", MIN);
STAT_BENCH("max", MAX);
STAT_BENCH("sum", SUM);

// One evaluation on a slow channel whose value is the k-th of 64 update records.
void BM_eval_slow_update(benchmark::State& state) {
  std::vector<xrq5_upd_data_block_2010> recs;
  for (int i = 0; i < 64; ++i)
    recs.push_back(xrq5_evb_update(("VAC.PUMP." + std::to_string(i)).c_str(), 1e-9f * i));
  std::vector<char> block;
  xrq5_evb_add_updates(block, "UPD", XRQ5_UPD_BLOCK_2010, recs);
  xrq5_user_case_trigger* t = trigger("VAC.PUMP.32", MEAN);
  auto* data = reinterpret_cast<xrq5_serv_block_subhead_2010*>(block.data());
  for (auto _ : state) benchmark::DoNotOptimize(xrq5_is_trigger_on(data, t));
  XRQ5_FREE_USER(t);
}

// One evaluation on an environment channel in the middle of a 256-entry dictionary.
void BM_eval_slow_env(benchmark::State& state) {
  std::vector<xrq5_evb_dict_entry> entries;
  std::vector<xrq5_env_data_block_2010> recs;
  for (int i = 0; i < 256; ++i) {
    entries.push_back({i, "TEMP.SENSOR." + std::to_string(i)});
    recs.push_back(xrq5_evb_env(i, 20.0f + i));
  }
  std::vector<char> dict, block;
  xrq5_evb_add_env_dict(dict, entries);
  xrq5_evb_add_envs(block, "ENV", XRQ5_ENV_BLOCK_2010, recs);
  xrq5_user_trigger_set_ext_env_dictionary(dict.data());
  xrq5_user_case_trigger* t = trigger("TEMP.SENSOR.128", MEAN);
  auto* data = reinterpret_cast<xrq5_serv_block_subhead_2010*>(block.data());
  for (auto _ : state) benchmark::DoNotOptimize(xrq5_is_trigger_on(data, t));
  XRQ5_FREE_USER(t);
  xrq5_user_trigger_set_ext_env_dictionary(nullptr);
}

void BM_eval_name_value(benchmark::State& state) {
  std::vector<char> block;
  xrq5_evb_add_namval(block, "BPM", XRQ5_BLOCK_3CHAN_2010, {0.1f, -0.2f, 0.5f});
  xrq5_user_case_trigger* t = trigger("BPM", VALUE);
  t->subchannel = 2;
  auto* data = reinterpret_cast<xrq5_serv_block_subhead_2010*>(block.data());
  for (auto _ : state) benchmark::DoNotOptimize(xrq5_is_trigger_on(data, t));
  XRQ5_FREE_USER(t);
}

// A whole list on one event of n name/value blocks, one trigger per block: the time
// per trigger should not grow with n (the blocks are found by name, not by a walk).
void BM_eval_list(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<char> data;
  std::vector<xrq5_user_case_trigger*> list;
  for (int i = 0; i < n; ++i) {
    const std::string name = "LINAC/BPM/" + std::to_string(i) + "/X";
    xrq5_evb_add_namval(data, name.c_str(), XRQ5_BLOCK_1CHAN_2010, {0.1f * i});
    list.push_back(trigger(name.c_str(), VALUE));
  }
  std::vector<xrq5_serv_block_subhead_2010*> blocks;
  size_t off = 0;
  while (xrq5_serv_block_subhead_2010* b = xrq5_evb_next_block(data.data(), data.size(), &off))
    blocks.push_back(b);
  std::vector<xrq5_trigger_outcome> out;
  for (auto _ : state)
    benchmark::DoNotOptimize(xrq5_eval_trigger_list(&list, &blocks, nullptr, &out));
  state.SetComplexityN(n);
  state.SetItemsProcessed(state.iterations() * n);
  for (xrq5_user_case_trigger* t : list) XRQ5_FREE_USER(t);
}

BENCHMARK(BM_eval_list)->RangeMultiplier(10)->Range(10, 10000)->Complexity(benchmark::oN);
BENCHMARK(BM_eval_slow_update);
BENCHMARK(BM_eval_slow_env);
BENCHMARK(BM_eval_name_value);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  ratio_reporter reporter({{"BM_eval_mean", "BM_loop_mean"},
                           {"BM_eval_std", "BM_loop_std"},
                           {"BM_eval_min", "BM_loop_min"},
                           {"BM_eval_max", "BM_loop_max"},
                           {"BM_eval_sum", "BM_loop_sum"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
