// The command-line tool, run as operators run it, over the shipped examples.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "parse_chan_descr.h"
#include "parse_ev_list.h"
#include "test_support.h"

namespace {

using xrq5_test::temp_dir;

struct result {
  int status;
  std::string out, err;
};

result tool(const std::string& args) {
  temp_dir d;
  const std::string cmd = std::string(XRQ5_TOOL) + " " + args + " >" + d.path() + "/out 2>" +
                          d.path() + "/err";
  const int rc = std::system(cmd.c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, xrq5_test::read_file(d.path() + "/out"),
          xrq5_test::read_file(d.path() + "/err")};
}

const std::string examples = std::string(XRQ5_SOURCE_DIR) + "/examples";

TEST(xrq5xml, show_uses_the_library_printer) {
  const std::string file = examples + "/ev_list.xml";
  std::vector<xrq5_ev_entry*> list;
  ASSERT_EQ(xrq5_parse_ev_list_readf(const_cast<char*>(file.c_str()), &list), 0);
  xrq5_test::capture cap;
  xrq5_print_ev_list(&list);
  cap.stop();
  xrq5_clean_ev_list(&list);

  const result r = tool("show " + file);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "==== " + file + " (event list)\n" + cap.out());
  EXPECT_EQ(r.err, "");
}

TEST(xrq5xml, every_example_document_checks_clean) {
  std::string files;
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(examples))
    if (e.path().extension() == ".xml") files += " " + e.path().string(), ++n;
  ASSERT_GT(n, 0);
  const result r = tool("check" + files);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  size_t oks = 0;
  for (size_t at = r.out.find(": ok ("); at != std::string::npos; at = r.out.find(": ok (", at + 1))
    ++oks;
  EXPECT_EQ(oks, static_cast<size_t>(n)) << r.out;
}

TEST(xrq5xml, exit_status_tells_what_went_wrong) {
  temp_dir d;
  const std::string unknown = d.write("unknown.xml", "<?xml version=\"1.0\"?><FOO/>");
  const std::string broken = d.write("broken.xml", "<BMR><EVENT><TYPE>1</TYPE></BMR>");
  const std::string broken_at = broken + ":1:29: error: expected end of tag 'EVENT'\n";
  const std::string garbage = d.write("garbage.xml", "no markup here");
  const std::string broken_xcd = d.write("broken_xcd.xml", "<DAQvariables><DaqFloat>");
  const std::string good = examples + "/ev_list.xml";

  struct {
    std::string args;
    int status;
    const char* message;
  } cases[] = {
      {"check " + good, 0, ""},
      {"check " + broken, 1, broken_at.c_str()},
      {"check " + garbage, 1, "not well-formed XML"},
      {"check " + d.path() + "/missing.xml", 3, "cannot open"},
      {"check " + unknown, 3, "unknown kind of document (root element 'FOO')"},
      {"check " + broken + " " + unknown + " " + good, 3, "unknown kind"},
      {"show", 2, "no file given"},
      {"convert " + good + " --to tag", 2, "event list cannot be converted to 'tag'"},
      {"convert " + examples + "/xcd_tag.xml --to xml", 2, "forms: tag|var|text|short"},
      {"convert " + examples + "/xcd_tag.xml", 2, "usage: xrq5xml convert"},
      {"convert " + broken_xcd + " --to tag", 1, "did not read cleanly"},
      {"convert " + examples + "/xcd_tag.xml --to tag -o " + d.path() + "/no/dir.xml", 1,
       "failed to open file"},
      {"frobnicate " + good, 2, "unknown command 'frobnicate'"},
      {"", 2, "usage: xrq5xml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const result r = tool(c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << r.out << r.err;
  }
  const result broken_check = tool("check " + broken);
  EXPECT_NE(broken_check.out.find(": FAILED (event list, result 1)"), std::string::npos);
  // The problem in the user's words: neither the parser's own report nor its internals.
  EXPECT_EQ(broken_check.err.find("Fatal Error"), std::string::npos) << broken_check.err;
  EXPECT_EQ(broken_check.err.find("scanFirst"), std::string::npos) << broken_check.err;
}

// Conversions go through the library's writers: var and back gives what the library
// writes, and the listings reach standard output.
TEST(xrq5xml, convert_channel_descriptions) {
  temp_dir d;
  const std::string var = d.path() + "/v.xml";
  const result refused = tool("convert " + examples + "/xcd_tag.xml --to var -o " + var);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("as var loses data type in 3 records\n"), std::string::npos)
      << refused.err;
  EXPECT_FALSE(std::filesystem::exists(var)) << "nothing is written without --lossy";
  const result to_var = tool("convert " + examples + "/xcd_tag.xml --to var --lossy -o " + var);
  ASSERT_EQ(to_var.status, 0) << to_var.err;
  EXPECT_EQ(to_var.out, "") << "no library progress line on standard output";
  const result back = tool("convert " + var + " --to tag");
  ASSERT_EQ(back.status, 0) << back.err;

  std::vector<chan_descr_2010*> list;
  std::string path = var;
  ASSERT_EQ(parse_descr_list_readf(&path[0], &list, false, false), 0);
  std::string expected;
  dump_chan_desr(&list, nullptr, DUMP_XML_FILE, XRQ5_FORMAT, -1, &expected, nullptr);
  clean_chan_desr_list(&list);
  EXPECT_EQ(back.out, expected);

  const result text = tool("convert " + examples + "/xcd_var.xml --to short");
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("TEMP.HALL2.AIR\t1\tUNKNOWN\n"), std::string::npos) << text.out;
}

