// The library loaded at run time, read with from several threads, and unloaded: each
// thread keeps a parser for its next read, and neither a thread's end, the unload nor
// the exit may touch a parser or a platform that is gone. Not linked with the library.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "parse_ev_list.h"

namespace {

using read_fn = decltype(&xrq5_parse_ev_list_read);
using clean_fn = decltype(&xrq5_clean_ev_list);

// Two events; false when the read fails or finds another count.
bool read_events(read_fn read, clean_fn clean) {
  std::string doc =
      "<?xml version=\"1.0\"?>\n<BMR><EVENT><TYPE>1</TYPE><TMASK>0x1F</TMASK>"
      "<SBLOCK>BPM.ARC1</SBLOCK><CHLIST><CHAN>BPM.ARC1.X</CHAN></CHLIST></EVENT>"
      "<EVENT><TYPE>4</TYPE></EVENT></BMR>\n";
  std::vector<xrq5_ev_entry*> list;
  const bool ok = read(&doc[0], &list) == 0 && list.size() == 2;
  clean(&list);
  return ok;
}

[[noreturn]] void load_read_unload(bool read_in_main) {
  for (int round = 0; round < 2; ++round) {
    void* lib = dlopen(XRQ5_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) std::_Exit(2);
    auto read = reinterpret_cast<read_fn>(
        dlsym(lib, "_Z23xrq5_parse_ev_list_readPcPSt6vectorIP13xrq5_ev_entrySaIS2_EE"));
    auto clean = reinterpret_cast<clean_fn>(
        dlsym(lib, "_Z18xrq5_clean_ev_listPSt6vectorIP13xrq5_ev_entrySaIS1_EE"));
    if (read == nullptr || clean == nullptr) std::_Exit(3);
    // One thread after another: parser construction counts platform references,
    // which Xerces does not do atomically.
    std::atomic<bool> ok{true};
    for (int t = 0; t < 2; ++t)
      std::thread([&] {
        for (int i = 0; i < 3; ++i) ok = ok && read_events(read, clean);
      }).join();
    if (!ok) std::_Exit(4);
    if (read_in_main && !read_events(read, clean)) std::_Exit(5);
    if (dlclose(lib) != 0) std::_Exit(6);
  }
  exit(0);
}

}  // namespace

TEST(sax_parsers_unload, library_unloads_after_reads_in_threads_and_exits_cleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(load_read_unload(false), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(load_read_unload(true), ::testing::ExitedWithCode(0), "");
}
