// xrq5xml check --strict and the schemas: wrong documents with their exact findings,
// the examples and the writers' own documents passing, and the README's examples.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "chan_descr_records.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "test_support.h"
#include "user_case_trigger.h"

namespace {

namespace fs = std::filesystem;
using xrq5_test::read_file;
using xrq5_test::temp_dir;

const std::string source = XRQ5_SOURCE_DIR;
const std::string examples = source + "/examples";
const std::string strict_data = source + "/tests/data/strict";

struct result {
  int status;
  std::string out, err;
};

// Runs a shell command line, with standard output and error captured.
result shell(const std::string& line) {
  temp_dir d;
  const std::string cmd = "(" + line + ") >" + d.path() + "/out 2>" + d.path() + "/err";
  const int rc = std::system(cmd.c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, read_file(d.path() + "/out"),
          read_file(d.path() + "/err")};
}

result tool(const std::string& args) { return shell(std::string(XRQ5_TOOL) + " " + args); }

std::string schema_for(const std::string& root) {
  static const std::map<std::string, std::string> by_root = {
      {"BMR", "ev_list.xsd"},           {"CHANDESCRIPTIONS", "xcd_tag.xsd"},
      {"DAQvariables", "xcd_var.xsd"},  {"ENVINDEXDICT", "env_dict.xsd"},
      {"XRQ5USERTRIGGERLIST", "triggers.xsd"}};
  auto it = by_root.find(root);
  return it == by_root.end() ? std::string() : it->second;
}

// The root element's name, found by text: enough for our own documents.
std::string root_of(const std::string& text) {
  size_t at = 0;
  while ((at = text.find('<', at)) != std::string::npos) {
    if (text[at + 1] != '?' && text[at + 1] != '!') break;
    ++at;
  }
  if (at == std::string::npos) return std::string();
  const size_t end = text.find_first_of(" \t\r\n/>", at + 1);
  return text.substr(at + 1, end - at - 1);
}

// xmllint against the schema of the document's kind, in `schemas`.
result xmllint(const std::string& file, const std::string& schemas) {
  const std::string xsd = schema_for(root_of(read_file(file)));
  EXPECT_FALSE(xsd.empty()) << file;
  return shell("xmllint --noout --schema " + schemas + "/" + xsd + " " + file);
}

const std::string build_schemas = fs::path(XRQ5_TOOL).parent_path().string() + "/schemas";

// The examples of our own kinds: the camera feature file is the camera maker's kind,
// with no schema of ours (its own test is below).
std::vector<std::string> example_documents() {
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(examples))
    if (e.path().extension() == ".xml" &&
        root_of(read_file(e.path().string())) != "RegisterDescription")
      files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// The example camera feature file: one record per feature element, in document order,
// each with its own name, type and texts.
TEST(examples, camera_features_show_as_their_feature_list) {
  const result r = tool("show " + examples + "/camera_features.xml");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> expected = {
      "[0] Name:'Width' type:1 ToolTip:'Width of the image in pixels.' Description:'Width of "
      "the region of interest that the camera sends.'",
      "[1] Name:'Height' type:1 ToolTip:'Height of the image in pixels.' Description:''",
      "[2] Name:'ExposureTime' Extension:'ExposureTimeAbs' type:2",
      "[3] Name:'PixelFormat' type:3 ToolTip:'' Description:'Format of the pixels",
      "[4] Name:'ReverseX' type:4",
      "[5] Name:'DeviceUserID' type:5",
      "[6] Name:'AcquisitionStart' type:6 ToolTip:'Starts the acquisition.'",
      "[7] Name:'TimestampLatch' type:7 ToolTip:'' Description:''"};
  for (const std::string& line : expected) EXPECT_NE(r.out.find(line), std::string::npos) << line;
  EXPECT_EQ(r.out.find("[8]"), std::string::npos) << r.out;
  const result strict = tool("check --strict --werror " + examples + "/camera_features.xml");
  EXPECT_EQ(strict.status, 0) << strict.err;
  EXPECT_NE(strict.out.find("camera_features.xml: ok (camera feature description)"),
            std::string::npos) << strict.out;
}

TEST(check_strict, wrong_documents_give_exactly_their_findings) {
  int documents = 0;
  std::set<std::string> kinds;
  for (const auto& e : fs::directory_iterator(strict_data)) {
    if (e.path().extension() != ".xml") continue;
    const std::string name = e.path().filename().string();
    const std::string stem = e.path().stem().string();
    SCOPED_TRACE(name);
    ++documents;
    kinds.insert(stem.substr(0, stem.find('_')));
    const std::string expected = read_file(strict_data + "/" + stem + ".expected");
    ASSERT_FALSE(expected.empty()) << "every wrong document has its findings";
    std::string args;
    if (fs::exists(strict_data + "/" + stem + ".args"))
      args = read_file(strict_data + "/" + stem + ".args");
    args.erase(std::remove(args.begin(), args.end(), '\n'), args.end());
    // Relative names, as a user types them: the findings name the file that way.
    const result r = shell("cd " + strict_data + " && " + XRQ5_TOOL + " check --strict --werror " +
                           args + " " + name);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, expected);
    EXPECT_EQ(r.out.compare(0, name.size() + 10, name + ": FAILED ("), 0) << r.out;
  }
  EXPECT_GE(documents, 40);
  EXPECT_EQ(kinds, (std::set<std::string>{"env", "ev", "not", "tag", "trig", "var"}));
}

