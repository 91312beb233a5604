// The command line as operators use it: help, standard input and output, --, quiet and
// verbose modes, the JSON and CSV outputs, and the events and diff commands.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "event_builder.h"
#include "test_support.h"

namespace {

using nlohmann::json;
using xrq5_test::temp_dir;

struct result {
  int status;
  std::string out, err;
};

const std::string examples = std::string(XRQ5_SOURCE_DIR) + "/examples";
const std::string stored = std::string(XRQ5_SOURCE_DIR) + "/tests/data/json";

// The tool run by the shell in folder `dir` (so that file names in its output are as
// given); `args` may hold redirections.
result run_in(const std::string& dir, const std::string& args) {
  temp_dir d;
  const std::string cmd = "cd '" + dir + "' && timeout 60 " + std::string(XRQ5_TOOL) + " " + args +
                          " >" + d.path() + "/out 2>" + d.path() + "/err";
  const int rc = std::system(cmd.c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, xrq5_test::read_file(d.path() + "/out"),
          xrq5_test::read_file(d.path() + "/err")};
}

result tool(const std::string& args) { return run_in(examples, args); }

json parse_or_fail(const std::string& text) {
  try {
    return json::parse(text);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "not JSON (" << e.what() << "): " << text;
    return json();
  }
}

std::vector<json> ndjson(const std::string& text) {
  std::vector<json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(parse_or_fail(line));
  return lines;
}

const char* const commands[] = {"show", "check", "convert", "eval", "select", "registry", "events", "diff"};

TEST(xrq5xml_cli, every_command_has_its_own_help) {
  for (const char* c : commands) {
    SCOPED_TRACE(c);
    const std::string command = c;
    const result help = tool("help " + command);
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind("usage: xrq5xml " + command + " ", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--json"), std::string::npos);
    // The same text however it is asked for, and no file named --help is opened.
    for (const std::string& ask : {command + " --help", command + " -h", command + " x.xml -h"}) {
      const result r = tool(ask);
      EXPECT_EQ(r.status, 0) << ask << r.err;
      EXPECT_EQ(r.out, help.out) << ask;
    }
  }
  const result unknown = tool("help frobnicate");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("unknown command 'frobnicate'"), std::string::npos);
  const result general = tool("help");
  EXPECT_EQ(general.status, 0);
  EXPECT_NE(general.out.find("  events [--json] FILE"), std::string::npos);
  EXPECT_NE(general.out.find("  diff [--json] A B"), std::string::npos);
}

// A usage error says what is wrong and how the command is used, on standard error.
TEST(xrq5xml_cli, usage_errors_name_the_problem_and_the_usage) {
  struct {
    std::string args, problem;
  } cases[] = {
      {"show --bogus ev_list.xml", "--bogus"},
      {"check --werror ev_list.xml", "--werror and --xcd go with --strict"},
      {"convert ev_list.xml xcd_tag.xml --to text", "one document at a time"},
      {"convert xcd_tag.xml --to", "--to"},
      {"eval triggers.xml", "a trigger list and a recorded-event file are needed"},
      {"eval triggers.xml events.xrq5ev --json --csv", "--json and --csv exclude each other"},
      {"eval triggers.xml events.xrq5ev --events 5", "--events takes FROM:TO"},
      {"eval triggers.xml events.xrq5ev --events 4:2", "--events takes FROM:TO"},
      {"eval triggers.xml events.xrq5ev --trigger x", "--trigger"},
      {"eval - -", "standard input can be only one"},
      {"select --event 1", "no channel-description file given"},
      {"registry extra", "extra"},
      {"events", "one recorded-event file is needed"},
      {"events a b", "one recorded-event file is needed"},
      {"diff xcd_tag.xml", "two documents are needed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const result r = tool(c.args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.problem), std::string::npos) << r.err;
    const std::string command = c.args.substr(0, c.args.find(' '));
    EXPECT_NE(r.err.find("\nusage: xrq5xml " + command), std::string::npos) << r.err;
  }
}

TEST(xrq5xml_cli, option_values_with_or_without_equals) {
  const char* pairs[][2] = {
      {"convert xcd_var.xml --to short", "convert xcd_var.xml --to=short"},
      {"convert xcd_var.xml --to short", "convert --to=short -o - xcd_var.xml"},
      {"eval triggers.xml events.xrq5ev --env-dict env_dict.xml",
       "eval --env-dict=env_dict.xml triggers.xml events.xrq5ev"},
      {"select xcd_tag.xml --event 1 BPM.ARC1.1", "select xcd_tag.xml --event=1 BPM.ARC1.1"},
      {"select xcd_tag.xml --event 1 BPM.ARC1.1", "select xcd_tag.xml -c BPM.ARC1.1 --event=1"},
      {"check --strict --xcd xcd_tag.xml triggers.xml", "check --strict --xcd=xcd_tag.xml triggers.xml"},
  };
  for (const auto& p : pairs) {
    SCOPED_TRACE(p[1]);
    const result a = tool(p[0]), b = tool(p[1]);
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.err, b.err);
    EXPECT_NE(a.out, "");
  }
}

// A name after -- is a file, even one that looks like an option; without -- it is
// refused as an option rather than opened.
TEST(xrq5xml_cli, double_dash_ends_the_options) {
  temp_dir d;
  d.write("-odd.xml", xrq5_test::read_file(examples + "/ev_list.xml"));
  d.write("--help", xrq5_test::read_file(examples + "/ev_list.xml"));
  const result odd = run_in(d.path(), "check -- -odd.xml --help");
  EXPECT_EQ(odd.status, 0) << odd.err;
  EXPECT_EQ(odd.out, "-odd.xml: ok (event list)\n--help: ok (event list)\n");
  const result refused = run_in(d.path(), "check -odd.xml");
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.out, "");
  const result shown = run_in(d.path(), "show -q -- --help");
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_EQ(shown.out, "");
}

