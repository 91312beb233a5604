#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "parse_chan_descr.h"
#include "chan_descr_records.h"
#include "test_support.h"
#include "xrq5_name_index.h"

namespace {

using namespace xrq5_test;

TEST(chan_descr_tags, table_lookup_edges) {
  EXPECT_STREQ(get_chan_descr_root_tag(0, 0), "CHANDESCRIPTIONS");
  EXPECT_STREQ(get_chan_descr_root_tag(7, 2), "STAT_UNITS");
  EXPECT_STREQ(get_chan_descr_root_tag(13, 0), "DTYPE");
  EXPECT_EQ(get_chan_descr_root_tag(1, 1), nullptr);
  EXPECT_EQ(get_chan_descr_root_tag(14, 0), nullptr);
  EXPECT_EQ(get_chan_descr_root_tag(-1, 0), nullptr);
  EXPECT_EQ(get_chan_descr_root_tag(0, 3), nullptr);
  EXPECT_EQ(get_chan_descr_root_tag(0, -1), nullptr);
}

TEST(chan_descr_list, find_takes_the_first_and_clones_count_what_they_copy) {
  owned_list l;
  EXPECT_EQ(find_chan_entry(&l.v, const_cast<char*>("A")), nullptr);
  l.v = {make("A"), make("B"), make("A")};
  EXPECT_EQ(find_chan_entry(&l.v, const_cast<char*>("A")), l.v[0]);
  EXPECT_EQ(find_chan_entry(&l.v, const_cast<char*>("a")), nullptr);

  std::unique_ptr<dim_descr> d(dim(4, 2));
  d->nstats = 7;  // disagrees with its vector: the copy counts what it copied
  dim_descr* copy = xrq5_clone_dim_descr(d.get());
  EXPECT_EQ(copy->nstats, 2);
  EXPECT_EQ(copy->stats.size(), 2u);
  EXPECT_NE(copy->stats[0], d->stats[0]);
  for (auto* s : copy->stats) delete s;
  for (auto* s : d->stats) delete s;
  delete copy;
  EXPECT_EQ(xrq5_clone_dim_descr(nullptr), nullptr);
  EXPECT_EQ(xrq5_clone_bit_descr(nullptr), nullptr);
}

TEST(chan_descr_merge, field_rules_with_and_without_force) {
  owned_list l;
  chan_descr_2010* in = make("P");
  chan_descr_2010* from = make("P");
  l.v = {in, from};
  from->db_key = 5;
  strcpy(from->daq_name, "FROM");
  strcpy(in->units, "mm");
  strcpy(from->units, "m");
  from->stream = 2;
  EXPECT_FALSE(extend_channel_description(in, from, false));
  EXPECT_EQ(in->db_key, 5);
  EXPECT_STREQ(in->daq_name, "FROM");
  EXPECT_STREQ(in->units, "mm") << "in keeps what it has";
  EXPECT_EQ(in->stream, 2);

  from->db_key = 0;
  from->stream = 0;
  EXPECT_FALSE(extend_channel_description(in, from, true));
  EXPECT_EQ(in->db_key, 5) << "force takes only keys above 0";
  EXPECT_EQ(in->stream, 2) << "force takes only non-zero numbers";
  EXPECT_STREQ(in->units, "m");

  chan_descr_2010* other = make("Q");
  l.v.push_back(other);
  EXPECT_TRUE(extend_channel_description(in, other, true));
  EXPECT_TRUE(extend_channel_description(in, nullptr, false));
}

TEST(chan_descr_merge, bits_and_dimensions) {
  owned_list l;
  chan_descr_2010* in = make("P");
  chan_descr_2010* from = make("P");
  l.v = {in, from};
  in->bits = {bit(0), bit(2)};
  in->nbits = 2;
  from->bits = {bit(1), bit(2)};
  from->nbits = 2;
  in->dims = {dim(0, 0), dim(1, 1)};
  in->ndims = 2;
  from->dims = {dim(0, 2), dim(3, 0)};
  from->ndims = 2;
  ASSERT_FALSE(extend_channel_description(in, from, false));
  ASSERT_EQ(in->nbits, 3);
  EXPECT_EQ(in->bits[2]->bit, 1);
  ASSERT_EQ(in->ndims, 3);
  EXPECT_EQ(in->dims[0]->nstats, 2) << "a found dimension without statistics gets them";
  EXPECT_EQ(in->dims[2]->dim, 3);

  chan_descr_2010* none = make("P");
  l.v.push_back(none);
  ASSERT_FALSE(extend_channel_description(in, none, true));
  EXPECT_EQ(in->nbits, 3) << "force with no bits in from keeps in's";
  ASSERT_FALSE(extend_channel_description(in, from, true));
  EXPECT_EQ(in->nbits, 2);
  EXPECT_EQ(in->bits[0]->bit, 1);
  EXPECT_EQ(in->ndims, 2);
}

TEST(chan_descr_clean, disagreeing_counts_are_reported_and_freed) {
  descr_list l = {make("P")};
  l[0]->bits = {bit(1)};  // nbits stays 0
  l[0]->dims = {dim(0, 1)};
  l[0]->ndims = 1;
  l[0]->dims[0]->nstats = 0;
  capture cap;
  clean_chan_desr_list(&l);
  clean_chan_desr_list(&l);
  clean_chan_desr_list(nullptr);
  cap.stop();
  EXPECT_TRUE(l.empty());
  EXPECT_EQ(cap.out(),
            "ERROR: nbits = 0, but bits.size() > 0 prop: P\n"
            "ERROR: nstats = 0, but stats.size() > 0 (1) prop: P\n");
}

TEST(chan_descr_print, exact_listing) {
  owned_list l;
  chan_descr_2010* c = make("A/B");
  c->ev_type = 0x6;
  c->dtype = 0x80000002;
  c->bits = {bit(3, "ready")};
  c->nbits = 1;
  c->dims = {dim(0, 1)};
  c->ndims = 1;
  chan_descr_2010* all = make("ALL");
  all->ev_type = 0xFFFFFFFF;
  all->dtype = 0x7FFFFFFF;
  l.v = {c, all};
  capture cap;
  print_xrq5_chan_descr(nullptr);
  print_xrq5_chan_descr(&l.v);
  cap.stop();
  const std::string first = cap.out().substr(0, cap.out().find("--------------[1]"));
  EXPECT_EQ(first,
            "========================\nXRQ5 XML Channel Description (XCD)\n"
            "--------------[0]-----------------\n stream   : 0 \n ev type  : 0x6 NORMAL:BOR\n"
            " data type: 0x80000002 UPD_BLOCK_2010\n\tcount  :0\n\tdb_key :-1\n\tprop   :A/B\n"
            "\tname   :\n\tset_pnt:no\n\tdesc   :\n\tsb_name:\n\tsubsys :\n\tunit   :\n"
            "\tmax_sz :1\n\t\t# bits :1\n\t\tbit    : 3\n\t\tname   : ready\n\t\tdesc   : \n"
            "\t\t# dims : 1\n\t\tid    : 0\n\t\tname : \n\t\tdesc : \n\t\tunits: \n"
            "\t\t\t# stats : 1\n\t\t\tid     : 0\n\t\t\tname   : \n\t\t\tdesc   : \n"
            "\t\t\tunits  : \n");
  // Every type set: the joined names are longer than 255 characters, and whole.
  EXPECT_NE(cap.out().find(" ev type  : 0xffffffff HB:NORMAL:"), std::string::npos);
  EXPECT_NE(cap.out().find(":EV_31\n data type: 0x7fffffff UNUSED_0:UPD_BLOCK:"), std::string::npos);
  EXPECT_NE(cap.out().find(":UNUSED_30\n"), std::string::npos);

  descr_list empty;
  capture cap2;
  print_xrq5_chan_descr(&empty);
  cap2.stop();
  EXPECT_EQ(cap2.out(), "========================\nXRQ5 XML Channel Description (XCD)\n");
}

// The index behind duplicate merging answers like a first-match scan, through growth.
TEST(name_index, first_filed_wins_through_growth) {
  xrq5_name_index<int*> index;
  std::vector<std::string> names;
  std::vector<int> values(20000);
  for (int i = 0; i < 10000; ++i) names.push_back("P/" + std::to_string(i));
  for (int i = 0; i < 20000; ++i) {
    const std::string& n = names[i % 10000];
    const auto r = index.insert(n.data(), n.size(), &values[i]);
    EXPECT_EQ(r.second, i < 10000);
    ASSERT_EQ(r.first, &values[i % 10000]);
  }
  EXPECT_EQ(index.size(), 10000u);
  ASSERT_NE(index.find("P/9999"), nullptr);
  EXPECT_EQ(*index.find("P/9999"), &values[9999]);
  EXPECT_EQ(index.find("P/10000"), nullptr);
  EXPECT_EQ(*index.find("P/99", 3), &values[9]) << "the first 3 bytes: P/9";
  EXPECT_EQ(index.find("", 0), nullptr);
}

// ---- readers ------------------------------------------------------------------------

enum reader_kind { memory, file };

class xcd_read : public ::testing::TestWithParam<reader_kind> {
 protected:
  int read(const std::string& doc, bool shift = false, bool dedup = false) {
    if (GetParam() == memory) {
      std::string text = doc;
      return parse_descr_list_read(&text[0], &l.v, shift, dedup);
    }
    std::string path = dir.write("descr.xml", doc);
    return parse_descr_list_readf(&path[0], &l.v, shift, dedup);
  }
  int tag_form(const std::string& channels, bool shift = false, bool dedup = false) {
    return read("<CHANDESCRIPTIONS>" + channels + "</CHANDESCRIPTIONS>", shift, dedup);
  }
  int var_form(const std::string& channels, bool shift = false) {
    return read("<DAQvariables>\n" + channels + "</DAQvariables>", shift, false);
  }
  bool from_file() const { return GetParam() == file; }

