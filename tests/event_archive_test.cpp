// Recorded events at archive scale: the reader that hands out one event at a time, and
// the tool's events, eval and diff over many and large files in bounded memory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "event_builder.h"
#include "test_support.h"

namespace {

using nlohmann::json;
using xrq5_test::temp_dir;

std::vector<xrq5_evb_event> numbered_events(int n, int first = 0) {
  std::vector<xrq5_evb_event> events(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    xrq5_evb_event& e = events[static_cast<size_t>(i)];
    e.ev_number = static_cast<unsigned int>(first + i);
    e.time = time_stamp{static_cast<unsigned int>(1000 + i), 0};
    // A value that rises by 1 each event, and a block of i floats.
    xrq5_evb_add_namval(e.blocks, "COUNT", XRQ5_BLOCK_3CHAN_2010, {static_cast<float>(first + i)});
    xrq5_evb_add_namval(e.blocks, "SIZED", XRQ5_BLOCK_3CHAN_2010, std::vector<float>(i, 1.0f));
  }
  return events;
}

// The sanitizers reserve terabytes of shadow memory at start: no address-space limit
// can hold a tool built with them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool address_space_limit_unusable() { return true; }
#else
constexpr bool address_space_limit_unusable() { return false; }
#endif
const char no_limit_under_sanitizers[] = "address-space limits do not apply under the sanitizers";

// The reader hands out what the whole-file call reads, event by event, and reports
// damage with the same message and byte.
TEST(event_reader, streams_what_the_whole_file_call_reads) {
  temp_dir d;
  const std::string path = d.path() + "/ev";
  ASSERT_EQ(xrq5_evb_write_file(path.c_str(), numbered_events(200), nullptr), XRQ5_EVB_OK);
  const std::string good = xrq5_test::read_file(path);
  std::string bad_magic = good, bad_version = good;
  bad_version[8] = 7;
  const size_t third = 16 + 2 * 24 + numbered_events(2)[0].blocks.size() +
                       numbered_events(2)[1].blocks.size();
  bad_magic[third] = 'x';
  struct {
    const char* name;
    std::string content;
  } cases[] = {
      {"whole", good},
      {"cut in the last event", good.substr(0, good.size() - 3)},
      {"bad event magic", bad_magic},
      {"bad version", bad_version},
      {"header only", good.substr(0, 16)},
      {"not ours", "<XRQ5USERTRIGGERLIST/>"},
      {"block overruns its event", [&] {
         std::string b = good;
         b[third + 24 + 264 + 2] = 1;  // the first block's ldata 64 KiB larger
         return b;
       }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = d.write("case", c.content);
    std::vector<xrq5_evb_event> whole;
    std::string whole_error;
    size_t whole_fault = 0;
    const int whole_status = xrq5_evb_read_file_at(file.c_str(), &whole, &whole_error, &whole_fault);

    xrq5_evb_reader r;
    r.open(file.c_str());
    xrq5_evb_event ev;
    size_t n = 0;
    while (r.next(&ev)) {
      ASSERT_LT(n, whole.size());
      EXPECT_EQ(ev.ev_number, whole[n].ev_number);
      EXPECT_EQ(ev.blocks, whole[n].blocks);
      ++n;
    }
    EXPECT_EQ(n, whole.size());
    EXPECT_EQ(r.events(), whole.size());
    EXPECT_EQ(r.status(), whole_status);
    EXPECT_EQ(r.status() == XRQ5_EVB_OK ? std::string() : r.error(), whole_status ? whole_error : "");
    if (whole_status == XRQ5_EVB_BAD_FILE) {
      EXPECT_EQ(r.fault(), whole_fault);
    } else {
      EXPECT_EQ(r.position(), c.content.size());
    }
    EXPECT_FALSE(r.next(&ev));  // stays at the end, or at the damage

    // The quick walk over the headers finds the same end or damage.
    xrq5_evb_reader quick;
    quick.open(file.c_str());
    size_t skipped = 0;
    while (quick.skip()) ++skipped;
    EXPECT_EQ(skipped, whole.size());
    EXPECT_EQ(quick.status(), whole_status);
    EXPECT_EQ(quick.fault(), r.fault());
    EXPECT_EQ(quick.error(), r.error());
  }
}

TEST(event_reader, descriptors_and_refusals) {
  temp_dir d;
  const std::string path = d.path() + "/ev";
  ASSERT_EQ(xrq5_evb_write_file(path.c_str(), numbered_events(3), nullptr), XRQ5_EVB_OK);
  // A descriptor not taken over stays open, its position untouched.
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(lseek(fd, 5, SEEK_SET), 5);
  {
    xrq5_evb_reader r;
    ASSERT_TRUE(r.open_fd(fd, "given"));
    xrq5_evb_event ev;
    int n = 0;
    while (r.next(&ev)) ++n;
    EXPECT_EQ(n, 3);
  }
  EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 5);
  close(fd);

  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  xrq5_evb_reader p;
  EXPECT_FALSE(p.open_fd(pipe_fds[0], "pipe", true));
  EXPECT_EQ(p.status(), XRQ5_EVB_BAD_FILE);
  EXPECT_EQ(p.error(), "'pipe' is not a seekable file");
  close(pipe_fds[1]);

  xrq5_evb_reader missing;
  EXPECT_FALSE(missing.open((d.path() + "/none").c_str()));
  EXPECT_EQ(missing.status(), XRQ5_EVB_OPEN_FAILED);
  EXPECT_NE(missing.error().find("cannot open"), std::string::npos);
  xrq5_evb_event ev;
  EXPECT_FALSE(missing.next(&ev));

  // An event that declares more than the largest event is refused before any
  // allocation, even when the (sparse) file holds that many bytes.
  const std::string big = d.path() + "/big";
  const int out = open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(out, 0);
  const uint32_t head[4] = {0x35515258, 0x53545645, 1, 0};  // "XRQ5EVTS", version 1
  const uint32_t length = XRQ5_EVB_MAX_EVENT + 4;
  const uint32_t event[6] = {0x544E5645, 1, 7, 0, 0, length};
  ASSERT_EQ(pwrite(out, head, sizeof head, 0), 16);
  ASSERT_EQ(pwrite(out, event, sizeof event, 16), 24);
  ASSERT_EQ(ftruncate(out, 16 + 24 + static_cast<off_t>(length)), 0);
  close(out);
  xrq5_evb_reader r;
  ASSERT_TRUE(r.open(big.c_str()));
  EXPECT_FALSE(r.next(&ev));
  EXPECT_EQ(r.status(), XRQ5_EVB_BAD_FILE);
  EXPECT_EQ(r.fault(), 16u + 20u);
  EXPECT_NE(r.error().find("more than the largest event"), std::string::npos) << r.error();
}

// ---- the tool -----------------------------------------------------------------------

struct result {
  int status;
  std::string out, err;
  long max_rss_kb;
};

// The tool in a child with standard output and error in files, its address space
// limited to `as_limit` bytes (0: not limited); the child's peak resident size.
result run_tool(const std::vector<std::string>& args, size_t as_limit = 0) {
  temp_dir d;
  const std::string out = d.path() + "/out", err = d.path() + "/err";
  const pid_t pid = fork();
  if (pid == 0) {
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0) _exit(120);
    dup2(o, STDOUT_FILENO);
    dup2(e, STDERR_FILENO);
    if (as_limit) {
      const rlimit lim = {as_limit, as_limit};
      if (setrlimit(RLIMIT_AS, &lim) != 0) _exit(121);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(XRQ5_TOOL));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(XRQ5_TOOL, argv.data());
    _exit(122);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, xrq5_test::read_file(out),
          xrq5_test::read_file(err), usage.ru_maxrss};
}