TEST(xrq5xml_cli, dash_is_standard_input) {
  struct {
    std::string with_file, with_stdin;
  } cases[] = {
      {"check ev_list.xml", "check - <ev_list.xml"},
      {"convert xcd_tag.xml --to text", "convert - --to text <xcd_tag.xml"},
      {"show --json env_dict.xml", "show --json - <env_dict.xml"},
      {"eval triggers.xml events.xrq5ev --env-dict env_dict.xml",
       "eval triggers.xml - --env-dict env_dict.xml <events.xrq5ev"},
      {"eval triggers.xml events.xrq5ev --env-dict env_dict.xml",
       "eval - events.xrq5ev --env-dict env_dict.xml <triggers.xml"},
      {"select xcd_tag.xml", "select - <xcd_tag.xml"},
      {"events events.xrq5ev", "events - <events.xrq5ev"},
      {"diff xcd_tag.xml xcd_var.xml", "diff - xcd_var.xml <xcd_tag.xml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.with_stdin);
    const result f = tool(c.with_file), s = tool(c.with_stdin);
    EXPECT_EQ(s.status, f.status) << s.err;
    // Only the name differs: "-" for standard input.
    std::string expected = f.out;
    for (const char* name : {"ev_list.xml", "env_dict.xml", "events.xrq5ev", "xcd_tag.xml"}) {
      if (c.with_stdin.find(std::string("<") + name) == std::string::npos) continue;
      for (size_t at = expected.find(name); at != std::string::npos; at = expected.find(name, at + 1))
        expected.replace(at, strlen(name), "-");
    }
    EXPECT_EQ(s.out, expected);
  }
  // What a parser says about a broken document on standard input names it so.
  temp_dir d;
  const result broken = tool("check - <" + d.write("b.xml", "<BMR><EVENT>"));
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.out.find("-: FAILED (event list"), std::string::npos) << broken.out;
  EXPECT_EQ(broken.err.compare(0, 14, "-:1:13: error:"), 0) << broken.err;
  const result empty = tool("check - </dev/null");
  EXPECT_EQ(empty.status, 1) << empty.err;
}

