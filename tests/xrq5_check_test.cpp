// The libraries' check and problem handler: the check's findings equal the tool's for
// every wrong document of tests/data/strict, from a file and from a text alike; names
// cut inside their bytes; the problem handler of a thread, and the default beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "test_support.h"
#include "xrq5_check.h"
#include "xrq5_messages.h"

namespace {

namespace fs = std::filesystem;
using xrq5_test::read_file;
using xrq5_test::temp_dir;

const std::string strict_data = std::string(XRQ5_SOURCE_DIR) + "/tests/data/strict";

// The findings as the tool prints them on standard error.
std::string as_tool_prints(const xrq5_check_result& r, const std::string& shown) {
  std::string s;
  for (const xrq5_finding& f : r.findings)
    s += shown + ":" + std::to_string(f.line) + ":" + std::to_string(f.column) + ": " +
         f.severity() + ": " + f.message + "\n";
  return s;
}

TEST(check, findings_of_files_and_texts_equal_the_tools) {
  int documents = 0;
  for (const auto& e : fs::directory_iterator(strict_data)) {
    if (e.path().extension() != ".xml") continue;
    const std::string stem = e.path().stem().string();
    const std::string name = e.path().filename().string();
    SCOPED_TRACE(name);
    ++documents;
    // The tool's arguments of the document, as options.
    xrq5_check_options options;
    std::istringstream args(fs::exists(strict_data + "/" + stem + ".args")
                                ? read_file(strict_data + "/" + stem + ".args")
                                : std::string());
    for (std::string a; args >> a;) {
      if (a == "--classic") {
        options.classic = true;
      } else {
        ASSERT_EQ(a, "--xcd");
        ASSERT_TRUE(args >> a);
        options.xcd.push_back(strict_data + "/" + a);
      }
    }
    const std::string expected = read_file(strict_data + "/" + stem + ".expected");
    const xrq5_check_result file = xrq5_check_file(e.path().string(), options);
    EXPECT_TRUE(file.readable);
    EXPECT_EQ(as_tool_prints(file, name), expected);
    for (const xrq5_finding& f : file.findings) {
      EXPECT_EQ(f.file, e.path().string());
      EXPECT_FALSE(f.code.empty()) << f.message;
    }
    const xrq5_check_result text =
        xrq5_check_text(read_file(e.path().string()), options, "given name");
    EXPECT_EQ(as_tool_prints(text, name), expected);
    for (const xrq5_finding& f : text.findings) EXPECT_EQ(f.file, "given name");
    EXPECT_EQ(text.kind, file.kind);
  }
  EXPECT_GE(documents, 40);
}

TEST(check, whole_file_findings) {
  temp_dir d;
  struct {
    std::string path;
    bool readable;
    std::string code, kind;
  } cases[] = {
      {d.path() + "/missing.xml", false, "unreadable", ""},
      {d.path(), false, "unreadable", ""},
      {d.write("unknown.xml", "<FOO/>"), false, "kind", ""},
      {d.write("broken.xml", "<BMR><EVENT>"), true, "xml", "event list"},
      {d.write("empty.xml", ""), true, "xml", ""},
      {d.write("x.xml", "<BMR/>") + std::string(1, '\0') + "y", false, "unreadable", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const xrq5_check_result r = xrq5_check_file(c.path);
    EXPECT_EQ(r.readable, c.readable);
    EXPECT_EQ(r.kind, c.kind);
    ASSERT_FALSE(r.findings.empty());
    EXPECT_EQ(r.findings[0].code, c.code);
    EXPECT_TRUE(r.findings[0].error);
    EXPECT_EQ(r.findings[0].file, c.path);
  }
  // A description that cannot be read stops the check of the triggers.
  xrq5_check_options options;
  options.xcd = {d.path() + "/missing_xcd.xml"};
  const xrq5_check_result r =
      xrq5_check_file(std::string(XRQ5_SOURCE_DIR) + "/examples/triggers.xml", options);
  EXPECT_FALSE(r.readable);
  ASSERT_EQ(r.findings.size(), 1u);
  EXPECT_EQ(r.findings[0].code, "xcd");
}

TEST(check, without_strict_only_the_reader_speaks) {
  const std::string examples = std::string(XRQ5_SOURCE_DIR) + "/examples/";
  xrq5_check_options plain;
  plain.strict = false;
  for (const char* clean : {"ev_list.xml", "xcd_tag.xml", "xcd_var.xml", "env_dict.xml",
                            "triggers.xml"}) {
    SCOPED_TRACE(clean);
    const xrq5_check_result r = xrq5_check_file(examples + clean, plain);
    EXPECT_TRUE(r.readable);
    EXPECT_FALSE(r.kind.empty());
    EXPECT_TRUE(r.findings.empty()) << as_tool_prints(r, clean);
  }
  // The schema would refuse the unknown element; the reader ignores it.
  const std::string misspelt = strict_data + "/ev_misspelt_sblock.xml";
  EXPECT_TRUE(xrq5_check_file(misspelt, plain).findings.empty());
  EXPECT_EQ(xrq5_check_file(misspelt).errors(), 1u);
  const xrq5_check_result broken =
      xrq5_check_text("<BMR><EVENT><TYPE>1</TYPE></BMR>", plain, "b.xml");
  ASSERT_FALSE(broken.findings.empty());
  EXPECT_EQ(broken.findings[0].code, "read");
  EXPECT_EQ(as_tool_prints(broken, "b.xml").substr(0, 55),
            "b.xml:1:29: error: expected end of tag 'EVENT'\n");
}

std::string triggers_with_channel(const std::string& name) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<XRQ5USERTRIGGERLIST>\n"
         "<USERTRIGGER><Chan name=\"" + name + "\" subchan=\"0\"/><Function name=\"MEAN\"/>"
         "<Operation name=\"GT\"/><LowLimit value=\"1\"/><UpperLimit value=\"2\"/>"
         "</USERTRIGGER>\n</XRQ5USERTRIGGERLIST>\n";
}

TEST(check, names_cut_inside_their_bytes) {
  const std::string sz = "\xC3\x9F";  // 'ß', two bytes in UTF-8
  struct {
    std::string name;
    std::vector<std::string> codes;
  } cases[] = {
      {std::string(255, 'A'), {}},
      {std::string(253, 'A') + sz, {}},                   // 255 bytes
      {std::string(250, 'A') + sz + sz + sz, {"cut-bytes"}},  // 253 characters, 256 bytes
      {std::string(254, 'A') + sz, {"cut-bytes"}},
      {std::string(256, 'A'), {"cut"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.size());
    const xrq5_check_result r = xrq5_check_text(triggers_with_channel(c.name));
    std::vector<std::string> codes;
    for (const xrq5_finding& f : r.findings) codes.push_back(f.code);
    EXPECT_EQ(codes, c.codes) << as_tool_prints(r, "t");
    if (!codes.empty() && codes[0] == "cut-bytes") {
      EXPECT_FALSE(r.findings[0].error);
      EXPECT_EQ(r.findings[0].line, 3);
      EXPECT_NE(r.findings[0].message.find("keeps 255 bytes"), std::string::npos);
    }
  }
}

struct gathered {
  std::vector<xrq5_severity> severities;
  std::vector<std::string> lines;
};

void gather(const xrq5_problem* p, void* context) {
  auto* g = static_cast<gathered*>(context);
  g->severities.push_back(p->severity);
  g->lines.push_back(std::string(p->file) + ":" + std::to_string(p->line) + ":" +
                     std::to_string(p->column) + ": " + p->message);
}

int read_events(const std::string& name_or_text, bool file) {
  std::vector<xrq5_ev_entry*> list;
  const int r = file ? xrq5_parse_ev_list_readf(const_cast<char*>(name_or_text.c_str()), &list)
                     : xrq5_parse_ev_list_read(const_cast<char*>(name_or_text.c_str()), &list);
  xrq5_clean_ev_list(&list);
  return r;
}

TEST(problem_handler, takes_the_parsers_problems_as_data_on_its_thread_only) {
  temp_dir d;
  const std::string broken = "<BMR><EVENT></BMR>";
  const std::string file = d.write("broken.xml", broken);
  gathered g;
  xrq5_test::capture out;
  {
    xrq5_problem_scope scope(gather, &g);
    EXPECT_NE(read_events(file, true), 0);
    EXPECT_NE(read_events(broken, false), 0);
    // Another thread keeps the default: its problems are printed, not gathered here.
    std::thread([&] { EXPECT_NE(read_events(broken, false), 0); }).join();
  }
  EXPECT_EQ(xrq5_get_problem_handler(nullptr), nullptr) << "the scope put the default back";
  out.stop();
  ASSERT_EQ(g.lines.size(), 2u) << ::testing::PrintToString(g.lines);
  EXPECT_EQ(g.lines[0].compare(0, file.size() + 5, file + ":1:15"), 0) << g.lines[0];
  EXPECT_EQ(g.lines[1].compare(0, 14, "<memory>:1:15:"), 0) << g.lines[1];
  EXPECT_EQ(g.severities, (std::vector<xrq5_severity>{XRQ5_SEVERITY_FATAL, XRQ5_SEVERITY_FATAL}));
  // Only the other thread's read printed, in the default words.
  EXPECT_EQ(out.out(), "");
  EXPECT_NE(out.err().find("Fatal Error at (file my_mem_info, line 1, char 15)"),
            std::string::npos)
      << out.err();
  EXPECT_EQ(out.err().find(file), std::string::npos) << out.err();
  EXPECT_EQ(out.err().find("scanFirst"), std::string::npos) << out.err();
}

TEST(problem_handler, takes_the_readers_own_findings_with_the_document_name) {
  temp_dir d;
  const std::string file = d.write("wrong.xml", "<FOO/>");
  gathered g;
  xrq5_test::capture out;
  {
    xrq5_problem_scope scope(gather, &g);
    EXPECT_NE(read_events(file, true), 0);
    EXPECT_NE(read_events("<FOO/>", false), 0);
  }
  EXPECT_NE(read_events(file, true), 0);  // the default again: in the reader's words
  out.stop();
  EXPECT_EQ(g.lines, (std::vector<std::string>{file + ":0:0: WRONG root tag: FOO must be 'BMR'",
                                               "<memory>:0:0: WRONG root tag: FOO must be 'BMR'"}));
  EXPECT_EQ(g.severities, (std::vector<xrq5_severity>{XRQ5_SEVERITY_ERROR, XRQ5_SEVERITY_ERROR}));
  EXPECT_EQ(out.err(), "WRONG root tag: FOO must be 'BMR'\n");
}

TEST(problem_handler, takes_the_writers_progress_lines_as_notes) {
  temp_dir d;
  std::vector<xrq5_env_index_dictionary_entry_2010*> list;
  ASSERT_EQ(parse_env_index_dict_readf_2010(
                const_cast<char*>((std::string(XRQ5_SOURCE_DIR) + "/examples/env_dict.xml").c_str()),
                &list),
            0);
  const std::string out_file = d.path() + "/out.xml";
  gathered g;
  xrq5_test::capture out;
  {
    xrq5_problem_scope scope(gather, &g);
    EXPECT_EQ(dump_env_index_dict_2010(&list, const_cast<char*>(out_file.c_str()), 2, -1, nullptr),
              0);
  }
  out.stop();
  for (auto* e : list) free(e);
  EXPECT_EQ(out.out(), "");
  EXPECT_FALSE(g.lines.empty());
  for (xrq5_severity s : g.severities) EXPECT_EQ(s, XRQ5_SEVERITY_NOTE);
  EXPECT_TRUE(fs::exists(out_file));
}

}  // namespace
