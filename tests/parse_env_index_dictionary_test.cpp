// Environment index dictionaries in both layouts (typed tests), through both readers,
// the writers' modes and targets, and a trigger resolved through a dictionary.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "event_builder.h"
#include "parse_env_index_dictionary.h"
#include "test_support.h"
#include "trigger_records.h"
#include "user_case_trigger.h"

namespace {

using namespace xrq5_test;

struct classic_layout {
  using entry = xrq5_env_index_dictionary_entry;
  static constexpr size_t kept = 79;
  static constexpr const char* prefix = "dump_env_index_dict()";
  static constexpr const char* write_failed = "dump_env_index_dict() failed to write \n";
  static int read(char* x, std::vector<entry*>* l) { return parse_env_index_dict_list_read(x, l); }
  static int readf(char* f, std::vector<entry*>* l) { return parse_env_index_dict_readf(f, l); }
  static int dump(std::vector<entry*>* l, char* f, int m, int fd, std::string* s) {
    return dump_env_index_dict(l, f, m, fd, s);
  }
  static int dump_xml(char* x, char* f, int m, int fd) { return dump_env_index_dict(x, f, m, fd); }
  static bool block(std::vector<entry*>* l, std::vector<char>* b) {
    return xrq5_make_env_dict_block(l, b);
  }
};

struct layout_2010 {
  using entry = xrq5_env_index_dictionary_entry_2010;
  static constexpr size_t kept = 255;
  static constexpr const char* prefix = "dump_env_index_dict_2010()";
  static constexpr const char* write_failed = "dump_env_index_dict_2010()  failed to write\n";
  static int read(char* x, std::vector<entry*>* l) {
    return parse_env_index_dict_list_read_2010(x, l);
  }
  static int readf(char* f, std::vector<entry*>* l) { return parse_env_index_dict_readf_2010(f, l); }
  static int dump(std::vector<entry*>* l, char* f, int m, int fd, std::string* s) {
    return dump_env_index_dict_2010(l, f, m, fd, s);
  }
  static int dump_xml(char* x, char* f, int m, int fd) {
    return dump_env_index_dict_2010(x, f, m, fd);
  }
  static bool block(std::vector<entry*>* l, std::vector<char>* b) {
    return xrq5_make_env_dict_block_2010(l, b);
  }
};

template <class L>
class env_dict : public ::testing::Test {
 protected:
  using entry = typename L::entry;
  ~env_dict() override { clear(); }
  void clear() {
    for (entry* e : list) free(e);
    list.clear();
  }
  // Reads through the memory reader, then again through the file reader: both must
  // give the same records.
  int read(const std::string& channels, const char* root = "ENVINDEXDICT") {
    const std::string doc = std::string("<") + root + ">" + channels + "</" + root + ">";
    std::string text = doc;
    const int r = L::read(&text[0], &list);
    std::vector<entry*> again;
    std::string path = dir.write("d.xml", doc);
    const int rf = L::readf(&path[0], &again);
    EXPECT_EQ(r, rf);
    EXPECT_EQ(again.size(), list.size());
    for (size_t i = 0; i < again.size() && i < list.size(); ++i)
      EXPECT_EQ(memcmp(again[i], list[i], sizeof(entry)), 0);
    for (entry* e : again) free(e);
    return r;
  }
  entry* record(int index, const char* prop, float abs = 0, float rel = 0) {
    entry* e = static_cast<entry*>(calloc(1, sizeof(entry)));
    e->index = index;
    strncpy(e->data.env_prop, prop, sizeof e->data.env_prop - 1);
    e->data.env_ch_abs_delta = abs;
    e->data.env_ch_rel_delta = rel;
    list.push_back(e);
    return e;
  }
  std::vector<entry*> list;
  temp_dir dir;
};

using layouts = ::testing::Types<classic_layout, layout_2010>;
class layout_names {
 public:
  template <class T>
  static std::string GetName(int) {
    return std::is_same<T, classic_layout>::value ? "classic" : "l2010";
  }
};
TYPED_TEST_SUITE(env_dict, layouts, layout_names);

TYPED_TEST(env_dict, channel_rules) {
  ASSERT_EQ(this->read("<CHANNEL><PROP>A</PROP><DABS>1.5</DABS><INDEX>7</INDEX><DREL>0.2</DREL>"
                       "</CHANNEL>"
                       "<CHANNEL><INDEX>8</INDEX></CHANNEL>"
                       "<CHANNEL><INDEX>9</INDEX><PROP>B</PROP><INDEX>10</INDEX></CHANNEL>"
                       "<INDEX>99</INDEX><PROP>outside</PROP>"
                       "<CHANNEL><INDEX>12abc</INDEX><PROP>C</PROP><DABS>x</DABS></CHANNEL>"
                       "<CHANNEL><INDEX>abc</INDEX><PROP>D</PROP></CHANNEL>"),
            0);
  ASSERT_EQ(this->list.size(), 4u) << "a CHANNEL without PROP is dropped, each listed once";
  EXPECT_EQ(this->list[0]->index, 7);
  EXPECT_STREQ(this->list[0]->data.env_prop, "A");
  EXPECT_EQ(this->list[0]->data.env_ch_abs_delta, 1.5f);
  EXPECT_EQ(this->list[0]->data.env_ch_rel_delta, 0.2f) << "lands in the listed record";
  EXPECT_EQ(this->list[1]->index, 99)
      << "later values change the listed record; nesting is not checked";
  EXPECT_STREQ(this->list[1]->data.env_prop, "outside");
  EXPECT_EQ(this->list[2]->index, 12);
  EXPECT_EQ(this->list[2]->data.env_ch_abs_delta, 0.0f);
  EXPECT_EQ(this->list[3]->index, 0);
}

TYPED_TEST(env_dict, names_are_cut_per_layout) {
  const std::string name(300, 'n');
  ASSERT_EQ(this->read("<CHANNEL><INDEX>1</INDEX><PROP>" + std::string(100, 'p') +
                       "</PROP></CHANNEL><CHANNEL><INDEX>2</INDEX><PROP>" + name +
                       "</PROP></CHANNEL>"),
            0);
  ASSERT_EQ(this->list.size(), 2u);
  EXPECT_EQ(std::string(this->list[0]->data.env_prop), std::string(100, 'p').substr(0, TypeParam::kept));
  EXPECT_EQ(std::string(this->list[1]->data.env_prop), name.substr(0, TypeParam::kept));
}

TYPED_TEST(env_dict, wrong_root_and_broken_documents) {
  capture cap;
  const int wrong = this->read("<CHANNEL><INDEX>1</INDEX><PROP>A</PROP></CHANNEL>", "ENVDICT");
  cap.stop();
  EXPECT_GE(wrong, 1);
  EXPECT_TRUE(this->list.empty());
  EXPECT_NE(cap.err().find("WRONG root tag: 'ENVDICT' must be 'ENVINDEXDICT'\n"), std::string::npos);
  std::string broken = "<ENVINDEXDICT><CHANNEL><INDEX>1</INDEX><PROP>A</PROP></CHANNEL><CHANNEL>";
  capture cap2;
  EXPECT_GE(TypeParam::read(&broken[0], &this->list), 1);
  cap2.stop();
  EXPECT_EQ(this->list.size(), 1u) << "what was listed before the error stays";
}

std::string without_date(const std::string& doc) {
  return std::regex_replace(doc, std::regex("\t<isodate>[0-9T:-]{19}</isodate>\n"), "");
}

TYPED_TEST(env_dict, writer_formats_and_round_trip) {
  this->record(12, "TEMP.1", 0.1f, 0.0f);
  this->record(3, "", 1.234567891f, 2.5f);
  std::string xml;
  ASSERT_EQ(TypeParam::dump(&this->list, nullptr, ENV_INDX_DUMP_XML_STRING, -1, &xml), 0);
  EXPECT_EQ(without_date(xml),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<ENVINDEXDICT>\n<CHANNEL>\n"
            "<INDEX>12</INDEX>\n<PROP>TEMP.1</PROP>\n<DABS>0.100000</DABS>\n<DREL>0.000000</DREL>\n"
            "</CHANNEL>\n<CHANNEL>\n<INDEX>3</INDEX>\n<PROP></PROP>\n<DABS>1.2345679</DABS>\n"
            "<DREL>2.500000</DREL>\n</CHANNEL>\n</ENVINDEXDICT>\n\n");
  std::vector<typename TypeParam::entry*> back;
  ASSERT_EQ(TypeParam::read(&xml[0], &back), 0);
  ASSERT_EQ(back.size(), 1u) << "a record without a name does not come back";
  EXPECT_EQ(back[0]->data.env_ch_abs_delta, 0.1f);
  for (auto* e : back) free(e);

  const std::string path = this->dir.path() + "/t.txt";
  capture cap;
  ASSERT_EQ(TypeParam::dump(&this->list, const_cast<char*>(path.c_str()), ENV_INDX_DUMP_TXT_FILE,
                            -1, nullptr),
            0);
  cap.stop();
  EXPECT_EQ(read_file(path), "12\tTEMP.1\t0.100000\t0.000000\n3\t!!!UNDEFINED!!!\t1.234568\t2.500000\n");
  const std::string file_text = std::string(TypeParam::prefix) + "  file: '" + path + "'";
  EXPECT_EQ(cap.out(), file_text + " has been created\n" + file_text + " has been closed\n");

  for (int mode : {0, 1, 2, 3, 7}) {
    capture screen;
    EXPECT_EQ(TypeParam::dump(&this->list, nullptr, mode, -1, nullptr), 0);
    screen.stop();
    EXPECT_EQ(screen.out(),
              "-------------- 1 -----------------\n Index : 12\n Channel: TEMP.1 DABS 0.1 DREL 0\n"
              "-------------- 2 -----------------\n Index : 3\n Channel:  DABS 1.23457 DREL 2.5\n")
        << mode;
  }
}

TYPED_TEST(env_dict, modes_and_targets) {
  this->record(1, "A");
  const std::string path = this->dir.path() + "/x";
  std::string s;
  capture cap;
  EXPECT_EQ(TypeParam::dump(&this->list, const_cast<char*>(path.c_str()), 0, -1, nullptr), 0);
  const std::string mode0 = read_file(path);
  EXPECT_EQ(TypeParam::dump(&this->list, const_cast<char*>(path.c_str()), 3, -1, &s), 0);
  const std::string mode3 = read_file(path);
  std::vector<typename TypeParam::entry*> empty;
  EXPECT_EQ(TypeParam::dump(&empty, const_cast<char*>(path.c_str()), 2, -1, nullptr), 0);
  const std::string empty_doc = read_file(path);
  const int fd = open((this->dir.path() + "/fd").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  EXPECT_EQ(TypeParam::dump(&this->list, nullptr, 2, fd, nullptr), 0);
  close(fd);
  cap.stop();
  EXPECT_EQ(mode0, "");
  EXPECT_EQ(mode3, "");
  EXPECT_NE(s.find("<PROP>A</PROP>"), std::string::npos);
  EXPECT_EQ(without_date(empty_doc),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<ENVINDEXDICT>\n</ENVINDEXDICT>\n\n");
  EXPECT_NE(read_file(this->dir.path() + "/fd").find("<INDEX>1</INDEX>"), std::string::npos);
  EXPECT_EQ(cap.out().find("-----"), std::string::npos);
}

TYPED_TEST(env_dict, failures_are_reported_in_the_layout_texts) {
  this->record(1, "A");
  const std::string missing = this->dir.path() + "/no/dir/x.xml";
  std::string bad = "<ENVINDEXDICT>";
  capture cap;
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  close(p[0]);
  close(p[1]);
  const int closed = TypeParam::dump(&this->list, nullptr, 2, p[1], nullptr);
  const int no_list = TypeParam::dump(nullptr, nullptr, 2, -1, nullptr);
  const int no_dir = TypeParam::dump(&this->list, const_cast<char*>(missing.c_str()), 2, -1, nullptr);
  const int full = TypeParam::dump(&this->list, const_cast<char*>("/dev/full"), 2, -1, nullptr);
  const int unreadable = TypeParam::dump_xml(&bad[0], nullptr, 2, -1);
  cap.stop();
  EXPECT_EQ(closed, ENV_INDX_FAILED);
  EXPECT_EQ(no_list, ENV_INDX_FAILED);
  EXPECT_EQ(no_dir, ENV_INDX_OPEN_FAILED);
  EXPECT_EQ(full, ENV_INDX_FAILED);
  EXPECT_EQ(unreadable, ENV_INDX_READ_FAILED);
  const std::string p0 = TypeParam::prefix;
  EXPECT_EQ(cap.out(), std::string(TypeParam::write_failed) + p0 + " invalid argument: '\n" + p0 +
                           " failed to open file: '" + missing + "'\n" + p0 +
                           "  file: '/dev/full' has been created\n" + p0 +
                           " failed to write file: '/dev/full'\nFailed to parse ENV INDEX DICT list\n");
}

// A trigger on an environment channel fires through a dictionary made from the list.
TYPED_TEST(env_dict, environment_trigger_fires_through_the_dictionary) {
  ASSERT_EQ(this->read("<CHANNEL><INDEX>12</INDEX><PROP>TEMP.HALL2.AIR</PROP></CHANNEL>"
                       "<CHANNEL><INDEX>7</INDEX><PROP>WATER</PROP></CHANNEL>"),
            0);
  std::vector<char> dict, env;
  ASSERT_FALSE(TypeParam::block(&this->list, &dict));
  xrq5_evb_add_envs(env, "ENV", XRQ5_ENV_BLOCK_2010, {xrq5_evb_env(7, 30.0f), xrq5_evb_env(12, 23.5f)});
  xrq5_user_trigger_set_ext_env_dictionary(dict.data());
  trigger_ptr t = make_trigger("TEMP.HALL2.AIR", 2 /* MEAN */, 0 /* GT */, {}, 0, 23.0f);
  EXPECT_EQ(xrq5_is_trigger_on(reinterpret_cast<xrq5_serv_block_subhead_2010*>(env.data()), t.get()), 1);
  EXPECT_EQ(*t->fresult, 23.5f);
  xrq5_user_trigger_set_ext_env_dictionary(nullptr);
  EXPECT_TRUE(TypeParam::block(nullptr, &dict));
}

}  // namespace