  owned_list l;
  temp_dir dir;
};

TEST_P(xcd_read, tag_form_fills_every_field) {
  ASSERT_EQ(tag_form("<CHANNEL>\n<STREAM>3</STREAM><EVTYPE>1</EVTYPE><DTYPE>33</DTYPE>"
                     "<DB_KEY>12</DB_KEY><COUNT>2</COUNT><SB_NAME>SB</SB_NAME><PROP>A/B/C/D</PROP>"
                     "<NAME>X.Y</NAME><SETPOINT>1</SETPOINT><SUBSYSTEM>rf</SUBSYSTEM>"
                     "<UNITS>mm</UNITS><DESC>d</DESC><SIZE>4</SIZE>"
                     "<BIT>5\n<BIT_NAME>b</BIT_NAME><BIT_DESCR>bd</BIT_DESCR></BIT>"
                     "<DIM>0\n<DIM_NAME>x</DIM_NAME><DIM_UNITS>s</DIM_UNITS><DIM_DESCR>dd</DIM_DESCR>"
                     "<STAT>1\n<STAT_NAME>mean</STAT_NAME><STAT_UNITS>V</STAT_UNITS>"
                     "<STAT_DESCR>sd</STAT_DESCR></STAT></DIM>\n</CHANNEL>"),
            0);
  ASSERT_EQ(l.v.size(), 1u);
  const chan_descr_2010& c = *l.v[0];
  EXPECT_EQ(c.stream, 3);
  EXPECT_EQ(c.ev_type, 1u);
  EXPECT_EQ(c.dtype, 33u);
  EXPECT_EQ(c.db_key, 12);
  EXPECT_EQ(c.count, 2);
  EXPECT_STREQ(c.sb_name, "SB");
  EXPECT_STREQ(c.prop_name, "A/B/C/D");
  EXPECT_STREQ(c.daq_name, "X.Y");
  EXPECT_EQ(c.set_point, 1);
  EXPECT_STREQ(c.subsystem, "rf");
  EXPECT_STREQ(c.units, "mm");
  EXPECT_STREQ(c.prop_desc, "d");
  EXPECT_EQ(c.max_size, 4);
  ASSERT_EQ(c.nbits, 1);
  EXPECT_EQ(c.bits[0]->bit, 5);
  EXPECT_STREQ(c.bits[0]->bit_desc, "bd");
  ASSERT_EQ(c.ndims, 1);
  const dim_descr& d = *c.dims[0];
  EXPECT_STREQ(d.dim_name, "x");
  EXPECT_STREQ(d.units, "s");
  EXPECT_STREQ(d.dim_desc, "dd");
  ASSERT_EQ(d.nstats, 1);
  EXPECT_EQ(d.stats[0]->stat, 1);
  EXPECT_STREQ(d.stats[0]->stat_name, "mean");
  EXPECT_STREQ(d.stats[0]->units, "V");
  EXPECT_STREQ(d.stats[0]->stat_desc, "sd");
}

TEST_P(xcd_read, shift_arithmetic_at_the_edges) {
  struct {
    const char* ev;
    const char* dt;
    unsigned int ev_mask, dt_mask;
  } cases[] = {{"3", "5", 8u, 0x20u},           {"31", "31", 0x80000000u, 0x80000000u},
               {"32", "32", 1u, 0x80000001u},    {"0", "62", 1u, 0xC0000000u},
               {"63", "63", 0x80000000u, 0u},    {"-1", "33", 0x80000000u, 0x80000002u}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.ev) + " " + c.dt);
    clean_chan_desr_list(&l.v);
    const std::string ch = std::string("<CHANNEL><EVTYPE>") + c.ev + "</EVTYPE><DTYPE>" + c.dt +
                           "</DTYPE><PROP>P</PROP></CHANNEL>";
    ASSERT_EQ(tag_form(ch, true), 0);
    ASSERT_EQ(tag_form(ch, false), 0);
    ASSERT_EQ(l.v.size(), 2u);
    EXPECT_EQ(l.v[0]->ev_type, c.ev_mask);
    EXPECT_EQ(l.v[0]->dtype, c.dt_mask);
    EXPECT_EQ(l.v[1]->ev_type, static_cast<unsigned int>(atoi(c.ev)));
    EXPECT_EQ(l.v[1]->dtype, static_cast<unsigned int>(atoi(c.dt)));
  }
}

