// Both pull parsers, run over the same documents (the memory parser over the text, the
// file parser over a file holding it).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <xercesc/util/PlatformUtils.hpp>

#include "SAX_File_Parser.h"
#include "SAX_Memory_Parser.h"
#include "test_support.h"

namespace {

using xrq5_test::capture;
using xrq5_test::temp_dir;

enum parser_kind { memory, file };

// One interface over the twins.
class any_parser {
 public:
  virtual ~any_parser() = default;
  virtual bool init_ok() = 0;
  virtual bool start() = 0;
  virtual int parse(char** tag, char** value) = 0;
  virtual int get_attr(const char* name, char** value) = 0;
  virtual std::string system_id() const = 0;
};

class memory_parser : public any_parser {
 public:
  explicit memory_parser(const std::string& doc) : text_(doc), p_(&text_[0]) {}
  bool init_ok() override { return p_.init_ok(); }
  bool start() override { return p_.start(); }
  int parse(char** t, char** v) override { return p_.parse(t, v); }
  int get_attr(const char* n, char** v) override { return p_.get_attr(const_cast<char*>(n), v); }
  std::string system_id() const override { return "my_mem_info"; }

 private:
  std::string text_;
  SAX_Memory_Parser p_;
};

class file_parser : public any_parser {
 public:
  file_parser(const temp_dir& dir, const std::string& doc) : path_(dir.write("doc.xml", doc)) {}
  bool init_ok() override { return p_.init_ok(); }
  bool start() override { return p_.start(&path_[0]); }
  int parse(char** t, char** v) override { return p_.parse(t, v); }
  int get_attr(const char* n, char** v) override { return p_.get_attr(const_cast<char*>(n), v); }
  std::string system_id() const override { return path_; }

 private:
  std::string path_;
  SAX_File_Parser p_;
};

class sax_parser : public ::testing::TestWithParam<parser_kind> {
 protected:
  std::unique_ptr<any_parser> open(const std::string& doc) {
    std::unique_ptr<any_parser> p;
    if (GetParam() == memory)
      p.reset(new memory_parser(doc));
    else
      p.reset(new file_parser(dir_, doc));
    EXPECT_TRUE(p->init_ok());
    return p;
  }

  // Every step as "rc tag/value" ("-" for null), until parse returns -1 or `limit`.
  std::string steps(const std::string& doc, int limit = 100) {
    auto p = open(doc);
    if (p->start()) return "start failed";
    std::string out;
    for (int i = 0; i < limit; ++i) {
      char* tag = nullptr;
      char* value = nullptr;
      const int rc = p->parse(&tag, &value);
      if (rc == -1) return out + "end";
      out += std::to_string(rc) + " " + (tag ? tag : "-") + "/" + (value ? value : "-") + "; ";
    }
    return out;
  }

