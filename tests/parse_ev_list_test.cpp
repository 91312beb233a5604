#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "parse_ev_list.h"
#include "test_support.h"
#include "xrq5_reader.h"

namespace {

using xrq5_test::capture;
using xrq5_test::temp_dir;

enum reader_kind { memory, file };

class ev_list_read : public ::testing::TestWithParam<reader_kind> {
 protected:
  ~ev_list_read() override { xrq5_clean_ev_list(&list); }

  int read(const std::string& doc) {
    if (GetParam() == memory) {
      std::string text = doc;
      return xrq5_parse_ev_list_read(&text[0], &list);
    }
    std::string path = dir.write("list.xml", doc);
    return xrq5_parse_ev_list_readf(&path[0], &list);
  }

  // The document wrapped in a BMR root.
  int read_events(const std::string& events) { return read("<BMR>" + events + "</BMR>"); }

  std::string printed() {
    capture cap;
    xrq5_print_ev_list(&list);
    cap.stop();
    return cap.out();
  }

  std::vector<xrq5_ev_entry*> list;
  temp_dir dir;
};

TEST_P(ev_list_read, full_document_prints_as_expected) {
  ASSERT_EQ(read("<?xml version=\"1.0\"?>\n<BMR>\n <EVENT>\n  <TYPE>1</TYPE>\n"
                 "  <TMASK>0x1F</TMASK><MINTIMESEC>2</MINTIMESEC><MINTIMEUSEC>500</MINTIMEUSEC>\n"
                 "  <PRIORITY>7</PRIORITY>\n  <SBLOCK>BPM.SB</SBLOCK>\n"
                 "  <CHLIST>\n   <CHAN>X1</CHAN>\n   <CHAN> Y 1 </CHAN>\n  </CHLIST>\n"
                 "  <SBLOCK>TOR</SBLOCK>\n </EVENT>\n <EVENT><TYPE>4</TYPE></EVENT>\n</BMR>\n"),
            XRQ5_EV_LIST_OK);
  EXPECT_EQ(printed(),
            "Entry[0]\nEVENT TYPE:\tNORMAL\nTrigger mask:\t0x1f (31)\n"
            "Min event time:\t2 sec 500 usec\nPriority:\t0x7 (7)\nServer Blocks: 2\n"
            "Server block[0]: 'BPM.SB'\nChannels: 2\nChannel[0]:\t'X1'\nChannel[1]:\t' Y 1 '\n"
            "Server block[1]: 'TOR'\nNo channel list -> ALL channels\n"
            "Entry[1]\nEVENT TYPE:\tENV\nTrigger mask:\t0x0 (0)\n"
            "Min event time:\t0 sec 0 usec\nPriority:\t0x0 (0)\nServer Blocks: 0\n");
}

TEST_P(ev_list_read, event_type_range_and_text) {
  ASSERT_EQ(read_events("<EVENT><TYPE>32</TYPE></EVENT><EVENT><TYPE>33</TYPE></EVENT>"
                        "<EVENT><TYPE>-1</TYPE></EVENT><EVENT><TYPE>abc</TYPE></EVENT>"
                        "<EVENT><TYPE> 7xyz</TYPE></EVENT><EVENT><TYPE></TYPE><SBLOCK>S</SBLOCK></EVENT>"),
            0);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0]->evtype, XRQ5_EV_EVMAX);
  EXPECT_EQ(list[1]->evtype, XRQ5_EV_HB) << "no digits give type 0";
  EXPECT_EQ(list[2]->evtype, XRQ5_EV_WS);
}