const char triggers_xml[] =
    "<?xml version=\"1.0\"?>\n<XRQ5USERTRIGGERLIST>\n"
    "<USERTRIGGER><Chan name=\"COUNT\" subchan=\"0\"/><Function name=\"VALUE\"/>"
    "<Operation name=\"GT\"/><UpperLimit value=\"2.5\"/><Group name=\"g\"/></USERTRIGGER>\n"
    "<USERTRIGGER><Chan name=\"COUNT\" subchan=\"0\"/><Function name=\"DIFFMEAN\" start=\"0\" "
    "end=\"-1\"/><Operation name=\"GT\"/><UpperLimit value=\"0.5\"/></USERTRIGGER>\n"
    "<USERTRIGGER><Chan name=\"NOWHERE\" subchan=\"0\"/><Function name=\"VALUE\"/>"
    "<Operation name=\"GT\"/><UpperLimit value=\"0\"/></USERTRIGGER>\n"
    "</XRQ5USERTRIGGERLIST>\n";

// A recorded-event file of `n` events, each a COUNT block and a `hole`-byte block
// whose data is never written: the file is sparse, its size mostly holes.
uint64_t write_sparse_events(const std::string& path, unsigned n, uint32_t hole) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return 0;
  const uint32_t head[4] = {0x35515258, 0x53545645, 1, 0};
  bool ok = pwrite(fd, head, sizeof head, 0) == 16;
  uint64_t at = 16;
  for (unsigned i = 0; i < n && ok; ++i) {
    std::vector<char> blocks;
    xrq5_evb_add_namval(blocks, "COUNT", XRQ5_BLOCK_3CHAN_2010, {static_cast<float>(i)});
    const size_t big = xrq5_evb_add_block(blocks, "HOLE", XRQ5_BLOCK_3CHAN_2010, nullptr, 0);
    memcpy(blocks.data() + big + 264, &hole, sizeof hole);  // its ldata
    const uint32_t length = static_cast<uint32_t>(blocks.size()) + hole;
    const uint32_t event[6] = {0x544E5645, XRQ5_EV_NORMAL, i, 2000 + i, 0, length};
    ok = pwrite(fd, event, sizeof event, static_cast<off_t>(at)) == 24 &&
         pwrite(fd, blocks.data(), blocks.size(), static_cast<off_t>(at + 24)) ==
             static_cast<ssize_t>(blocks.size());
    at += 24 + length;
  }
  ok = ok && ftruncate(fd, static_cast<off_t>(at)) == 0;
  close(fd);
  return ok ? at : 0;
}

