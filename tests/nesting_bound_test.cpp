// The nesting bound of every reader: a document nested to the bound reads as the same
// document nested two levels does; one level more fails and says so, and so does a
// document nested 10^5 deep, read no further than the bound.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <xercesc/util/OutOfMemoryException.hpp>

#include "SAX_File_Parser.h"
#include "SAX_Memory_Parser.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "test_support.h"
#include "user_case_trigger.h"
#include "xrq5_gige_descr.h"
#include "xrq5_parser_factory.h"

namespace {

using xrq5_test::capture;
using xrq5_test::read_file;
using xrq5_test::temp_dir;

const size_t bound = xrq5_max_depth;
const char* const too_deep = "nested deeper than 256 levels";

// A document whose elements nest `levels` deep, the root being the first; the
// innermost holds `inner` (which may nest further, but is not counted).
std::string nested(const std::string& root, size_t levels, const std::string& inner = "") {
  std::string doc = "<?xml version=\"1.0\"?>\n<" + root + ">";
  for (size_t i = 1; i < levels; ++i) doc += "<g>";
  doc += inner;
  for (size_t i = 1; i < levels; ++i) doc += "</g>";
  return doc + "</" + root + ">\n";
}

// A reader of one kind: its result on a document, from memory or from a file.
struct reader {
  const char* name;
  const char* root;
  std::function<int(const std::string& doc, temp_dir& dir)> read;
};

template <class Entry, class Free>
void free_all(std::vector<Entry*>& v, Free f) {
  for (Entry* e : v) f(e);
}

const std::vector<reader>& readers() {
  static const std::vector<reader> all = {
      {"event list, memory", "BMR",
       [](const std::string& doc, temp_dir&) {
         std::string text = doc;
         std::vector<xrq5_ev_entry*> list;
         const int r = xrq5_parse_ev_list_read(&text[0], &list);
         xrq5_clean_ev_list(&list);
         return r;
       }},
      {"event list, file", "BMR",
       [](const std::string& doc, temp_dir& dir) {
         std::string path = dir.write("ev.xml", doc);
         std::vector<xrq5_ev_entry*> list;
         const int r = xrq5_parse_ev_list_readf(&path[0], &list);
         xrq5_clean_ev_list(&list);
         return r;
       }},
      {"descriptions, memory", "CHANDESCRIPTIONS",
       [](const std::string& doc, temp_dir&) {
         std::string text = doc;
         std::vector<chan_descr_2010*> list;
         const int r = parse_descr_list_read(&text[0], &list, false, false);
         clean_chan_desr_list(&list);
         return r;
       }},
      {"variables, file", "DAQvariables",
       [](const std::string& doc, temp_dir& dir) {
         std::string path = dir.write("xcd.xml", doc);
         std::vector<chan_descr_2010*> list;
         const int r = parse_descr_list_readf(&path[0], &list, false, true);
         clean_chan_desr_list(&list);
         return r;
       }},
      {"environment dictionary, file", "ENVINDEXDICT",
       [](const std::string& doc, temp_dir& dir) {
         std::string path = dir.write("env.xml", doc);
         std::vector<xrq5_env_index_dictionary_entry*> list;
         const int r = parse_env_index_dict_readf(&path[0], &list);
         free_all(list, free);
         return r;
       }},
      {"trigger list, memory", "XRQ5USERTRIGGERLIST",
       [](const std::string& doc, temp_dir&) {
         std::string text = doc;
         xrq5_trigger_list list;
         return static_cast<int>(list.read(&text[0]));
       }},
      {"camera features, file", "RegisterDescription",
       [](const std::string& doc, temp_dir& dir) {
         std::string path = dir.write("cam.xml", doc);
         std::vector<XRQ5GigEFeature*> list;
         const bool r = xrq5_fill_gige_descr(&path[0], &list);
         xrq5_clean_gige_descr(&list);
         return static_cast<int>(r);
       }},
  };
  return all;
}

TEST(nesting_bound, every_reader_reads_to_the_bound_and_stops_past_it) {
  for (const reader& r : readers()) {
    SCOPED_TRACE(r.name);
    temp_dir dir;
    capture cap;
    const int shallow = r.read(nested(r.root, 2), dir);
    const int at_bound = r.read(nested(r.root, bound), dir);
    const int empty_at_bound = r.read(nested(r.root, bound - 1, "<e/><e/>"), dir);
    cap.stop();
    EXPECT_EQ(at_bound, shallow);
    EXPECT_EQ(empty_at_bound, shallow) << "an empty element has no end to count";
    EXPECT_EQ(cap.err().find(too_deep), std::string::npos) << cap.err();

    for (const std::string& doc :
         {nested(r.root, bound + 1), nested(r.root, bound, "<e/>"), nested(r.root, 100000)}) {
      capture past;
      const int got = r.read(doc, dir);
      past.stop();
      EXPECT_NE(got, shallow);
      EXPECT_NE(past.err().find(too_deep), std::string::npos) << past.err();
    }
  }
}

// Siblings never add up: only the elements open at once count.
TEST(nesting_bound, siblings_and_a_run_of_documents_do_not_add_up) {
  std::string wide;
  for (size_t i = 0; i < 4 * bound; ++i) wide += "<g><h/></g>";
  for (const reader& r : readers()) {
    SCOPED_TRACE(r.name);
    temp_dir dir;
    capture cap;
    const int shallow = r.read(nested(r.root, 2), dir);
    const int deep = r.read(nested(r.root, 3 * bound), dir);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(r.read(nested(r.root, bound - 2, wide), dir), shallow);
    cap.stop();
    EXPECT_NE(deep, shallow);
  }
}

// The pull parsers themselves: every step to the bound, then the step past it throws,
// as at the other bounds, without reading on to the end of the document.
TEST(nesting_bound, pull_parsers_stop_at_the_element_past_the_bound) {
  temp_dir dir;
  for (const bool file : {false, true}) {
    SCOPED_TRACE(file ? "file" : "memory");
    for (const size_t levels : {bound, bound + 1, size_t(100000)}) {
      SCOPED_TRACE(levels);
      std::string doc = nested("R", levels);
      std::string path = dir.write("deep.xml", doc);
      std::unique_ptr<SAX_Memory_Parser> m;
      std::unique_ptr<SAX_File_Parser> f;
      if (file)
        f.reset(new SAX_File_Parser());
      else
        m.reset(new SAX_Memory_Parser(&doc[0]));
      ASSERT_FALSE(file ? f->start(&path[0]) : m->start());
      capture cap;
      size_t steps = 0;
      int rc = 0;
      bool threw = false;
      try {
        char *tag, *value;
        while (rc == 0) {
          rc = file ? f->parse(&tag, &value) : m->parse(&tag, &value);
          ++steps;
        }
      } catch (const xercesc::OutOfMemoryException&) {
        threw = true;
      }
      cap.stop();
      if (levels <= bound) {
        EXPECT_FALSE(threw);
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(cap.err(), "");
      } else {
        EXPECT_TRUE(threw);
        EXPECT_LE(steps, 2 * bound + 2) << "read on past the bound";
        EXPECT_NE(cap.err().find(too_deep), std::string::npos) << cap.err();
      }
    }
  }
}

struct result {
  int status;  // -1: killed (out of CPU time)
  std::string out, err;
};

// The tool on `args` with at most `seconds` of CPU time.
result tool_limited(const std::string& args, int seconds) {
  temp_dir d;
  const pid_t pid = fork();
  if (pid == 0) {
    const rlimit cpu{static_cast<rlim_t>(seconds), static_cast<rlim_t>(seconds)};
    setrlimit(RLIMIT_CPU, &cpu);
    const std::string line = std::string(XRQ5_TOOL) + " " + args + " >" + d.path() + "/out 2>" +
                             d.path() + "/err";
    execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, read_file(d.path() + "/out"),
          read_file(d.path() + "/err")};
}

// The strict check (namespaces, schema validation) and the plain one stop at the
// bound too: a document nested 10^5 deep is answered within a few seconds of CPU.
TEST(nesting_bound, check_and_strict_check_answer_deep_documents) {
  temp_dir dir;
  const std::string at_bound = dir.write("at_bound.xml", nested("BMR", bound));
  const std::string past = dir.write("past.xml", nested("BMR", bound + 1));
  const std::string deep = dir.write("deep.xml", nested("BMR", 100000));
  for (const char* command : {"check --strict", "check --strict --json", "check"}) {
    SCOPED_TRACE(command);
    const result ok = tool_limited(std::string(command) + " " + at_bound, 2);
    EXPECT_NE(ok.status, -1);
    EXPECT_EQ((ok.out + ok.err).find(too_deep), std::string::npos) << ok.out << ok.err;
    for (const std::string& file : {past, deep}) {
      SCOPED_TRACE(file);
      const result r = tool_limited(std::string(command) + " " + file, 2);
      EXPECT_EQ(r.status, 1) << r.out << r.err;
      EXPECT_NE(r.err.find(too_deep), std::string::npos) << r.err;
    }
  }
  const result json = tool_limited("check --strict --json " + deep, 2);
  EXPECT_NE(json.out.find("\"code\": \"depth\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find(too_deep), std::string::npos) << json.out;
}

}  // namespace