TEST_P(ev_list_read, number_rules) {
  struct {
    const char* text;
    u_int expected;
  } cases[] = {{"0x1F", 31}, {"31", 31},  {"0X1F", 0},         {"1x", 7},
               {" 0x10 ", 16}, {"abc", 7}, {"4294967295", 0xFFFFFFFFu}, {"12abc", 12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    xrq5_clean_ev_list(&list);
    // TMASK is first set to 7, so text that matches no form shows as 7.
    ASSERT_EQ(read_events(std::string("<EVENT><TYPE>1</TYPE><TMASK>7</TMASK><TMASK>") + c.text +
                          "</TMASK><PRIORITY>" + c.text + "</PRIORITY></EVENT>"),
              0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->tmask, c.expected);
    EXPECT_EQ(list[0]->priority, c.expected == 7 ? 0 : c.expected);
  }
}

TEST_P(ev_list_read, block_name_is_cut_channel_name_is_not) {
  const std::string longname(300, 'b');
  ASSERT_EQ(read_events("<EVENT><TYPE>1</TYPE><SBLOCK>" + longname + "</SBLOCK><CHLIST><CHAN>" +
                        std::string(1000, 'c') + "</CHAN></CHLIST></EVENT>"),
            0);
  ASSERT_EQ(list.size(), 1u);
  const xrq5_ev_sb_list* sb = (*list[0]->sb_list)[0];
  EXPECT_EQ(std::string(sb->sb_list), longname.substr(0, 254));
  ASSERT_EQ(sb->ch_list->size(), 1u);
  EXPECT_EQ(std::string((*sb->ch_list)[0]), std::string(1000, 'c'));
}

TEST_P(ev_list_read, order_rules_for_channels_and_elements) {
  ASSERT_EQ(read_events(
                // elements before TYPE are ignored; a CHAN before CHLIST too
                "<EVENT><SBLOCK>early</SBLOCK><TMASK>5</TMASK><TYPE>1</TYPE>"
                "<SBLOCK>A</SBLOCK><CHAN>ignored</CHAN><CHLIST><CHAN>a1</CHAN></CHLIST>"
                // a later SBLOCK without CHLIST closes the channel list
                "<SBLOCK>B</SBLOCK><CHAN>ignored</CHAN>"
                // a second TYPE starts a second entry that takes what follows
                "<TYPE>2</TYPE><PRIORITY>9</PRIORITY></EVENT>"
                // everything in an EVENT whose TYPE is rejected is ignored
                "<EVENT><TYPE>99</TYPE><SBLOCK>lost</SBLOCK><PRIORITY>3</PRIORITY></EVENT>"),
            0);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->tmask, 0u);
  ASSERT_EQ(list[0]->sb_list->size(), 2u);
  const auto& a = *(*list[0]->sb_list)[0];
  const auto& b = *(*list[0]->sb_list)[1];
  EXPECT_STREQ(a.sb_list, "A");
  ASSERT_EQ(a.ch_list->size(), 1u);
  EXPECT_STREQ((*a.ch_list)[0], "a1");
  EXPECT_TRUE(b.ch_list->empty());
  EXPECT_EQ(list[0]->priority, 0u);
  EXPECT_EQ(list[1]->evtype, XRQ5_EV_BOR);
  EXPECT_EQ(list[1]->priority, 9u);
  EXPECT_TRUE(list[1]->sb_list->empty());
}

TEST_P(ev_list_read, wrong_root_fails_with_message_and_keeps_list) {
  ASSERT_EQ(read_events("<EVENT><TYPE>1</TYPE></EVENT>"), 0);
  capture cap;
  const int r = read("<?xml version=\"1.0\"?><EVLIST><EVENT><TYPE>2</TYPE></EVENT></EVLIST>");
  cap.stop();
  EXPECT_EQ(r, XRQ5_EV_LIST_FAILED);
  EXPECT_EQ(cap.err(), "WRONG root tag: EVLIST must be 'BMR'\n");
  EXPECT_EQ(list.size(), 1u) << "appended to, never cleared";
}

TEST_P(ev_list_read, later_error_keeps_what_was_read) {
  capture cap;
  const int r = read("<BMR><EVENT><TYPE>1</TYPE><SBLOCK>S</SBLOCK></EVENT><EVENT><TYPE>2</TYPE>"
                     "</BMR>");
  cap.stop();
  EXPECT_EQ(r, 1) << "the error count alone";
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->sb_list->size(), 1u);
  EXPECT_NE(cap.err().find("Fatal Error at (file "), std::string::npos);
}