TEST(check_strict, schemas_refuse_the_wrong_documents_too) {
  // Those whose fault is one of form, not one of meaning that only the tool sees.
  for (const char* stem :
       {"ev_type_out_of_range", "ev_tmask_capital_x", "ev_misspelt_sblock", "ev_tmask_before_type",
        "tag_evtype_word", "tag_misspelt_name", "tag_stat_outside_dim", "tag_size_float",
        "var_bittitle_without_bit", "env_channel_without_prop",
        "env_prop_too_long", "env_dabs_word", "trig_function_median", "trig_operation_lower_case",
        "trig_limit_not_a_number", "trig_mask_without_prefix", "trig_without_chan",
        "trig_function_twice", "trig_placeholder_function"}) {
    SCOPED_TRACE(stem);
    const result r = xmllint(strict_data + "/" + stem + ".xml", build_schemas);
    EXPECT_NE(r.status, 0) << r.err;
  }
}

TEST(check_strict, examples_pass_the_tool_and_xmllint) {
  const std::vector<std::string> files = example_documents();
  ASSERT_GE(files.size(), 5u);
  std::string all;
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    all += " " + f;
    const result x = xmllint(f, build_schemas);
    EXPECT_EQ(x.status, 0) << x.err;
  }
  const result r = tool("check --strict --werror --xcd " + examples + "/xcd_tag.xml" + all);
  EXPECT_EQ(r.status, 1) << "the example triggers name channels of other descriptions too";
  const result clean = tool("check --strict --werror" + all);
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_EQ(clean.err, "");
  for (const std::string& f : files) EXPECT_NE(clean.out.find(f + ": ok ("), std::string::npos);
  const result classic = tool("check --strict --werror --classic " + examples + "/env_dict.xml");
  EXPECT_EQ(classic.status, 0) << classic.err;
}

TEST(check_strict, trigger_channels_are_looked_up_in_every_xcd_given) {
  const std::string triggers = examples + "/triggers.xml";
  const result r = tool("check --strict --xcd " + examples + "/xcd_tag.xml --xcd " + examples +
                        "/xcd_var.xml " + triggers);
  EXPECT_EQ(r.status, 1);
  // The example's channels that neither description holds (the camera, the pressure
  // and the environment channel of the dictionary); property and DAQ names both count.
  std::vector<std::string> missing;
  std::istringstream lines(r.err);
  for (std::string line; std::getline(lines, line);) {
    const size_t a = line.find("channel '");
    ASSERT_NE(a, std::string::npos) << line;
    missing.push_back(line.substr(a + 9, line.find('\'', a + 9) - a - 9));
  }
  EXPECT_EQ(missing, (std::vector<std::string>{"LINAC/VAC/PUMP.7/PRESSURE",
                                               "LINAC/CAM/SCREEN.3/IMAGE",
                                               "LINAC/WATER/RETURN.T"}));
}

