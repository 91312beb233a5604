// Helpers shared by the tests: output capture at the descriptor level and
// temporary folders.
#ifndef XRQ5_TEST_SUPPORT_H
#define XRQ5_TEST_SUPPORT_H

#include <string>

namespace xrq5_test {

// Captures what the process writes to standard output and standard error (C stdio,
// C++ streams and raw descriptors alike) between construction and stop().
class capture {
 public:
  capture();
  ~capture();
  capture(const capture&) = delete;
  capture& operator=(const capture&) = delete;
  void stop();
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  int saved_[2];
  int files_[2];
  bool active_ = true;
  std::string out_, err_;
};

// A fresh folder under the system's temporary folder, removed with its contents.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  const std::string& path() const { return path_; }
  // Writes `text` to the file `name` in the folder and returns its path.
  std::string write(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

std::string read_file(const std::string& path);

}  // namespace xrq5_test

#endif  // XRQ5_TEST_SUPPORT_H
