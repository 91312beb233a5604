// The channel selector and its extractor: load rules, name choice per structure type,
// classification, index bounds, and the hash indexes answering exactly like the
// ordered scans on lists with repeated names.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "chan_selector.h"
#include "event_util.h"
#include "test_support.h"
#include "xrq5_name_index.h"

namespace {

using xrq5_test::capture;
using xrq5_test::temp_dir;

// One tag-form channel.
std::string channel(const char* prop, const char* name, int ev_type, int ndims = 0) {
  std::string c = std::string("<CHANNEL><PROP>") + prop + "</PROP><NAME>" + name + "</NAME>";
  if (ev_type >= 0) c += "<EVTYPE>" + std::to_string(ev_type) + "</EVTYPE>";
  for (int d = 0; d < ndims; ++d) c += "<DIM>" + std::to_string(d) + "</DIM>";
  return c + "</CHANNEL>";
}

std::string xcd(const std::string& channels) {
  return "<CHANDESCRIPTIONS>" + channels + "</CHANDESCRIPTIONS>";
}

TEST(descr_extractor, load_rules_and_counts) {
  temp_dir d;
  const std::string good = d.write("good.xml", xcd(channel("P/B", "B", 1)));
  const std::string bad = d.path() + "/missing.xml";
  std::vector<chan_descr_2010*> out;
  descr_extractor ex;
  EXPECT_EQ(ex.get_mode(), EXTR_FROM_FILE);
  int total = -7;
  std::vector<char*> none;
  EXPECT_FALSE(ex.get_descriptions(none, &total, out, true));
  EXPECT_EQ(total, 0);

  std::vector<char*> bad_then_good{const_cast<char*>(bad.c_str()), const_cast<char*>(good.c_str())};
  capture cap;
  EXPECT_FALSE(ex.get_descriptions(bad_then_good, &total, out, true));
  EXPECT_EQ(total, 1);
  EXPECT_EQ(out.size(), 1u);
  total = -7;
  std::vector<char*> good_then_bad{const_cast<char*>(good.c_str()), const_cast<char*>(bad.c_str())};
  EXPECT_TRUE(ex.get_descriptions(good_then_bad, &total, out, true));
  cap.stop();
  EXPECT_EQ(total, -7) << "the count is left alone when the last read failed";
  EXPECT_EQ(out.size(), 2u);

  EXPECT_TRUE(ex.set_mode(2));
  EXPECT_EQ(ex.get_mode(), 2);
  EXPECT_FALSE(ex.get_descriptions(bad_then_good, &total, out, true));
  EXPECT_EQ(total, 0) << "mode 2 reads nothing";
  EXPECT_EQ(out.size(), 2u);
  EXPECT_FALSE(ex.set_mode(EXTR_FROM_XML));
  std::string text = xcd(channel("P/X", "X", 4));
  std::vector<char*> texts{&text[0]};
  EXPECT_FALSE(ex.get_descriptions(texts, nullptr, out, false));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[2]->ev_type, 4u) << "without shift";
  clean_chan_desr_list(&out);
}

class selector : public ::testing::Test {
 protected:
  void load(const std::string& channels, bool shift = true) {
    texts.push_back(xcd(channels));
    std::vector<char*> src{&texts.back()[0]};
    sel.change_mode(EXTR_FROM_XML);
    sel.set_shift(shift);
    ASSERT_FALSE(sel.set_descriptions(src, nullptr));
  }
  std::vector<std::string> texts;
  chan_selector sel;
};

TEST_F(selector, empty_selector) {
  EXPECT_EQ(sel.size(), 0);
  EXPECT_TRUE(sel.find_channel(1, const_cast<char*>("anything")));
  capture cap;
  EXPECT_EQ(sel.get_event_type(const_cast<char*>("x")), 0);
  EXPECT_EQ(sel.get_data_type(const_cast<char*>("x")), 0);
  cap.stop();
  EXPECT_EQ(cap.out(), "get_event_type() No descroption !!!!\nget_event_type() No descroption !!!!\n");
  EXPECT_EQ(sel.get_channel(0), nullptr);
  EXPECT_EQ(sel.is_channel_slow(0), -1);
}