TEST(check_strict, exit_status_and_summary) {
  temp_dir d;
  const std::string warn = strict_data + "/trig_false_and_true.xml";
  const std::string wrong = strict_data + "/tag_evtype_word.xml";
  const std::string unknown = d.write("unknown.xml", "<FOO/>");
  struct {
    std::string args;
    int status;
    std::string out;  // start of standard output
  } cases[] = {
      {"check --strict " + warn, 0, warn + ": ok (trigger list, 2 warnings)\n"},
      {"check --strict --werror " + warn, 1, warn + ": FAILED (trigger list, 2 warnings)\n"},
      {"check --strict " + wrong, 1,
       wrong + ": FAILED (channel descriptions, tag form, 1 error)\n"},
      {"check --strict " + wrong + " " + warn, 1, wrong + ": FAILED ("},
      {"check --strict " + d.path() + "/missing.xml " + warn, 3, warn + ": ok ("},
      {"check --strict " + unknown, 3, ""},
      {"check --werror " + warn, 2, ""},
      {"check --strict --xcd", 2, ""},
      {"check --strict --bogus " + warn, 2, ""},
      {"check --strict", 2, ""},
      {"check --strict --xcd " + d.path() + "/missing.xml " + warn, 3, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const result r = tool(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out.compare(0, c.out.size(), c.out), 0) << r.out;
    if (c.out.empty()) {
      EXPECT_EQ(r.out, "");
    }
  }
}

TEST(check_strict, camera_files_have_no_schema_and_check_as_without_strict) {
  std::vector<std::string> cameras;
  for (const auto& e : fs::recursive_directory_iterator(source + "/tests/data/corpus/camera"))
    if (e.path().extension() == ".xml") cameras.push_back(e.path().string());
  std::sort(cameras.begin(), cameras.end());
  int clean = 0;
  for (const std::string& camera : cameras) {
    const result plain = tool("check " + camera);
    if (plain.status != 0) continue;  // some corpus files are broken on purpose
    SCOPED_TRACE(camera);
    const result strict = tool("check --strict " + camera);
    EXPECT_EQ(strict.status, 0);
    EXPECT_EQ(strict.out, plain.out);
    EXPECT_NE(strict.out.find("camera"), std::string::npos) << strict.out;
    if (++clean == 2) break;
  }
  EXPECT_EQ(clean, 2);
}

TEST(check_strict, json_holds_every_finding_of_the_run) {
  const std::string a = strict_data + "/trig_mask_without_prefix.xml";
  const std::string b = strict_data + "/env_repeated_index.xml";
  const result r = tool("check --strict --json " + a + " " + b);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "") << "the findings are in the array only";
  const nlohmann::json j = nlohmann::json::parse(r.out);
  ASSERT_TRUE(j.is_array());
  ASSERT_EQ(j.size(), 3u) << r.out;
  EXPECT_EQ(j[0]["file"], a);
  EXPECT_EQ(j[0]["line"], 6);
  EXPECT_EQ(j[0]["column"], 24);
  EXPECT_EQ(j[0]["severity"], "warning");
  EXPECT_EQ(j[0]["code"], "always");
  EXPECT_EQ(j[1]["severity"], "error");
  EXPECT_EQ(j[1]["code"], "mask");
  EXPECT_EQ(j[2]["file"], b);
  EXPECT_EQ(j[2]["line"], 9);
  EXPECT_EQ(j[2]["message"], "index 7 is given again (first at line 5)");
  const result clean = tool("check --strict --json " + examples + "/ev_list.xml");
  EXPECT_EQ(clean.status, 0);
  EXPECT_EQ(nlohmann::json::parse(clean.out), nlohmann::json::array());

  temp_dir d;
  const std::string missing = d.path() + "/missing.xml";
  const std::string broken = d.write("broken.xml", "<BMR><EVENT>\n</BMR>");
  const result bad = tool("check --strict --json " + missing + " " + broken);
  EXPECT_EQ(bad.status, 3);
  const nlohmann::json k = nlohmann::json::parse(bad.out);
  ASSERT_EQ(k.size(), 2u) << bad.out;
  EXPECT_EQ(k[0]["file"], missing);
  EXPECT_EQ(k[0]["code"], "unreadable");
  EXPECT_EQ(k[0]["line"], 0);
  EXPECT_EQ(k[1]["file"], broken);
  EXPECT_EQ(k[1]["code"], "xml");
  EXPECT_EQ(k[1]["severity"], "error");
  EXPECT_EQ(k[1]["line"], 2);
}