TEST_P(xcd_read, records_are_listed_at_their_name) {
  const std::string longprop(300, 'p');
  ASSERT_EQ(tag_form("<CHANNEL><SIZE>2</SIZE></CHANNEL>"                 // no PROP: nothing
                     "<CHANNEL><PROP>p</PROP><SIZE>8</SIZE></CHANNEL>"   // filled after listing
                     "<CHANNEL></CHANNEL>"
                     "<CHANNEL><PROP>" + longprop + "</PROP></CHANNEL>"
                     "<CHANNEL><PROP>a</PROP><PROP>b</PROP><NAME>n</NAME></CHANNEL>"
                     "<CHANNEL><NAME>never named</NAME></CHANNEL>"),
            0);
  ASSERT_EQ(l.v.size(), 3u) << "a second PROP does not list the record twice";
  EXPECT_EQ(l.v[0]->max_size, 8);
  EXPECT_EQ(std::string(l.v[1]->prop_name), longprop.substr(0, 255));
  EXPECT_STREQ(l.v[2]->prop_name, "a");
  EXPECT_STREQ(l.v[2]->daq_name, "n");
}

TEST_P(xcd_read, duplicates_merge_into_the_first_record) {
  // Two records named A already listed: the index must answer like find_chan_entry.
  l.v = {make("A"), make("A")};
  l.v[1]->ev_type = 0;
  const std::string doc = "<CHANNEL><EVTYPE>1</EVTYPE><STREAM>1</STREAM><PROP>A</PROP>"
                          "<NAME>ignored after the merge</NAME></CHANNEL>"
                          "<CHANNEL><EVTYPE>2</EVTYPE><STREAM>2</STREAM><DTYPE>9</DTYPE>"
                          "<PROP>A</PROP></CHANNEL>"
                          "<CHANNEL><EVTYPE>3</EVTYPE><PROP>B</PROP></CHANNEL>"
                          "<CHANNEL><EVTYPE>4</EVTYPE><PROP>B</PROP></CHANNEL>";
  ASSERT_EQ(tag_form(doc, true, true), 0);
  ASSERT_EQ(l.v.size(), 3u);
  EXPECT_EQ(l.v[0]->ev_type, 2u) << "taken while the first record's was 0, then kept";
  EXPECT_EQ(l.v[0]->stream, 3);
  EXPECT_EQ(l.v[0]->dtype, 1u << 9);
  EXPECT_STREQ(l.v[0]->daq_name, "");
  EXPECT_EQ(l.v[1]->ev_type, 0u) << "the second A is never chosen";
  EXPECT_EQ(l.v[2]->ev_type, 8u);

  ASSERT_EQ(tag_form(doc, true, false), 0);
  EXPECT_EQ(l.v.size(), 7u) << "without delete_duplicated the tag form keeps them all";
}

