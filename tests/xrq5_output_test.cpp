// The writers' one output path: the escaping and encoding of values, the float format,
// the file replace, and every writer that writes a file by name failing midway.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "event_builder.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "test_support.h"
#include "trigger_records.h"
#include "user_case_trigger.h"
#include "xrq5_output.h"

namespace {

using namespace xrq5_test;

TEST(xrq5_output, values_are_escaped_and_encoded_for_latin1) {
  struct {
    std::string value, text, attribute;
  } cases[] = {
      {"plain ASCII/1.5 'q'", "plain ASCII/1.5 'q'", "plain ASCII/1.5 'q'"},
      {"temp & <5> \"x\"", "temp &amp; &lt;5&gt; \"x\"", "temp &amp; &lt;5&gt; &quot;x&quot;"},
      {"Au\xc3\x9f" "en \xc3\xa9 \xc2\xb5", "Au\xdf" "en \xe9 \xb5", "Au\xdf" "en \xe9 \xb5"},
      {"\xe4\xb8\xad \xf0\x9f\x98\x80", "&#20013; &#128512;", "&#20013; &#128512;"},
      {"a\tb\nc\rd", "a\tb\nc&#13;d", "a&#9;b&#10;c&#13;d"},
      {std::string("x\x01y\x7f", 4), "x?y\x7f", "x?y\x7f"},
      // Not UTF-8: each byte is taken as its ISO-8859-1 character.
      {"caf\xe9 \xc3", "caf\xe9 \xc3", "caf\xe9 \xc3"},
      {"\xef\xbf\xbe", "?", "?"},  // U+FFFE is no XML character
      {"\xed\xa0\x80", "\xed\xa0\x80", "\xed\xa0\x80"},  // a surrogate is no UTF-8
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    std::string text = "<";
    xrq5_output::append_text(text, c.value);
    EXPECT_EQ(text, "<" + c.text) << "appended after what was there";
    EXPECT_EQ(xrq5_output::attribute(c.value), c.attribute);
  }
}

// Long values go through the run scan eight bytes at a time; a value of one
// character does not. Escaping a long value must give what escaping its characters
// one by one gives, wherever in a run of eight the special characters fall.
TEST(xrq5_output, long_values_escape_as_their_characters_one_by_one) {
  const std::vector<std::string> tokens = {
      "a", "Z", "0", " ", "/", "~", "&", "<", ">", "\"", "'", "=", "\t", "\n", "\r", "\x01",
      "\x1f", "\x7f", "\xc3\xa9", "\xc2\xb5", "\xe4\xb8\xad", "\xf0\x9f\x98\x80", "\xef\xbf\xbf",
      ";", "?", "%", "\x3d", "\x3f", "\x22", "\x26", "\x3c", "\x3e"};
  std::mt19937 rng(3);
  std::uniform_int_distribution<size_t> pick(0, tokens.size() - 1);
  std::uniform_int_distribution<int> plain_run(0, 20);
  for (int round = 0; round < 3000; ++round) {
    std::string value, text, attribute;
    const int parts = 1 + round % 40;
    for (int i = 0; i < parts; ++i) {
      // mostly plain text, with a special character here and there
      std::string t = round % 3 == 0 ? tokens[pick(rng)] : std::string(plain_run(rng), 'x');
      if (i % 4 == 3) t = tokens[pick(rng)];
      value += t;
      xrq5_output::append_text(text, t);
      xrq5_output::append_attribute(attribute, t);
    }
    SCOPED_TRACE(value);
    std::string got;
    xrq5_output::append_text(got, value);
    ASSERT_EQ(got, text);
    ASSERT_EQ(xrq5_output::attribute(value), attribute);
    std::vector<char> raw(xrq5_output::escaped_room(value.size()) + 1);
    char* end = xrq5_output::escape_text(raw.data(), value);
    ASSERT_EQ(std::string(raw.data(), end), text) << "into raw storage";
  }
  // Values longer than the stack buffer of append_text, and the six-fold worst case.
  std::string big(5000, '"'), expected;
  for (int i = 0; i < 5000; ++i) expected += "&quot;";
  EXPECT_EQ(xrq5_output::attribute(big), expected);
  EXPECT_LE(expected.size(), xrq5_output::escaped_room(big.size()));
  std::string text = "<";
  xrq5_output::append_text(text, std::string(3000, 'q') + "&");
  EXPECT_EQ(text, "<" + std::string(3000, 'q') + "&amp;");
}

// A fixed field ends at its first NUL or at its size; what follows the NUL is never
// written.
TEST(xrq5_output, fields_end_at_their_first_nul_or_their_size) {
  struct {
    std::string bytes;  // the field's 24 bytes (padded with NULs)
    std::string text;
  } cases[] = {
      {"LINAC/BPM", "LINAC/BPM"},
      {std::string("ab\0<&>", 6), "ab"},
      {std::string("abcdefgh\0&", 10), "abcdefgh"},
      {"a<b", "a&lt;b"},
      {std::string("abcdefg&\0<", 10), "abcdefg&amp;"},
      {"abcdefghijklmnopqrstuvwx", "abcdefghijklmnopqrstuvwx"},  // no NUL at all
      {"abcdefghijklmnopqrstuv\xc3\xa9", "abcdefghijklmnopqrstuv\xe9"},
      {"abcdefghijklmnopqrstuvw\xc3", "abcdefghijklmnopqrstuvw\xc3"},  // a cut sequence
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    char field[24] = {};
    memcpy(field, c.bytes.data(), std::min(c.bytes.size(), sizeof field));
    std::vector<char> raw(xrq5_output::escaped_room(sizeof field));
    char* end = xrq5_output::sink::field_text(raw.data(), field, sizeof field);
    EXPECT_EQ(std::string(raw.data(), end), c.text);
    std::string s = "x";
    {
      xrq5_output::sink out(s);
      out.put_field_text(field);
      out.put_field(field);
      out.finish();
    }
    EXPECT_EQ(s, "x" + c.text + c.bytes.substr(0, strnlen(field, sizeof field)));
  }
}

// Many small appends, and some larger than a step: the string holds them all in
// order; with a target, the blocks handed over hold them and the string stays small.
TEST(xrq5_output, sink_appends_in_steps_and_hands_over_blocks) {
  std::string expected = "head;";
  const auto fill = [&](xrq5_output::sink& out, bool record) {
    for (int i = 0; i < 40000; ++i) {
      std::string piece = "<v>" + std::to_string(i * 7919 - 100000) + "</v>\n";
      out.put(piece);
      out.put_int(-i);
      out.put_text("a&b");
      out.put('|');
      if (record) expected += piece + std::to_string(-i) + "a&amp;b|";
      if (i % 10000 == 0) {
        const std::string big(70000 + i, static_cast<char>('a' + i % 26));
        out.put(big);
        if (record) expected += big;
      }
    }
  };
  std::string whole = "head;";
  {
    xrq5_output::sink out(whole);
    out.reserve(1000);
    fill(out, true);
    out.finish();
  }
  EXPECT_EQ(whole, expected);

  struct blocks {
    std::string got;
    size_t count = 0, largest = 0;
    static void take(void* self, const char* data, size_t size) {
      blocks& b = *static_cast<blocks*>(self);
      b.got.append(data, size);
      ++b.count;
      b.largest = std::max(b.largest, size);
    }
  } b;
  std::string buffer = "head;";
  {
    xrq5_output::sink out(buffer, blocks::take, &b);
    fill(out, false);
    EXPECT_LT(buffer.size(), 200000u) << "the string stays a buffer of some blocks";
    out.finish();
  }
  EXPECT_EQ(b.got, expected);
  EXPECT_GT(b.count, 10u);
  EXPECT_LT(b.largest, 200000u);
  EXPECT_EQ(buffer, "");
}

// The first of each name is new, every later one is not, whatever the lengths and
// shared prefixes, and after the table grew past its first size.
TEST(xrq5_output, name_set_keeps_the_first_of_each_name) {
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) {
    names.push_back("LINAC/BPM/ARC." + std::to_string(i % 1700) + "/X");
    names.push_back(std::string(static_cast<size_t>(i % 20), 'a'));  // "" and "a" to 19 a's
    names.push_back(std::string("ab\0cd", 5).substr(0, static_cast<size_t>(i % 6)));
  }
  for (size_t room : {size_t{0}, size_t{10}, names.size()}) {
    SCOPED_TRACE(room);
    xrq5_output::name_set set(room);
    std::set<std::string> seen;
    for (const std::string& n : names) {
      const bool is_new = seen.insert(n).second;
      ASSERT_EQ(set.insert(xrq5_output::name_set::key(n.data(), n.size()), n.data()), is_new) << n;
    }
  }
}