// A file past 4 GiB, damaged past 4 GiB, is evaluated up to the damage (located by its
// full offset) in a child whose address space is 256 MB, with at most 64 MB resident.
TEST(event_archive, a_file_past_4_gib_in_bounded_memory) {
  if (address_space_limit_unusable()) GTEST_SKIP() << no_limit_under_sanitizers;
  const std::string path = std::string(XRQ5_BUILD_DIR) + "/archive_test_big.xrq5ev";
  const unsigned n = 260;
  const uint32_t hole = 16u << 20;
  const uint64_t size = write_sparse_events(path, n, hole);
  ASSERT_GT(size, (uint64_t{1} << 32) + (1u << 20)) << "could not write " << path;
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(size - 10)), 0);
  temp_dir d;
  const std::string triggers = d.write("t.xml", triggers_xml);
  const result evaluated = run_tool({"eval", "--json", triggers, path}, 256u << 20);
  unlink(path.c_str());
  EXPECT_EQ(evaluated.status, 1);
  const uint64_t last_event = size - 24 - (hole + 2 * 268 + 4);
  EXPECT_NE(evaluated.err.find("damaged at byte " + std::to_string(last_event + 20) + ":"),
            std::string::npos) << evaluated.err;
  std::istringstream lines(evaluated.out);
  std::string last, line;
  size_t count = 0;
  while (std::getline(lines, line)) last = line, ++count;
  EXPECT_EQ(count, n);  // the events before the damage, then the summary
  const json summary = json::parse(last)["summary"];
  EXPECT_EQ(summary["events"], n - 1);
  EXPECT_EQ(summary["per_trigger"][0]["fired"], n - 4);  // COUNT > 2.5
  EXPECT_EQ(summary["per_trigger"][1]["fired"], n - 2);  // rises by 1 after the first
  EXPECT_EQ(summary["per_trigger"][2]["missing"], n - 1);
  EXPECT_LE(evaluated.max_rss_kb, 64 * 1024);
}