TEST_P(xcd_read, variable_form_merges_repeated_names_per_reader) {
  ASSERT_EQ(var_form("<DaqFloat><evType>1</evType><tarvo>A</tarvo></DaqFloat>\n"
                     "<DaqFloat><evType>2</evType><tarvo>A</tarvo></DaqFloat>\n",
                     true),
            0);
  ASSERT_EQ(l.v.size(), 1u);
  EXPECT_EQ(l.v[0]->ev_type, from_file() ? 6u : 2u) << "the file reader ORs, memory keeps";
}

TEST_P(xcd_read, variable_form_fields) {
  ASSERT_EQ(var_form("<DaqFloatMatrix><evType>20</evType><tarvo>M</tarvo><daqName>M.ML</daqName>"
                     "<DBKey>7</DBKey><setPoint>1</setPoint><sbName>x</sbName>"
                     "<subSystem>s</subSystem><description>top</description><units>V</units>"
                     "<firstIndex>0</firstIndex><lastIndex>9</lastIndex>"
                     "<dimension id=\"2\">\n<name>t</name><description>dd</description>"
                     "<units>us</units></dimension><freq>-1</freq></DaqFloatMatrix>\n"),
            0);
  ASSERT_EQ(l.v.size(), 1u);
  const chan_descr_2010& c = *l.v[0];
  EXPECT_EQ(c.ev_type, 20u);
  EXPECT_STREQ(c.daq_name, "M.ML");
  EXPECT_EQ(c.db_key, -1) << "DBKey is not read";
  EXPECT_EQ(c.set_point, 1);
  EXPECT_STREQ(c.sb_name, "");
  EXPECT_STREQ(c.prop_desc, "top");
  EXPECT_STREQ(c.units, "V");
  EXPECT_EQ(c.max_size, 10);
  ASSERT_EQ(c.ndims, 1);
  EXPECT_EQ(c.dims[0]->dim, 2);
  EXPECT_STREQ(c.dims[0]->dim_name, "t");
  EXPECT_STREQ(c.dims[0]->dim_desc, "dd");
  EXPECT_STREQ(c.dims[0]->units, "us");
}

