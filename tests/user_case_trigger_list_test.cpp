// Trigger lists in XML: the readers (through both parsers), the writer's modes and
// targets, and round trips.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "test_support.h"
#include "trigger_records.h"
#include "user_case_trigger.h"

namespace {

using namespace xrq5_test;

struct owned_triggers {
  std::vector<xrq5_user_case_trigger*> v;
  ~owned_triggers() { clear(); }
  void clear() {
    for (auto* t : v) XRQ5_FREE_USER(t);
    v.clear();
  }
};

enum reader_kind { memory, file };

class trigger_list_read : public ::testing::TestWithParam<reader_kind> {
 protected:
  bool read(const std::string& triggers, const char* root = "XRQ5USERTRIGGERLIST") {
    const std::string doc = std::string("<?xml version=\"1.0\"?>\n<") + root + ">\n" + triggers +
                            "</" + root + ">\n";
    if (GetParam() == memory) {
      std::string text = doc;
      return parse_trigger_list_read(&text[0], &l.v);
    }
    std::string path = dir.write("t.xml", doc);
    return parse_trigger_list_readf(&path[0], &l.v);
  }
  owned_triggers l;
  temp_dir dir;
};

TEST_P(trigger_list_read, defaults_of_an_empty_trigger) {
  const time_t before = time(nullptr);
  ASSERT_FALSE(read("<USERTRIGGER/>\n<USERTRIGGER></USERTRIGGER>\n<USERTRIGGER>\n</USERTRIGGER>\n"));
  ASSERT_EQ(l.v.size(), 3u) << "one record per element";
  for (const auto* t : l.v) {
    EXPECT_EQ(t->function, 2) << "MEAN";
    EXPECT_EQ(t->operation, 0) << "GT";
    EXPECT_STREQ(t->channel, "");
    EXPECT_GE(t->time, before);
    EXPECT_EQ(t->fresult, nullptr);
  }
}

TEST_P(trigger_list_read, attributes_aliases_and_names) {
  ASSERT_FALSE(read(
      "<Chan name=\"before any trigger\"/>\n"
      "<USERTRIGGER>\n<Chan name=\"TOR\" subchan=\"2\"/>\n"
      "<Function name=\"P2P\" start=\"1.5\" end=\"3\" incr=\"2\" b=\"7\" form=\"1\" param9=\"9\"/>\n"
      "<Operation name=\"INSIDE\"/>\n<LowLimit value=\"0.5\"/>\n<UpperLimit value=\"x\"/>\n"
      "<BitMask mask=\"0x1F\"/>\n<Creation time=\"12\"/>\n<Description text=\"d &amp; e\"/>\n"
      "<PreMode events=\"-3\"/>\n<PostMode events=\"4\"/>\n<Group name=\"g\"/>\n</USERTRIGGER>\n"
      "<USERTRIGGER>\n<Function name=\"mean\" param0=\"1\" start=\"2\" position=\"3\"/>\n"
      "<Operation name=\"gt\"/>\n<BitMask mask=\"1F\"/>\n<Nested><Chan name=\"deep\"/></Nested>\n"
      "</USERTRIGGER>\n"));
  ASSERT_EQ(l.v.size(), 2u);
  const xrq5_user_case_trigger& a = *l.v[0];
  EXPECT_STREQ(a.channel, "TOR");
  EXPECT_EQ(a.subchannel, 2);
  EXPECT_EQ(a.function, 7);
  EXPECT_EQ(a.fparam[0], 1.5f);
  EXPECT_EQ(a.fparam[1], 3.0f);
  EXPECT_EQ(a.fparam[2], 2.0f);
  EXPECT_EQ(a.fparam[3], 7.0f);
  EXPECT_EQ(a.fparam[4], 1.0f);
  EXPECT_EQ(a.fparam[9], 9.0f);
  EXPECT_EQ(a.operation, 5);
  EXPECT_EQ(a.low, 0.5f);
  EXPECT_EQ(a.upper, 0.0f) << "a number that does not convert leaves the field";
  EXPECT_EQ(a.bitmask, 31u);
  EXPECT_NE(a.time, 12) << "Creation is not read";
  EXPECT_STREQ(a.description, "d & e");
  EXPECT_EQ(a.pre_mode, -3);
  EXPECT_EQ(a.post_mode, 4);
  EXPECT_STREQ(a.group, "g");
  const xrq5_user_case_trigger& b = *l.v[1];
  EXPECT_EQ(b.function, 2) << "names are case-sensitive";
  EXPECT_EQ(b.operation, 0);
  EXPECT_EQ(b.fparam[0], 1.0f) << "param0 wins over its aliases";
  EXPECT_EQ(b.bitmask, 0u) << "a mask without 0x is not read";
  EXPECT_STREQ(b.channel, "deep") << "elements count at any depth";
}

TEST_P(trigger_list_read, failures) {
  capture cap;
  const bool wrong = read("<USERTRIGGER/>\n", "USERTRIGGERLIST");
  const size_t after_wrong = l.v.size();
  std::string broken = "<XRQ5USERTRIGGERLIST><USERTRIGGER><Chan name=\"a\"/>";
  const bool bad = GetParam() == memory ? parse_trigger_list_read(&broken[0], &l.v)
                                        : parse_trigger_list_readf(&dir.write("b.xml", broken)[0], &l.v);
  cap.stop();
  EXPECT_TRUE(wrong);
  EXPECT_EQ(after_wrong, 0u);
  EXPECT_NE(cap.err().find("WRONG root tag: 'USERTRIGGERLIST' must be 'XRQ5USERTRIGGERLIST'\n"),
            std::string::npos);
  EXPECT_TRUE(bad);
  ASSERT_EQ(l.v.size(), 1u) << "what was read before the error stays";
  EXPECT_STREQ(l.v[0]->channel, "a");
  EXPECT_TRUE(parse_trigger_list_read(nullptr, &l.v));
}

INSTANTIATE_TEST_SUITE_P(both, trigger_list_read, ::testing::Values(memory, file),
                         [](const ::testing::TestParamInfo<reader_kind>& i) {
                           return i.param == memory ? "memory" : "file";
                         });

void sample(owned_triggers& l) {
  l.v.push_back(make_trigger("TOR", 7, 5, {1.5f, 3.0f, 2.0f}, 0.5f, 2.5f, 0x1F).release());
  l.v.back()->subchannel = 1;
  l.v.back()->pre_mode = -3;
  l.v.back()->post_mode = 4;
  l.v.back()->time = 1764583200;
  strcpy(l.v.back()->description, "d");
  strcpy(l.v.back()->group, "g");
  l.v.push_back(make_trigger("BPM", 40, 10).release());  // function outside the registry
}

const char trigger_doc_body[] =
    "<USERTRIGGER>\n<Chan name=\"TOR\" subchan=\"1\"/>\n"
    "<Function name=\"P2P\" param0=\"1.500000\" param1=\"3.000000\" param2=\"2.000000\" "
    "param3=\"0.000000\" param4=\"0.000000\" param5=\"0.000000\" param6=\"0.000000\" "
    "param7=\"0.000000\" param8=\"0.000000\" param9=\"0.000000\" param10=\"0.000000\" "
    "param11=\"0.000000\" param12=\"0.000000\" param13=\"0.000000\" param14=\"0.000000\" "
    "param15=\"0.000000\"/>\n<Operation name=\"INSIDE\"/>\n<LowLimit value=\"0.500000\"/>\n"
    "<UpperLimit value=\"2.500000\"/>\n<BitMask mask=\"0x1F\"/>\n"
    "<Creation time=\"1764583200\"/>\n<Description text=\"d\"/>\n"
    "<PreMode events=\"4294967293\"/>\n<PostMode events=\"4\"/>\n<Group name=\"g\"/>\n"
    "</USERTRIGGER>\n";

std::string without_date(const std::string& doc) {
  return std::regex_replace(doc, std::regex("\t<isodate>[0-9T:-]{19}</isodate>\n"), "");
}

TEST(dump_user_trigger_list, exact_xml_text_and_screen) {
  owned_triggers l;
  sample(l);
  std::string xml = "replaced";
  ASSERT_EQ(dump_user_trigger_list(&l.v, nullptr, USER_TRIG_DUMP_XML_STRING, -1, &xml), 0);
  const std::string doc = without_date(xml);
  EXPECT_EQ(doc.substr(0, 67),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<XRQ5USERTRIGGERLIST>\n");
  EXPECT_EQ(doc.substr(67, sizeof trigger_doc_body - 1), trigger_doc_body);
  EXPECT_NE(doc.find("<Function name=\"UNKNOWN\""), std::string::npos);
  EXPECT_EQ(doc.substr(doc.size() - 23), "</XRQ5USERTRIGGERLIST>\n");

  temp_dir d;
  std::string path = d.path() + "/t.txt";
  capture cap;
  ASSERT_EQ(dump_user_trigger_list(&l.v, &path[0], USER_TRIG_DUMP_TXT_FILE, -1, nullptr), 0);
  cap.stop();
  EXPECT_EQ(cap.out(), "dump_user_trigger_list()  file: '" + path + "' has been created\n"
                       "dump_user_trigger_list()  file: '" + path + "' has been closed\n");
  const std::string zeros = "[3]:0.000000\t[4]:0.000000\t[5]:0.000000\t[6]:0.000000\t"
                            "[7]:0.000000\t[8]:0.000000\t[9]:0.000000\t[10]:0.000000\t"
                            "[11]:0.000000\t[12]:0.000000\t[13]:0.000000\t[14]:0.000000\t"
                            "[15]:0.000000\t";
  EXPECT_EQ(read_file(path).substr(0, 200),
            ("TOR\t1\tP2P\n[0]:1.500000\t[1]:3.000000\t[2]:2.000000\t" + zeros +
             "\nINSIDE\n0.500000\t2.500000\t0x1F\nBPM\t0\tUNKNOWN\n").substr(0, 200));

  capture screen;
  ASSERT_EQ(dump_user_trigger_list(&l.v, nullptr, USER_TRIG_DUMP_XML_FILE, -1, nullptr), 0);
  screen.stop();
  EXPECT_EQ(screen.out().substr(0, 190),
            ("-------------- 1 -----------------\n Channel: TOR\tsubchannel: 1\n Function: P2P\n"
             " Parameters: \n[0]:1.500000\t[1]:3.000000\t[2]:2.000000\t" + zeros).substr(0, 190));
  EXPECT_NE(screen.out().find("\n Operation: INSIDE\n Limits: \n Low: 0.5\tUpper: 2.5\n"
                              "BitMask: 0x1F\n-------------- 2 -----------------\n"),
            std::string::npos)
      << screen.out();
}

TEST(dump_user_trigger_list, mode_and_target_matrix) {
  owned_triggers l, empty;
  sample(l);
  temp_dir d;
  std::string path = d.path() + "/out";
  std::string s = "kept";
  capture cap;
  EXPECT_EQ(dump_user_trigger_list(&l.v, &path[0], USER_TRIG_DUMP_TO_SCREEN, -1, nullptr), 0);
  const std::string mode0 = read_file(path);
  EXPECT_EQ(dump_user_trigger_list(&l.v, &path[0], USER_TRIG_DUMP_XML_STRING, -1, nullptr), 0);
  const std::string mode3 = read_file(path);
  EXPECT_EQ(dump_user_trigger_list(&l.v, nullptr, USER_TRIG_DUMP_XML_FILE, -1, &s), 0);
  EXPECT_EQ(dump_user_trigger_list(&empty.v, &path[0], USER_TRIG_DUMP_TXT_FILE, -1, nullptr), 0);
  const std::string empty_text = read_file(path);
  EXPECT_EQ(dump_user_trigger_list(&empty.v, &path[0], USER_TRIG_DUMP_XML_FILE, -1, nullptr), 0);
  const std::string empty_xml = read_file(path);
  const int fd = open((d.path() + "/fd").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  EXPECT_EQ(dump_user_trigger_list(&l.v, nullptr, USER_TRIG_DUMP_XML_FILE, fd, nullptr), 0);
  close(fd);
  cap.stop();
  EXPECT_EQ(mode0, "") << "mode 0 with a file: created, left empty";
  EXPECT_EQ(mode3, "") << "mode 3 writes the string only";
  EXPECT_EQ(s, "kept") << "mode 2 writes no string";
  EXPECT_EQ(empty_text, "");
  EXPECT_EQ(without_date(empty_xml), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n"
                                     "<XRQ5USERTRIGGERLIST>\n</XRQ5USERTRIGGERLIST>\n");
  EXPECT_NE(read_file(d.path() + "/fd").find(trigger_doc_body), std::string::npos);
  EXPECT_EQ(cap.out().find("-----"), std::string::npos) << "no screen output with a target";
}

TEST(dump_user_trigger_list, failures_are_reported) {
  owned_triggers l;
  sample(l);
  temp_dir d;
  std::string missing = d.path() + "/no/dir/t.xml", full = "/dev/full";
  capture cap;
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  close(p[0]);
  close(p[1]);
  const int no_list = dump_user_trigger_list(nullptr, nullptr, 2, -1, nullptr);
  const int no_dir = dump_user_trigger_list(&l.v, &missing[0], 2, -1, nullptr);
  const int disk_full = dump_user_trigger_list(&l.v, &full[0], 2, -1, nullptr);
  const int closed = dump_user_trigger_list(&l.v, nullptr, 2, p[1], nullptr);
  const int no_header = get_user_trigger_empty_header(nullptr);
  std::string bad = "<XRQ5USERTRIGGERLIST>";
  const int unreadable = dump_user_triggers(&bad[0], nullptr, 2, -1);
  cap.stop();
  EXPECT_EQ(no_list, USER_TRIG_FAILED);
  EXPECT_EQ(no_dir, USER_TRIG_OPEN_FAILED);
  EXPECT_EQ(disk_full, USER_TRIG_FAILED);
  EXPECT_EQ(closed, USER_TRIG_FAILED);
  EXPECT_EQ(no_header, USER_TRIG_FAILED);
  EXPECT_EQ(unreadable, USER_TRIG_READ_FAILED);
  EXPECT_EQ(cap.out(),
            "dump_user_trigger_list() invalid argument: '\n"
            "dump_user_trigger_list() failed to open file: '" + missing + "'\n"
            "dump_user_trigger_list()  file: '/dev/full' has been created\n"
            "dump_user_trigger_list() failed to write file: '/dev/full'\n"
            "dump_user_trigger_list()  write failed\n"
            "get_user_trigger_empty_header() invalid argument: '\n"
            "Failed to parse USER TRIGGER list\n");
}

TEST(trigger_list, round_trip_and_empty_header) {
  owned_triggers l, back;
  sample(l);
  std::string xml;
  ASSERT_EQ(dump_user_trigger_list(&l.v, nullptr, USER_TRIG_DUMP_XML_STRING, -1, &xml), 0);
  ASSERT_FALSE(parse_trigger_list_read(&xml[0], &back.v));
  ASSERT_EQ(back.v.size(), 2u);
  EXPECT_TRUE(XRQ5_USER_THESAME(l.v[0], back.v[0]));
  EXPECT_EQ(back.v[0]->pre_mode, -3) << "written as its unsigned value 4294967293, read back";
  EXPECT_NE(back.v[0]->time, l.v[0]->time) << "a read record gets the time of reading";
  EXPECT_EQ(back.v[1]->function, 2) << "UNKNOWN is no function name: MEAN stays";

  std::string empty;
  ASSERT_EQ(get_user_trigger_empty_header(&empty), 0);
  EXPECT_EQ(without_date(empty), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n"
                                 "<XRQ5USERTRIGGERLIST>\n</XRQ5USERTRIGGERLIST>\n");
  owned_triggers none;
  EXPECT_FALSE(parse_trigger_list_read(&empty[0], &none.v));
  EXPECT_TRUE(none.v.empty());

  temp_dir d;
  std::string path = d.path() + "/again.xml";
  capture cap;
  EXPECT_EQ(dump_user_triggers(&xml[0], &path[0], USER_TRIG_DUMP_XML_FILE, -1), 0);
  cap.stop();
  EXPECT_NE(read_file(path).find("<Chan name=\"TOR\" subchan=\"1\"/>\n<Function name=\"P2P\""),
            std::string::npos);
}

}  // namespace
