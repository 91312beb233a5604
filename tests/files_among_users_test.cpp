// Files written by name where other users work too: the temporary file is private
// from its first byte and cannot be redirected, an in-place write never cuts the old
// file, links lead where they point, and the readers open exactly the name given.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <grp.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "event_builder.h"
#include "parse_ev_list.h"
#include "test_support.h"
#include "xrq5_file_source.h"
#include "xrq5_replace_file.h"

namespace {

using xrq5_internal::replace_file;
using xrq5_test::read_file;
using xrq5_test::temp_dir;

constexpr uid_t nobody = 65534;

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

bool write_through(const std::string& target, const std::string& text) {
  replace_file f;
  if (!f.open(target.c_str(), "w")) return false;
  fputs(text.c_str(), f.stream());
  return f.commit();
}

// Runs `body` in a child as the user nobody (only root can become it); its exit
// status, or -1 when it did not exit.
int as_nobody(const std::function<int()>& body, rlim_t file_limit = RLIM_INFINITY) {
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit r = {file_limit, file_limit};
    if (setrlimit(RLIMIT_FSIZE, &r) != 0 || setgroups(0, nullptr) != 0 || setgid(nobody) != 0 ||
        setuid(nobody) != 0)
      _exit(99);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#define REQUIRE_ROOT()                                                       \
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user"

TEST(files_among_users, temporary_file_is_private_from_its_first_byte) {
  temp_dir d;
  const mode_t old_mask = umask(0);  // the case where a loose create mode shows
  const std::string target = d.path() + "/t.xml";
  replace_file f;
  ASSERT_TRUE(f.open(target.c_str(), "w"));
  fputs("secret in the making", f.stream());
  fflush(f.stream());
  // Whatever the folder holds meanwhile is open to its owner only.
  for (const std::string& name : entries(d.path())) {
    struct stat st;
    ASSERT_EQ(lstat((d.path() + "/" + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
  }
  ASSERT_TRUE(f.commit());
  umask(old_mask);
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u) << "a new file: 0666 less the umask";
  EXPECT_EQ(entries(d.path()), std::vector<std::string>{"t.xml"});
}

bool held(int sig) {
  sigset_t now;
  pthread_sigmask(SIG_BLOCK, nullptr, &now);
  return sigismember(&now, sig) == 1;
}

// Where the file system has no unnamed files: a named one, 0600, and the termination
// signals wait while it exists, so that no signal leaves it behind.
TEST(files_among_users, named_temporary_file_holds_signals_while_it_exists) {
  temp_dir d;
  const std::string target = d.write("t.xml", "old");
  ASSERT_EQ(chmod(target.c_str(), 0644), 0);
  for (bool commit : {true, false}) {
    replace_file f(false);
    ASSERT_TRUE(f.open(target.c_str(), "w"));
    fputs(commit ? "new" : "dropped", f.stream());
    const std::vector<std::string> during = entries(d.path());
    ASSERT_EQ(during.size(), 2u);
    const std::string temp = during[0] == "t.xml" ? during[1] : during[0];
    EXPECT_EQ(temp.compare(0, 7, ".t.xml."), 0) << temp;
    struct stat st;
    ASSERT_EQ(stat((d.path() + "/" + temp).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) EXPECT_TRUE(held(sig)) << sig;
    if (commit)
      ASSERT_TRUE(f.commit());
    else
      f.discard();
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) EXPECT_FALSE(held(sig)) << sig;
    EXPECT_EQ(entries(d.path()), std::vector<std::string>{"t.xml"});
    EXPECT_EQ(read_file(target), "new") << "committed first, then kept when dropped";
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
  }
  // A signal sent meanwhile takes effect after the file is in place.
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    replace_file f(false);
    if (!f.open(target.c_str(), "w")) _exit(2);
    fputs("before the signal", f.stream());
    kill(getpid(), SIGTERM);
    f.commit();
    _exit(0);  // not reached: the signal ends the child at the commit
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_EQ(read_file(target), "before the signal");
  EXPECT_EQ(entries(d.path()), std::vector<std::string>{"t.xml"});
}

TEST(files_among_users, planted_names_neither_block_nor_redirect) {
  temp_dir d;
  const std::string target = d.write("t.xml", "old");
  const std::string victim = d.path() + "/victim";
  // Links and files under the names that a temporary name made of the process id, the
  // clock and a counter would take (the next 400 of them, for this second and the
  // next), so that such a scheme finds every name taken.
  int planted = 0;
  for (time_t t = time(nullptr); t <= time(nullptr) + 1; ++t) {
    const unsigned long seed = static_cast<unsigned long>(getpid()) * 2654435761ul ^ static_cast<unsigned long>(t);
    for (unsigned long counter = 1; counter <= 400; ++counter) {
      unsigned long x = seed + 7919ul * counter;
      char suffix[7];
      for (int i = 0; i < 6; ++i, x /= 36) suffix[i] = "0123456789abcdefghijklmnopqrstuvwxyz"[x % 36];
      suffix[6] = '\0';
      const std::string name = d.path() + "/.t.xml." + suffix;
      if (++planted % 2 == 0)
        ASSERT_EQ(symlink(victim.c_str(), name.c_str()), 0);
      else
        close(open(name.c_str(), O_WRONLY | O_CREAT, 0666));
    }
  }
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(write_through(target, "new " + std::to_string(i)));
  EXPECT_EQ(read_file(target), "new 19");
  EXPECT_FALSE(std::filesystem::exists(victim)) << "a link was followed";
  EXPECT_EQ(entries(d.path()).size(), static_cast<size_t>(planted) + 1) << "something left or removed";
}

TEST(files_among_users, links_and_descriptor_names) {
  temp_dir d;
  // A dangling link stays a link; the file it names is created.
  const std::string link = d.path() + "/link.xml";
  ASSERT_EQ(symlink("sub/../real.xml", link.c_str()), 0);
  ASSERT_EQ(mkdir((d.path() + "/sub").c_str(), 0755), 0);
  ASSERT_TRUE(write_through(link, "through a dangling link"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(read_file(d.path() + "/real.xml"), "through a dangling link");
  // A chain of links, relative, is followed to its end and replaced there.
  const std::string chain = d.path() + "/chain.xml";
  ASSERT_EQ(symlink("link.xml", chain.c_str()), 0);
  ASSERT_TRUE(write_through(chain, "again"));
  EXPECT_TRUE(std::filesystem::is_symlink(link) && std::filesystem::is_symlink(chain));
  EXPECT_EQ(read_file(d.path() + "/real.xml"), "again");
  // A loop fails without creating anything.
  ASSERT_EQ(symlink("loop2", (d.path() + "/loop1").c_str()), 0);
  ASSERT_EQ(symlink("loop1", (d.path() + "/loop2").c_str()), 0);
  replace_file f;
  EXPECT_FALSE(f.open((d.path() + "/loop1").c_str(), "w"));

  // A name for one of the process's descriptors reaches that descriptor's file, not a
  // new file beside some link.
  const std::string out = d.path() + "/out";
  const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 3);
  for (const std::string& name : {"/dev/fd/" + std::to_string(fd), "/proc/self/fd/" + std::to_string(fd)}) {
    ASSERT_TRUE(write_through(name, "via " + name)) << name;
    EXPECT_EQ(read_file(out), "via " + name);
  }
  close(fd);
}

TEST(files_among_users, replaced_file_keeps_owner_and_mode) {
  REQUIRE_ROOT();
  temp_dir d;
  const std::string target = d.write("t.xml", "old");
  ASSERT_EQ(chown(target.c_str(), nobody, nobody), 0);
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  ASSERT_TRUE(write_through(target, "new"));
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, nobody);
  EXPECT_EQ(st.st_gid, nobody);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// Root replaces its 0600 file over and over in a folder open to all, with umask 000,
// while another user tries to open everything in the folder: nothing of the new
// content is ever open to them.
TEST(files_among_users, another_user_never_opens_the_new_content) {
  REQUIRE_ROOT();
  temp_dir d;
  ASSERT_EQ(chmod(d.path().c_str(), 01777), 0);
  const std::string target = d.write("t.xml", "old");
  ASSERT_EQ(chmod(target.c_str(), 0600), 0);
  const mode_t old_mask = umask(0);
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  fflush(nullptr);
  // The spy opens every name the moment it appears (inotify), and the target too.
  const pid_t spy = fork();
  if (spy == 0) {
    close(pipe_fds[1]);
    if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) _exit(99);
    const int watch = inotify_init1(IN_NONBLOCK);
    const int dir = open(d.path().c_str(), O_RDONLY | O_DIRECTORY);
    if (watch < 0 || dir < 0 || inotify_add_watch(watch, d.path().c_str(), IN_CREATE | IN_MOVED_TO) < 0)
      _exit(98);
    int opened = 0;
    for (;;) {
      struct pollfd p[2] = {{watch, POLLIN, 0}, {pipe_fds[0], POLLIN, 0}};
      poll(p, 2, -1);
      alignas(inotify_event) char buf[8192];
      const ssize_t n = read(watch, buf, sizeof buf);
      for (ssize_t at = 0; at < n;) {
        const inotify_event* e = reinterpret_cast<const inotify_event*>(buf + at);
        if (e->len > 0) {
          const int fd = openat(dir, e->name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
          if (fd >= 0) {
            ++opened;
            close(fd);
          }
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      }
      if (n <= 0 && (p[1].revents & (POLLIN | POLLHUP)) != 0) break;
    }
    _exit(opened > 0 ? 1 : 0);
  }
  close(pipe_fds[0]);
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(write_through(target, std::string(4096, 'a' + i % 26)));
  close(pipe_fds[1]);  // the spy's loop ends
  int status = 0;
  waitpid(spy, &status, 0);
  umask(old_mask);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the other user opened a file of the writer";
}

// A folder where the writer may not create anything: the existing file is written
// in place only when the whole text fits; a file-size limit leaves it as it was.
TEST(files_among_users, in_place_write_never_cuts) {
  REQUIRE_ROOT();
  temp_dir d;
  ASSERT_EQ(chmod(d.path().c_str(), 0755), 0);  // root's: nobody creates nothing here
  const std::string old(87095, 'o');
  const std::string target = d.write("t.xml", old);
  ASSERT_EQ(chown(target.c_str(), nobody, nobody), 0);
  const int too_big = as_nobody(
      [&] {
        replace_file f;
        if (!f.open(target.c_str(), "w")) return 2;
        fputs(std::string(100000, 'n').c_str(), f.stream());
        if (f.commit()) return 3;
        return errno == EFBIG ? 0 : 4;
      },
      8192);
  EXPECT_EQ(too_big, 0);
  EXPECT_EQ(read_file(target), old) << "the old file was cut or changed";
  EXPECT_EQ(entries(d.path()), std::vector<std::string>{"t.xml"});
  // Within the limit: the whole new text, nothing of the old after it.
  const int fits = as_nobody([&] { return write_through(target, "short") ? 0 : 5; }, 8192);
  EXPECT_EQ(fits, 0);
  EXPECT_EQ(read_file(target), "short");
  // A file that does not exist yet cannot be made there at all.
  const int fresh = as_nobody([&] {
    replace_file f;
    return !f.open((d.path() + "/new.xml").c_str(), "w") && errno == EACCES ? 0 : 6;
  });
  EXPECT_EQ(fresh, 0);
}

TEST(files_among_users, threads_write_their_own_files_at_once) {
  temp_dir d;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      const std::string target = d.path() + "/f" + std::to_string(t);
      for (int i = 0; i < 50; ++i) {
        const std::string text = std::to_string(t) + ":" + std::to_string(i);
        if (!write_through(target, text) || read_file(target) != text) ++failures;
      }
    });
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(entries(d.path()).size(), 8u);
}

// The recorded-event writer goes the same way: a planted link is never followed, and
// a failed write leaves the old file.
TEST(files_among_users, recorded_event_writer) {
  temp_dir d;
  const std::string target = d.path() + "/ev.xrq5ev";
  std::vector<xrq5_evb_event> events(3);
  for (size_t i = 0; i < events.size(); ++i) events[i].ev_number = static_cast<unsigned int>(i);
  ASSERT_EQ(xrq5_evb_write_file(target.c_str(), events, nullptr), XRQ5_EVB_OK);
  const std::string first = read_file(target);
  for (int i = 0; i < 50; ++i) {
    char name[64];
    snprintf(name, sizeof name, "%s/.ev.xrq5ev.%06d", d.path().c_str(), i);
    ASSERT_EQ(symlink((d.path() + "/victim").c_str(), name), 0);
  }
  events.resize(2000);
  const int limited = [&] {
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit r = {4096, 4096};
      setrlimit(RLIMIT_FSIZE, &r);
      _exit(xrq5_evb_write_file(target.c_str(), events, nullptr));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }();
  EXPECT_EQ(limited, XRQ5_EVB_WRITE_FAILED);
  EXPECT_EQ(read_file(target), first);
  EXPECT_FALSE(std::filesystem::exists(d.path() + "/victim"));
  EXPECT_EQ(entries(d.path()).size(), 51u);
}

// The readers open the bytes of the name: a Latin-1 name and its look-alike in UTF-8
// (with U+FFFD where the Latin-1 byte was) are two files.
TEST(files_among_users, readers_open_the_name_as_given) {
  temp_dir d;
  const std::string good = "<BMR><EVENT><TYPE>1</TYPE><TMASK>0x1</TMASK></EVENT></BMR>";
  struct {
    const char* name;        // holds the document
    const char* look_alike;  // holds junk
  } cases[] = {
      {"Au\xdf" "en.xml", "Au\xef\xbf\xbd" "en.xml"},  // Latin-1
      {"bad\xff\xfe.xml", "bad\xef\xbf\xbd\xef\xbf\xbd.xml"},  // not UTF-8 at all
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.look_alike);
    const std::string path = d.write(c.name, good);
    d.write(c.look_alike, "junk");
    std::vector<xrq5_ev_entry*> list;
    EXPECT_EQ(xrq5_parse_ev_list_readf(const_cast<char*>(path.c_str()), &list), 0);
    EXPECT_EQ(list.size(), 1u);
    xrq5_clean_ev_list(&list);
    // The look-alike alone: now the junk is read, and fails.
    std::filesystem::remove(path);
    xrq5_test::capture quiet;
    const std::string other = d.path() + "/" + c.look_alike;
    EXPECT_NE(xrq5_parse_ev_list_readf(const_cast<char*>(other.c_str()), &list), 0);
    xrq5_clean_ev_list(&list);
    // And the name itself is gone: it does not read.
    EXPECT_NE(xrq5_parse_ev_list_readf(const_cast<char*>(path.c_str()), &list), 0);
    quiet.stop();
    xrq5_clean_ev_list(&list);
    // Messages show the name's own bytes.
    EXPECT_NE(quiet.err().find(c.name), std::string::npos) << quiet.err();
  }
  // A FIFO without a writer is not waited for at the open; a folder is refused.
  const std::string fifo = d.path() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const xrq5_file_source pipe_source(fifo.c_str());
  EXPECT_TRUE(pipe_source.ok()) << strerror(pipe_source.error());
  const xrq5_file_source folder(d.path().c_str());
  EXPECT_FALSE(folder.ok());
  EXPECT_EQ(folder.error(), EISDIR);
}

}  // namespace