// A bitTitle with attribute and text arrives in two steps: still one bit, named.
TEST_P(xcd_read, one_bit_per_bit_title) {
  capture cap;
  const int r = var_form("<DaqBits><tarvo>B</tarvo><bitTitle bit=\"3\">ready</bitTitle>\n"
                         "<bitTitle bit=\"4\"></bitTitle><bitTitle bit=\"5\"/>"
                         "<bitTitle>no attribute</bitTitle><bitTitle bit=\"6\">x</bitTitle>"
                         "</DaqBits>\n<DaqFloat><bitTitle bit=\"1\">not bits</bitTitle>"
                         "<tarvo>F</tarvo></DaqFloat>\n");
  cap.stop();
  EXPECT_EQ(r, 1) << "one missing attribute";
  ASSERT_EQ(l.v.size(), 2u);
  const chan_descr_2010& c = *l.v[0];
  ASSERT_EQ(c.nbits, 4);
  ASSERT_EQ(c.bits.size(), 4u);
  EXPECT_EQ(c.bits[0]->bit, 3);
  EXPECT_STREQ(c.bits[0]->bit_name, "ready");
  EXPECT_STREQ(c.bits[1]->bit_name, "");
  EXPECT_EQ(c.bits[2]->bit, 5);
  EXPECT_STREQ(c.bits[3]->bit_name, "x");
  EXPECT_EQ(l.v[1]->nbits, 0);
  EXPECT_EQ(cap.err(), "No attribute: bit found for bitTitle prop: B\n");
  EXPECT_EQ(cap.out(), from_file() ? ""
                                   : "bitTitle is not defined for bit  4 prop:B\n"
                                     "bitTitle is not defined for bit  5 prop:B\n");
}

