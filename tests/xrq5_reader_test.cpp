#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "xrq5_element_table.h"
#include "xrq5_reader.h"

namespace {

using xrq5_read::element_table;

// ---- the element table ---------------------------------------------------------------

TEST(element_table, finds_exact_names_only) {
  const element_table t = {{"CHANNEL", 0}, {"NAME", 1}, {"DIM_NAME", 2}, {"name", 3}, {"X", 4}};
  const struct {
    const char* tag;
    int id;
  } cases[] = {
      {"CHANNEL", 0}, {"NAME", 1},      {"DIM_NAME", 2},     {"name", 3},  {"X", 4},
      {"CHANNE", -1}, {"CHANNELS", -1}, {"channel", -1},     {"NAM", -1},  {"Name", -1},
      {"x", -1},      {"XX", -1},       {"DIM_NAMe", -1},    {" NAME", -1}, {"NAME ", -1},
      {"", -1},       {nullptr, -1},    {"CHANNEL\xc3\xa9", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag ? c.tag : "(null)");
    EXPECT_EQ(t.find(c.tag), c.id);
  }
}

TEST(element_table, names_of_every_length_class_are_told_apart) {
  // Below 4, 4 to 7, 8 to 16 and past 16 bytes; neighbours differ in one middle byte.
  const char* const names[] = {"A",        "AB",        "ABC",        "ABCD",
                               "ABCDEFG",  "ABCDEFGH",  "ABCDEFGHIJKLMNOP",
                               "ABCDEFGHIJKLMNOPQ",     "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"};
  const char* const near[] = {"B",        "AC",        "AXC",        "AXCD",
                              "ABCXEFG",  "ABCDXFGH",  "ABCDEFGHXJKLMNOP",
                              "ABCDEFGHIXKLMNOPQ",     "ABCDEFGHIJKLMNOPQRXTUVWXYZ0123456789"};
  std::vector<xrq5_read::element_name> list;
  for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i)
    list.push_back({names[i], static_cast<int>(i)});
  const element_table t(list.data(), list.data() + list.size());
  for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(t.find(names[i]), static_cast<int>(i));
    EXPECT_EQ(t.find(near[i]), element_table::none);
    // The same bytes in another buffer, as the parser hands them.
    const std::string copy = names[i];
    EXPECT_EQ(t.find(copy.c_str()), static_cast<int>(i));
  }
}

TEST(element_table, names_placed_alike_are_all_found) {
  // Names that differ in one middle byte only.
  const element_table t = {{"AxB", 0}, {"AyB", 1}, {"AzB", 2}, {"A_B", 3}, {"AB", 4}};
  EXPECT_EQ(t.find("AxB"), 0);
  EXPECT_EQ(t.find("AyB"), 1);
  EXPECT_EQ(t.find("AzB"), 2);
  EXPECT_EQ(t.find("A_B"), 3);
  EXPECT_EQ(t.find("AB"), 4);
  EXPECT_EQ(t.find("AwB"), element_table::none);
}

TEST(element_table, first_of_a_repeated_name_wins_and_long_unknown_tags_miss) {
  const element_table t = {{"A", 7}, {"A", 8}};
  EXPECT_EQ(t.find("A"), 7);
  EXPECT_EQ(t.find(std::string(100000, 'A').c_str()), element_table::none);
}

TEST(element_table, refuses_what_it_cannot_hold) {
  EXPECT_THROW(element_table({{"", 0}}), std::logic_error);
  EXPECT_THROW(element_table({{"A", -1}}), std::logic_error);
  std::vector<std::string> names;
  for (int i = 0; i < 65; ++i) names.push_back("E" + std::to_string(i));
  std::vector<xrq5_read::element_name> list;
  for (size_t i = 0; i < names.size(); ++i) list.push_back({names[i].c_str(), static_cast<int>(i)});
  const element_table full(list.data(), list.data() + 64);
  for (size_t i = 0; i < 64; ++i) EXPECT_EQ(full.find(names[i].c_str()), static_cast<int>(i));
  EXPECT_EQ(full.find("E64"), element_table::none);
  EXPECT_THROW(element_table(list.data(), list.data() + 65), std::logic_error);
}

