// Names built to collide under the unkeyed hashes the name indexes used before, held
// against random names of the same length and bytes: the selector's load and queries,
// the merging read of the variable form, the writer's written-name set, and the bare
// name index. With a keyed hash the colliding names must cost no more than twice the
// random ones (CPU time, side by side in one run); the ratios are printed last.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "../tests/colliding_names.h"
#include "bench_support.h"
#include "chan_selector.h"
#include "parse_chan_descr.h"
#include "xrq5_name_index.h"

namespace {

using xrq5_test::unkeyed;

enum names_kind { RANDOM, COLLIDING, COLLIDING_WRITER };

const std::vector<std::string>& names(names_kind k, size_t n) {
  static std::vector<std::string> cache[3];
  std::vector<std::string>& v = cache[k];
  if (v.size() != n) {
    if (k == RANDOM) {
      const size_t len = xrq5_test::colliding_names(1, unkeyed::name_hash)[0].size();
      size_t stages_len = 16;
      for (size_t m = 8; m < n; m *= 8) stages_len += 16;
      v = xrq5_test::random_names(n, len > stages_len ? len : stages_len);
    } else {
      v = xrq5_test::colliding_names(n, k == COLLIDING ? unkeyed::name_hash : unkeyed::writer_key);
    }
  }
  return v;
}

std::string tag_document(const std::vector<std::string>& v) {
  std::string doc = "<CHANDESCRIPTIONS>\n";
  for (size_t i = 0; i < v.size(); ++i)
    doc += "<CHANNEL><PROP>" + v[i] + "</PROP><NAME>" + v[i] + "</NAME><EVTYPE>" +
           std::to_string(1 + i % 6) + "</EVTYPE><DTYPE>38</DTYPE></CHANNEL>\n";
  return doc + "</CHANDESCRIPTIONS>\n";
}

std::string var_document(const std::vector<std::string>& v) {
  std::string doc = "<DAQvariables>\n";
  for (const std::string& name : v)
    doc += "<DaqFloat><evType>1</evType><tarvo>" + name + "</tarvo><daqName>" + name +
           "</daqName><freq>1</freq></DaqFloat>\n";
  return doc + "</DAQvariables>\n";
}

// Load a selector from memory, then ask for the event type of every name.
template <names_kind k>
void BM_select(benchmark::State& state) {
  const std::vector<std::string>& v = names(k, static_cast<size_t>(state.range(0)));
  xerces_platform hold;
  const std::string doc = tag_document(v);
  std::vector<std::string> queries = v;
  quiet_stdout quiet;
  for (auto _ : state) {
    std::string text = doc;
    chan_selector sel;
    sel.change_mode(EXTR_FROM_XML);
    std::vector<char*> src{&text[0]};
    sel.set_descriptions(src, nullptr);
    int sum = 0;
    for (std::string& q : queries) sum += sel.get_event_type(&q[0]);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(v.size()));
}

// The variable form, read with merging of records of one name.
template <names_kind k>
void BM_merge_read(benchmark::State& state) {
  const std::vector<std::string>& v = names(k, static_cast<size_t>(state.range(0)));
  xerces_platform hold;
  const std::string doc = var_document(v);
  quiet_stdout quiet;
  for (auto _ : state) {
    std::string text = doc;
    std::vector<chan_descr_2010*> list;
    if (parse_descr_list_read(&text[0], &list, true, true) != 0) state.SkipWithError("read failed");
    clean_chan_desr_list(&list);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(v.size()));
}

// The tag-form writer, which keeps the first record of each property.
template <names_kind k>
void BM_write(benchmark::State& state) {
  const std::vector<std::string>& v = names(k, static_cast<size_t>(state.range(0)));
  xerces_platform hold;
  std::string doc = tag_document(v);
  std::vector<chan_descr_2010*> list;
  parse_descr_list_read(&doc[0], &list, true, false);
  quiet_stdout quiet;
  for (auto _ : state) {
    std::string out;
    if (dump_chan_desr(&list, nullptr, 0, 0, -1, &out, nullptr) != 0)
      state.SkipWithError("write failed");
    benchmark::DoNotOptimize(out.data());
  }
  clean_chan_desr_list(&list);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(v.size()));
}

// The bare index: every name filed, then found.
template <names_kind k>
void BM_index(benchmark::State& state) {
  const std::vector<std::string>& v = names(k, static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    xrq5_name_index<size_t> index;
    for (size_t i = 0; i < v.size(); ++i) index.insert(v[i].data(), v[i].size(), i);
    size_t sum = 0;
    for (const std::string& n : v) sum += *index.find(n.data(), n.size());
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(v.size()));
}

#define BOTH(bm, crafted)                                                        \
  BENCHMARK_TEMPLATE(bm, RANDOM)->Name(#bm "_random")->Arg(100000)->Unit(        \
      benchmark::kMillisecond);                                                  \
  BENCHMARK_TEMPLATE(bm, crafted)->Name(#bm "_colliding")->Arg(100000)->Unit(    \
      benchmark::kMillisecond)

BOTH(BM_select, COLLIDING);
BOTH(BM_merge_read, COLLIDING);
BOTH(BM_write, COLLIDING_WRITER);
BOTH(BM_index, COLLIDING);

}  // namespace

// The colliding case of each pair against its random one, in CPU time.
int main(int argc, char** argv) {
  keep_freed_memory(argc, argv);
  benchmark::Initialize(&argc, argv);
  ratio_reporter reporter({{"BM_select_colliding", "BM_select_random"},
                           {"BM_merge_read_colliding", "BM_merge_read_random"},
                           {"BM_write_colliding", "BM_write_random"},
                           {"BM_index_colliding", "BM_index_random"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