// The listings and diff of a file twice the child's address space.
TEST(event_archive, json_listing_and_diff_in_bounded_memory) {
  if (address_space_limit_unusable()) GTEST_SKIP() << no_limit_under_sanitizers;
  const std::string path = std::string(XRQ5_BUILD_DIR) + "/archive_test_mid.xrq5ev";
  const unsigned n = 128;
  ASSERT_GT(write_sparse_events(path, n, 4u << 20), 512u << 20);
  const size_t limit = 256u << 20;
  const long rss_limit_kb = 64 * 1024;
  const result as_json = run_tool({"events", "--json", path}, limit);
  EXPECT_EQ(as_json.status, 0) << as_json.err;
  const json doc = json::parse(as_json.out);
  EXPECT_EQ(doc["events"].size(), n);
  EXPECT_EQ(doc["events"][n - 1]["number"], n - 1);
  EXPECT_TRUE(doc["damaged"].is_null());
  EXPECT_LE(as_json.max_rss_kb, rss_limit_kb);
  const result listed = run_tool({"events", path}, limit);
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("event 127 (number 127, NORMAL, time 2127.000000): 2 blocks, "),
            std::string::npos);
  EXPECT_NE(listed.out.find("\n128 events, 256 blocks\n"), std::string::npos);
  EXPECT_LE(listed.max_rss_kb, rss_limit_kb);
  const result compared = run_tool({"diff", path, path}, limit);
  EXPECT_EQ(compared.status, 0) << compared.err;
  EXPECT_EQ(compared.out, "");
  EXPECT_LE(compared.max_rss_kb, rss_limit_kb);
  unlink(path.c_str());
}

struct archive {
  temp_dir d;
  std::string triggers, folder;
  std::vector<std::string> files;
  archive() {
    triggers = d.write("t.xml", triggers_xml);
    folder = d.path() + "/season";
    mkdir(folder.c_str(), 0755);
    // Written out of name order; a hidden file and a sub-folder are not events.
    const char* names[] = {"run3.ev", "run1.ev", "run2.ev"};
    const int counts[] = {7, 5, 40};
    for (int k = 0; k < 3; ++k) {
      const std::string p = folder + "/" + names[k];
      xrq5_evb_write_file(p.c_str(), numbered_events(counts[k], 10 * k), nullptr);
    }
    d.write("season/.hidden", "x");
    mkdir((folder + "/sub").c_str(), 0755);
    files = {folder + "/run1.ev", folder + "/run2.ev", folder + "/run3.ev"};
  }
};

json last_json_line(const std::string& out) {
  const size_t end = out.find_last_not_of('\n');
  const size_t start = out.rfind('\n', end);
  return json::parse(out.substr(start == std::string::npos ? 0 : start + 1));
}