TEST_P(xcd_read, dimension_without_id_is_counted_and_reading_goes_on) {
  capture cap;
  const int r = var_form("<DaqFloatMatrix><tarvo>M</tarvo><dimension>\n<name>x</name>"
                         "</dimension><dimension id=\"1\"></dimension><lastIndex>3</lastIndex>"
                         "</DaqFloatMatrix>\n");
  cap.stop();
  EXPECT_EQ(r, 1);
  EXPECT_EQ(cap.err(), "No attribute: id found for dimension prop: M\n");
  ASSERT_EQ(l.v.size(), 1u);
  EXPECT_EQ(l.v[0]->ndims, 1) << "one dimension per element";
  EXPECT_EQ(l.v[0]->max_size, 4);
}

TEST_P(xcd_read, stat_descr_without_statistic_differs_per_reader) {
  ASSERT_EQ(tag_form("<CHANNEL><PROP>P</PROP><STAT_DESCR>orphan</STAT_DESCR>"
                     "<DIM_DESCR>also</DIM_DESCR></CHANNEL>"),
            0);
  EXPECT_STREQ(l.v[0]->prop_desc, "also");
  clean_chan_desr_list(&l.v);
  ASSERT_EQ(tag_form("<CHANNEL><PROP>P</PROP><STAT_DESCR>orphan</STAT_DESCR></CHANNEL>"), 0);
  EXPECT_STREQ(l.v[0]->prop_desc, from_file() ? "" : "orphan");
}

TEST_P(xcd_read, wrong_root_and_broken_documents) {
  l.v = {make("kept")};
  capture cap;
  const int wrong = read("<channels><CHANNEL><PROP>x</PROP></CHANNEL></channels>");
  const int broken = tag_form("<CHANNEL><PROP>y</PROP></CHANNEL><CHANNEL>");
  cap.stop();
  EXPECT_EQ(wrong, 1);
  EXPECT_NE(cap.err().find("WRONG root tag: 'channels' must be 'CHANDESCRIPTIONS or "
                           "DAQvariables'\n"),
            std::string::npos);
  EXPECT_GE(broken, 1);
  ASSERT_EQ(l.v.size(), 2u) << "records read before the error stay";
  EXPECT_STREQ(l.v[1]->prop_name, "y");
  EXPECT_EQ(parse_descr_list_read(nullptr, &l.v, false, false), 1);
  EXPECT_EQ(parse_descr_list_read(const_cast<char*>("<a/>"), nullptr, false, false), 2);
}