// The main job: the example trigger list on the example events.
TEST(xrq5xml, eval_on_the_example_events) {
  const result r = tool("eval " + examples + "/triggers.xml " + examples +
                        "/events.xrq5ev --env-dict " + examples + "/env_dict.xml");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("summary: 6 events, 9 triggers, 37 evaluations, 11 fires\n"),
            std::string::npos)
      << r.out;
  const char* expected[] = {
      "[0] LINAC/TOROID/INJ.1/CHARGE.TD MEAN GT (bunch charge too high): fired in 2, channel "
      "missing in 0",
      "[1] LINAC/TOROID/INJ.1/CHARGE.TD DIFFMEAN GT (charge jumped up): fired in 2",
      "[2] LINAC/TOROID/INJ.1/CHARGE.TD P2P GT (uneven pulse): fired in 0",
      "[3] BPM.ARC1.1 VALUE OUTSIDE (orbit off in x): fired in 2",
      "[4] LINAC/VAC/PUMP.7/PRESSURE MEAN GT (vacuum burst): fired in 1, channel missing in 3",
      "[5] LINAC/RF/GUN/INTERLOCK VALUE AND (door interlock open): fired in 2, channel missing in 3",
      "[6] LINAC/CAM/SCREEN.3/IMAGE MAX GT (screen saturated (images give no result)): fired in "
      "0, channel missing in 5",
      "[7] TEMP.HALL2.AIR MEAN GT (hall too warm): fired in 1, channel missing in 3",
      "[8] LINAC/WATER/RETURN.T MAX INSIDE (cooling water warm): fired in 1, channel missing in 3"};
  for (const char* line : expected) EXPECT_NE(r.out.find(line), std::string::npos) << line;
  EXPECT_NE(r.out.find("event 3 (number 1003, NORMAL, time 1764583203.250000): 2 fired\n"
                       "  [4] LINAC/VAC/PUMP.7/PRESSURE MEAN GT (vacuum burst)  result 8e-09\n"),
            std::string::npos);

  // Without the dictionary the environment channels cannot be resolved.
  const result no_dict = tool("eval " + examples + "/triggers.xml " + examples + "/events.xrq5ev");
  EXPECT_EQ(no_dict.status, 0);
  EXPECT_NE(no_dict.out.find("[7] TEMP.HALL2.AIR MEAN GT (hall too warm): fired in 0, channel "
                             "missing in 6"),
            std::string::npos);

  temp_dir d;
  const std::string junk = d.write("junk.ev", "not events");
  const result bad = tool("eval " + examples + "/triggers.xml " + junk);
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("is not a recorded-event file"), std::string::npos) << bad.err;
  const result usage = tool("eval " + examples + "/triggers.xml");
  EXPECT_EQ(usage.status, 2);
}