TEST_F(selector, name_choice_per_structure_type) {
  load(channel("P/NORMAL", "D.NORMAL", 1) + channel("P/IMAGE", "D.IMAGE", 6) +
       channel("P/ML", "D.ML", 20));
  EXPECT_TRUE(sel.find_channel(XRQ5_EV_NORMAL, const_cast<char*>("P/NORMAL")));
  EXPECT_FALSE(sel.find_channel(XRQ5_EV_NORMAL, const_cast<char*>("D.NORMAL")))
      << "a GLOBAL event type names channels by property";
  EXPECT_TRUE(sel.find_channel(XRQ5_EV_IMAGE, const_cast<char*>("D.NORMAL")))
      << "whatever the description's own mask";
  EXPECT_FALSE(sel.find_channel(XRQ5_EV_IMAGE, const_cast<char*>("P/IMAGE")));
  EXPECT_TRUE(sel.find_channel(XRQ5_EV_LLRF_ML, const_cast<char*>("D.ML")));
  EXPECT_FALSE(sel.find_channel(XRQ5_EV_ENV, const_cast<char*>("P/NORMAL")))
      << "no held description is recorded in ENV";
  EXPECT_FALSE(sel.find_channel(40, const_cast<char*>("P/NORMAL")));
  EXPECT_FALSE(sel.find_channel(-1, const_cast<char*>("P/NORMAL")));
}

TEST_F(selector, slow_ml_and_subchannels) {
  load(channel("P/ENV", "ENV.ONLY", 4, 2) + channel("P/N", "NORMAL.DIMS", 1, 3) +
       channel("P/M", "LLRF.ML.AMPL", 1) + channel("P/E", "EMPTY.MASK", -1) +
       channel("P/E2", "LATER", -1) + channel("P/E3", "LATER", 5));
  EXPECT_EQ(sel.is_channel_slow(0), 1);
  EXPECT_EQ(sel.get_subchannels(0), 1) << "slow: one, whatever its dims";
  EXPECT_EQ(sel.is_channel_slow(1), 0);
  EXPECT_EQ(sel.get_subchannels(1), 3);
  EXPECT_EQ(sel.is_channel_ml(1), 0);
  EXPECT_EQ(sel.is_channel_ml(2), 1) << ".ML in the middle of the name";
  capture cap;
  EXPECT_EQ(sel.is_channel_slow(3), -1);
  EXPECT_EQ(sel.is_channel_ml(3), -1);
  cap.stop();
  EXPECT_EQ(cap.out(), "CHANNEL EMPTY.MASK NOT FOUND\nCHANNEL EMPTY.MASK NOT FOUND\n");
  EXPECT_EQ(sel.is_channel_slow(4), 1) << "a later description of the same DAQ name answers";

  EXPECT_EQ(sel.get_channel(-1), nullptr);
  EXPECT_EQ(sel.get_prop(6), nullptr);
  EXPECT_STREQ(sel.get_prop(1), "P/N");
  EXPECT_EQ(sel.is_channel_slow(-1), -1);
  EXPECT_EQ(sel.is_channel_ml(-1), -1);
  EXPECT_EQ(sel.get_subchannels(-1), 0);
  EXPECT_TRUE(sel.set_counter(-1, 5));
  EXPECT_FALSE(sel.set_counter(1, 5));
  EXPECT_EQ(sel.size(), 6);
}

// The Part's scans, written out, for comparison with the indexes.
struct reference {
  std::vector<chan_descr_2010*> d;
  bool by_daq(int t) {
    const int s = get_event_struct_type(t);
    return s == XRQ5_EV_STRUCT_LOCAL || s == XRQ5_EV_STRUCT_ML;
  }
  bool find_channel(unsigned int ev_types, int t, const std::string& chan) {
    if (d.empty()) return true;
    if (!(ev_types & (1u << t))) return false;
    for (auto* c : d)
      if (chan == (by_daq(t) ? c->daq_name : c->prop_name)) return true;
    return false;
  }
  int get_event_type(const std::string& chan) {
    for (auto* c : d)
      for (int i = 0; i < 32; ++i) {
        if (!(c->ev_type & (1u << i))) continue;
        if (!by_daq(i) && chan == c->prop_name) return static_cast<int>(c->ev_type);
        if (chan == c->daq_name) return static_cast<int>(c->ev_type);
      }
    return 0;
  }
  int get_data_type(const std::string& chan) {
    for (auto* c : d)
      if (chan == c->daq_name) return static_cast<int>(c->dtype);
    return 0;
  }
};