TEST_P(ev_list_read, empty_or_broken_document_fails) {
  capture cap;
  EXPECT_GE(read(""), 1);
  EXPECT_GE(read("<?xml version=\"1.0\"?>"), 1);
  EXPECT_GE(read("not xml at all"), 1);
  cap.stop();
  EXPECT_TRUE(list.empty());
}

INSTANTIATE_TEST_SUITE_P(both, ev_list_read, ::testing::Values(memory, file),
                         [](const ::testing::TestParamInfo<reader_kind>& i) {
                           return i.param == memory ? "memory" : "file";
                         });

TEST(ev_list_readf, missing_file_fails_and_leaves_list) {
  std::vector<xrq5_ev_entry*> list;
  capture cap;
  EXPECT_GT(xrq5_parse_ev_list_readf(const_cast<char*>("/nonexistent/list.xml"), &list), 0);
  EXPECT_EQ(xrq5_parse_ev_list_read(nullptr, &list), XRQ5_EV_LIST_FAILED);
  EXPECT_EQ(xrq5_parse_ev_list_readf(nullptr, &list), XRQ5_EV_LIST_FAILED);
  cap.stop();
  EXPECT_TRUE(list.empty());
}

TEST(ev_list_print, null_and_empty_print_nothing_and_missing_vectors_have_their_lines) {
  capture cap;
  xrq5_print_ev_list(nullptr);
  std::vector<xrq5_ev_entry*> list;
  xrq5_print_ev_list(&list);
  xrq5_ev_entry full{XRQ5_EV_UPD, nullptr, {0, 0}, 0, 0};
  xrq5_ev_sb_list sb{"SB", nullptr};
  std::vector<xrq5_ev_sb_list*> blocks{&sb};
  xrq5_ev_entry some{XRQ5_EV_NORMAL, &blocks, {1, 2}, 0xA, 3};
  list = {&full, &some};
  xrq5_print_ev_list(&list);
  cap.stop();
  EXPECT_EQ(cap.out(),
            "Entry[0]\nEVENT TYPE:\tUPD\nTrigger mask:\t0x0 (0)\nMin event time:\t0 sec 0 usec\n"
            "Priority:\t0x0 (0)\nNo server block list -> Full event\n"
            "Entry[1]\nEVENT TYPE:\tNORMAL\nTrigger mask:\t0xa (10)\nMin event time:\t1 sec 2 usec\n"
            "Priority:\t0x3 (3)\nServer Blocks: 1\nServer block[0]: 'SB'\n"
            "No channel list -> ALL channels\n");
}

TEST(ev_list_clean, frees_everything_and_is_idempotent) {
  std::vector<xrq5_ev_entry*> list;
  std::string doc = "<BMR><EVENT><TYPE>1</TYPE><SBLOCK>S</SBLOCK><CHLIST><CHAN>c</CHAN></CHLIST>"
                    "<SBLOCK>T</SBLOCK></EVENT><EVENT><TYPE>3</TYPE></EVENT></BMR>";
  ASSERT_EQ(xrq5_parse_ev_list_read(&doc[0], &list), 0);
  ASSERT_EQ(list.size(), 2u);
  xrq5_clean_ev_list(&list);
  EXPECT_TRUE(list.empty());
  xrq5_clean_ev_list(&list);
  xrq5_clean_ev_list(nullptr);
}

// The shared reader loop: an exception in a step ends the read as a failure with a
// message instead of escaping to the caller.
TEST(reader_loop, exception_in_a_step_is_reported_and_ends_the_read) {
  std::string doc = "<BMR><A/></BMR>";
  capture cap;
  const xrq5_read::outcome r = xrq5_read::read<SAX_Memory_Parser>(
      &doc[0], xrq5_read::element_table{{"A", 0}}, [](const char*) { return true; },
      [](const xrq5_read::step&) { throw std::runtime_error("boom"); });
  cap.stop();
  EXPECT_EQ(r.at, xrq5_read::read_exception);
  EXPECT_EQ(cap.err(), "\nError during parsing memory stream:\nException message is:  \nboom\n");
}

