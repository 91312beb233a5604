// The bounds that every parser of the project gets, and the attack documents of
// tests/data/regress/ through every reader of their kind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "SAX_Memory_Parser.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "test_support.h"
#include "user_case_trigger.h"
#include "xrq5_gige_descr.h"
#include "xrq5_gige_source.h"
#include "xrq5_parser_factory.h"

namespace {

using xrq5_test::capture;

// Reads `doc` to its end with the memory parser: the last result of parse (-1 when
// the document ended cleanly) and whether an exception ended the read.
struct scan_result {
  int last;
  bool threw;
};

scan_result scan(std::string doc) {
  SAX_Memory_Parser p(&doc[0]);
  if (!p.init_ok() || p.start()) return {-2, false};
  try {
    int r;
    while ((r = p.parse(nullptr, nullptr)) == 0) {
    }
    return {r, false};
  } catch (...) {
    return {0, true};
  }
}

std::string with_entity(const std::string& entity, const std::string& body) {
  return "<?xml version=\"1.0\"?>\n<!DOCTYPE R [<!ELEMENT R ANY><!ATTLIST R a CDATA #IMPLIED>"
         "<!ENTITY e \"" + entity + "\">]>\n" + body;
}

std::string repeat(const std::string& s, size_t n) {
  std::string r;
  r.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) r += s;
  return r;
}

TEST(parser_bounds, grow_with_the_document_above_their_floors) {
  const xrq5_parse_bounds none = xrq5_bounds_for(0);
  const xrq5_parse_bounds small = xrq5_bounds_for(640);
  EXPECT_EQ(small.memory, none.memory);
  EXPECT_EQ(small.characters, none.characters);
  EXPECT_GE(none.characters, size_t(1) << 20) << "a floor that real documents do not reach";
  const size_t big = size_t(64) << 20;
  const xrq5_parse_bounds large = xrq5_bounds_for(big);
  EXPECT_GT(large.characters, 2 * big) << "a document without DOCTYPE stays far below";
  EXPECT_GT(large.memory, none.memory);
  const xrq5_parse_bounds huge = xrq5_bounds_for(static_cast<size_t>(-1) / 2);
  EXPECT_EQ(huge.memory, static_cast<size_t>(-1)) << "saturates instead of wrapping";
  EXPECT_EQ(huge.characters, static_cast<size_t>(-1));
}