TEST_F(selector, indexes_answer_like_the_ordered_scans) {
  // Repeated DAQ and property names, names shared between the two kinds, empty masks.
  const std::string a = channel("A", "X", 1) + channel("B", "X", 6) + channel("X", "A", 20) +
                        channel("A", "B", 6) + channel("C", "C", -1) + channel("C", "D", 5) +
                        channel("D", "C", 27) + channel("E", "E", 6);
  load(a);
  load(channel("F", "A", 4) + channel("E", "F", 1) + "<CHANNEL><PROP>G</PROP><DTYPE>40</DTYPE>"
                                                      "<NAME>X</NAME></CHANNEL>");
  reference ref;
  unsigned int mask = 0;
  // The reference reads the same documents the same way.
  for (const std::string& t : texts) {
    std::string copy = t;
    parse_descr_list_read(&copy[0], &ref.d, true, false);
  }
  for (auto* c : ref.d) mask |= c->ev_type;
  ASSERT_EQ(static_cast<int>(ref.d.size()), sel.size());
  const char* names[] = {"A", "B", "C", "D", "E", "F", "G", "X", "Y", ""};
  capture quiet;  // NOT FOUND lines
  for (const char* n : names) {
    SCOPED_TRACE(n);
    EXPECT_EQ(sel.get_event_type(const_cast<char*>(n)), ref.get_event_type(n));
    EXPECT_EQ(sel.get_data_type(const_cast<char*>(n)), ref.get_data_type(n));
    for (int t = 0; t < 32; ++t)
      EXPECT_EQ(sel.find_channel(t, const_cast<char*>(n)), ref.find_channel(mask, t, n)) << t;
  }
  quiet.stop();
  clean_chan_desr_list(&ref.d);
}

// Thousands of names over three loads, so that the indexes grow between and during
// loads: names of every length around the hash's 8-byte steps, repeats across loads,
// and queries that are prefixes or extensions of held names.
TEST_F(selector, indexes_answer_like_the_ordered_scans_as_they_grow) {
  auto name = [](const char* kind, int i) {
    std::string n = std::string(kind) + std::to_string(i % 1500);
    n.append(static_cast<size_t>(i % 19), static_cast<char>('a' + i % 26));
    return n;
  };
  for (int part = 0; part < 3; ++part) {
    std::string channels;
    for (int i = part * 1000; i < part * 1000 + 1000; ++i)
      channels += channel(name("P", i * 7).c_str(), name("D", i * 5).c_str(),
                          i % 11 == 0 ? -1 : 1 + i % 27);
    load(channels);
  }
  reference ref;
  unsigned int mask = 0;
  for (const std::string& t : texts) {
    std::string copy = t;
    parse_descr_list_read(&copy[0], &ref.d, true, false);
  }
  for (auto* c : ref.d) mask |= c->ev_type;
  ASSERT_EQ(static_cast<int>(ref.d.size()), sel.size());
  std::vector<std::string> queries;
  for (int i = 0; i < 3000; i += 7) {
    for (const std::string& n : {name("P", i * 7), name("D", i * 5)}) {
      queries.push_back(n);
      queries.push_back(n + "x");
      queries.push_back(n.substr(0, n.size() - 1));
    }
  }
  capture quiet;  // NOT FOUND lines
  for (const std::string& q : queries) {
    SCOPED_TRACE(q);
    std::string n = q;
    ASSERT_EQ(sel.get_event_type(&n[0]), ref.get_event_type(q));
    ASSERT_EQ(sel.get_data_type(&n[0]), ref.get_data_type(q));
    for (int t : {XRQ5_EV_NORMAL, XRQ5_EV_IMAGE, XRQ5_EV_ENV, XRQ5_EV_LLRF_ML})
      ASSERT_EQ(sel.find_channel(t, &n[0]), ref.find_channel(mask, t, q)) << t;
  }
  quiet.stop();
  clean_chan_desr_list(&ref.d);
}