// A document chooses neither the schema nor what else is read, and cannot make the
// parser expand entities without bound.
TEST(check_strict, hostile_documents_are_checked_safely) {
  temp_dir d;
  std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE BMR [\n<!ENTITY a \"aaaaaaaaaa\">\n";
  for (char c = 'b'; c <= 'h'; ++c) {
    bomb += std::string("<!ENTITY ") + c + " \"";
    for (int i = 0; i < 20; ++i) bomb += std::string("&") + static_cast<char>(c - 1) + ";";
    bomb += "\">\n";
  }
  bomb += "]>\n<BMR><EVENT><TYPE>1</TYPE><SBLOCK>&h;</SBLOCK></EVENT></BMR>\n";
  const std::string secret = d.write("secret.txt", "SECRET-TEXT");
  const std::string loose = d.write("loose.xsd",
                                    "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
                                    "<xs:element name=\"BMR\"/></xs:schema>");
  struct {
    std::string name, text, finding;
  } cases[] = {
      {"bomb.xml", bomb, ":12:38: error: parser has encountered more than"},
      {"external.xml",
       "<?xml version=\"1.0\"?>\n<!DOCTYPE BMR [\n<!ENTITY x SYSTEM \"file://" + secret +
           "\">\n]>\n<BMR><EVENT><TYPE>1</TYPE><SBLOCK>&x;</SBLOCK></EVENT></BMR>\n",
       ":5:38: error: unable to open external entity"},
      {"own_schema.xml",
       "<BMR xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
       "xsi:noNamespaceSchemaLocation=\"" + loose + "\">\n<EVENT><TYPE>99</TYPE></EVENT></BMR>\n",
       ":2:23: error: event type 99 is outside 0 to 32"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = d.write(c.name, c.text);
    const result r = tool("check --strict " + file);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.find(file + c.finding), 0u) << r.err;
    EXPECT_EQ(r.err.find("SECRET"), std::string::npos);
  }
}

// Every element name of every example, misspelt once, must be caught by the schema
// and by the tool: a schema that lets a misspelling through is too loose.
TEST(check_strict, a_misspelt_element_of_any_example_is_refused) {
  temp_dir d;
  for (const std::string& f : example_documents()) {
    const std::string text = read_file(f);
    std::set<std::string> names;
    for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
      if (text[at + 1] == '?' || text[at + 1] == '!' || text[at + 1] == '/') continue;
      names.insert(text.substr(at + 1, text.find_first_of(" \t\r\n/>", at + 1) - at - 1));
    }
    for (const std::string& n : names) {
      if (n == root_of(text)) continue;
      SCOPED_TRACE(f + ": " + n);
      std::string bad = text;
      const size_t open = bad.find("<" + n);
      bad.insert(open + 1 + n.size(), "X");
      const size_t close = bad.find("</" + n + ">", open);
      if (close != std::string::npos) bad.insert(close + 2 + n.size(), "X");
      const std::string file = d.write("bad.xml", bad);
      EXPECT_EQ(tool("check --strict " + file).status, 1);
      EXPECT_NE(xmllint(file, build_schemas).status, 0);
    }
  }
}