TEST(xrq5_output, floats_keep_printf_f_unless_it_loses_the_value) {
  char buf[64];
  struct {
    float v;
    const char* text;
  } cases[] = {{0.1f, "0.100000"}, {1.5f, "1.500000"}, {-3.0f, "-3.000000"},
               {5e-9f, "5e-09"},   {1.2345679f, "1.2345679"}, {1e20f, "100000002004087734272.000000"},
               {INFINITY, "inf"},  {NAN, "nan"}};
  for (const auto& c : cases) {
    xrq5_output::format_float(buf, c.v);
    EXPECT_STREQ(buf, c.text);
  }
  std::mt19937 rng(7);
  std::uniform_int_distribution<uint32_t> bits;
  for (int i = 0; i < 20000; ++i) {
    uint32_t b = bits(rng);
    float v;
    memcpy(&v, &b, sizeof v);
    if (std::isnan(v)) continue;
    const int n = xrq5_output::format_float(buf, v);
    ASSERT_LT(n, 64);
    ASSERT_EQ(strtof(buf, nullptr), v) << buf;
  }
}

TEST(xrq5_output, integers_are_printf_d_text) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> any(INT_MIN, INT_MAX);
  std::vector<int> values = {0, 1, -1, 9, 10, -10, 99999, INT_MAX, INT_MIN, INT_MIN + 1};
  for (int i = 0; i < 5000; ++i) values.push_back(any(rng) >> (i % 31));
  for (int v : values) {
    char expected[16];
    snprintf(expected, sizeof expected, "%d", v);
    std::string out = "<";
    xrq5_output::append_int(out, v);
    ASSERT_EQ(out, std::string("<") + expected);
  }
}