TEST(event_archive, eval_of_several_files_as_if_each_were_alone) {
  archive a;
  // A folder is its files in name order.
  const result folder = run_tool({"eval", a.triggers, a.folder});
  const result listed = run_tool({"eval", a.triggers, a.files[0], a.files[1], a.files[2]});
  ASSERT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(folder.out, listed.out);
  EXPECT_EQ(folder.status, 0) << folder.err;
  EXPECT_EQ(listed.out.rfind(a.files[0] + ": event 0 (number 10, ", 0), 0u) << listed.out;
  EXPECT_NE(listed.out.find(a.files[2] + ": event 6 (number 6, "), std::string::npos);

  // The summary is the sum of each file evaluated alone: DIFFMEAN starts over.
  long long fired[3] = {0, 0, 0}, events = 0, fires = 0;
  for (const std::string& f : a.files) {
    const result one = run_tool({"eval", "--json", a.triggers, f});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out.find("\"file\""), std::string::npos);  // one file: lines as before
    const json s = last_json_line(one.out)["summary"];
    events += s["events"].get<long long>();
    fires += s["fires"].get<long long>();
    for (int i = 0; i < 3; ++i) fired[i] += s["per_trigger"][i]["fired"].get<long long>();
  }
  const result all = run_tool({"eval", "--json", a.triggers, a.folder});
  const json s = last_json_line(all.out)["summary"];
  EXPECT_EQ(s["events"], events);
  EXPECT_EQ(s["events"], 52);
  EXPECT_EQ(s["fires"], fires);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(s["per_trigger"][i]["fired"], fired[i]) << i;
  EXPECT_EQ(fired[1], 4 + 39 + 6);  // not 51: each file's first event has no previous one
  // Per-event lines name their file; the summary object comes last, once.
  std::istringstream in(all.out);
  size_t summaries = 0, lines = 0;
  for (std::string line; std::getline(in, line); ++lines) {
    const json j = json::parse(line);
    if (j.contains("summary")) {
      ++summaries;
      continue;
    }
    EXPECT_TRUE(j["file"].is_string());
  }
  EXPECT_EQ(summaries, 1u);
  EXPECT_EQ(lines, 53u);
  const result csv = run_tool({"eval", "--csv", a.triggers, a.folder});
  EXPECT_EQ(csv.out.rfind("file,event,time,trigger,", 0), 0u);
  EXPECT_NE(csv.out.find("\n" + a.files[0] + ",10,"), std::string::npos);
}

TEST(event_archive, parallel_eval_writes_what_one_process_writes) {
  archive a;
  // A damaged file among them: reported in its place, the rest still evaluated.
  const std::string good = xrq5_test::read_file(a.files[1]);
  a.d.write("season/run2b.ev", good.substr(0, good.size() - 5));
  for (const std::vector<std::string>& mode :
       {std::vector<std::string>{}, {"--json"}, {"--csv"}, {"-v"}, {"--summary"},
        {"--events", "2:4"}}) {
    std::vector<std::string> one = {"eval", a.triggers, a.folder, a.files[0]};
    one.insert(one.end(), mode.begin(), mode.end());
    const result serial = run_tool(one);
    for (const char* jobs : {"2", "4"}) {
      std::vector<std::string> par = one;
      par.insert(par.begin() + 1, {"-j", jobs});
      const result parallel = run_tool(par);
      SCOPED_TRACE(par.back() + " -j " + jobs);
      EXPECT_EQ(parallel.out, serial.out);
      EXPECT_EQ(parallel.err, serial.err);
      EXPECT_EQ(parallel.status, serial.status);
    }
    EXPECT_EQ(serial.status, 1);
    EXPECT_NE(serial.err.find("run2b.ev' is damaged at byte "), std::string::npos) << serial.err;
  }
  // Not on a terminal: no progress line.
  const result quiet = run_tool({"eval", "--summary", a.triggers, a.files[0]});
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out.rfind("summary: 5 events, 3 triggers, ", 0), 0u) << quiet.out;
}

