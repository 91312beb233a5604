#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "event_builder.h"
#include "test_support.h"

namespace {

using xrq5_test::temp_dir;

std::vector<xrq5_evb_event> sample_events() {
  std::vector<xrq5_evb_event> events(2);
  events[0].ev_type = XRQ5_EV_NORMAL;
  events[0].ev_number = 41;
  events[0].time = {1700000000, 250};
  xrq5_evb_add_namval(events[0].blocks, "BPM", XRQ5_BLOCK_2CHAN_2010, {1.0f, 2.0f});
  xrq5_evb_add_block(events[0].blocks, "ODD", XRQ5_BLOCK_EQDATA, "abc", 3);
  events[1].ev_type = XRQ5_EV_ENV;
  events[1].ev_number = 42;
  return events;
}

TEST(event_builder, blocks_are_padded_and_walked) {
  std::vector<char> buf;
  EXPECT_EQ(xrq5_evb_add_block(buf, "A", XRQ5_BLOCK_EQDATA, "xyzzy", 5), 0u);
  const size_t second = xrq5_evb_add_block(buf, std::string(300, 'n').c_str(), 9, nullptr, 0);
  EXPECT_EQ(second, 268u + 8u);
  size_t off = 0;
  xrq5_serv_block_subhead_2010* b = xrq5_evb_next_block(buf.data(), buf.size(), &off);
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(b->chname, "A");
  EXPECT_EQ(b->ldata, 5);
  b = xrq5_evb_next_block(buf.data(), buf.size(), &off);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(strlen(b->chname), 255u);
  EXPECT_EQ(off, buf.size());
  EXPECT_EQ(xrq5_evb_next_block(buf.data(), buf.size(), &off), nullptr);
  // A length beyond the data is refused and leaves the offset.
  off = 0;
  b = reinterpret_cast<xrq5_serv_block_subhead_2010*>(buf.data());
  b->ldata = 1000;
  EXPECT_EQ(xrq5_evb_next_block(buf.data(), buf.size(), &off), nullptr);
  EXPECT_EQ(off, 0u);
}

TEST(event_builder, file_round_trip) {
  temp_dir dir;
  const std::string path = dir.path() + "/events.bin";
  const std::vector<xrq5_evb_event> events = sample_events();
  std::string err;
  ASSERT_EQ(xrq5_evb_write_file(path.c_str(), events, &err), XRQ5_EVB_OK) << err;
  std::vector<xrq5_evb_event> back;
  ASSERT_EQ(xrq5_evb_read_file(path.c_str(), &back, &err), XRQ5_EVB_OK) << err;
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].ev_number, 41u);
  EXPECT_EQ(back[0].time.timeup, 1700000000u);
  EXPECT_EQ(back[0].blocks, events[0].blocks);
  EXPECT_EQ(back[1].ev_type, XRQ5_EV_ENV);
  EXPECT_TRUE(back[1].blocks.empty());
}

TEST(event_builder, bad_files_are_refused_with_a_message) {
  temp_dir dir;
  const std::string good = dir.path() + "/good.bin";
  ASSERT_EQ(xrq5_evb_write_file(good.c_str(), sample_events(), nullptr), XRQ5_EVB_OK);
  const std::string bytes = xrq5_test::read_file(good);

  struct {
    const char* what;
    std::string content;
    size_t events_kept;
  } cases[] = {
      {"empty", "", 0},
      {"not ours", "<?xml version=\"1.0\"?><BMR/>", 0},
      {"truncated in the first event", bytes.substr(0, 16 + 24 + 100), 0},
      {"truncated in the second event header", bytes.substr(0, bytes.size() - 10), 1},
      {"event length beyond the file", [&] {
         std::string b = bytes;
         b[16 + 20] = '\x7f';
         return b;
       }(), 0},
      {"block length beyond its event", [&] {
         std::string b = bytes;
         b[16 + 24 + 264 + 3] = '\x40';  // top byte of the first block's ldata
         return b;
       }(), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.write("bad.bin", c.content);
    std::vector<xrq5_evb_event> back;
    std::string err;
    EXPECT_EQ(xrq5_evb_read_file(path.c_str(), &back, &err), XRQ5_EVB_BAD_FILE);
    EXPECT_NE(err.find("bad.bin"), std::string::npos) << err;
    EXPECT_EQ(back.size(), c.events_kept);
  }
  std::vector<xrq5_evb_event> back;
  std::string err;
  EXPECT_EQ(xrq5_evb_read_file((dir.path() + "/missing").c_str(), &back, &err),
            XRQ5_EVB_OPEN_FAILED);
  EXPECT_EQ(xrq5_evb_write_file((dir.path() + "/no/such/dir").c_str(), sample_events(), &err),
            XRQ5_EVB_OPEN_FAILED);
  EXPECT_EQ(xrq5_evb_write_file("/dev/full", sample_events(), &err), XRQ5_EVB_WRITE_FAILED);
  EXPECT_NE(err.find("/dev/full"), std::string::npos);
}

}  // namespace

// A damaged file is located to the byte: the header field, event header or block
// where it breaks; the events before it stay read.
TEST(event_builder, read_file_at_reports_where_a_file_breaks) {
  std::vector<xrq5_evb_event> events(2);
  for (int i = 0; i < 2; ++i) {
    events[i].ev_number = 10 + i;
    xrq5_evb_add_namval(events[i].blocks, "CH", 5, {1.0f, 2.0f});
  }
  xrq5_test::temp_dir d;
  const std::string path = d.path() + "/ev";
  ASSERT_EQ(xrq5_evb_write_file(path.c_str(), events, nullptr), XRQ5_EVB_OK);
  const std::string good = xrq5_test::read_file(path);
  const size_t event_size = 24 + events[0].blocks.size();
  ASSERT_EQ(good.size(), 16 + 2 * event_size);
  const size_t second = 16 + event_size;
  std::string bad_version = good, bad_magic = good, bad_block = good;
  bad_version[8] = 2;
  bad_magic[second + 1] = 'x';
  bad_block[second + 24 + 256 + 8] = 100;  // the block's ldata beyond its event
  struct {
    const char* name;
    std::string content;
    size_t fault;
    size_t read;
  } cases[] = {
      {"version", bad_version, 8, 0},
      {"event magic", bad_magic, second, 1},
      {"short header", good.substr(0, second + 23), second, 1},
      {"length", good.substr(0, good.size() - 1), second + 20, 1},
      {"block", bad_block, second + 24, 1},
      {"not events", "XRQ5", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string p = d.write("bad", c.content);
    std::vector<xrq5_evb_event> back;
    std::string error;
    size_t fault = 12345;
    EXPECT_EQ(xrq5_evb_read_file_at(p.c_str(), &back, &error, &fault), XRQ5_EVB_BAD_FILE);
    EXPECT_EQ(fault, c.fault) << error;
    EXPECT_EQ(back.size(), c.read);
    std::vector<xrq5_evb_event> plain;
    std::string plain_error;
    EXPECT_EQ(xrq5_evb_read_file(p.c_str(), &plain, &plain_error), XRQ5_EVB_BAD_FILE);
    EXPECT_EQ(plain_error, error);
  }
  size_t untouched = 7;
  std::vector<xrq5_evb_event> back;
  EXPECT_EQ(xrq5_evb_read_file_at(path.c_str(), &back, nullptr, &untouched), XRQ5_EVB_OK);
  EXPECT_EQ(untouched, 7u);
  EXPECT_EQ(back.size(), 2u);
}