// Names that agree in their first 40 to 60 bytes and differ after them, or only in
// length, up to the 255 bytes a name field holds: an index must compare every byte,
// not only a leading part it keeps beside its hash bits.
TEST_F(selector, long_names_that_differ_late) {
  const std::string stem(40, 'L');
  std::vector<std::string> held_names;
  for (size_t extra : {0u, 7u, 8u, 9u, 15u, 20u, 100u, 215u})
    for (char last : {'a', 'b'}) held_names.push_back(stem + std::string(extra, 'x') + last);
  held_names.push_back(std::string(255, 'z'));
  std::string channels;
  int k = 0;
  for (const std::string& n : held_names) {
    // DAQ names and property names crossed, some masks empty, some by property only
    channels += channel(n.c_str(), ("D" + n).substr(0, 255).c_str(), k % 5 == 0 ? -1 : 1 + k % 27);
    std::string c = channel(("P" + n).substr(0, 255).c_str(), n.c_str(), 1 + (k * 7) % 27);
    channels += c.insert(c.size() - 10, "<DTYPE>" + std::to_string(38 + k % 5) + "</DTYPE>");
    ++k;
  }
  load(channels);
  reference ref;
  unsigned int mask = 0;
  std::string copy = texts.back();
  parse_descr_list_read(&copy[0], &ref.d, true, false);
  for (auto* c : ref.d) mask |= c->ev_type;
  ASSERT_EQ(static_cast<int>(ref.d.size()), sel.size());
  std::vector<std::string> queries;
  for (const std::string& n : held_names) {
    queries.push_back(n);
    queries.push_back("D" + n);
    queries.push_back(n.substr(0, n.size() - 1));  // a prefix: not held
    queries.push_back(n.substr(0, n.size() - 1) + 'c');  // the last byte differs
    queries.push_back(n + 'a');
  }
  capture quiet;  // NOT FOUND lines
  for (const std::string& q : queries) {
    SCOPED_TRACE(q);
    std::string n = q;
    EXPECT_EQ(sel.get_event_type(&n[0]), ref.get_event_type(q));
    EXPECT_EQ(sel.get_data_type(&n[0]), ref.get_data_type(q));
    for (int t : {XRQ5_EV_NORMAL, XRQ5_EV_IMAGE, XRQ5_EV_ENV, XRQ5_EV_LLRF_ML})
      EXPECT_EQ(sel.find_channel(t, &n[0]), ref.find_channel(mask, t, q)) << t;
  }
  quiet.stop();
  EXPECT_NE(sel.get_event_type(&held_names[1][0]), 0);
  EXPECT_NE(sel.get_data_type(&held_names[1][0]), 0);
  clean_chan_desr_list(&ref.d);
}

// Every byte of a name counts in its hash, whatever the name's length, and so does the
// length: a change in one byte or a name one byte longer gives another hash.
TEST(name_hash, every_byte_and_the_length_count) {
  std::set<uint64_t> seen;
  size_t names = 0;
  for (size_t len = 0; len <= 24; ++len) {
    const std::string base(len, 'n');
    seen.insert(xrq5_name_hash(base.data(), len));
    ++names;
    for (size_t at = 0; at < len; ++at) {
      std::string changed = base;
      changed[at] = 'm';
      seen.insert(xrq5_name_hash(changed.data(), len));
      ++names;
    }
  }
  EXPECT_EQ(seen.size(), names);
}

TEST_F(selector, dump_prints_the_range_asked_for) {
  load(channel("P/1", "ONE", 1) + channel("P/2", "TWO", 4) + channel("P/3", "THREE", 5));
  capture cap;
  sel.dump(const_cast<char*>("held"), 1, 5);
  sel.dump(const_cast<char*>("none"), -3, 2);
  cap.stop();
  EXPECT_EQ(cap.out(),
            "held\n[1] TWO  prop P/2  ev_type 0x10  dtype 0x0  count 0  dims 0\n"
            "[2] THREE  prop P/3  ev_type 0x20  dtype 0x0  count 0  dims 0\n"
            "none\n");
}

}  // namespace
