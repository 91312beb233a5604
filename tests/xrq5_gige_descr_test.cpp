// Camera feature descriptions: the walk's attribution rules on small documents, the
// failure results, and every real feature file of the corpus against its expected
// dump.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"
#include "xrq5_gige_descr.h"

namespace {

using xrq5_test::capture;
using xrq5_test::read_file;
using xrq5_test::temp_dir;

struct features {
  std::vector<XRQ5GigEFeature*> v;
  ~features() { xrq5_clean_gige_descr(&v); }
};

const std::string corpus = std::string(XRQ5_SOURCE_DIR) + "/tests/data/corpus/camera";

class gige : public ::testing::Test {
 protected:
  bool fill(const std::string& body) {
    std::string path = dir.write("cam.xml", "<?xml version=\"1.0\"?>\n<RegisterDescription>" +
                                                body + "</RegisterDescription>\n");
    return xrq5_fill_gige_descr(&path[0], &f.v);
  }
  std::string dump() {
    capture cap;
    xrq5_dump_gige_descr(&f.v);
    cap.stop();
    return cap.out();
  }
  features f;
  temp_dir dir;
};

TEST_F(gige, feature_with_its_own_texts) {
  ASSERT_FALSE(fill("<Integer Name=\"G\"><ToolTip>T</ToolTip><Description>D</Description>"
                    "</Integer>"));
  ASSERT_EQ(f.v.size(), 1u);
  EXPECT_EQ(f.v[0]->type, FEATURE_TYPE_INT);
  EXPECT_EQ(f.v[0]->name, "G");
  EXPECT_EQ(f.v[0]->extension, "");
  EXPECT_EQ(f.v[0]->tooltip, "T");
  EXPECT_EQ(f.v[0]->description, "D");
  EXPECT_EQ(dump(), "[0] Name:'G' type:1 ToolTip:'T' Description:'D'\n");
}

TEST_F(gige, attribution_rules) {
  ASSERT_FALSE(fill(
      "<Float/><pValue>x</pValue>"                                        // no name yet
      "<Boolean><ToolTip/>\n  <Node Name=\"LATER\"/></Boolean>"            // named by a later element
      "<Enumeration Name=\"E\"><Extension><PvRename>NewName</PvRename><PvDelete/></Extension>"
      "<EnumEntry Name=\"ignored\"><ToolTip>entry tip</ToolTip></EnumEntry></Enumeration>"
      "<Command Name=\"C\"><Extension><PvRename Name=\"ByAttr\"/></Extension></Command>"
      "<Undefined Name=\"U\"><ToolTip>Unknown</ToolTip><Description>Waiting</Description>"
      "</Undefined><Int64 Name=\"L\"><Description><![CDATA[cdata]]></Description>  </Int64>"));
  ASSERT_EQ(f.v.size(), 6u);
  EXPECT_EQ(f.v[0]->name, "") << "no Name before the next feature";
  EXPECT_EQ(f.v[1]->name, "LATER");
  EXPECT_EQ(f.v[1]->tooltip, "\n  ") << "an empty ToolTip takes the whitespace after it";
  EXPECT_EQ(f.v[2]->extension, "NewName");
  EXPECT_EQ(f.v[2]->tooltip, "entry tip") << "a later element's texts go to the last feature";
  EXPECT_EQ(f.v[3]->extension, "ByAttr");
  EXPECT_EQ(f.v[4]->type, FEATURE_TYPE_UNDEF);
  EXPECT_EQ(f.v[4]->tooltip, "") << "literal marker texts end empty";
  EXPECT_EQ(f.v[4]->description, "");
  EXPECT_EQ(f.v[5]->type, FEATURE_TYPE_LONG);
  EXPECT_EQ(f.v[5]->description, "  ") << "CDATA is not read; the next text is";
  EXPECT_EQ(dump(),
            "[1] Name:'LATER' type:4 ToolTip:'\n  ' Description:''\n"
            "[2] Name:'E' Extension:'NewName' type:3 ToolTip:'entry tip' Description:''\n"
            "[3] Name:'C' Extension:'ByAttr' type:6 ToolTip:'' Description:''\n"
            "[4] Name:'U' type:0 ToolTip:'' Description:''\n"
            "[5] Name:'L' type:8 ToolTip:'' Description:'  '\n");
}

// A comment ends a text: a waiting field takes the text before it, or the text after
// it when there is none before. Entity and character references are part of the text
// around them, and a comment inside an entity's text ends that text as well.
TEST_F(gige, comments_and_references_inside_texts) {
  std::string path = dir.write(
      "refs.xml",
      "<?xml version=\"1.0\"?>\n<!-- prolog -->\n"
      "<!DOCTYPE RegisterDescription [<!ENTITY e \"ent\"><!ENTITY m \"x<!--in-->y\">]>\n"
      "<RegisterDescription>"
      "<Integer Name=\"A\"><ToolTip>before<!-- c -->after</ToolTip>"
      "<Description><!-- c -->only after</Description></Integer>"
      "<Float Name=\"B\"><ToolTip>a&amp;b&#65;&e;c<!--c-->d</ToolTip>"
      "<Description>&m;z</Description></Float>"
      "<Boolean Name=\"&e;&lt;\"><Description/>  <!-- c -->x</Boolean>"
      "<Command Name=\"C\"><Description/><!-- c --><!-- d -->\n  text</Command>"
      "<IntReg Name=\"D\"><Extension><PvRename><!--c-->r&e;</PvRename></Extension>"
      "<ToolTip><!-- only a comment --></ToolTip><Description>after</Description></IntReg>"
      "</RegisterDescription><!-- epilog -->\n");
  ASSERT_FALSE(xrq5_fill_gige_descr(&path[0], &f.v));
  EXPECT_EQ(dump(),
            "[0] Name:'A' type:1 ToolTip:'before' Description:'only after'\n"
            "[1] Name:'B' type:2 ToolTip:'a&bAentc' Description:'x'\n"
            "[2] Name:'ent<' type:4 ToolTip:'' Description:'  '\n"
            "[3] Name:'C' type:6 ToolTip:'' Description:'\n  text'\n"
            "[4] Name:'D' Extension:'rent' type:7 ToolTip:'after' Description:''\n");
}

// Features count at any depth up to the readers' nesting bound (the root is the
// first of its 256 levels); a file nested deeper is refused.
TEST_F(gige, features_at_any_depth_and_deep_nesting) {
  std::string deep;
  for (int i = 0; i < 254; ++i) deep += "<g>";
  deep += "<IntReg Name=\"DEEP\"/>";
  for (int i = 0; i < 254; ++i) deep += "</g>";
  ASSERT_FALSE(fill("<Group><Group><StringReg Name=\"S\"/></Group></Group>" + deep));
  ASSERT_EQ(f.v.size(), 2u);
  EXPECT_EQ(f.v[1]->name, "DEEP");
  capture cap;
  const bool deeper = fill("<g>" + deep + "</g>");
  cap.stop();
  EXPECT_TRUE(deeper);
  EXPECT_EQ(f.v.size(), 2u) << "a failed read leaves the list alone";
}

TEST_F(gige, failures) {
  capture cap;
  const bool null_name = xrq5_fill_gige_descr(nullptr, &f.v);
  const bool null_list = xrq5_fill_gige_descr(const_cast<char*>("x"), nullptr);
  cap.stop();
  EXPECT_TRUE(null_name);
  EXPECT_TRUE(null_list);
  EXPECT_EQ(cap.out(), "");

  f.v.push_back(new XRQ5GigEFeature{1, "kept", "", "", ""});
  std::string missing = dir.path() + "/missing.xml";
  std::string mako = corpus + "/adgenicam/AVT_Mako_G234B.xml";
  const std::string secret = dir.write("secret.txt", "SECRET");
  std::string external = dir.write(
      "ext.xml", "<!DOCTYPE RegisterDescription [<!ENTITY e SYSTEM \"file://" + secret +
                     "\">]><RegisterDescription><Integer Name=\"&e;\"/></RegisterDescription>");
  capture cap2;
  EXPECT_TRUE(xrq5_fill_gige_descr(&missing[0], &f.v));
  EXPECT_TRUE(xrq5_fill_gige_descr(&mako[0], &f.v)) << "a malformed file is a failure";
  EXPECT_TRUE(xrq5_fill_gige_descr(&external[0], &f.v));
  cap2.stop();
  ASSERT_EQ(f.v.size(), 1u) << "the list is untouched on failure";
  EXPECT_EQ(f.v[0]->name, "kept");
  EXPECT_NE(cap2.out().find("An error occurred during parsing  Message: " + mako +
                            ", line 1, char 1: "),
            std::string::npos)
      << cap2.out();
  EXPECT_EQ(cap2.out().find("SECRET"), std::string::npos);
}

TEST_F(gige, a_file_without_features_is_an_empty_list) {
  ASSERT_FALSE(fill("<Category Name=\"Root\"><pFeature>x</pFeature></Category>"));
  EXPECT_TRUE(f.v.empty());
  xrq5_dump_gige_descr(nullptr);
  xrq5_clean_gige_descr(nullptr);
}

// Every well-formed corpus file gives exactly its expected dump.
TEST(gige_corpus, real_feature_files) {
  int files = 0;
  for (const auto& dir : {corpus + "/aravis", corpus + "/adgenicam"}) {
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      const std::string stem = e.path().stem().string();
      const std::string expected_path = corpus + "/expected/" + stem + ".dump.txt";
      if (!std::filesystem::exists(expected_path)) continue;
      SCOPED_TRACE(stem);
      features f;
      std::string path = e.path().string();
      ASSERT_FALSE(xrq5_fill_gige_descr(&path[0], &f.v));
      capture cap;
      xrq5_dump_gige_descr(&f.v);
      cap.stop();
      EXPECT_EQ(cap.out(), read_file(expected_path));
      ++files;
    }
  }
  EXPECT_EQ(files, 12);
}

}  // namespace