std::string write_example_descriptions(const temp_dir& d, const char* example, int format,
                                       const char* name) {
  xrq5_test::descr_list list;
  std::string in = examples + "/" + example;
  EXPECT_EQ(parse_descr_list_readf(&in[0], &list, false, false), 0);
  // Spectrum and image parameters for the charge channel, which has no dimensions.
  xrq5_spect_header_2010 sh[2] = {{0.0f, 1.0f, 10, 1, 1.0f}, {5.0f, 0.5f, 20, 2, 2.0f}};
  xrq5_image_ext_frame_head ih[2] = {};
  for (auto& h : ih) {
    h.width = 640;
    h.height = 480;
    h.hbin = 2;
    h.vbin = 1;
    h.bpp = 2;
    h.ebitpp = 12;
    h.ispare4 = 1;
    h.fspare2 = 1.5f;
    h.fspare3 = 0.25f;
    h.ispare3 = 7;
    h.ispare2 = 3;
    h.fspare4 = 2.5f;
  }
  dim_params p{const_cast<char*>("TOROID.INJ.1"), 2, sh, ih};
  dim_params q{const_cast<char*>("BPM.ARC1.1"), 2, sh, ih};
  std::vector<dim_params*> dims{&p, &q};
  // A record without DAQ name, one with bits, dimensions and statistics.
  chan_descr_2010* extra = xrq5_test::make("EXTRA/NO/DAQ/NAME");
  extra->bits = {xrq5_test::bit(2, "ready")};
  extra->nbits = 1;
  extra->dims = {xrq5_test::dim(0, 2)};
  extra->ndims = 1;
  extra->max_size = 4;
  list.push_back(extra);
  const std::string out = d.path() + "/" + name;
  EXPECT_EQ(dump_chan_desr(&list, const_cast<char*>(out.c_str()), DUMP_XML_FILE, format, -1,
                           nullptr, &dims),
            0);
  clean_chan_desr_list(&list);
  return out;
}

TEST(check_strict, documents_the_writers_write_pass) {
  temp_dir d;
  std::vector<std::string> written;
  {
    xrq5_test::capture quiet;  // the writers say which files they made
    for (const char* example : {"xcd_tag.xml", "xcd_var.xml"}) {
      written.push_back(write_example_descriptions(d, example, XRQ5_FORMAT,
                                                   (std::string("tag_") + example).c_str()));
      written.push_back(write_example_descriptions(d, example, VESK_FORMAT,
                                                   (std::string("var_") + example).c_str()));
    }
    std::vector<xrq5_env_index_dictionary_entry_2010*> env;
    std::string in = examples + "/env_dict.xml";
    EXPECT_EQ(parse_env_index_dict_readf_2010(&in[0], &env), 0);
    written.push_back(d.path() + "/env.xml");
    EXPECT_EQ(dump_env_index_dict_2010(&env, &written.back()[0], 2, -1, nullptr), 0);
    for (auto* e : env) free(e);

    std::vector<xrq5_user_case_trigger*> triggers;
    in = examples + "/triggers.xml";
    EXPECT_FALSE(parse_trigger_list_readf(&in[0], &triggers));
    ASSERT_FALSE(triggers.empty());
    triggers[0]->pre_mode = -3;  // written as its unsigned value
    triggers[0]->post_mode = -2;
    triggers[0]->bitmask = 0xFFFFFFFFu;
    for (int i = 0; i < 16; ++i) triggers[0]->fparam[i] = -1.0e30f * static_cast<float>(i);
    written.push_back(d.path() + "/triggers.xml");
    EXPECT_EQ(dump_user_trigger_list(&triggers, &written.back()[0], USER_TRIG_DUMP_XML_FILE, -1,
                                     nullptr),
              0);
    for (auto* t : triggers) XRQ5_FREE_USER(t);
    quiet.stop();
  }
  for (const std::string& f : written) {
    SCOPED_TRACE(f);
    const result r = tool("check --strict " + f);
    EXPECT_EQ(r.status, 0) << r.err << read_file(f);
    // Only the extra record's bits, which the variable form writes into a matrix
    // channel where the reader does not take them, draw a word.
    std::istringstream lines(r.err);
    for (std::string line; std::getline(lines, line);)
      EXPECT_NE(line.find(": warning: bitTitle outside a DaqBits channel"), std::string::npos)
          << line;
    const result x = xmllint(f, build_schemas);
    EXPECT_EQ(x.status, 0) << x.err;
  }
  EXPECT_NE(read_file(written[0]).find("<DIM_GROUP_INC>"), std::string::npos)
      << "the parameter elements were written";
  EXPECT_NE(read_file(written[0]).find("!!!UNDEFINED!!!"), std::string::npos);
}