TEST(xrq5xml_cli, dash_o_dash_writes_standard_output) {
  temp_dir d;
  const std::string xcd = examples + "/xcd_tag.xml";
  const result to_stdout = run_in(d.path(), "convert " + xcd + " --to tag -o -");
  EXPECT_EQ(to_stdout.status, 0) << to_stdout.err;
  EXPECT_EQ(to_stdout.out, run_in(d.path(), "convert " + xcd + " --to tag").out);
  EXPECT_EQ(to_stdout.out.rfind("<?xml", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(d.path() + "/-")) << "no file named -";
}

TEST(xrq5xml_cli, quiet_prints_nothing_on_success) {
  const std::string good[] = {
      "check -q ev_list.xml xcd_tag.xml",
      "show --quiet ev_list.xml",
      "check -q --strict triggers.xml",
      "eval -q triggers.xml events.xrq5ev",
      "select -q xcd_tag.xml",
      "registry -q",
      "events -q events.xrq5ev",
      "diff -q xcd_tag.xml xcd_tag.xml",
  };
  for (const std::string& c : good) {
    SCOPED_TRACE(c);
    const result r = tool(c);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
  }
  // A failure is still told, and its status stays.
  temp_dir d;
  const std::string broken = d.write("broken.xml", "<BMR><EVENT><TYPE>1</TYPE></BMR>");
  const result failed = tool("check -q ev_list.xml " + broken);
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, broken + ": FAILED (event list, result 1)\n");
  // convert -q with --lossy: the loss was accepted, nothing is listed; without --lossy
  // the refusal is still explained.
  const result lossy = tool("convert -q xcd_tag.xml --to var --lossy -o " + d.path() + "/v.xml");
  EXPECT_EQ(lossy.status, 0);
  EXPECT_EQ(lossy.out + lossy.err, "");
  const result refused = tool("convert -q xcd_tag.xml --to var -o " + d.path() + "/w.xml");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("as var loses data type in 3 records"), std::string::npos);
  const result differ = tool("diff -q xcd_tag.xml " + stored + "/xcd_tag_changed.xml");
  EXPECT_EQ(differ.status, 1);
  EXPECT_EQ(differ.out, "");
}

TEST(xrq5xml_cli, verbose_adds_detail) {
  const result check = tool("check -v ev_list.xml triggers.xml");
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.out, "ev_list.xml: ok (event list, 3 records)\n"
                       "triggers.xml: ok (trigger list, 9 records)\n");
  const result eval = tool("eval -v triggers.xml events.xrq5ev --env-dict env_dict.xml");
  EXPECT_EQ(eval.status, 0);
  EXPECT_NE(eval.out.find("event 3 (number 1003, NORMAL, time 1764583203.250000): 2 fired\n"),
            std::string::npos) << "the count stays that of the fired triggers";
  EXPECT_NE(eval.out.find("  [2] LINAC/TOROID/INJ.1/CHARGE.TD P2P GT (uneven pulse)  result "),
            std::string::npos);
  EXPECT_NE(eval.out.find(", not fired\n"), std::string::npos);
  const result events = tool("events -v events.xrq5ev");
  EXPECT_NE(events.out.find("  BPM.ARC1.1: BLOCK_3CHAN_2010 (60), NAMVAL (16), 12 bytes, error 0\n"),
            std::string::npos) << events.out;
}