TEST(xrq5xml, convert_trigger_lists) {
  const result text = tool("convert " + examples + "/triggers.xml --to text");
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.rfind("LINAC/TOROID/INJ.1/CHARGE.TD\t0\tMEAN\n[0]:0.000000\t", 0), 0u)
      << text.out;
  const result xml = tool("convert " + examples + "/triggers.xml --to xml");
  EXPECT_EQ(xml.status, 0) << xml.err;
  EXPECT_NE(xml.out.find("<BitMask mask=\"0x4\"/>"), std::string::npos);
}

TEST(xrq5xml, select_answers_like_the_selector) {
  const std::string tag = examples + "/xcd_tag.xml", var = examples + "/xcd_var.xml";
  const result all = tool("select " + tag + " " + var);
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_NE(all.out.find("2 of 2 read cleanly; 6 descriptions held\n"), std::string::npos);
  EXPECT_NE(all.out.find("LLRF.ACC1.PROBE.AMPL.ML: event types 0x100000 (LLRF_ML); data type "
                         "0x0 (); slow no; ML yes; sub-channels 1\n"),
            std::string::npos)
      << all.out;
  const result some = tool("select --xml " + tag + " --event 1 BPM.ARC1.1 LINAC/BPM/ARC1.1/XYQ");
  EXPECT_EQ(some.status, 0) << some.err;
  EXPECT_NE(some.out.find("BPM.ARC1.1: not wanted for NORMAL;"), std::string::npos) << some.out;
  EXPECT_NE(some.out.find("LINAC/BPM/ARC1.1/XYQ: wanted for NORMAL; event types 0x2 (NORMAL); "
                          "data type 0x80000040 (BLOCK_BPM_2010); slow no; ML no; "
                          "sub-channels 3\n"),
            std::string::npos)
      << some.out;
  const result missing = tool("select " + tag + " --event 6 NOT.THERE");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("NOT.THERE: not wanted for IMAGE; no description holds it"),
            std::string::npos);
  EXPECT_EQ(tool("select --event 99 " + tag).status, 2);
}

TEST(xrq5xml, environment_dictionaries_in_both_layouts) {
  temp_dir d;
  const std::string long_name(100, 'L');
  const std::string dict = d.write("d.xml", "<ENVINDEXDICT><CHANNEL><INDEX>3</INDEX><PROP>" +
                                                long_name + "</PROP></CHANNEL></ENVINDEXDICT>");
  const result modern = tool("convert " + dict + " --to text");
  EXPECT_EQ(modern.out, "3\t" + long_name + "\t0.000000\t0.000000\n");
  const result classic = tool("convert --classic " + dict + " --to text");
  EXPECT_EQ(classic.out, "3\t" + long_name.substr(0, 79) + "\t0.000000\t0.000000\n");
  const result show = tool("show " + examples + "/env_dict.xml");
  EXPECT_NE(show.out.find(" Index : 12\n Channel: TEMP.HALL2.AIR DABS 0.1 DREL 0\n"),
            std::string::npos)
      << show.out;
  const result xml = tool("convert " + examples + "/env_dict.xml --to xml");
  EXPECT_NE(xml.out.find("<INDEX>7</INDEX>\n<PROP>LINAC/WATER/RETURN.T</PROP>\n"),
            std::string::npos);
}