// ---- the writer --------------------------------------------------------------------

TEST(ev_list_write, reads_back_as_written) {
  std::string doc =
      "<BMR><EVENT><TYPE>6</TYPE><TMASK>0x1F</TMASK><MINTIMESEC>4294967295</MINTIMESEC>"
      "<MINTIMEUSEC>500</MINTIMEUSEC><PRIORITY>2</PRIORITY><SBLOCK>CAM&amp;1</SBLOCK>"
      "<CHLIST><CHAN>A&lt;B&gt;</CHAN><CHAN>C</CHAN></CHLIST><SBLOCK>ALL</SBLOCK><CHLIST/>"
      "</EVENT><EVENT><TYPE>0</TYPE></EVENT></BMR>";
  std::vector<xrq5_ev_entry*> first, second;
  ASSERT_EQ(xrq5_parse_ev_list_read(&doc[0], &first), 0);
  std::string xml;
  xml = "old text";
  ASSERT_EQ(xrq5_write_ev_list(&first, nullptr, -1, &xml), 0);
  EXPECT_EQ(xml.find("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<BMR>\n\t<isodate>"), 0u);
  EXPECT_NE(xml.find("<SBLOCK>CAM&amp;1</SBLOCK>\n"), std::string::npos);
  EXPECT_NE(xml.find("<TMASK>0x1F</TMASK>\n"), std::string::npos);
  ASSERT_EQ(xrq5_parse_ev_list_read(&xml[0], &second), 0);
  capture a;
  xrq5_print_ev_list(&first);
  a.stop();
  capture b;
  xrq5_print_ev_list(&second);
  b.stop();
  EXPECT_EQ(a.out(), b.out());
  EXPECT_NE(a.out().find("'A<B>'"), std::string::npos);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[0]->min_ev_time.timeup, 4294967295u);
  xrq5_clean_ev_list(&first);
  xrq5_clean_ev_list(&second);
}

TEST(ev_list_write, targets_and_failures) {
  std::string doc = "<BMR><EVENT><TYPE>1</TYPE></EVENT></BMR>";
  std::vector<xrq5_ev_entry*> list;
  ASSERT_EQ(xrq5_parse_ev_list_read(&doc[0], &list), 0);
  temp_dir dir;
  std::string path = dir.path() + "/out.xml";
  std::string xml;
  EXPECT_EQ(xrq5_write_ev_list(&list, &path[0], -1, &xml), 0);
  EXPECT_EQ(xrq5_test::read_file(path), xml);

  std::string missing = dir.path() + "/no/such/folder/out.xml";
  capture cap;
  EXPECT_EQ(xrq5_write_ev_list(&list, &missing[0], -1, nullptr), XRQ5_EV_LIST_OPEN_FAILED);
  std::string full = "/dev/full";
  EXPECT_EQ(xrq5_write_ev_list(&list, &full[0], -1, nullptr), XRQ5_EV_LIST_WRITE_FAILED);
  EXPECT_EQ(xrq5_write_ev_list(&list, nullptr, 1000, nullptr), XRQ5_EV_LIST_WRITE_FAILED);
  EXPECT_EQ(xrq5_write_ev_list(nullptr, nullptr, -1, &xml), XRQ5_EV_LIST_WRITE_FAILED);
  cap.stop();
  EXPECT_NE(cap.out().find("xrq5_write_ev_list() failed to open file: '" + missing + "'\n"),
            std::string::npos);
  EXPECT_NE(cap.err().find("fopen: No such file or directory"), std::string::npos);
  xrq5_clean_ev_list(&list);
}

}  // namespace