// The text of a float is what printf gives with the format the rule picks, byte for
// byte, over random bit patterns (NaNs of either sign included).
TEST(xrq5_output, floats_are_printf_text_byte_for_byte) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<uint32_t> bits;
  std::vector<uint32_t> patterns = {0x80000000u, 0x7FC00000u, 0xFFC00000u, 0x7F800000u,
                                    0xFF800000u, 0x00000001u, 0x7F7FFFFFu, 0x3DCCCCCDu};
  for (int i = 0; i < 20000; ++i) patterns.push_back(bits(rng));
  for (uint32_t b : patterns) {
    float v;
    memcpy(&v, &b, sizeof v);
    char expected[64];
    const double d = static_cast<double>(v);
    snprintf(expected, sizeof expected, "%f", d);
    if (!std::isnan(v) && strtof(expected, nullptr) != v) {
      for (int digits = 6; digits <= 9; ++digits) {
        snprintf(expected, sizeof expected, "%.*g", digits, d);
        if (strtof(expected, nullptr) == v) break;
      }
    }
    char buf[64];
    const int n = xrq5_output::format_float(buf, v);
    ASSERT_STREQ(buf, expected) << "bits 0x" << std::hex << b;
    ASSERT_EQ(n, static_cast<int>(strlen(expected)));
  }
}

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(replace_file, commits_in_place_of_the_target_and_keeps_its_mode) {
  temp_dir d;
  const std::string target = d.write("t.xml", "old");
  chmod(target.c_str(), 0640);
  xrq5_internal::replace_file f;
  ASSERT_TRUE(f.open(target.c_str(), "w"));
  fputs("new", f.stream());
  EXPECT_EQ(read_file(target), "old") << "nothing replaced before the commit";
  ASSERT_TRUE(f.commit());
  EXPECT_EQ(read_file(target), "new");
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(entries(d.path()), std::vector<std::string>{"t.xml"});

  // Dropped: the old file stays and the temporary one goes.
  ASSERT_TRUE(f.open(target.c_str(), "w"));
  fputs("lost", f.stream());
  f.discard();
  EXPECT_EQ(read_file(target), "new");
  EXPECT_EQ(entries(d.path()), std::vector<std::string>{"t.xml"});

  // A link keeps pointing where it did; the file behind it is replaced.
  const std::string link = d.path() + "/link.xml";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  ASSERT_TRUE(f.open(link.c_str(), "w"));
  fputs("through the link", f.stream());
  ASSERT_TRUE(f.commit());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(read_file(target), "through the link");

  // A device is written in place, never replaced.
  ASSERT_TRUE(f.open("/dev/null", "w"));
  fputs("x", f.stream());
  ASSERT_TRUE(f.commit());
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));

  EXPECT_FALSE(f.open((d.path() + "/no/such/dir/x").c_str(), "w"));
  EXPECT_EQ(errno, ENOENT);
}