// Each machine-readable output against the document stored for it.
TEST(xrq5xml_cli, json_outputs_match_the_stored_documents) {
  struct {
    std::string args, file;
  } cases[] = {
      {"show --json env_dict.xml xcd_tag.xml ev_list.xml", "show.json"},
      {"check --json ev_list.xml xcd_var.xml triggers.xml", "check.json"},
      {"select --json xcd_tag.xml xcd_var.xml --event 1", "select.json"},
      {"registry --json", "registry.json"},
      {"events --json events.xrq5ev", "events.json"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const result r = tool(c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(parse_or_fail(r.out), parse_or_fail(xrq5_test::read_file(stored + "/" + c.file)));
  }
  // A trigger record holds the time it was read; the rest is as stored.
  const result triggers = tool("show --json triggers.xml");
  json got = parse_or_fail(triggers.out), want = parse_or_fail(xrq5_test::read_file(stored + "/show_triggers.json"));
  ASSERT_EQ(got[0]["records"].size(), 9u);
  for (json* j : {&got, &want})
    for (json& r : (*j)[0]["records"]) {
      EXPECT_TRUE(r["time"].is_number());
      r.erase("time");
    }
  EXPECT_EQ(got, want);

  const result diff = run_in(stored, "diff --json ../../../examples/xcd_tag.xml xcd_tag_changed.xml");
  EXPECT_EQ(diff.status, 1);
  json d = parse_or_fail(diff.out);
  EXPECT_EQ(d["a"], "../../../examples/xcd_tag.xml");
  d["a"] = "xcd_tag.xml";
  EXPECT_EQ(d, parse_or_fail(xrq5_test::read_file(stored + "/diff.json")));
}

TEST(xrq5xml_cli, eval_json_and_csv_agree_with_the_listing) {
  const std::string args = "triggers.xml events.xrq5ev --env-dict env_dict.xml";
  const result json_run = tool("eval --json " + args);
  ASSERT_EQ(json_run.status, 0) << json_run.err;
  const std::vector<json> lines = ndjson(json_run.out);
  std::vector<json> want = ndjson(xrq5_test::read_file(stored + "/eval.ndjson"));
  EXPECT_EQ(lines, want);
  ASSERT_EQ(lines.size(), 7u) << "six events and the summary";
  size_t fires = 0;
  for (size_t e = 0; e < 6; ++e) {
    EXPECT_EQ(lines[e]["event"], e);
    fires += lines[e]["fired"].size();
  }
  EXPECT_EQ(fires, 11u);
  EXPECT_EQ(lines[6]["summary"]["fires"], 11);
  EXPECT_EQ(lines[6]["summary"]["evaluations"], 37);
  EXPECT_EQ(lines[3]["fired"][0]["trigger"], 4);
  EXPECT_DOUBLE_EQ(lines[3]["fired"][0]["result"].get<double>(), 8e-09);

  const result csv = tool("eval --csv " + args);
  ASSERT_EQ(csv.status, 0);
  EXPECT_EQ(csv.out, xrq5_test::read_file(stored + "/eval.csv"));
  std::istringstream in(csv.out);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "event,time,trigger,channel,function,result,fired");
  int rows = 0, fired = 0;
  while (std::getline(in, line)) {
    ++rows;
    if (line.compare(line.size() - 2, 2, ",1") == 0) ++fired;
  }
  EXPECT_EQ(rows, 6 * 9);
  EXPECT_EQ(fired, 11);
  EXPECT_NE(csv.out.find("\n1003,1764583203.250000,4,LINAC/VAC/PUMP.7/PRESSURE,MEAN,8e-09,1\n"),
            std::string::npos);
}

TEST(xrq5xml_cli, eval_filters) {
  const std::string args = "triggers.xml events.xrq5ev --env-dict env_dict.xml";
  struct {
    std::string options;
    std::string summary;
    std::vector<std::string> present, absent;
  } cases[] = {
      {"--trigger 4 --trigger 7", "summary: 6 events, 2 triggers, 6 evaluations, 2 fires\n",
       {"  [4] LINAC/VAC/PUMP.7/PRESSURE", "  [7] TEMP.HALL2.AIR"}, {"  [0] ", "  [5] "}},
      {"--group injector", "summary: 6 events, 3 triggers, 18 evaluations, 4 fires\n",
       {"  [0] ", "  [1] ", "  [2] "}, {"  [3] "}},
      {"--events 2:3", "summary: 2 events, 9 triggers, ", {"event 2 (", "event 3 ("},
       {"event 1 (", "event 4 ("}},
      {"--events 4:", "summary: 2 events, 9 triggers, ", {"event 4 (", "event 5 ("}, {"event 3 ("}},
      {"--events :0 --group arc", "summary: 1 events, 1 triggers, 1 evaluations, 0 fires\n",
       {"event 0 ("}, {"event 1 ("}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const result r = tool("eval " + args + " " + c.options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(c.summary), std::string::npos) << r.out;
    for (const std::string& p : c.present) EXPECT_NE(r.out.find(p), std::string::npos) << p;
    for (const std::string& a : c.absent) EXPECT_EQ(r.out.find(a), std::string::npos) << a;
  }
  // A range keeps what the functions that look back give in the whole run.
  const result whole = tool("eval --csv " + args);
  const result part = tool("eval --csv --events 3:3 " + args);
  std::istringstream in(whole.out);
  std::string rows = "event,time,trigger,channel,function,result,fired\n";
  for (std::string line; std::getline(in, line);)
    if (line.rfind("1003,", 0) == 0) rows += line + "\n";
  EXPECT_EQ(part.out, rows);
  // A trigger or group the list does not have is a bad command line, not an empty run.
  for (const char* bad : {"--trigger 40", "--trigger -1", "--group nobody",
                          "--trigger 1 --trigger 99"}) {
    SCOPED_TRACE(bad);
    const result none = tool("eval " + args + " " + bad);
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("usage: xrq5xml eval "), std::string::npos) << none.err;
  }
  EXPECT_NE(tool("eval " + args + " --trigger 40").err.find("the list has no trigger 40 (9 triggers)"),
            std::string::npos);
  EXPECT_NE(tool("eval " + args + " --group nobody").err.find("no trigger of the list is in group 'nobody'"),
            std::string::npos);
}

// The listing of a recorded-event file, and the byte where a damaged one breaks.
TEST(xrq5xml_cli, events_lists_and_locates_damage) {
  const result r = tool("events events.xrq5ev");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("event 0 (number 1000, NORMAL, time 1764583200.250000): 3 blocks, 1176 bytes\n"
                        "  LINAC/TOROID/INJ.1/CHARGE.TD: BLOCK_TOROID_2010 (42), SPECTRUM (1013), 320 bytes\n",
                        0),
            0u) << r.out;
  EXPECT_NE(r.out.find("\n6 events, "), std::string::npos);

  const std::string good = xrq5_test::read_file(examples + "/events.xrq5ev");
  ASSERT_GT(good.size(), 16u + 24u + 1176u);
  const size_t second = 16 + 24 + 1176;  // where the second event starts
  temp_dir d;
  std::string bad_block = good;
  // The first block's ldata (after its 256-byte name, type and error) made too large.
  const size_t ldata_at = 16 + 24 + 256 + 8;
  bad_block[ldata_at + 3] = 0x10;
  std::string bad_magic = good;
  bad_magic[second] = 'X';
  struct {
    std::string name, content;
    size_t offset;
    size_t listed;  // events listed before the damage
  } cases[] = {
      {"cut_in_header.ev", good.substr(0, second + 10), second, 1},
      {"cut_in_data.ev", good.substr(0, second + 30), second + 20, 1},
      {"bad_magic.ev", bad_magic, second, 1},
      {"bad_block.ev", bad_block, 16 + 24, 0},
      {"not_events.ev", "not events at all", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = d.write(c.name, c.content);
    const result b = tool("events " + path);
    EXPECT_EQ(b.status, 1) << b.err;
    EXPECT_NE(b.err.find("is damaged at byte " + std::to_string(c.offset) + ":"), std::string::npos)
        << b.err;
    EXPECT_NE(b.out.find(std::to_string(c.listed) + " event" + (c.listed == 1 ? "" : "s") + ", "),
              std::string::npos) << b.out;
    const result j = tool("events --json " + path);
    EXPECT_EQ(j.status, 1);
    const json doc = parse_or_fail(j.out);
    EXPECT_EQ(doc["damaged"]["offset"], c.offset);
    EXPECT_EQ(doc["events"].size(), c.listed);
  }
  EXPECT_EQ(tool("events " + d.path() + "/missing.ev").status, 3);
  EXPECT_EQ(tool("events " + d.path()).status, 3);
}

TEST(xrq5xml_cli, diff_compares_records_by_their_key) {
  temp_dir d;
  const std::string head = "<?xml version=\"1.0\"?>\n";
  auto triggers = [&](const std::string& name, const std::string& body) {
    return d.write(name, head + "<XRQ5USERTRIGGERLIST>" + body + "</XRQ5USERTRIGGERLIST>\n");
  };
  const std::string t1 = "<USERTRIGGER><Chan name=\"A\"/><UpperLimit value=\"5\"/></USERTRIGGER>";
  const std::string t2 = "<USERTRIGGER><Chan name=\"B\"/><UpperLimit value=\"7\"/></USERTRIGGER>";
  const std::string t2b = "<USERTRIGGER><Chan name=\"B\"/><UpperLimit value=\"8\"/></USERTRIGGER>";
  const std::string ta = triggers("ta.xml", t1 + t2), tb = triggers("tb.xml", t1 + t2b + t1);
  auto dict = [&](const std::string& name, const std::string& body) {
    return d.write(name, head + "<ENVINDEXDICT>" + body + "</ENVINDEXDICT>\n");
  };
  const std::string da = dict("da.xml", "<CHANNEL><INDEX>3</INDEX><PROP>X</PROP></CHANNEL>"
                                        "<CHANNEL><INDEX>4</INDEX><PROP>Y</PROP></CHANNEL>");
  const std::string db = dict("db.xml", "<CHANNEL><INDEX>4</INDEX><PROP>Y</PROP></CHANNEL>"
                                        "<CHANNEL><INDEX>3</INDEX><PROP>Z</PROP><DABS>0.5</DABS></CHANNEL>");
  const std::string dc = dict("dc.xml", "<CHANNEL><INDEX>4</INDEX><PROP>Y</PROP></CHANNEL>"
                                        "<CHANNEL><INDEX>3</INDEX><PROP>X</PROP></CHANNEL>");
  struct {
    std::string args;
    int status;
    std::string out;
  } cases[] = {
      {"diff xcd_tag.xml xcd_tag.xml", 0, ""},
      {"diff " + da + " " + dc, 0, ""},  // keyed by index: the order does not count
      {"diff " + da + " " + db, 1,
       "changed index 3\n  data.env_ch_abs_delta: 0.0 -> 0.5\n  data.env_prop: \"X\" -> \"Z\"\n"},
      {"diff " + ta + " " + tb, 1,
       "added trigger [2] A\nchanged trigger [1] B\n  upper: 7.0 -> 8.0\n"},
      {"diff " + tb + " " + ta, 1, "removed trigger [2] A\nchanged trigger [1] B\n  upper: 8.0 -> 7.0\n"},
      {"diff xcd_tag.xml " + stored + "/xcd_tag_changed.xml", 1,
       "removed channel LINAC/TOROID/INJ.1/CHARGE.TD\n"
       "added channel LINAC/BPM/ARC1.2/XYQ\n"
       "changed channel LINAC/BPM/ARC1.1/XYQ\n"
       "  dims[0].stats[0].stat_name: \"mean\" -> \"median\"\n"
       "  dims[1].units: \"mm\" -> \"um\"\n"
       "changed channel LINAC/VAC/PUMP.7/STATUS\n"
       "  nbits: 2 -> 3\n"
       "  bits[5].bit: (none) -> 5\n"
       "  bits[5].bit_desc: (none) -> \"bakeout running\"\n"
       "  bits[5].bit_name: (none) -> \"bakeout\"\n"},
      {"diff xcd_tag.xml env_dict.xml", 2, ""},
      {"diff xcd_tag.xml " + d.path() + "/missing.xml", 3, ""},
      {"diff xcd_tag.xml " + d.write("broken.xml", "<CHANDESCRIPTIONS><CHANNEL>"), 3, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const result r = tool(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
    if (c.status != 1) {
      EXPECT_EQ(r.out, "");
    } else {
      EXPECT_NE(r.out.find(" added, "), std::string::npos) << "a closing count";
    }
    if (c.status >= 2) {
      EXPECT_NE(r.err, "");
    }
  }
  // The tag and variable forms of one set of channels compare field by field.
  const std::string var = d.path() + "/v.xml";
  ASSERT_EQ(tool("convert xcd_tag.xml --to var --lossy -o " + var).status, 0);
  const result forms = tool("diff --json xcd_tag.xml " + var);
  EXPECT_EQ(forms.status, 1);
  const json j = parse_or_fail(forms.out);
  EXPECT_TRUE(j["added"].empty());
  EXPECT_TRUE(j["removed"].empty());
  EXPECT_EQ(j["changed"].size(), 3u) << "the fields the variable form drops";
}

// JSON on standard output stays parseable whatever the libraries print meanwhile.
TEST(xrq5xml_cli, library_lines_stay_out_of_json) {
  const std::string cam = std::string(XRQ5_SOURCE_DIR) + "/tests/data/corpus/camera";
  temp_dir d;
  const std::string broken_xcd = d.write("b.xml", "<DAQvariables><DaqFloat><tarvo>X</tarvo>");
  const std::string cases[] = {
      "show --json " + cam + "/adgenicam/AVT_Mako_G234B.xml",
      "check --json " + cam + "/adgenicam/AVT_Mako_G234B.xml " + broken_xcd,
      "select --json " + broken_xcd,
      "diff --json " + broken_xcd + " xcd_var.xml",
  };
  for (const std::string& c : cases) {
    SCOPED_TRACE(c);
    const result r = tool(c);
    if (r.out.empty()) {
      EXPECT_EQ(r.status, 3) << "only diff refuses an unreadable document without output";
      continue;
    }
    EXPECT_NE(r.status, 0);
    parse_or_fail(r.out);
  }
}

// A SUM trigger makes its function print a value line on standard output; eval keeps
// it out of what it writes.
TEST(xrq5xml_cli, eval_keeps_function_lines_out_of_its_output) {
  temp_dir d;
  const std::string sum = d.write(
      "sum.xml", "<XRQ5USERTRIGGERLIST><USERTRIGGER><Chan name=\"LINAC/TOROID/INJ.1/CHARGE.TD\"/>"
                 "<Function name=\"SUM\" start=\"0\" end=\"-1\"/><Operation name=\"GT\"/>"
                 "<UpperLimit value=\"0\"/></USERTRIGGER></XRQ5USERTRIGGERLIST>");
  const result json_run = tool("eval --json " + sum + " events.xrq5ev");
  EXPECT_EQ(json_run.status, 0) << json_run.err;
  EXPECT_NE(json_run.err.find("HERE DATA"), std::string::npos) << "the line goes to standard error";
  const std::vector<json> lines = ndjson(json_run.out);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[6]["summary"]["evaluations"], 6);
  const result csv = tool("eval --csv " + sum + " events.xrq5ev");
  std::istringstream in(csv.out);
  int rows = 0;
  for (std::string line; std::getline(in, line); ++rows)
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 6) << line;
  EXPECT_EQ(rows, 7);
  const result text = tool("eval " + sum + " events.xrq5ev");
  EXPECT_EQ(text.out.find("HERE DATA"), std::string::npos);
}

// Every row of the exit-status table for the new commands and conventions.
TEST(xrq5xml_cli, exit_status_rows_of_the_new_commands) {
  temp_dir d;
  const std::string junk = d.write("junk.ev", "junk");
  const std::string unknown = d.write("u.xml", "<FOO/>");
  struct {
    std::string args;
    int status;
  } cases[] = {
      {"events events.xrq5ev", 0},   {"diff env_dict.xml env_dict.xml", 0},
      {"show --json ev_list.xml", 0}, {"check --json ev_list.xml", 0},
      {"events " + junk, 1},         {"diff ev_list.xml " + stored + "/../../../examples/ev_list.xml", 0},
      {"frobnicate", 2},             {"events --bogus events.xrq5ev", 2},
      {"diff " + unknown + " ev_list.xml", 3}, {"check --json " + unknown, 3},
      {"select xcd_tag.xml BPM.ARC1.1", 3},   {"select xcd_tag.xml -c BPM.ARC1.1", 0},
      {"show --json " + d.path() + "/missing.xml", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(tool(c.args).status, c.status);
  }
  // A channel taken for a file: the message says how channels are given.
  EXPECT_NE(tool("select xcd_tag.xml BPM.ARC1.1").err.find("a channel goes after --event N, or with -c"),
            std::string::npos);
}

TEST(xrq5xml_cli, man_page_and_completion) {
  const std::string man = std::string(XRQ5_BUILD_DIR) + "/tools/xrq5xml.1";
  ASSERT_TRUE(std::filesystem::exists(man)) << "help2man is installed by tools/install-deps.sh";
  const std::string page = xrq5_test::read_file(man);
  EXPECT_NE(page.find(".TH XRQ5XML \"1\""), std::string::npos);
  for (const char* c : commands) EXPECT_NE(page.find(std::string(".SS ") + c + "\n"), std::string::npos) << c;
  EXPECT_NE(page.find("usage: xrq5xml eval TRIGGERS EVENTS"), std::string::npos);
  // Every entry of the command list is one tagged paragraph: a synopsis that help2man
  // would break into two entries (a continued line) does not happen.
  const size_t eval_entry = page.find(".TP\neval [OPTIONS] TRIGGERS EVENTS...\n");
  ASSERT_NE(eval_entry, std::string::npos);
  const std::string entry = page.substr(eval_entry + 4, page.find(".TP", eval_entry + 4) - eval_entry - 4);
  EXPECT_NE(entry.find("\\-\\-group\\fR NAME"), std::string::npos) << entry;

  temp_dir prefix;
  const std::string install = std::string(XRQ5_CMAKE) + " --install " + XRQ5_BUILD_DIR +
                              " --prefix " + prefix.path() + " --component tools >/dev/null";
  ASSERT_EQ(std::system(install.c_str()), 0);
  EXPECT_EQ(xrq5_test::read_file(prefix.path() + "/share/man/man1/xrq5xml.1"), page);
  EXPECT_TRUE(std::filesystem::exists(prefix.path() + "/share/bash-completion/completions/xrq5xml"));
  EXPECT_TRUE(std::filesystem::exists(prefix.path() + "/bin/xrq5xml"));

  // The completion function, called as bash calls it.
  const std::string script = std::string(XRQ5_SOURCE_DIR) + "/tools/xrq5xml.bash-completion";
  struct {
    std::string words;
    std::string expected;
  } cases[] = {
      {"xrq5xml ev", "eval events"},
      {"xrq5xml convert x.xml --to t", "tag text"},
      {"xrq5xml eval --c", "--classic --csv"},
      {"xrq5xml help di", "diff"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words);
    temp_dir d;
    const std::string cmd = "bash -c 'source " + script + "; COMP_WORDS=(" + c.words +
                            "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _xrq5xml; echo "
                            "\"${COMPREPLY[*]}\"' >" + d.path() + "/out 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(xrq5_test::read_file(d.path() + "/out"), c.expected + "\n");
  }
}

}  // namespace

namespace {

const std::string messages = std::string(XRQ5_SOURCE_DIR) + "/tests/data/messages";

TEST(xrq5xml_cli, problems_are_told_as_file_line_column) {
  // Each document's problems, exactly: the name as given, no parser internals.
  int documents = 0;
  for (const auto& e : std::filesystem::directory_iterator(messages)) {
    if (e.path().extension() != ".xml") continue;
    const std::string name = e.path().filename().string();
    SCOPED_TRACE(name);
    ++documents;
    const result r = run_in(messages, "check " + name);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, xrq5_test::read_file(messages + "/" + e.path().stem().string() + ".expected"));
  }
  EXPECT_GE(documents, 2);
  // A writer's progress lines go with the command's messages, and -q silences them.
  temp_dir d;
  const result told = tool("convert env_dict.xml --to xml -o " + d.path() + "/a.xml");
  EXPECT_EQ(told.status, 0);
  EXPECT_NE(told.err.find("a.xml' has been created\n"), std::string::npos) << told.err;
  const result quiet = tool("convert -q env_dict.xml --to xml -o " + d.path() + "/b.xml");
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out + quiet.err, "");
  EXPECT_EQ(xrq5_test::read_file(d.path() + "/a.xml").size(),
            xrq5_test::read_file(d.path() + "/b.xml").size());
}

}  // namespace