// Documents that deliver about as much as they hold read as before, also with a few
// entities; past the bound the read stops with a message that says why.
TEST(parser_factory, bounds_expansion_not_documents) {
  const xrq5_parse_bounds b = xrq5_bounds_for(0);
  // Text near the document's size, with references that all shrink.
  const std::string plain = "<R a=\"" + repeat("x&amp;&#65;", 20000) + "\">" +
                            repeat("<e>t&lt;&#x42;</e>\n", 50000) + "</R>";
  // Expanded text of some megabytes, but below the floor.
  const std::string kilo(1000, 'k');
  const size_t below = b.characters / 2 / kilo.size();
  const size_t past = b.characters / kilo.size() + 10;
  const std::string modest = with_entity(kilo, "<R>" + repeat("&e;", below) + "</R>");
  const std::string past_text = with_entity(kilo, "<R>" + repeat("&e;", past) + "</R>");
  const std::string past_attr = with_entity(kilo, "<R a=\"" + repeat("&e;", past) + "\"/>");
  struct {
    const char* name;
    const std::string& doc;
    bool stops;
    const char* message;
  } cases[] = {
      {"plain", plain, false, ""},
      {"modest", modest, false, ""},
      {"past_text", past_text, true, "entity expansion: a document of"},
      {"past_attr", past_attr, true, "expands to more than"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    capture cap;
    const scan_result r = scan(c.doc);
    cap.stop();
    EXPECT_EQ(r.threw, c.stops);
    if (c.stops) {
      EXPECT_NE(cap.err().find(c.message), std::string::npos) << cap.err();
    } else {
      EXPECT_EQ(r.last, -1) << cap.err();
      EXPECT_EQ(cap.err(), "");
    }
  }
}

TEST(parser_memory, budget_stops_allocation_and_says_so_once) {
  xercesc::XMLPlatformUtils::Initialize();
  {
    xrq5_parser_memory m;
    m.set_budget(1000);
    void* a = m.allocate(600);
    capture cap;
    EXPECT_THROW(m.allocate(600), xercesc::OutOfMemoryException);
    EXPECT_THROW(m.allocate(static_cast<XMLSize_t>(-1) / 2), xercesc::OutOfMemoryException);
    cap.stop();
    EXPECT_NE(cap.err().find("more than 1000 bytes"), std::string::npos);
    EXPECT_EQ(cap.err().find("bytes", cap.err().find("bytes") + 1), std::string::npos)
        << "one message per budget: " << cap.err();
    m.deallocate(a);
    EXPECT_EQ(m.held(), 0u);
    void* b = m.allocate(900);  // what was given back counts no more
    EXPECT_EQ(m.held(), 900u);
    m.deallocate(b);
  }
  xercesc::XMLPlatformUtils::Terminate();
}

// A large block given back serves the next request of its size (Xerces makes and drops
// a reader of some 100 KB per entity reference); the accounting and the final release
// stay whole (the sanitizer and valgrind runs see a leak or a double free).
TEST(parser_memory, reuses_the_last_large_block) {
  xercesc::XMLPlatformUtils::Initialize();
  {
    xrq5_parser_memory m;
    const size_t big = 100 * 1024;
    void* a = m.allocate(big);
    memset(a, 1, big);
    m.deallocate(a);
    EXPECT_EQ(m.held(), 0u);
    void* b = m.allocate(big);
    EXPECT_EQ(b, a);
    EXPECT_EQ(m.held(), big);
    void* c = m.allocate(big);  // the spare is in use: a block of its own
    EXPECT_NE(c, b);
    void* d = m.allocate(big + 16);
    m.deallocate(b);
    m.deallocate(d);  // replaces b as the spare, which is freed
    void* e = m.allocate(big + 16);
    EXPECT_EQ(e, d);
    EXPECT_EQ(m.held(), 2 * big + 16);
    void* small = m.allocate(64);
    m.deallocate(small);
    EXPECT_EQ(m.held(), 2 * big + 16);
    m.deallocate(c);  // the destructor frees e and the spare c
  }
  xercesc::XMLPlatformUtils::Terminate();
}

// Small blocks given back serve the manager's next requests of their size class: a
// block taken again holds the larger request of its class whole, the accounting
// follows the requests, and the kept blocks are bounded (the rest go to the heap; the
// sanitizer and valgrind runs see a leak or a double free).
TEST(parser_memory, reuses_small_blocks_within_their_class) {
  xercesc::XMLPlatformUtils::Initialize();
  {
    xrq5_parser_memory m;
    void* a = m.allocate(17);
    m.deallocate(a);
    EXPECT_EQ(m.held(), 0u);
    void* b = m.allocate(32);  // 17 and 32 share a class
    EXPECT_EQ(b, a);
    memset(b, 0x11, 32);
    EXPECT_EQ(m.held(), 32u);
    void* c = m.allocate(33);  // the next class: a block of its own
    EXPECT_NE(c, b);
    memset(c, 0x22, 33);
    EXPECT_EQ(m.held(), 65u);
    m.deallocate(b);
    m.deallocate(c);
    EXPECT_EQ(m.held(), 0u);
    // Many more than may be kept, given back at once, then taken again.
    std::vector<void*> many;
    for (int i = 0; i < 2000; ++i) many.push_back(m.allocate(500));
    EXPECT_EQ(m.held(), 2000u * 500u);
    for (void* p : many) m.deallocate(p);
    EXPECT_EQ(m.held(), 0u);
    for (void*& p : many) memset(p = m.allocate(500), 0x33, 500);
    for (void* p : many) m.deallocate(p);
    // A budget counts a kept block again once it is taken.
    m.set_budget(100);
    void* d = m.allocate(64);
    capture cap;
    EXPECT_THROW(m.allocate(64), xercesc::OutOfMemoryException);
    cap.stop();
    m.deallocate(d);
  }
  xercesc::XMLPlatformUtils::Terminate();
}

// ---- attack documents ---------------------------------------------------------------

const std::string regress = std::string(XRQ5_SOURCE_DIR) + "/tests/data/regress";

// Runs `read` (true when the read reported failure) in a child process under an
// address-space limit (not with the sanitizers, which reserve terabytes), with standard
// output and error in `log`. The child's exit status: 0 read failed, 1 read succeeded,
// 128 + signal when killed; -1 when it was still running after two minutes (a hang).
int in_child(const std::function<bool()>& read, const std::string& log) {
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
#ifndef XRQ5_SANITIZED
    const rlim_t limit = rlim_t(256) << 20;
    const struct rlimit as = {limit, limit};
    setrlimit(RLIMIT_AS, &as);
#endif
    const bool failed = read();
    fflush(nullptr);
    _exit(failed ? 0 : 1);
  }
  for (int ms = 0; ms < 120000; ms += 5) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    usleep(5000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

template <class Entry>
bool free_all(std::vector<Entry*>& list, bool failed) {
  for (Entry* e : list) free(e);
  return failed;
}

// The readers of each kind, by the prefix of the attack document's name.
using reader = std::function<bool(std::string& text, std::string& file)>;
struct kind_readers {
  const char* prefix;
  std::vector<std::pair<const char*, reader>> readers;
};

bool ev_list(bool memory, std::string& text, std::string& file) {
  std::vector<xrq5_ev_entry*> list;
  const int r = memory ? xrq5_parse_ev_list_read(&text[0], &list)
                       : xrq5_parse_ev_list_readf(&file[0], &list);
  xrq5_clean_ev_list(&list);
  return r != 0;
}

bool xcd(bool memory, std::string& text, std::string& file) {
  std::vector<chan_descr_2010*> list;
  const int r = memory ? parse_descr_list_read(&text[0], &list, true, false)
                       : parse_descr_list_readf(&file[0], &list, true, false);
  clean_chan_desr_list(&list);
  return r != 0;
}

bool triggers(bool memory, std::string& text, std::string& file) {
  std::vector<xrq5_user_case_trigger*> list;
  const bool failed = memory ? parse_trigger_list_read(&text[0], &list)
                             : parse_trigger_list_readf(&file[0], &list);
  for (xrq5_user_case_trigger* t : list) XRQ5_FREE_USER(t);
  return failed;
}

bool camera_file(std::string&, std::string& file) {
  std::vector<XRQ5GigEFeature*> list;
  const bool failed = xrq5_fill_gige_descr(&file[0], &list);
  xrq5_clean_gige_descr(&list);
  return failed;
}

bool camera_memory(std::string& text, std::string&) {
  xercesc::XMLPlatformUtils::Initialize();
  bool failed;
  {
    xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(text.data()), text.size(),
                                      "attack");
    std::vector<XRQ5GigEFeature*> list;
    failed = xrq5_gige_fill("attack", &source, text.size(), &list);
    xrq5_clean_gige_descr(&list);
  }
  xercesc::XMLPlatformUtils::Terminate();
  return failed;
}

const std::vector<kind_readers>& all_readers() {
  using namespace std::placeholders;
  static const std::vector<kind_readers> kinds = {
      {"ev_list", {{"memory", std::bind(ev_list, true, _1, _2)},
                   {"file", std::bind(ev_list, false, _1, _2)}}},
      {"xcd_", {{"memory", std::bind(xcd, true, _1, _2)}, {"file", std::bind(xcd, false, _1, _2)}}},
      {"env_dict",
       {{"classic memory",
         [](std::string& t, std::string&) {
           std::vector<xrq5_env_index_dictionary_entry*> l;
           return free_all(l, parse_env_index_dict_list_read(&t[0], &l) != 0);
         }},
        {"2010 memory",
         [](std::string& t, std::string&) {
           std::vector<xrq5_env_index_dictionary_entry_2010*> l;
           return free_all(l, parse_env_index_dict_list_read_2010(&t[0], &l) != 0);
         }},
        {"classic file",
         [](std::string&, std::string& f) {
           std::vector<xrq5_env_index_dictionary_entry*> l;
           return free_all(l, parse_env_index_dict_readf(&f[0], &l) != 0);
         }},
        {"2010 file",
         [](std::string&, std::string& f) {
           std::vector<xrq5_env_index_dictionary_entry_2010*> l;
           return free_all(l, parse_env_index_dict_readf_2010(&f[0], &l) != 0);
         }}}},
      {"trigger_list", {{"memory", std::bind(triggers, true, _1, _2)},
                        {"file", std::bind(triggers, false, _1, _2)}}},
      {"camera", {{"file", camera_file}, {"memory", camera_memory}}},
  };
  return kinds;
}

// Each billion-laughs and quadratic-blow-up document, in text, in an attribute and in
// the root's attribute, ends every reader of its kind with a failure and a message
// naming the bound, within the address-space limit and without hanging.
// Blocks that one parser's memory gave back serve the next parser of the thread, each
// to one owner at a time and whole: two memories alive together never share a block,
// every block holds its full size (patterns written over each stay intact), and the
// accounting counts only what is held.
TEST(parser_memory, blocks_pass_to_the_next_parser_whole_and_unshared) {
  xercesc::XMLPlatformUtils::Initialize();
  const std::vector<size_t> sizes = {1024, 1024, 3000, 4096, 40000, 164040, 64, 8};
  {
    xrq5_parser_memory first;
    for (size_t n : sizes) memset(first.allocate(n), 0x5A, n);
    void* back = first.allocate(2048);
    first.deallocate(back);  // given back early, and the rest at destruction
  }
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    xrq5_parser_memory a, b;
    std::vector<std::pair<unsigned char*, size_t>> blocks;
    for (xrq5_parser_memory* m : {&a, &b})
      for (size_t n : sizes) blocks.emplace_back(static_cast<unsigned char*>(m->allocate(n)), n);
    size_t total = 0;
    for (size_t n : sizes) total += n;
    EXPECT_EQ(a.held(), total);
    EXPECT_EQ(b.held(), total);
    for (size_t i = 0; i < blocks.size(); ++i)
      memset(blocks[i].first, static_cast<int>(i + 1), blocks[i].second);
    for (size_t i = 0; i < blocks.size(); ++i) {
      const unsigned char* p = blocks[i].first;
      for (size_t k = 0; k < blocks[i].second; ++k)
        ASSERT_EQ(p[k], static_cast<unsigned char>(i + 1)) << "block " << i << " byte " << k;
    }
    // Half of them go back before the end, to be taken again by the next round.
    for (size_t i = 0; i < blocks.size(); i += 2)
      (i < sizes.size() ? a : b).deallocate(blocks[i].first);
  }
  xercesc::XMLPlatformUtils::Terminate();
}