// Runs `body` in a child whose files may not grow past `limit` bytes (a write past it
// fails as on a full disk); the child's exit status.
int in_child_with_file_limit(rlim_t limit, const std::function<int()>& body) {
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit r = {limit, limit};
    setrlimit(RLIMIT_FSIZE, &r);
    const int rc = body();
    fflush(nullptr);
    _exit(rc);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

chan_descr_2010* channel(int i) {
  chan_descr_2010* c = new chan_descr_2010();
  snprintf(c->prop_name, sizeof c->prop_name, "LINAC/ARC/DEVICE.%d/PROPERTY", i);
  snprintf(c->prop_desc, sizeof c->prop_desc, "a description long enough to fill the file %d", i);
  c->db_key = -1;
  c->max_size = 1;
  return c;
}

TEST(writers, a_write_failing_midway_leaves_the_old_file_as_it_was) {
  temp_dir d;
  const std::string old_doc = "<?xml version=\"1.0\"?><old/>\n";
  const std::string target = d.write("good.xml", old_doc);
  std::vector<chan_descr_2010*> channels;
  for (int i = 0; i < 500; ++i) channels.push_back(channel(i));
  std::vector<xrq5_user_case_trigger*> triggers;
  for (int i = 0; i < 200; ++i) triggers.push_back(make_trigger("LINAC/T", 2, 0).release());
  std::vector<xrq5_env_index_dictionary_entry_2010*> dict;
  for (int i = 0; i < 500; ++i) {
    auto* e = static_cast<xrq5_env_index_dictionary_entry_2010*>(
        calloc(1, sizeof(xrq5_env_index_dictionary_entry_2010)));
    e->index = i;
    snprintf(e->data.env_prop, sizeof e->data.env_prop, "ENV/CHANNEL/NUMBER/%d", i);
    dict.push_back(e);
  }
  std::vector<xrq5_ev_entry*> ev_list;
  const std::string ev_doc = "<BMR><EVENT><TYPE>1</TYPE><SBLOCK>B</SBLOCK><CHLIST>" +
                             [] {
                               std::string chans;
                               for (int i = 0; i < 500; ++i)
                                 chans += "<CHAN>CHANNEL.NUMBER." + std::to_string(i) + "</CHAN>";
                               return chans;
                             }() +
                             "</CHLIST></EVENT></BMR>";
  ASSERT_EQ(xrq5_parse_ev_list_read(const_cast<char*>(ev_doc.c_str()), &ev_list), 0);
  std::vector<xrq5_evb_event> events(1);
  events[0].blocks.assign(64 * 1024, 'x');

  char* name = const_cast<char*>(target.c_str());
  struct {
    const char* writer;
    std::function<int()> write;
    int failed;
  } cases[] = {
      {"channel descriptions, XML",
       [&] { return dump_chan_desr(&channels, name, DUMP_XML_FILE, XRQ5_FORMAT, -1, nullptr, nullptr); },
       XRQ5_DUMP_FAILED},
      {"channel descriptions, text",
       [&] { return dump_chan_desr(&channels, name, DUMP_TXT_FILE, XRQ5_FORMAT, -1, nullptr, nullptr); },
       XRQ5_DUMP_FAILED},
      {"trigger list",
       [&] { return dump_user_trigger_list(&triggers, name, USER_TRIG_DUMP_XML_FILE, -1, nullptr); },
       USER_TRIG_FAILED},
      {"dictionary",
       [&] { return dump_env_index_dict_2010(&dict, name, ENV_INDX_DUMP_XML_FILE, -1, nullptr); },
       ENV_INDX_FAILED},
      {"event list", [&] { return xrq5_write_ev_list(&ev_list, name, -1, nullptr); },
       XRQ5_EV_LIST_WRITE_FAILED},
      {"recorded events", [&] { return xrq5_evb_write_file(name, events, nullptr); },
       XRQ5_EVB_WRITE_FAILED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.writer);
    capture cap;
    EXPECT_EQ(in_child_with_file_limit(8192, c.write), c.failed);
    cap.stop();
    EXPECT_EQ(read_file(target), old_doc);
    EXPECT_EQ(entries(d.path()), std::vector<std::string>{"good.xml"}) << "no temporary file left";
    EXPECT_EQ(in_child_with_file_limit(RLIM_INFINITY, c.write), 0);
    EXPECT_GT(read_file(target).size(), 8192u);
    d.write("good.xml", old_doc);
  }
  clean_chan_desr_list(&channels);
  for (auto* t : triggers) XRQ5_FREE_USER(t);
  for (auto* e : dict) free(e);
  xrq5_clean_ev_list(&ev_list);
}

// With standard output closed, a file that the library opens would become descriptor
// 1 and the writer's own "has been created" line would land at its head.
TEST(writers, a_closed_standard_output_never_reaches_the_file) {
  temp_dir d;
  const std::string target = d.path() + "/t.xml";
  std::vector<xrq5_user_case_trigger*> triggers{make_trigger("A", 2, 0).release()};
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(STDOUT_FILENO);
    const int r = dump_user_trigger_list(&triggers, const_cast<char*>(target.c_str()),
                                         USER_TRIG_DUMP_XML_FILE, -1, nullptr);
    _exit(r);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(read_file(target).rfind("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n", 0), 0u);
  for (auto* t : triggers) XRQ5_FREE_USER(t);
}

}  // namespace