namespace {

TEST(xrq5xml_cli, misspelt_commands_and_options_get_a_suggestion) {
  struct {
    const char* args;
    const char* message;  // "" when no suggestion may be made
  } cases[] = {
      {"chek ev_list.xml", "unknown command 'chek' (did you mean 'check'?)"},
      {"sohw ev_list.xml", "(did you mean 'show'?)"},
      {"evaluate", ""},
      {"check --strcit ev_list.xml", "--strcit (did you mean --strict?)"},
      {"check --strict --xdc xcd_tag.xml triggers.xml", "--xdc (did you mean --xcd?)"},
      {"eval --trigegr 1 triggers.xml events.xrq5ev", "(did you mean --trigger?)"},
      {"check --json=1 --jsno ev_list.xml", "(did you mean --json?)"},
      {"check --frobnicate ev_list.xml", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const result r = tool(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    if (c.message[0] != '\0')
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    else
      EXPECT_EQ(r.err.find("did you mean"), std::string::npos) << r.err;
  }
}

}  // namespace

namespace {

TEST(xrq5xml_cli, json_floats_that_are_not_finite_are_strings) {
  temp_dir d;
  const std::string file = d.write(
      "t.xml",
      "<XRQ5USERTRIGGERLIST><USERTRIGGER><Chan name=\"A\" subchan=\"0\"/>"
      "<Function name=\"MEAN\" param0=\"-inf\"/><Operation name=\"INSIDE\"/>"
      "<LowLimit value=\"-1\"/><UpperLimit value=\"inf\"/></USERTRIGGER>"
      "</XRQ5USERTRIGGERLIST>");
  const result r = tool("show --json " + file);
  ASSERT_EQ(r.status, 0) << r.err;
  const json records = parse_or_fail(r.out)[0]["records"];
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["upper"], "inf");
  EXPECT_EQ(records[0]["fparam"][0], "-inf");
  EXPECT_EQ(records[0]["low"], -1.0);
  EXPECT_TRUE(records[0]["fresult"].is_null());
}

}  // namespace
