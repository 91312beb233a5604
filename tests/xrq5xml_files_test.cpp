// The tool among files and users: nothing left behind on signals, standard input
// held without a copy, names taken as given, special files refused without blocking,
// outputs where they are named, and a second user's limits.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

using xrq5_test::read_file;
using xrq5_test::temp_dir;

const std::string examples = std::string(XRQ5_SOURCE_DIR) + "/examples";
const std::string tool_path = XRQ5_TOOL;

struct result {
  int status;
  std::string out, err;
  double seconds;
};

// `args` run by the shell in `dir`, with TMPDIR set to `tmp` (when given).
result run_in(const std::string& dir, const std::string& args, const std::string& tmp = "") {
  temp_dir d;
  const std::string cmd = "cd '" + dir + "' && " + (tmp.empty() ? "" : "TMPDIR='" + tmp + "' ") +
                          "timeout 60 " + args + " >" + d.path() + "/out 2>" + d.path() + "/err";
  const auto start = std::chrono::steady_clock::now();
  const int rc = std::system(cmd.c_str());
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, read_file(d.path() + "/out"),
          read_file(d.path() + "/err"), s};
}

size_t count_entries(const std::string& dir) {
  size_t n = 0;
  for (auto it = std::filesystem::directory_iterator(dir); it != std::filesystem::directory_iterator(); ++it) ++n;
  return n;
}

// A channel description of `n` channels, each a copy of a small one.
std::string many_channels(int n) {
  std::string doc = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<CHANDESCRIPTIONS>\n";
  for (int i = 0; i < n; ++i)
    doc += "<CHANNEL>\n<STREAM>1</STREAM>\n<EVTYPE>1</EVTYPE>\n<DTYPE>38</DTYPE>\n<PROP>LINAC/BPM/ARC1." +
           std::to_string(i) + "/XYQ</PROP>\n<NAME>BPM.ARC1." + std::to_string(i) +
           "</NAME>\n<DESC>beam position x, y and charge</DESC>\n</CHANNEL>\n";
  return doc + "</CHANDESCRIPTIONS>\n";
}