TEST(xrq5xml, camera_feature_files) {
  const std::string cam = std::string(XRQ5_SOURCE_DIR) + "/tests/data/corpus/camera";
  const result r = tool("show " + cam + "/aravis/genicam.xml");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "==== " + cam + "/aravis/genicam.xml (camera feature description)\n" +
                       xrq5_test::read_file(cam + "/expected/genicam.dump.txt"));
  const result bad = tool("check " + cam + "/adgenicam/AVT_Mako_G234B.xml");
  EXPECT_EQ(bad.status, 1);
}

TEST(xrq5xml, registry_lists_every_row) {
  const result r = tool("registry");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("  0  MIN : minimum value  in a spectrum/image"), std::string::npos);
  EXPECT_NE(r.out.find(" 31  FUNC31 : undefined\n"), std::string::npos);
  EXPECT_NE(r.out.find(" 10  TRUE : always TRUE\n"), std::string::npos);
  EXPECT_NE(r.out.find(" 31  OP31 : undefined\n"), std::string::npos);
}

TEST(xrq5xml, help_and_version) {
  const result help = tool("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: xrq5xml COMMAND"), std::string::npos);
  const result version = tool("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("xrq5xml ", 0), 0u);
}

}  // namespace

namespace {

// The listing that `show` prints for a document, without its heading line.
std::string listing(const std::string& file) {
  const result r = tool("show " + file);
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out.substr(r.out.find('\n') + 1);
}

// Converted three times over, documents with XML special characters and characters
// beyond ASCII show as they did; through the variable form, the fields it keeps do.
TEST(xrq5xml, converting_again_and_again_changes_nothing) {
  temp_dir d;
  const std::string texts = "&amp; &lt;x&gt; &quot;q&quot; 'a' \xc3\xa9 \xc2\xb5 \xc3\x9f \xe4\xb8\xad \xf0\x9f\x98\x80";
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  const std::string xcd = d.write(
      "xcd.xml", head + "<CHANDESCRIPTIONS><CHANNEL><STREAM>2</STREAM><EVTYPE>1</EVTYPE>"
                        "<DTYPE>38</DTYPE><PROP>TEMP/Au\xc3\x9f" "en</PROP><NAME>T.A</NAME><DESC>" +
                        texts + "</DESC><BIT>1\n<BIT_NAME>" + texts + "</BIT_NAME><BIT_DESCR>" +
                        texts + "</BIT_DESCR></BIT></CHANNEL></CHANDESCRIPTIONS>\n");
  const std::string triggers = d.write(
      "t.xml", head + "<XRQ5USERTRIGGERLIST><USERTRIGGER><Chan name=\"" + texts +
                   "\"/><UpperLimit value=\"5e-9\"/><Description text=\"" + texts +
                   "\"/></USERTRIGGER></XRQ5USERTRIGGERLIST>\n");
  const std::string dict = d.write(
      "d.xml", head + "<ENVINDEXDICT><CHANNEL><INDEX>3</INDEX><PROP>" + texts +
                   "</PROP><DABS>2e-7</DABS></CHANNEL></ENVINDEXDICT>\n");
  struct {
    std::string file, form;
  } cases[] = {{xcd, "tag"}, {xcd, "var"}, {triggers, "xml"}, {dict, "xml"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file + " as " + c.form);
    std::string from = c.file;
    for (int i = 1; i <= 3; ++i) {
      const std::string to = d.path() + "/" + c.form + std::to_string(i) + ".xml";
      const result r = tool("convert " + from + " --to " + c.form + " --lossy -o " + to);
      ASSERT_EQ(r.status, 0) << r.err;
      const result strict = tool("check --strict " + to);
      EXPECT_EQ(strict.status, 0) << strict.out << strict.err;
      from = to;
    }
    if (c.form == "var") {
      const result back = tool("convert " + from + " --to tag -o " + d.path() + "/back.xml");
      ASSERT_EQ(back.status, 0) << back.err;
      // What the variable form does not hold, as show prints it.
      const std::regex lost(" stream   : [0-9]+ \n| data type: [^\n]*\n\t(count|db_key|sb_name) *:[^\n]*\n"
                            "|\t\tdesc   : [^\n]*\n");
      EXPECT_EQ(std::regex_replace(listing(d.path() + "/back.xml"), lost, ""),
                std::regex_replace(listing(c.file), lost, ""));
    } else {
      EXPECT_EQ(listing(from), listing(c.file));
    }
  }
}

TEST(xrq5xml, convert_never_loses_the_old_file_nor_its_output) {
  temp_dir d;
  std::string big = "<CHANDESCRIPTIONS>\n";
  for (int i = 0; i < 400; ++i)
    big += "<CHANNEL><PROP>LINAC/DEVICE." + std::to_string(i) + "/PROPERTY</PROP></CHANNEL>\n";
  const std::string source = d.write("big.xml", big + "</CHANDESCRIPTIONS>\n");
  const std::string old_doc = xrq5_test::read_file(examples + "/xcd_tag.xml");
  const std::string good = d.write("good.xml", old_doc);
  // A file-size limit fails the write as a full disk does.
  const std::string cmd = "bash -c 'ulimit -f 8; " + std::string(XRQ5_TOOL) + " convert " + source +
                          " --to tag -o " + good + "' >" + d.path() + "/out 2>&1";
  const int rc = std::system(cmd.c_str());
  EXPECT_EQ(WEXITSTATUS(rc), 1);
  EXPECT_NE(xrq5_test::read_file(d.path() + "/out").find("failed to write file: '" + good + "'"),
            std::string::npos);
  EXPECT_EQ(xrq5_test::read_file(good), old_doc);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d.path()), {}), 3) << "no temporary file";

  // A closed standard output: nothing of the tool lands in the file.
  const std::string closed = d.path() + "/closed.xml";
  const std::string tool_path = XRQ5_TOOL;
  EXPECT_EQ(WEXITSTATUS(std::system((tool_path + " convert " + examples + "/triggers.xml --to xml -o " +
                                     closed + " >&- 2>/dev/null").c_str())),
            0);
  EXPECT_EQ(xrq5_test::read_file(closed).rfind("<?xml", 0), 0u);

  for (const char* form : {"tag", "text"}) {
    SCOPED_TRACE(form);
    const std::string err = d.path() + "/err";
    const int full = std::system((tool_path + " convert " + examples + "/xcd_tag.xml --to " + form +
                                  " >/dev/full 2>" + err).c_str());
    EXPECT_EQ(WEXITSTATUS(full), 1);
    EXPECT_NE(xrq5_test::read_file(err).find("cannot write to standard output: No space left on device"),
              std::string::npos);
  }
}

}  // namespace