TEST(check_strict, installed_tool_finds_installed_schemas) {
  temp_dir d;
  const std::string prefix = d.path() + "/prefix";
  for (const char* component : {"tools", "schemas"}) {
    const result r = shell(std::string(XRQ5_CMAKE) + " --install " + XRQ5_BUILD_DIR + " --prefix " +
                           prefix + " --component " + component);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
  }
  const std::string schemas = prefix + "/share/XRQ5/schemas";
  for (const char* xsd : {"ev_list.xsd", "xcd_tag.xsd", "xcd_var.xsd", "env_dict.xsd",
                          "env_dict_classic.xsd", "triggers.xsd"})
    EXPECT_TRUE(fs::exists(schemas + "/" + xsd)) << xsd;
  for (const std::string& f : example_documents())
    EXPECT_EQ(xmllint(f, schemas).status, 0) << f;
  // Not beside a build-tree copy: only share/XRQ5/schemas can serve it.
  const result r = shell("LD_LIBRARY_PATH=" + std::string(XRQ5_LIB_DIR) + " " + prefix +
                         "/bin/xrq5xml check --strict " + strict_data + "/tag_evtype_word.xml " +
                         examples + "/triggers.xml");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find(":4:24: error: 'EVTYPE' holds 'NORMAL'"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("triggers.xml: ok (trigger list)"), std::string::npos) << r.out;
}

TEST(check_strict, schema_layouts_differ_only_in_the_property_length) {
  std::string modern = read_file(source + "/schemas/env_dict.xsd");
  std::string classic = read_file(source + "/schemas/env_dict_classic.xsd");
  auto body = [](std::string s) {
    s = s.substr(s.find("<xs:schema"));
    const std::string facet = "<xs:maxLength value=\"";
    const size_t at = s.find(facet);
    EXPECT_NE(at, std::string::npos);
    return s.erase(at + facet.size(), s.find('"', at + facet.size()) - at - facet.size());
  };
  EXPECT_EQ(body(modern), body(classic));
  EXPECT_NE(modern.find("<xs:maxLength value=\"255\"/>"), std::string::npos);
  EXPECT_NE(classic.find("<xs:maxLength value=\"79\"/>"), std::string::npos);
}

// The README quotes the examples: each block marked with the file it comes from is
// that file's text, in full or as consecutive whole lines.
TEST(readme, example_blocks_are_quoted_from_the_example_files) {
  const std::string readme = read_file(source + "/README.md");
  const std::string marker = "<!-- example: ";
  std::set<std::string> quoted;
  for (size_t at = readme.find(marker); at != std::string::npos;
       at = readme.find(marker, at + 1)) {
    const size_t name_end = readme.find(" -->", at);
    const std::string name = readme.substr(at + marker.size(), name_end - at - marker.size());
    SCOPED_TRACE(name);
    const size_t open = readme.find("```xml\n", name_end);
    ASSERT_NE(open, std::string::npos);
    const size_t start = open + 7;
    const size_t close = readme.find("```\n", start);
    ASSERT_NE(close, std::string::npos);
    const std::string block = readme.substr(start, close - start);
    const std::string file = read_file(source + "/" + name);
    ASSERT_FALSE(file.empty());
    ASSERT_FALSE(block.empty());
    const size_t found = ("\n" + file).find("\n" + block);
    EXPECT_NE(found, std::string::npos) << block;
    quoted.insert(name);
  }
  EXPECT_EQ(quoted, (std::set<std::string>{"examples/ev_list.xml", "examples/xcd_tag.xml",
                                           "examples/xcd_var.xml", "examples/env_dict.xml",
                                           "examples/triggers.xml",
                                           "examples/camera_features.xml"}));
}

}  // namespace