// Starts the tool with `args`, standard output into a pipe that nobody reads (so that
// it blocks once the pipe is full), and TMPDIR `tmp`. Gives the pid and the read end.
pid_t start_blocked(const std::vector<std::string>& args, const std::string& tmp, int* read_end,
                    int stdin_fd = -1) {
  int p[2];
  if (pipe(p) != 0) return -1;
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(p[1], 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    if (stdin_fd >= 0) dup2(stdin_fd, 0);
    close(p[0]);
    close(p[1]);
    setenv("TMPDIR", tmp.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(tool_path.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(p[1]);
  *read_end = p[0];
  return pid;
}

// Waits until `ready` holds (at most 20 s); false when it never did.
template <class F>
bool wait_for(F ready) {
  for (int i = 0; i < 2000; ++i) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int exit_status(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// A text listing goes through a temporary file of the tool's: a signal while it is
// copied out (standard output blocked) removes it, and the status is 128 + signal.
TEST(xrq5xml_files, signals_leave_no_temporary_file) {
  temp_dir d;
  const std::string xcd = d.write("big.xml", many_channels(3000));
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    SCOPED_TRACE(sig);
    temp_dir tmp;
    int out = -1;
    const pid_t pid = start_blocked({"convert", xcd, "--to", "text"}, tmp.path(), &out);
    ASSERT_GT(pid, 0);
    // Blocked on the full pipe, with its listing in the temporary folder.
    const bool blocked = wait_for([&] {
      int queued = 0;
      return count_entries(tmp.path()) == 1 && ioctl(out, FIONREAD, &queued) == 0 && queued >= 65536;
    });
    EXPECT_TRUE(blocked);
    if (sig == SIGPIPE)
      close(out);  // the next write raises it
    else
      kill(pid, sig);
    EXPECT_EQ(exit_status(pid), 128 + sig);
    if (sig != SIGPIPE) close(out);
    EXPECT_EQ(count_entries(tmp.path()), 0u);
  }
}

TEST(xrq5xml_files, signal_while_reading_standard_input) {
  temp_dir tmp;
  int in[2];
  ASSERT_EQ(pipe(in), 0);
  int out = -1;
  const pid_t pid = start_blocked({"check", "-"}, tmp.path(), &out, in[0]);
  close(in[0]);
  ASSERT_EQ(write(in[1], "<BMR>\n", 6), 6);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(pid, SIGTERM);
  EXPECT_EQ(exit_status(pid), 128 + SIGTERM);
  close(in[1]);
  close(out);
  EXPECT_EQ(count_entries(tmp.path()), 0u);
}

// Standard input: refused at its first bytes when they cannot begin a document,
// bounded when it does not end, and never copied to the temporary folder.
TEST(xrq5xml_files, standard_input_without_a_copy) {
  temp_dir tmp;
  struct {
    const char* before;  // the shell's words before the tool
    const char* after;   // and after "check -"
    int status;
    double within;  // seconds
    const char* message;
  } cases[] = {
      {"", "</dev/zero", 3, 5, "does not begin an XML document"},
      {"", "</dev/urandom", 3, 5, ""},
      {"", "</dev/null", 1, 10, "no root element"},
      {"printf '  hello' | ", "", 3, 5, "does not begin an XML document"},
      {"printf '\\357\\273\\277 <BMR/>' | ", "", 0, 10, ""},
      {"printf '\\357\\273 <BMR/>' | ", "", 3, 10, "does not begin an XML document"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.before) + c.after);
    const result r = run_in(tmp.path(), c.before + tool_path + " check - " + c.after, tmp.path());
    // /dev/urandom may begin with '<' or a byte-order mark now and then: then it is
    // read to the bound and refused as too long, or fails to parse.
    if (std::string(c.after) == "</dev/urandom")
      EXPECT_TRUE(r.status == 3 || r.status == 1) << r.status << r.err;
    else
      EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_LT(r.seconds, c.within);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(count_entries(tmp.path()), 0u);
  }
  // Text without end is read up to the bound and no further.
  const result endless = run_in(tmp.path(), "yes '<BMR>' | " + tool_path + " check -", tmp.path());
  EXPECT_EQ(endless.status, 3) << endless.err;
  EXPECT_NE(endless.err.find("longer than"), std::string::npos) << endless.err;
  EXPECT_LT(endless.seconds, 30);
  EXPECT_EQ(count_entries(tmp.path()), 0u);
}

// Names in Latin-1 and names that are not UTF-8 at all reach the file they name;
// the JSON output stays valid (each such byte as \udcXX).
TEST(xrq5xml_files, names_as_given) {
  temp_dir d;
  const std::string doc = read_file(examples + "/ev_list.xml");
  struct {
    const char* name;
    const char* look_alike;
    const char* json_name;
  } cases[] = {
      {"Au\xdf" "en.xml", "Au\xef\xbf\xbd" "en.xml", "Au\\udcdfen.xml"},
      {"x\xff\xfe.xml", "x\xef\xbf\xbd\xef\xbf\xbd.xml", "x\\udcff\\udcfe.xml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json_name);
    d.write(c.name, doc);
    d.write(c.look_alike, "");  // an empty file of the transcoded name
    // The shell's $'...' cannot hold \udcXX: the name goes through printf instead.
    std::string bytes;
    for (const char* p = c.name; *p; ++p) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\%03o", static_cast<unsigned char>(*p));
      bytes += hex;
    }
    const std::string name = "\"$(printf '" + bytes + "')\"";
    const result plain = run_in(d.path(), tool_path + " check " + name);
    EXPECT_EQ(plain.status, 0) << plain.err;
    const result strict = run_in(d.path(), tool_path + " check --strict --json " + name);
    EXPECT_EQ(strict.status, 0) << strict.err;
    EXPECT_EQ(strict.err.find("unexpected"), std::string::npos) << strict.err;
    const result show = run_in(d.path(), tool_path + " show --json " + name);
    EXPECT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find(std::string("\"file\": \"") + c.json_name + "\""), std::string::npos)
        << show.out.substr(0, 200);
    // Python reads the JSON and gets the name's bytes back.
    const result back = run_in(d.path(), tool_path + " show --json " + name +
                                             " | python3 -c 'import json,os,sys; "
                                             "sys.stdout.buffer.write(os.fsencode(json.load(sys.stdin)[0][\"file\"]))'");
    EXPECT_EQ(back.out, c.name);
    // The look-alike, empty, is not the document.
    std::filesystem::remove(d.path() + "/" + c.name);
    EXPECT_NE(run_in(d.path(), tool_path + " check " + name).status, 0);
    std::filesystem::remove(d.path() + "/" + c.look_alike);
  }
}

// FIFOs, devices and folders are refused by every command, --strict and its --xcd
// included, with status 3 and without waiting for a writer.
TEST(xrq5xml_files, special_files_are_refused) {
  temp_dir d;
  ASSERT_EQ(mkfifo((d.path() + "/fifo").c_str(), 0600), 0);
  const std::string triggers = examples + "/triggers.xml";
  for (const std::string& args :
       {std::string("check fifo"), std::string("check --strict fifo"), std::string("check --strict ."),
        std::string("check --strict --json fifo"), std::string("check --strict /dev/zero"),
        "check --strict --xcd fifo " + triggers, "check --strict --xcd . " + triggers,
        std::string("show fifo"), std::string("check .")}) {
    SCOPED_TRACE(args);
    const result r = run_in(d.path(), tool_path + " " + args);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_LT(r.seconds, 10);
  }
}

// -o names where the document goes: standard output by any of its names, the file
// behind a link (dangling or not), and the progress lines never take its place.
TEST(xrq5xml_files, outputs_go_where_named) {
  temp_dir d;
  const std::string xcd = examples + "/xcd_tag.xml";
  const result to_stdout = run_in(d.path(), tool_path + " convert " + xcd + " --to tag -o /dev/stdout");
  EXPECT_EQ(to_stdout.status, 0) << to_stdout.err;
  EXPECT_EQ(to_stdout.out.compare(0, 5, "<?xml"), 0) << to_stdout.out.substr(0, 100);
  EXPECT_EQ(to_stdout.err.find("<CHANDESCRIPTIONS>"), std::string::npos);
  const result fd1 = run_in(d.path(), tool_path + " convert " + xcd + " --to tag -o /dev/fd/1");
  EXPECT_EQ(fd1.out.compare(0, 5, "<?xml"), 0);

  ASSERT_EQ(symlink("made/by/link.xml", (d.path() + "/dangling.xml").c_str()), 0);
  ASSERT_TRUE(std::filesystem::create_directories(d.path() + "/made/by"));
  const result via = run_in(d.path(), tool_path + " convert " + xcd + " --to tag -o dangling.xml");
  EXPECT_EQ(via.status, 0) << via.err;
  EXPECT_TRUE(std::filesystem::is_symlink(d.path() + "/dangling.xml"));
  EXPECT_EQ(read_file(d.path() + "/made/by/link.xml").compare(0, 5, "<?xml"), 0);
}

// A second user (nobody, through setpriv) in a folder where it can create nothing:
// its file there is written in place when it fits, and a file-size limit leaves it
// whole.
TEST(xrq5xml_files, second_user_in_a_folder_of_another) {
  if (geteuid() != 0) GTEST_SKIP() << "not root: no second user to act as";
  if (system("command -v setpriv >/dev/null") != 0) GTEST_SKIP() << "setpriv is missing";
  if (system(("setpriv --reuid=65534 --regid=65534 --clear-groups test -x " + tool_path).c_str()) != 0)
    GTEST_SKIP() << "the tool cannot be run by another user from where it is";
  temp_dir d;
  ASSERT_EQ(chmod(d.path().c_str(), 0755), 0);
  const std::string big = d.write("big.xml", many_channels(400));
  const std::string old(87095, 'o');
  const std::string target = d.write("out.xml", old);
  ASSERT_EQ(chown(target.c_str(), 65534, 65534), 0);
  const std::string as_nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  const result limited =
      run_in(d.path(), "sh -c 'ulimit -f 16 && exec " + as_nobody + tool_path +
                           " convert big.xml --to tag -o out.xml'");
  EXPECT_EQ(limited.status, 1) << limited.err;
  EXPECT_EQ(read_file(target), old) << "the old file was cut";
  const result fits = run_in(d.path(), as_nobody + tool_path + " convert " + examples +
                                           "/xcd_tag.xml --to tag -o out.xml");
  EXPECT_EQ(fits.status, 0) << fits.err;
  EXPECT_EQ(read_file(target).compare(0, 5, "<?xml"), 0);
  EXPECT_EQ(read_file(target).find("ooo"), std::string::npos) << "old text left after the new";
  EXPECT_EQ(count_entries(d.path()), 2u);
}

}  // namespace