namespace {

// The tool with standard output sent to `out` (a path such as /dev/full; captured when
// empty) and standard error captured; a time-out turns a hang into status 124 rather
// than a stuck test.
result tool_to(const std::string& args, const std::string& out) {
  temp_dir d;
  const std::string out_path = out.empty() ? d.path() + "/out" : out;
  const std::string cmd = "timeout 60 " + std::string(XRQ5_TOOL) + " " + args + " >" +
                          out_path + " 2>" + d.path() + "/err";
  const int rc = std::system(cmd.c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1,
          out.empty() ? xrq5_test::read_file(out_path) : "",
          xrq5_test::read_file(d.path() + "/err")};
}

const std::string regress = std::string(XRQ5_SOURCE_DIR) + "/tests/data/regress";

}  // namespace

// Every row of the exit-status table, with the cases that used to give another status.
TEST(xrq5xml, exit_status_table_rows) {
  temp_dir d;
  const std::string fifo = d.path() + "/fifo.xml";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string missing = d.path() + "/missing.xml";
  const std::string triggers = examples + "/triggers.xml";
  const std::string events = examples + "/events.xrq5ev";
  const std::string dict = examples + "/env_dict.xml";
  const std::string warned = d.write("warned.xml", "<BMR><EVENT><TYPE>1</TYPE></EVENT>");
  const std::string broken_triggers =
      d.write("broken_triggers.xml", "<XRQ5USERTRIGGERLIST><USERTRIGGER></XRQ5USERTRIGGERLIST>");
  struct {
    std::string args;
    int status;
    const char* message;
  } cases[] = {
      // 0: every document clean
      {"check " + examples + "/ev_list.xml " + examples + "/xcd_var.xml", 0, ""},
      {"eval " + triggers + " " + events + " --env-dict " + dict, 0, ""},
      // 1: some document drew warnings or errors, or was cut short by a bound
      {"check " + warned, 1, ": error: input ended before all started tags were ended"},
      {"check " + regress + "/fuzz_ev_list/ev_list_laughs_root.xml", 1, "no root element"},
      {"show " + regress + "/fuzz_xcd_read/xcd_tag_quadratic_root.xml", 1,
       "stopped before its root element"},
      {"eval " + broken_triggers + " " + events, 1, "did not read cleanly as a trigger list"},
      // 2: bad command line
      {"check", 2, "no file given"},
      {"eval " + triggers, 2, "usage"},
      {"select --event 40 " + examples + "/xcd_tag.xml", 2, "--event takes"},
      // 3: a file could not be opened or is of an unknown kind
      {"check " + missing, 3, "cannot open"},
      {"check " + d.path(), 3, "it is a folder"},
      {"show " + fifo, 3, "not a regular file"},
      {"eval " + missing + " " + events, 3, "cannot open"},
      {"eval " + triggers + " " + events + " --env-dict " + missing, 3, "cannot open"},
      {"eval " + triggers + " " + fifo, 3, "not a regular file"},
      {"eval " + warned + " " + events, 3, "is an event list, not a trigger list"},
      {"select " + missing, 3, "cannot open"},
      {"select --xml " + d.path(), 3, "it is a folder"},
      {"convert " + fifo + " --to tag", 3, "not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const result r = tool_to(c.args, "/dev/null");
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

// Output that cannot be written is a failure with a message, not a silent success.
TEST(xrq5xml, full_standard_output_is_an_error) {
  const std::string commands[] = {
      "show " + examples + "/ev_list.xml",
      "check " + examples + "/xcd_tag.xml",
      "eval " + examples + "/triggers.xml " + examples + "/events.xrq5ev --env-dict " + examples +
          "/env_dict.xml",
      "select " + examples + "/xcd_tag.xml",
      "registry",
  };
  for (const std::string& c : commands) {
    SCOPED_TRACE(c);
    const result ok = tool_to(c, "/dev/null");
    EXPECT_EQ(ok.status, 0) << ok.err;
    const result full = tool_to(c, "/dev/full");
    EXPECT_EQ(full.status, 1) << full.err;
    EXPECT_NE(full.err.find("cannot write standard output"), std::string::npos) << full.err;
  }
}

// Every attack document of the regression folders is refused by check, quickly.
TEST(xrq5xml, attack_documents_fail_check) {
  int n = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(regress)) {
    const std::string name = e.path().filename().string();
    if (name.find("_laughs_") == std::string::npos && name.find("_quadratic_") == std::string::npos)
      continue;
    SCOPED_TRACE(name);
    ++n;
    const result r = tool_to("check " + e.path().string(), "");
    EXPECT_EQ(r.status, 1) << r.err;
    // The camera reader reports on standard output, the others on standard error.
    EXPECT_NE(r.err + r.out, "");
    EXPECT_EQ(r.out.find(": ok ("), std::string::npos) << r.out;
  }
  EXPECT_EQ(n, 36);
}
