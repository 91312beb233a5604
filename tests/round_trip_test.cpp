// Every writable kind of document read, written, read and written again: texts with XML
// special characters and characters beyond ASCII, from ISO-8859-1 and UTF-8 sources,
// come back exactly, and the second document equals the first byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "test_support.h"
#include "user_case_trigger.h"

namespace {

using namespace xrq5_test;

// The texts as the readers hand them out (UTF-8), and as each source writes them.
const std::string special = "temp & <5> \"x\" 'y'";
const std::string latin = "Au\xc3\x9f" "en \xc3\xa9 \xc2\xb5 \xc3\x9f";
const std::string wide = "\xe4\xb8\xad \xf0\x9f\x98\x80";  // a CJK character and an emoji
const std::string special_xml = "temp &amp; &lt;5&gt; &quot;x&quot; 'y'";
const std::string latin_in_latin1 = "Au\xdf" "en \xe9 \xb5 \xdf";
const std::string wide_as_references = "&#20013; &#128512;";

struct source {
  const char* name;
  std::string declaration, latin, wide;
};
const source sources[] = {
    {"ISO-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n", latin_in_latin1,
     wide_as_references},
    {"UTF-8", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", latin, wide},
};

std::string without_date(const std::string& doc) {
  return std::regex_replace(doc, std::regex("\t<isodate>[0-9T:-]{19}</isodate>\n"), "");
}

// xmllint must accept what we write, also against the schema of its kind.
void expect_well_formed(const temp_dir& d, const std::string& doc, const std::string& schema) {
  const std::string path = d.write("written.xml", doc);
  const std::string cmd = "xmllint --noout --schema " + std::string(XRQ5_SOURCE_DIR) +
                          "/schemas/" + schema + " " + path + " 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << doc;
}

TEST(round_trip, channel_descriptions_in_both_forms) {
  for (const source& s : sources) {
    for (int format : {XRQ5_FORMAT, VESK_FORMAT}) {
      SCOPED_TRACE(std::string(s.name) + (format == XRQ5_FORMAT ? " tag form" : " variable form"));
      const std::string doc =
          s.declaration +
          "<CHANDESCRIPTIONS><CHANNEL><PROP>P/" + s.latin + "</PROP><NAME>" + s.wide +
          "</NAME><DESC>" + special_xml + " " + s.latin + " " + s.wide + "</DESC><UNITS>\xc2\xb0" +
          "C</UNITS><SUBSYSTEM>" + s.latin + "</SUBSYSTEM><SIZE>1</SIZE><BIT>2\n<BIT_NAME>" +
          special_xml + "</BIT_NAME></BIT></CHANNEL></CHANDESCRIPTIONS>";
      std::string text = doc;
      if (s.name == std::string("ISO-8859-1"))  // the degree sign in one byte
        text = std::regex_replace(text, std::regex("\xc2\xb0"), "\xb0");
      std::vector<chan_descr_2010*> list, back, again;
      ASSERT_EQ(parse_descr_list_read(&text[0], &list, false, false), 0);
      ASSERT_EQ(list.size(), 1u);
      std::string first, second;
      ASSERT_EQ(dump_chan_desr(&list, nullptr, DUMP_XML_FILE, format, -1, &first, nullptr), 0);
      ASSERT_EQ(parse_descr_list_read(&first[0], &back, false, false), 0) << first;
      ASSERT_EQ(back.size(), 1u);
      ASSERT_EQ(dump_chan_desr(&back, nullptr, DUMP_XML_FILE, format, -1, &second, nullptr), 0);
      EXPECT_EQ(second, first);
      const chan_descr_2010& c = *back[0];
      EXPECT_EQ(std::string(c.prop_name), "P/" + latin);
      EXPECT_EQ(std::string(c.daq_name), wide);
      EXPECT_EQ(std::string(c.prop_desc), special + " " + latin + " " + wide);
      EXPECT_EQ(std::string(c.units), "\xc2\xb0" "C");
      EXPECT_EQ(std::string(c.subsystem), latin);
      ASSERT_EQ(c.bits.size(), 1u);
      EXPECT_EQ(std::string(c.bits[0]->bit_name), special);
      temp_dir d;
      expect_well_formed(d, first, format == XRQ5_FORMAT ? "xcd_tag.xsd" : "xcd_var.xsd");
      clean_chan_desr_list(&list);
      clean_chan_desr_list(&back);
    }
  }
}

TEST(round_trip, trigger_lists) {
  for (const source& s : sources) {
    SCOPED_TRACE(s.name);
    std::string doc = s.declaration + "<XRQ5USERTRIGGERLIST><USERTRIGGER><Chan name=\"" +
                      s.latin + "/" + s.wide + "\"/><UpperLimit value=\"5e-9\"/><Description text=\"" +
                      special_xml + "&#9;" + s.latin + "\"/><Group name=\"" + s.wide +
                      "\"/><PreMode events=\"-2\"/></USERTRIGGER></XRQ5USERTRIGGERLIST>";
    std::vector<xrq5_user_case_trigger*> list, back;
    ASSERT_FALSE(parse_trigger_list_read(&doc[0], &list));
    std::string first, second;
    ASSERT_EQ(dump_user_trigger_list(&list, nullptr, USER_TRIG_DUMP_XML_STRING, -1, &first), 0);
    ASSERT_FALSE(parse_trigger_list_read(&first[0], &back)) << first;
    ASSERT_EQ(back.size(), 1u);
    ASSERT_EQ(dump_user_trigger_list(&back, nullptr, USER_TRIG_DUMP_XML_STRING, -1, &second), 0);
    // The creation time is that of reading; the rest is byte for byte.
    const std::regex time("<Creation time=\"[0-9]+\"/>");
    EXPECT_EQ(std::regex_replace(without_date(second), time, ""),
              std::regex_replace(without_date(first), time, ""));
    EXPECT_TRUE(XRQ5_USER_THESAME(list[0], back[0]));
    EXPECT_EQ(std::string(back[0]->channel), latin + "/" + wide);
    EXPECT_EQ(std::string(back[0]->description), special + "\t" + latin);
    EXPECT_EQ(std::string(back[0]->group), wide);
    EXPECT_EQ(back[0]->upper, 5e-9f) << "not written as 0.000000";
    EXPECT_EQ(back[0]->pre_mode, -2);
    temp_dir d;
    expect_well_formed(d, first, "triggers.xsd");
    for (auto* t : list) XRQ5_FREE_USER(t);
    for (auto* t : back) XRQ5_FREE_USER(t);
  }
}

template <class Entry>
struct dict_calls;
template <>
struct dict_calls<xrq5_env_index_dictionary_entry> {
  static constexpr const char* schema = "env_dict_classic.xsd";
  static int read(char* x, std::vector<xrq5_env_index_dictionary_entry*>* l) {
    return parse_env_index_dict_list_read(x, l);
  }
  static int dump(std::vector<xrq5_env_index_dictionary_entry*>* l, std::string* s) {
    return dump_env_index_dict(l, nullptr, ENV_INDX_DUMP_XML_STRING, -1, s);
  }
};
template <>
struct dict_calls<xrq5_env_index_dictionary_entry_2010> {
  static constexpr const char* schema = "env_dict.xsd";
  static int read(char* x, std::vector<xrq5_env_index_dictionary_entry_2010*>* l) {
    return parse_env_index_dict_list_read_2010(x, l);
  }
  static int dump(std::vector<xrq5_env_index_dictionary_entry_2010*>* l, std::string* s) {
    return dump_env_index_dict_2010(l, nullptr, ENV_INDX_DUMP_XML_STRING, -1, s);
  }
};

template <class Entry>
void dictionary_round_trip() {
  using calls = dict_calls<Entry>;
  for (const source& s : sources) {
    SCOPED_TRACE(s.name);
    std::string doc = s.declaration + "<ENVINDEXDICT><CHANNEL><INDEX>4</INDEX><PROP>" + special_xml +
                      " " + s.latin + " " + s.wide + "</PROP><DABS>1e-7</DABS></CHANNEL></ENVINDEXDICT>";
    std::vector<Entry*> list, back;
    ASSERT_EQ(calls::read(&doc[0], &list), 0);
    std::string first, second;
    ASSERT_EQ(calls::dump(&list, &first), 0);
    ASSERT_EQ(calls::read(&first[0], &back), 0) << first;
    ASSERT_EQ(back.size(), 1u);
    ASSERT_EQ(calls::dump(&back, &second), 0);
    EXPECT_EQ(without_date(second), without_date(first));
    EXPECT_EQ(std::string(back[0]->data.env_prop), special + " " + latin + " " + wide);
    EXPECT_EQ(back[0]->data.env_ch_abs_delta, 1e-7f);
    temp_dir d;
    expect_well_formed(d, first, calls::schema);
    for (auto* e : list) free(e);
    for (auto* e : back) free(e);
  }
}

TEST(round_trip, dictionaries_in_both_layouts) {
  dictionary_round_trip<xrq5_env_index_dictionary_entry>();
  dictionary_round_trip<xrq5_env_index_dictionary_entry_2010>();
}

// A text cut to its field loses whole characters only: a two-byte character that
// would straddle the end of the field is left out.
TEST(round_trip, texts_are_cut_at_character_boundaries) {
  const std::string e_acute = "\xc3\xa9";
  const std::string fill(254, 'a');
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  {
    std::string doc = head + "<CHANDESCRIPTIONS><CHANNEL><PROP>" + fill + e_acute +
                      "</PROP><UNITS>" + std::string(14, 'u') + "\xe2\x82\xac" +
                      "</UNITS></CHANNEL></CHANDESCRIPTIONS>";
    std::vector<chan_descr_2010*> l;
    ASSERT_EQ(parse_descr_list_read(&doc[0], &l, false, false), 0);
    EXPECT_EQ(std::string(l[0]->prop_name), fill);
    EXPECT_EQ(std::string(l[0]->units), std::string(14, 'u'));
    clean_chan_desr_list(&l);
  }
  {
    std::string doc = head + "<XRQ5USERTRIGGERLIST><USERTRIGGER><Chan name=\"" + fill + "b" +
                      e_acute + "\"/></USERTRIGGER></XRQ5USERTRIGGERLIST>";
    std::vector<xrq5_user_case_trigger*> l;
    ASSERT_FALSE(parse_trigger_list_read(&doc[0], &l));
    EXPECT_EQ(std::string(l[0]->channel), fill + "b");
    for (auto* t : l) XRQ5_FREE_USER(t);
  }
  {
    std::string doc = head + "<ENVINDEXDICT><CHANNEL><INDEX>1</INDEX><PROP>" + std::string(78, 'p') +
                      e_acute + "</PROP></CHANNEL></ENVINDEXDICT>";
    std::vector<xrq5_env_index_dictionary_entry*> l;
    ASSERT_EQ(parse_env_index_dict_list_read(&doc[0], &l), 0);
    EXPECT_EQ(std::string(l[0]->data.env_prop), std::string(78, 'p'));
    for (auto* e : l) free(e);
  }
  {
    std::string doc = head + "<BMR><EVENT><TYPE>1</TYPE><SBLOCK>" + std::string(253, 's') +
                      e_acute + "</SBLOCK></EVENT></BMR>";
    std::vector<xrq5_ev_entry*> l;
    ASSERT_EQ(xrq5_parse_ev_list_read(&doc[0], &l), 0);
    EXPECT_EQ(std::string((*l[0]->sb_list)[0]->sb_list), std::string(253, 's'));
    xrq5_clean_ev_list(&l);
  }
}

}  // namespace
