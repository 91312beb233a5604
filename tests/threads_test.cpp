// Threads that read every kind of document and write files at once, each with its own
// records and files (what README allows). Run under ThreadSanitizer by
// tests/run.sh --tsan; in the plain build it checks that every thread got what a
// single thread gets.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "event_builder.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "test_support.h"
#include "user_case_trigger.h"
#include "xrq5_gige_descr.h"
#include "xrq5_parser_memory.h"

namespace {

using xrq5_test::read_file;
using xrq5_test::temp_dir;

const std::string examples = std::string(XRQ5_SOURCE_DIR) + "/examples";
const std::string camera =
    std::string(XRQ5_SOURCE_DIR) + "/tests/data/corpus/camera/aravis/arv-fake-camera.xml";

char* name(const std::string& s) { return const_cast<char*>(s.c_str()); }

// One round of every kind: read by file, write by name into `dir`, read back; the
// number of records read, or -1 when a call failed.
long round_of_every_kind(const std::string& dir, int id) {
  long n = 0;
  const std::string tag = dir + "/" + std::to_string(id);
  {
    std::vector<chan_descr_2010*> list, back;
    if (parse_descr_list_readf(name(examples + "/xcd_tag.xml"), &list, false, false) != 0) return -1;
    if (dump_chan_desr(&list, name(tag + ".xcd"), DUMP_XML_FILE, XRQ5_FORMAT, -1, nullptr, nullptr) != 0)
      return -1;
    if (parse_descr_list_readf(name(tag + ".xcd"), &back, false, false) != 0 || back.size() != list.size())
      return -1;
    n += static_cast<long>(back.size());
    clean_chan_desr_list(&list);
    clean_chan_desr_list(&back);
  }
  {
    std::vector<xrq5_ev_entry*> list, back;
    if (xrq5_parse_ev_list_readf(name(examples + "/ev_list.xml"), &list) != 0) return -1;
    if (xrq5_write_ev_list(&list, name(tag + ".ev"), -1, nullptr) != 0) return -1;
    if (xrq5_parse_ev_list_readf(name(tag + ".ev"), &back) != 0 || back.size() != list.size()) return -1;
    n += static_cast<long>(back.size());
    xrq5_clean_ev_list(&list);
    xrq5_clean_ev_list(&back);
  }
  {
    std::vector<xrq5_env_index_dictionary_entry_2010*> list, back;
    if (parse_env_index_dict_readf_2010(name(examples + "/env_dict.xml"), &list) != 0) return -1;
    if (dump_env_index_dict_2010(&list, name(tag + ".env"), ENV_INDX_DUMP_XML_FILE, -1, nullptr) != 0)
      return -1;
    if (parse_env_index_dict_readf_2010(name(tag + ".env"), &back) != 0 || back.size() != list.size())
      return -1;
    n += static_cast<long>(back.size());
    for (auto* e : list) free(e);
    for (auto* e : back) free(e);
  }
  {
    std::vector<xrq5_user_case_trigger*> list, back;
    if (parse_trigger_list_readf(name(examples + "/triggers.xml"), &list)) return -1;
    if (dump_user_trigger_list(&list, name(tag + ".trg"), USER_TRIG_DUMP_XML_FILE, -1, nullptr) != 0)
      return -1;
    if (parse_trigger_list_readf(name(tag + ".trg"), &back) || back.size() != list.size()) return -1;
    n += static_cast<long>(back.size());
    for (auto* t : list) XRQ5_FREE_USER(t);
    for (auto* t : back) XRQ5_FREE_USER(t);
  }
  {
    std::vector<XRQ5GigEFeature*> features;
    if (xrq5_fill_gige_descr(name(camera), &features)) return -1;
    n += static_cast<long>(features.size());
    xrq5_clean_gige_descr(&features);
  }
  {
    std::vector<xrq5_evb_event> events, back;
    if (xrq5_evb_read_file(name(examples + "/events.xrq5ev"), &events, nullptr) != XRQ5_EVB_OK) return -1;
    if (xrq5_evb_write_file(name(tag + ".xrq5ev"), events, nullptr) != XRQ5_EVB_OK) return -1;
    if (xrq5_evb_read_file(name(tag + ".xrq5ev"), &back, nullptr) != XRQ5_EVB_OK) return -1;
    n += static_cast<long>(back.size());
  }
  return n;
}

TEST(threads, read_every_kind_and_write_files_at_once) {
  temp_dir d;
  xrq5_test::capture quiet;  // the writers' progress lines
  const long single = round_of_every_kind(d.path(), 99);
  ASSERT_GT(single, 0);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round)
        if (round_of_every_kind(d.path(), t) != single) ++wrong;
    });
  for (std::thread& th : threads) th.join();
  quiet.stop();
  EXPECT_EQ(wrong.load(), 0);
}

// A parser memory that a thread_local destructor deletes, before or after the end of
// the thread's cache of blocks (as a thread's idle parser is), frees its blocks of
// every size. Under valgrind (tests/run.sh --valgrind) a block kept by a cache that
// has already ended is a definite leak.
struct thread_held_memory {
  ~thread_held_memory() { delete memory; }
  xrq5_parser_memory* memory = nullptr;
};

void hold_blocks_until_the_thread_ends(bool cache_first) {
  static thread_local thread_held_memory held;
  if (cache_first) {
    xrq5_parser_memory m;  // the cache starts first: it ends after the held memory
    m.deallocate(m.allocate(2048));
  }
  held.memory = new xrq5_parser_memory;
  const size_t sizes[] = {1024, 1024, 2048, 8192, 40000, 64};
  size_t total = 0;
  for (size_t n : sizes) {
    memset(held.memory->allocate(n), 0x33, n);
    total += n;
  }
  held.memory->deallocate(held.memory->allocate(4096));  // to the cache until the end
  if (!cache_first) {
    xrq5_parser_memory m;  // the cache starts last: it ends before the held memory
    m.deallocate(m.allocate(2048));
  }
  EXPECT_EQ(held.memory->held(), total);
}

TEST(threads, memory_deleted_as_its_thread_ends_frees_its_blocks) {
  for (bool cache_first : {false, true}) {
    SCOPED_TRACE(cache_first);
    std::thread t(hold_blocks_until_the_thread_ends, cache_first);
    t.join();
  }
}

}  // namespace