TEST(event_archive, files_in_the_wrong_place_are_named_by_kind) {
  archive a;
  const std::string ev_list = std::string(XRQ5_SOURCE_DIR) + "/examples/ev_list.xml";
  const std::string junk = a.d.write("junk.ev", "not events at all");
  struct {
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {{"eval", a.files[0], a.triggers}, 3,
       "'" + a.files[0] + "' is a recorded-event file, not a trigger list"},
      {{"eval", a.triggers, a.triggers}, 3,
       "'" + a.triggers + "' is a trigger list, not a recorded-event file"},
      {{"eval", a.triggers, a.files[0], ev_list}, 3,
       "'" + ev_list + "' is an event list, not a recorded-event file"},
      {{"eval", "--env-dict", a.triggers, a.triggers, a.files[0]}, 3,
       "is a trigger list, not an environment index dictionary"},
      {{"events", a.triggers}, 3, "'" + a.triggers + "' is a trigger list, not a recorded-event file"},
      {{"events", junk}, 1, "is damaged at byte 0"},
      {{"diff", a.files[0], a.triggers}, 2, "only documents of one kind compare"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const result r = run_tool(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

// A dictionary recorded in the first event serves the events after it, although the
// reader reuses the event's buffer: the evaluation keeps a copy.
TEST(event_archive, a_recorded_dictionary_serves_the_later_events) {
  std::vector<xrq5_evb_event> events(4);
  for (size_t i = 0; i < events.size(); ++i) {
    if (i == 0) xrq5_evb_add_env_dict(events[i].blocks, {{7, "ENV.TEMP"}});
    // Later events are larger, so that their buffer holds other bytes where the
    // dictionary was.
    xrq5_evb_add_namval(events[i].blocks, "PAD", XRQ5_BLOCK_3CHAN_2010,
                        std::vector<float>(i * 100, 3.0f));
    xrq5_evb_add_envs(events[i].blocks, "ENVS", XRQ5_ENV_BLOCK_2010,
                      {xrq5_evb_env(7, i % 2 ? 30.0f : 10.0f)});
  }
  temp_dir d;
  const std::string path = d.path() + "/dict.ev";
  ASSERT_EQ(xrq5_evb_write_file(path.c_str(), events, nullptr), XRQ5_EVB_OK);
  const std::string triggers = d.write(
      "t.xml",
      "<?xml version=\"1.0\"?><XRQ5USERTRIGGERLIST><USERTRIGGER><Chan name=\"ENV.TEMP\" "
      "subchan=\"0\"/><Function name=\"MEAN\"/><Operation name=\"GT\"/><UpperLimit "
      "value=\"20\"/></USERTRIGGER></XRQ5USERTRIGGERLIST>");
  const result r = run_tool({"eval", "--json", triggers, path});
  ASSERT_EQ(r.status, 0) << r.err;
  const json t = last_json_line(r.out)["summary"]["per_trigger"][0];
  EXPECT_EQ(t["missing"], 0);
  EXPECT_EQ(t["fired"], 2);  // events 1 and 3
}

TEST(event_archive, diff_of_recorded_events) {
  temp_dir d;
  std::vector<xrq5_evb_event> base = numbered_events(6);
  std::vector<xrq5_evb_event> other = numbered_events(8);
  other[2].ev_number = 99;
  other[4].blocks[272 + 268 + 5] ^= 1;  // inside the second block's data
  const std::string a = d.path() + "/a.ev", b = d.path() + "/b.ev";
  ASSERT_EQ(xrq5_evb_write_file(a.c_str(), base, nullptr), XRQ5_EVB_OK);
  ASSERT_EQ(xrq5_evb_write_file(b.c_str(), other, nullptr), XRQ5_EVB_OK);
  EXPECT_EQ(run_tool({"diff", a, a}).status, 0);
  const result text = run_tool({"diff", a, b});
  EXPECT_EQ(text.status, 1);
  EXPECT_NE(text.out.find("changed event 2\n  number: 2 -> 99\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("changed event 4\n  blocks[1].data: differs -> differs\n"),
            std::string::npos) << text.out;
  EXPECT_NE(text.out.find("added event 6\nadded event 7\n"), std::string::npos);
  EXPECT_NE(text.out.find(": 2 added, 0 removed, 2 changed of 6 and 8 events"), std::string::npos);
  const result j = run_tool({"diff", "--json", b, a});
  EXPECT_EQ(j.status, 1);
  const json doc = json::parse(j.out);
  EXPECT_EQ(doc["equal"], false);
  EXPECT_EQ(doc["changed"].size(), 2u);
  EXPECT_EQ(doc["removed"].size(), 2u);
  EXPECT_EQ(doc["removed"][1]["key"], 7);
  EXPECT_TRUE(doc["added"].empty());
  // A damaged file is compared up to its damage, and said so.
  const std::string whole = xrq5_test::read_file(b);
  const std::string cut = d.write("cut.ev", whole.substr(0, whole.size() - 4));
  const result damaged = run_tool({"diff", "--json", b, cut});
  EXPECT_EQ(damaged.status, 3);
  EXPECT_NE(damaged.err.find("is damaged at byte"), std::string::npos);
  EXPECT_EQ(json::parse(damaged.out)["equal"], false);
}

}  // namespace
