#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "attr_tags_functions.h"
#include "parse_chan_descr.h"

namespace {

TEST(tag_helpers, exact_text_appended) {
  std::vector<char*> none, names{const_cast<char*>("x"), const_cast<char*>("y")},
      values{const_cast<char*>("1"), const_cast<char*>("2")};
  std::string a = "keep";
  START_TAG(a, "A");
  START_TAGN(a, "B");
  END_TAG(a, "A");
  END_TAGN(a, "B");
  START_TAG_ATTR(a, "E", &none, &none);
  START_TAG_ATTRN(a, "T", &names, &values);
  START_TAG_ATTRNS(a, "S", &names, &values);
  START_TAG_ATTRNNS(a, "N", &none, &none);
  EXPECT_EQ(a, "keep<A><B>\n</A></B>\n<E />"
               "<T x=\"1\" y=\"2\"/>\n<S x=\"1\" y=\"2\"><N >\n");
  std::string quoted;
  std::vector<char*> n1{const_cast<char*>("q")}, v1{const_cast<char*>("a\"&b")};
  START_TAG_ATTRNS(quoted, "Q", &n1, &v1);
  EXPECT_EQ(quoted, "<Q q=\"a\"&b\">") << "nothing is escaped";
}

TEST(tag_helpers, short_value_vector_throws_after_the_preceding_pairs) {
  std::vector<char*> names{const_cast<char*>("x"), const_cast<char*>("y")},
      values{const_cast<char*>("1")};
  std::string a;
  EXPECT_THROW(START_TAG_ATTR(a, "T", &names, &values), std::out_of_range);
  EXPECT_EQ(a, "<T x=\"1\" y=\"");
}

TEST(document_helpers, declaration_and_dates) {
  std::string s = "old text";
  set_xml_header(s);
  EXPECT_EQ(s, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n");
  EXPECT_EQ(s.size(), 45u);
  add_iso_date(s);
  const std::string line = s.substr(45);
  EXPECT_EQ(line.size(), 40u);
  EXPECT_TRUE(std::regex_match(line, std::regex("\t<isodate>\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d"
                                                "</isodate>\n")))
      << line;

  setenv("TZ", "UTC", 1);
  tzset();
  char buf[64] = "untouched";
  time_t t = 86399;
  create_isodate(buf, &t);
  EXPECT_STREQ(buf, "1970-01-01T23:59:59");
  // The last time there is: beyond any calendar date with a 64-bit time_t, early 2038
  // with the 32 bits of the target.
  time_t far = std::numeric_limits<time_t>::max();
  create_isodate(buf, &far);
  EXPECT_STREQ(buf, sizeof(time_t) > 4 ? "" : "2038-01-19T03:14:07");
  create_isodate(nullptr, &t);
  create_isodate(nullptr);
}

}  // namespace