TEST(hostile_documents, every_reader_fails_within_bounds) {
  xrq5_test::temp_dir d;
  const std::string log = d.path() + "/log";
  int documents = 0, reads = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(regress)) {
    std::string file = e.path().string();
    const std::string name = e.path().filename().string();
    if (name.find("_laughs_") == std::string::npos && name.find("_quadratic_") == std::string::npos)
      continue;
    ++documents;
    std::string text = xrq5_test::read_file(file);
    bool known = false;
    for (const kind_readers& k : all_readers()) {
      if (name.compare(0, strlen(k.prefix), k.prefix) != 0) continue;
      known = true;
      for (const auto& r : k.readers) {
        SCOPED_TRACE(name + " through the " + r.first + " reader");
        ++reads;
        const int status = in_child([&] { return r.second(text, file); }, log);
        const std::string said = xrq5_test::read_file(log);
        EXPECT_EQ(status, 0) << said;
        const bool why = said.find("expands to more than") != std::string::npos ||
                         said.find("parser memory: the document needs more than") !=
                             std::string::npos ||
                         said.find("entity expansions") != std::string::npos;
        EXPECT_TRUE(why) << said;
      }
    }
    EXPECT_TRUE(known) << name;
  }
  EXPECT_EQ(documents, 36);
  EXPECT_EQ(reads, 6 * (2 + 2 + 4 + 2 + 2) + 6 * 2);
}

}  // namespace