INSTANTIATE_TEST_SUITE_P(both, xcd_read, ::testing::Values(memory, file),
                         [](const ::testing::TestParamInfo<reader_kind>& i) {
                           return i.param == memory ? "memory" : "file";
                         });

// ---- loaders ------------------------------------------------------------------------

// A blob at the very end of its own allocation, without terminator: the sanitizer
// build catches a read past it.
std::unique_ptr<char[]> blob(unsigned int pattern, int length, const std::string& text) {
  std::unique_ptr<char[]> b(new char[8 + text.size()]);
  memcpy(b.get(), &pattern, 4);
  memcpy(b.get() + 4, &length, 4);
  memcpy(b.get() + 8, text.data(), text.size());
  return b;
}

xrq5_xml_chan_descr_header* as_header(std::unique_ptr<char[]>& b) {
  return reinterpret_cast<xrq5_xml_chan_descr_header*>(b.get());
}

TEST(xcd_blob, bounds_and_patterns) {
  owned_list l;
  const std::string doc =
      "<CHANDESCRIPTIONS><CHANNEL><PROP>P</PROP></CHANNEL></CHANDESCRIPTIONS>";
  for (unsigned int pattern : {0xCDECDEF2u, 0xCDECDEF3u}) {
    auto b = blob(pattern, static_cast<int>(8 + doc.size()), doc);
    EXPECT_EQ(xrq5_load_chan_descr(as_header(b), &l.v), 0);
  }
  EXPECT_EQ(l.v.size(), 2u);
  auto bad = blob(0xCDECDEF4u, static_cast<int>(8 + doc.size()), doc);
  EXPECT_EQ(xrq5_load_chan_descr(as_header(bad), &l.v), XRQ5_XCD_BAD_PATTERN);
  for (int length : {8, 0, -100}) {
    auto b = blob(0xCDECDEF2u, length, doc);
    EXPECT_EQ(xrq5_load_chan_descr(as_header(b), &l.v), XRQ5_XCD_BAD_LENGTH);
  }
  EXPECT_EQ(xrq5_load_chan_descr(nullptr, &l.v), XRQ5_XCD_NULL_ARG);
  auto b = blob(0xCDECDEF2u, static_cast<int>(8 + doc.size()), doc);
  EXPECT_EQ(xrq5_load_chan_descr(as_header(b), nullptr), XRQ5_XCD_NULL_ARG);

  // A length that stops short of the text reads exactly that much: the root is not
  // closed, and the channel before the cut is read.
  auto shorter = blob(0xCDECDEF2u, static_cast<int>(8 + doc.size() - 19), doc + "junk");
  capture cap;
  EXPECT_GT(xrq5_load_chan_descr(as_header(shorter), &l.v), 0);
  cap.stop();
  EXPECT_EQ(l.v.size(), 3u);
  EXPECT_NE(cap.err().find("Fatal Error at (file my_mem_info"), std::string::npos);
}

TEST(xcd_master_file, argument_checks_and_read) {
  owned_list l;
  EXPECT_EQ(xrq5_load_master_daq_channel_description_file(&l.v, const_cast<char*>("")),
            XRQ5_XCD_NULL_ARG);
  EXPECT_EQ(xrq5_load_master_daq_channel_description_file(&l.v, nullptr), XRQ5_XCD_NULL_ARG);
  std::string path = std::string(XRQ5_SOURCE_DIR) + "/examples/xcd_tag.xml";
  EXPECT_EQ(xrq5_load_master_daq_channel_description_file(nullptr, &path[0]), XRQ5_XCD_NULL_ARG);
  EXPECT_EQ(xrq5_load_master_daq_channel_description_file(&l.v, &path[0]), 0);
  ASSERT_EQ(l.v.size(), 3u);
  EXPECT_EQ(l.v[0]->ev_type, 1u) << "no shift";
}

}  // namespace