// ---- the reading loop ----------------------------------------------------------------

struct seen {
  std::string tag, value;
  int element;
  bool new_element;
  std::string x;  // attribute x, or "-"
  bool operator==(const seen& o) const {
    return tag == o.tag && value == o.value && element == o.element &&
           new_element == o.new_element && x == o.x;
  }
};

std::ostream& operator<<(std::ostream& os, const seen& s) {
  return os << "{" << s.tag << ", " << s.value << ", " << s.element << ", " << s.new_element
            << ", " << s.x << "}";
}

enum reader_kind { memory, file };

class reader_loop_steps : public ::testing::TestWithParam<reader_kind> {
 protected:
  std::vector<seen> steps(const std::string& doc, const element_table& names) {
    std::vector<seen> out;
    auto on_step = [&out](const xrq5_read::step& s) {
      const char* x = s.attr("x");
      out.push_back({s.tag ? s.tag : "null", s.value ? s.value : "null", s.element,
                     s.new_element, x ? x : "-"});
    };
    auto root = [](const char* tag) { return tag != nullptr; };
    xrq5_read::outcome r;
    if (GetParam() == memory) {
      std::string text = doc;
      r = xrq5_read::read<SAX_Memory_Parser>(&text[0], names, root, on_step);
    } else {
      std::string path = dir.write("doc.xml", doc);
      r = xrq5_read::read<SAX_File_Parser>(&path[0], names, root, on_step);
    }
    EXPECT_EQ(r.at, xrq5_read::read_done);
    EXPECT_EQ(r.errors, 0);
    return out;
  }

  xrq5_test::temp_dir dir;
};

TEST_P(reader_loop_steps, mark_the_first_step_of_each_element) {
  const element_table names = {{"A", 0}, {"B", 1}};
  const std::vector<seen> expected = {
      {"A", "null", 0, true, "1"},   // start tag with its attribute
      {"A", "t", 0, false, "1"},     // its text, a second step of the same element
      {"B", "null", 1, true, "-"},   // an element without text
      {"B", "null", 1, false, "-"},  // and its end tag
      {"A", "null", 0, true, "-"},   // the same name again is a new element
      {"A", "u", 0, false, "-"},
      {"C", "null", -1, true, "-"},  // not in the table
      {"B", "null", 1, true, "-"},
      {"B", "vw", 1, false, "-"},    // text joined across a comment
      {"A", "null", 0, true, "-"},
  };
  // Steps without a tag (white space, ends of elements) are not handed on.
  EXPECT_EQ(steps("<R><A x=\"1\">t</A><B></B><A>u</A><C y=\"2\"/><B>v<!-- c -->w</B>\n <A/></R>",
                  names),
            expected);
}

TEST_P(reader_loop_steps, every_step_carries_the_id_of_its_own_tag) {
  // Neighbours with and without text, repeated and alternating names: an id kept from
  // an earlier step must never reach a step of another element.
  const element_table names = {{"A", 0}, {"B", 1}, {"C", 2}};
  const std::string doc =
      "<R><A>1</A><B>2</B><B>3</B><A/><C x=\"9\">4</C><D>5</D><A>6</A><B/><B/><C></C><A>7</A></R>";
  const std::vector<seen> got = steps(doc, names);
  ASSERT_FALSE(got.empty());
  int elements = 0;
  for (const seen& s : got) {
    SCOPED_TRACE(::testing::PrintToString(s));
    EXPECT_EQ(s.element, names.find(s.tag.c_str()));
    if (s.new_element) ++elements;
  }
  EXPECT_EQ(elements, 11);
}

INSTANTIATE_TEST_SUITE_P(both, reader_loop_steps, ::testing::Values(memory, file));

}  // namespace