  temp_dir dir_;
};

TEST_P(sax_parser, step_table_of_common_constructs) {
  EXPECT_EQ(steps("<R><A x=\"1\">42</A><B></B><C/></R>"),
            "0 R/-; 0 A/-; 0 A/42; 0 -/-; 0 B/-; 0 B/-; 0 C/-; 0 -/-; 0 -/-; end");
}

TEST_P(sax_parser, attributes_live_until_the_next_start_tag_or_end) {
  auto p = open("<R id=\"r\"><A x=\"1\" e=\"\">42</A></R>");
  ASSERT_FALSE(p->start());
  char *tag, *value, *a;
  ASSERT_EQ(p->parse(&tag, &value), 0);
  ASSERT_EQ(p->get_attr("id", &a), 0);
  EXPECT_STREQ(a, "r");
  ASSERT_EQ(p->parse(&tag, &value), 0);  // <A>
  ASSERT_EQ(p->get_attr("e", &a), 0);    // an empty value is found
  EXPECT_STREQ(a, "");
  EXPECT_EQ(p->get_attr("X", &a), -1);   // case-sensitive
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(p->get_attr(nullptr, &a), -1);
  ASSERT_EQ(p->parse(&tag, &value), 0);  // text
  ASSERT_EQ(p->get_attr("x", &a), 0);
  EXPECT_STREQ(a, "1");
  ASSERT_EQ(p->parse(&tag, &value), 0);  // </A> clears them
  EXPECT_EQ(p->get_attr("x", &a), -1);
}

TEST_P(sax_parser, text_is_untrimmed_and_blank_text_clears_the_tag) {
  EXPECT_EQ(steps("<R>\n  <A>  5 </A>\t\n</R>"),
            "0 R/-; 0 -/-; 0 A/-; 0 A/  5 ; 0 -/-; 0 -/-; 0 -/-; 0 -/-; end");
}

// Xerces splits text at references within one step; the pieces are joined, and the
// blank-text rule looks at the whole text of the step.
TEST_P(sax_parser, text_split_at_references_is_joined) {
  EXPECT_EQ(steps("<R><X>a &amp; b</X><Y>x&#65;y</Y><V> &amp;</V><W> &#32;\t</W></R>"),
            "0 R/-; 0 X/-; 0 X/a & b; 0 -/-; 0 Y/-; 0 Y/xAy; 0 -/-; 0 V/-; 0 V/ &; 0 -/-; "
            "0 W/-; 0 -/-; 0 -/-; 0 -/-; 0 -/-; end");
}

// Xerces stops a run of text at an entity reference of the internal subset, a CDATA
// section, a comment or a processing instruction: the step reads on, so the whole text
// comes in one step, and the steps around it stay as they are.
TEST_P(sax_parser, text_around_entities_cdata_and_comments_comes_whole) {
  const std::string dtd =
      "<!DOCTYPE R [<!ELEMENT R ANY><!ELEMENT A (#PCDATA)><!ELEMENT B (#PCDATA)>"
      "<!ELEMENT C (#PCDATA)><!ELEMENT D EMPTY><!ATTLIST A k CDATA #IMPLIED>"
      "<!ENTITY e \"xyz\">]>";
  EXPECT_EQ(steps(dtd + "<R><A k=\"v\">1&e;2</A><B>12<!--c-->34<?p i?>5<![CDATA[<6>]]>7</B>"
                        "<C>&e;</C><D/></R>"),
            "0 R/-; 0 A/-; 0 A/1xyz2; 0 -/-; 0 B/-; 0 B/12345<6>7; 0 -/-; 0 C/-; 0 C/xyz; "
            "0 -/-; 0 D/-; 0 -/-; 0 -/-; end");
  // The attributes of the element stay with its text; the next start tag waits.
  auto p = open(dtd + "<R><A k=\"v\">1&e;2</A><D/></R>");
  ASSERT_FALSE(p->start());
  char *tag, *value, *a;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(p->parse(&tag, &value), 0);
  EXPECT_STREQ(value, "1xyz2");
  ASSERT_EQ(p->get_attr("k", &a), 0);
  EXPECT_STREQ(a, "v");
  // A problem met while reading on belongs to the step after the text.
  EXPECT_EQ(steps(dtd + "<R><A>1&e;2&nope;</A></R>"), "0 R/-; 0 A/-; 0 A/1xyz2; 1 -/-; end");
}

TEST_P(sax_parser, non_ascii_text_and_names_come_out_in_utf8) {
  EXPECT_EQ(steps("<?xml version=\"1.0\" encoding=\"UTF-8\"?><R><\xc3\xa9l>\xc2\xb5s &#8217;</\xc3\xa9l></R>"),
            "0 R/-; 0 \xc3\xa9l/-; 0 \xc3\xa9l/\xc2\xb5s \xe2\x80\x99; 0 -/-; 0 -/-; 0 -/-; end");
  EXPECT_EQ(steps("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><R>\xb5</R>"),
            "0 R/-; 0 R/\xc2\xb5; 0 -/-; 0 -/-; end");
  // Pieces of one step that are ASCII and not, in both orders, joined.
  EXPECT_EQ(steps("<?xml version=\"1.0\" encoding=\"UTF-8\"?><R><A>ab&amp;\xc3\xa9</A>"
                  "<B>\xc3\xa9&amp;x</B></R>"),
            "0 R/-; 0 A/-; 0 A/ab&\xc3\xa9; 0 -/-; 0 B/-; 0 B/\xc3\xa9&x; 0 -/-; 0 -/-; 0 -/-; end");
}

TEST_P(sax_parser, error_is_reported_with_system_id_and_line_then_counted) {
  auto p = open("<R>\n<A>1</A>\n<B></R>");
  capture cap;
  ASSERT_FALSE(p->start());
  char *tag, *value;
  int rc = 0;
  for (int i = 0; i < 20 && rc == 0; ++i) rc = p->parse(&tag, &value);
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(tag, nullptr);
  EXPECT_NE(p->parse(&tag, &value), 0) << "once non-zero, never 0 again";
  char* a;
  EXPECT_EQ(p->get_attr("x", &a), -1);
  cap.stop();
  EXPECT_NE(cap.err().find("\nFatal Error at (file " + p->system_id() + ", line 3, char "),
            std::string::npos)
      << cap.err();
  EXPECT_EQ(cap.out(), "");
}

TEST_P(sax_parser, warnings_count_like_errors) {
  // An attribute declared twice draws a warning in a valid document.
  capture cap;
  const std::string got = steps("<!DOCTYPE R [<!ELEMENT R EMPTY><!ATTLIST R a CDATA #IMPLIED>"
                                "<!ATTLIST R a CDATA #IMPLIED>]><R/>", 3);
  cap.stop();
  EXPECT_EQ(got, "1 -/-; 1 -/-; end");
  EXPECT_NE(cap.err().find("\nWarning at (file "), std::string::npos) << cap.err();
}

TEST_P(sax_parser, not_well_formed_prolog_fails_start) {
  capture cap;
  const std::string bad_decl = steps("<?xml version=\"1.0\" encoding=\"nonsense\"?><R/>");
  const std::string empty = steps("");
  cap.stop();
  EXPECT_EQ(bad_decl, "start failed");
  EXPECT_EQ(empty, "start failed");
  EXPECT_NE(cap.err().find("scanFirst() failed\n"), std::string::npos) << cap.err();
}

// A document cannot make the parser read other files.
TEST_P(sax_parser, external_entities_and_dtds_are_not_read) {
  const std::string secret = dir_.write("secret.txt", "SECRET-CONTENT");
  dir_.write("secret.dtd", "<!ELEMENT R (#PCDATA)>");
  capture cap;
  const std::string ent = steps("<!DOCTYPE R [<!ELEMENT R (#PCDATA)><!ENTITY e SYSTEM \"file://" +
                                secret + "\">]><R>x&e;y</R>");
  const std::string rel = steps("<!DOCTYPE R [<!ELEMENT R (#PCDATA)><!ENTITY e SYSTEM "
                                "\"secret.txt\">]><R>&e;</R>");
  const std::string dtd = steps("<!DOCTYPE R SYSTEM \"" + dir_.path() + "/secret.dtd\"><R>t</R>");
  cap.stop();
  EXPECT_EQ(ent.find("SECRET"), std::string::npos) << ent;
  EXPECT_NE(ent.find("1 -/-"), std::string::npos) << ent;
  EXPECT_EQ(rel.find("SECRET"), std::string::npos) << rel;
  EXPECT_EQ(dtd, "start failed");
  EXPECT_NE(cap.err().find("unable to open"), std::string::npos) << cap.err();
}

TEST_P(sax_parser, entity_expansion_is_bounded) {
  std::string doc = "<!DOCTYPE R [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">";
  const char* names = "abcdefghij";
  for (int i = 1; i < 10; ++i) {
    doc += std::string("<!ENTITY ") + names[i] + " \"";
    for (int k = 0; k < 10; ++k) doc += std::string("&") + names[i - 1] + ";";
    doc += "\">";
  }
  doc += "<!ELEMENT R (#PCDATA)>]><R>&j;</R>";
  auto p = open(doc);
  capture cap;
  ASSERT_FALSE(p->start());
  char *tag, *value;
  int rc = 0, n = 0;
  while (rc == 0 && n < 1000000) rc = p->parse(&tag, &value), ++n;
  cap.stop();
  EXPECT_GT(rc, 0);
  EXPECT_LT(n, 100000) << "10^9 expansions were not cut short";
  EXPECT_NE(cap.err().find("entity expansions"), std::string::npos) << cap.err();
}

TEST_P(sax_parser, end_of_document_returns_minus_one_for_good) {
  auto p = open("<R/>");
  ASSERT_FALSE(p->start());
  char *tag, *value;
  int rc = 0;
  while (rc == 0) rc = p->parse(&tag, &value);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(p->parse(&tag, &value), -1);
  EXPECT_EQ(p->parse(nullptr, nullptr), -1);
}

// Parsers created one after another each initialise and terminate the platform; one
// destroyed in the middle of a document releases its strings first (the sanitizer
// build shows a leak or use after free otherwise).
TEST_P(sax_parser, parsers_in_sequence_and_abandoned_mid_document) {
  for (int i = 0; i < 3; ++i) {
    auto p = open("<R><A k=\"v\">text</A></R>");
    ASSERT_FALSE(p->start());
    char *tag, *value;
    EXPECT_EQ(p->parse(&tag, &value), 0);
    EXPECT_EQ(p->parse(&tag, &value), 0);
    EXPECT_EQ(p->parse(&tag, &value), 0);
    EXPECT_STREQ(value, "text");
  }
}

// The parser of a document is kept for the next document of the thread: nothing of
// one document (its declarations, encoding, a stop in its middle, an error, a bound
// reached) shows in the next.
TEST_P(sax_parser, a_document_sees_nothing_of_the_one_before) {
  std::string expanding = "<!DOCTYPE R [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">";
  const char* names = "abcdefghij";
  for (int i = 1; i < 10; ++i) {
    expanding += std::string("<!ENTITY ") + names[i] + " \"";
    for (int k = 0; k < 10; ++k) expanding += std::string("&") + names[i - 1] + ";";
    expanding += "\">";
  }
  expanding += "]><R>&j;</R>";
  const std::string plain = "<S><C>three</C></S>";
  const std::string plain_steps = "0 S/-; 0 C/-; 0 C/three; 0 -/-; 0 -/-; 0 -/-; end";
  struct sequence {
    const char* name;
    std::string before;
    int before_steps;
    std::string doc;
    std::string want;
  };
  const sequence table[] = {
      {"entity declared before", "<!DOCTYPE R [<!ENTITY e \"x\">]><R>&e;</R>", 100,
       "<R>&e;</R>", "0 R/-; 1 -/-; end"},
      {"grammar validated before", "<!DOCTYPE R [<!ELEMENT R (A)><!ELEMENT A EMPTY>]><R><A/></R>",
       100, "<R><B/></R>", "0 R/-; 0 B/-; 0 -/-; 0 -/-; end"},
      {"encoding declared before",
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><R>\xb5</R>", 100,
       "<R>\xc3\xa9</R>", "0 R/-; 0 R/\xc3\xa9; 0 -/-; 0 -/-; end"},
      {"abandoned in its middle", "<R><A>one</A><B>two</B></R>", 3, plain, plain_steps},
      {"abandoned within read-ahead", "<!DOCTYPE R [<!ENTITY e \"x\">]><R><A>1&e;2</A><B/></R>", 3,
       plain, plain_steps},
      {"not well-formed", "<R><A>1</B></R>", 100, plain, plain_steps},
      {"prolog not well-formed", "<?xml version=\"1.0\" encoding=\"nonsense\"?><R/>", 100, plain,
       plain_steps},
      {"expansion bounded", expanding, 1000000, plain, plain_steps},
  };
  for (const sequence& s : table) {
    SCOPED_TRACE(s.name);
    std::string got[2];
    capture cap;
    for (std::string& g : got) {
      try {
        steps(s.before, s.before_steps);
      } catch (...) {
      }
      g = steps(s.doc);
    }
    cap.stop();
    EXPECT_EQ(got[0], s.want);
    EXPECT_EQ(got[1], s.want);
  }
  // Attribute defaults of a declaration apply to their own document only.
  capture cap;
  steps("<!DOCTYPE R [<!ATTLIST A d CDATA \"dflt\">]><R><A/></R>");
  auto p = open("<R><A/></R>");
  ASSERT_FALSE(p->start());
  char *tag, *value, *a;
  ASSERT_EQ(p->parse(&tag, &value), 0);
  ASSERT_EQ(p->parse(&tag, &value), 0);
  EXPECT_STREQ(tag, "A");
  EXPECT_EQ(p->get_attr("d", &a), -1);
}

// Two parsers alive at once in one thread each have their own Xerces parser and
// strings.
TEST_P(sax_parser, nested_parsers_do_not_share) {
  auto outer = open("<R><A>outer</A></R>");
  ASSERT_FALSE(outer->start());
  char *tag, *value;
  ASSERT_EQ(outer->parse(&tag, &value), 0);
  {
    auto inner = open("<Q><B>inner</B></Q>");
    ASSERT_FALSE(inner->start());
    char *t2, *v2;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(inner->parse(&t2, &v2), 0);
    EXPECT_STREQ(v2, "inner");
    EXPECT_STREQ(tag, "R");
  }
  ASSERT_EQ(outer->parse(&tag, &value), 0);
  ASSERT_EQ(outer->parse(&tag, &value), 0);
  EXPECT_STREQ(tag, "A");
  EXPECT_STREQ(value, "outer");
}

INSTANTIATE_TEST_SUITE_P(both, sax_parser, ::testing::Values(memory, file),
                         [](const ::testing::TestParamInfo<parser_kind>& i) {
                           return i.param == memory ? "memory" : "file";
                         });

// Reads "<R><A>text</A></R>" and tells whether the text came back.
bool read_once() {
  std::string doc = "<R><A>text</A></R>";
  SAX_Memory_Parser p(&doc[0]);
  if (!p.init_ok() || p.start()) return false;
  char *tag, *value;
  for (int i = 0; i < 3; ++i)
    if (p.parse(&tag, &value) != 0) return false;
  return value != nullptr && std::string(value) == "text";
}

bool platform_up() { return xercesc::XMLPlatformUtils::fgMemoryManager != nullptr; }

// Without the library's reference a pair of calls brings the platform down; with
// it, a parser's Terminate only counts.
[[noreturn]] void parsers_leave_it_up() {
  xercesc::XMLPlatformUtils::Initialize();
  xercesc::XMLPlatformUtils::Terminate();
  if (platform_up()) std::_Exit(2);
  if (!read_once()) std::_Exit(3);
  if (!platform_up()) std::_Exit(4);
  if (!read_once() || !platform_up()) std::_Exit(5);
  exit(0);
}

// A program that brackets its reads with its own Initialize/Terminate: reads go on
// working after its Terminate, and exit releases the platform once.
[[noreturn]] void caller_brackets_its_reads() {
  xercesc::XMLPlatformUtils::Initialize();
  if (!read_once()) std::_Exit(2);
  xercesc::XMLPlatformUtils::Terminate();
  if (!platform_up()) std::_Exit(3);
  if (!read_once()) std::_Exit(4);
  xercesc::XMLPlatformUtils::Initialize();
  xercesc::XMLPlatformUtils::Terminate();
  exit(0);
}

// A parser made before the program's own Initialize/Terminate pair reads on after it.
[[noreturn]] void parser_outlives_callers_pair() {
  std::string doc = "<R><A>text</A></R>";
  auto p = std::make_unique<SAX_Memory_Parser>(&doc[0]);
  xercesc::XMLPlatformUtils::Initialize();
  xercesc::XMLPlatformUtils::Terminate();
  if (!p->init_ok() || p->start()) std::_Exit(2);
  char* tag = nullptr;
  char* value = nullptr;
  for (int i = 0; i < 3; ++i)
    if (p->parse(&tag, &value) != 0) std::_Exit(3);
  if (value == nullptr || std::string(value) != "text") std::_Exit(4);
  p.reset();
  exit(0);
}

// A program that calls Terminate once more than it initialised takes the library's
// reference: reads go on working (each sets the platform up again), and exit does not
// tear down a platform that is already down.
[[noreturn]] void caller_terminates_once_too_often() {
  if (!read_once()) std::_Exit(2);
  xercesc::XMLPlatformUtils::Terminate();
  if (platform_up()) std::_Exit(3);
  if (!read_once()) std::_Exit(4);
  exit(0);
}

// A program that terminates once too often and then initialises the platform itself:
// the parser kept from before is not used over the new platform.
[[noreturn]] void caller_terminates_then_initialises_itself() {
  if (!read_once()) std::_Exit(2);
  xercesc::XMLPlatformUtils::Terminate();
  xercesc::XMLPlatformUtils::Initialize();
  if (!read_once() || !read_once()) std::_Exit(3);
  xercesc::XMLPlatformUtils::Terminate();
  if (!read_once()) std::_Exit(4);
  exit(0);
}

// Threads read at once, each with the parser kept for it; a thread's end releases it
// (the sanitizer run sees a leak otherwise). Constructions and destructions, which
// count platform references, take turns.
[[noreturn]] void threads_read_with_their_own_parsers() {
  std::mutex turns;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &turns, &wrong] {
      for (int i = 0; i < 50; ++i) {
        const std::string want = "t" + std::to_string(t) + "-" + std::to_string(i);
        std::string doc = "<R><A k=\"" + want + "\">" + want + "</A></R>";
        std::unique_ptr<SAX_Memory_Parser> p;
        {
          std::lock_guard<std::mutex> lock(turns);
          p.reset(new SAX_Memory_Parser(&doc[0]));
        }
        char *tag = nullptr, *value = nullptr, *a = nullptr;
        bool ok = p->init_ok() && !p->start();
        for (int s = 0; ok && s < 3; ++s) ok = p->parse(&tag, &value) == 0;
        ok = ok && value != nullptr && want == value &&
             p->get_attr(const_cast<char*>("k"), &a) == 0 && want == a;
        if (!ok) ++wrong;
        std::lock_guard<std::mutex> lock(turns);
        p.reset();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  if (wrong != 0) std::_Exit(2);
  if (!read_once()) std::_Exit(3);
  exit(0);
}

// Each case runs in a fresh process (the library's reference to the platform is per
// process) and ends through the exit handlers, where that reference is released.
TEST(xerces_platform, library_keeps_it_up_between_parsers_and_exits_cleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(parsers_leave_it_up(), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(caller_brackets_its_reads(), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(parser_outlives_callers_pair(), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(caller_terminates_once_too_often(), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(caller_terminates_then_initialises_itself(), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(threads_read_with_their_own_parsers(), ::testing::ExitedWithCode(0), "");
}

TEST(sax_memory_parser, null_buffer_is_an_empty_document) {
  capture cap;
  SAX_Memory_Parser p(nullptr);
  ASSERT_TRUE(p.init_ok());
  EXPECT_TRUE(p.start());
}

TEST(sax_file_parser, missing_file_fails_start_with_message) {
  capture cap;
  SAX_File_Parser p;
  ASSERT_TRUE(p.init_ok());
  EXPECT_TRUE(p.start(const_cast<char*>("/nonexistent/dir/doc.xml")));
  EXPECT_TRUE(p.start(nullptr));
  cap.stop();
  EXPECT_NE(cap.err().find("\nError during parsing memory stream:\nException message is:  \n"),
            std::string::npos)
      << cap.err();
}

}  // namespace
