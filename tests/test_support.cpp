#include "test_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace xrq5_test {

namespace {

void flush_all() {
  std::cout.flush();
  std::cerr.flush();
  fflush(nullptr);
}

std::string drain(int fd) {
  std::string text;
  lseek(fd, 0, SEEK_SET);
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(fd);
  return text;
}

}  // namespace

capture::capture() {
  flush_all();
  for (int i = 0; i < 2; ++i) {
    FILE* f = tmpfile();
    if (f == nullptr) throw std::runtime_error("tmpfile failed");
    files_[i] = dup(fileno(f));
    fclose(f);
    saved_[i] = dup(i + 1);
    dup2(files_[i], i + 1);
  }
}

void capture::stop() {
  if (!active_) return;
  active_ = false;
  flush_all();
  for (int i = 0; i < 2; ++i) {
    dup2(saved_[i], i + 1);
    close(saved_[i]);
  }
  out_ = drain(files_[0]);
  err_ = drain(files_[1]);
}

capture::~capture() { stop(); }

temp_dir::temp_dir() {
  std::string templ = (std::filesystem::temp_directory_path() / "xrq5-test-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

temp_dir::~temp_dir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string temp_dir::write(const std::string& name, const std::string& text) const {
  const std::string p = path_ + "/" + name;
  std::ofstream(p, std::ios::binary) << text;
  return p;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace xrq5_test
