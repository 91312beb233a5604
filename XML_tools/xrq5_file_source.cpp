#include "xrq5_file_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLUniDefs.hpp>

#include "xrq5_replace_file.h"

namespace {

// Reads the file through its own offset (pread), so that streams over one file never
// disturb each other; a pipe is read as it comes.
class fd_stream : public xercesc::BinInputStream {
 public:
  fd_stream(int fd, bool seekable) : fd_(fd), seekable_(seekable) {}
  ~fd_stream() override { close(fd_); }
  fd_stream(const fd_stream&) = delete;
  fd_stream& operator=(const fd_stream&) = delete;
  XMLFilePos curPos() const override { return pos_; }
  XMLSize_t readBytes(XMLByte* const to, const XMLSize_t max) override {
    for (;;) {
      const ssize_t n =
          seekable_ ? pread(fd_, to, max, static_cast<off_t>(pos_)) : read(fd_, to, max);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        // What Xerces does with a failed read of a file: the document ends there, and
        // the parser reports what is missing.
        return 0;
      }
      pos_ += static_cast<XMLFilePos>(n);
      return static_cast<XMLSize_t>(n);
    }
  }
  const XMLCh* getContentType() const override { return nullptr; }

 private:
  int fd_;
  bool seekable_;
  XMLFilePos pos_ = 0;
};

}  // namespace

std::u16string xrq5_name_as_utf16(const char* name) {
  std::u16string out;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
  for (size_t i = 0; p[i] != 0;) {
    const unsigned char b = p[i];
    size_t n = 0;
    unsigned int c = 0;
    if (b < 0x80) n = 1, c = b;
    else if (b >= 0xC2 && b <= 0xDF) n = 2, c = b & 0x1Fu;
    else if (b >= 0xE0 && b <= 0xEF) n = 3, c = b & 0x0Fu;
    else if (b >= 0xF0 && b <= 0xF4) n = 4, c = b & 0x07u;
    for (size_t k = 1; k < n; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) {
        n = 0;
        break;
      }
      c = (c << 6) | (p[i + k] & 0x3Fu);
    }
    if ((n == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) || (n == 4 && (c < 0x10000 || c > 0x10FFFF)))
      n = 0;
    if (n == 0) {
      out += u'\xFFFD';
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += n;
  }
  return out;
}

xrq5_file_source::xrq5_file_source(const char* name) : name_(name ? name : "") {
  if (name == nullptr) {
    error_ = ENOENT;
    return;
  }
  // A relative name is shown by its full path, as the parser would show it.
  id_ = name;
  if (name[0] != '/') {
    char* full = realpath(name, nullptr);
    char* cwd = full == nullptr ? getcwd(nullptr, 0) : nullptr;
    if (full != nullptr)
      id_ = full;
    else if (cwd != nullptr)
      id_ = std::string(cwd) + "/" + name;
    free(full);
    free(cwd);
  }
  const std::u16string id = xrq5_name_as_utf16(id_.c_str());
  setSystemId(reinterpret_cast<const XMLCh*>(id.c_str()));
  int fd = open(name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  fd = xrq5_internal::above_standard_descriptors(fd);
  if (fd < 0) {
    error_ = errno;
    return;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    error_ = fstat(fd, &st) != 0 ? errno : EISDIR;
    close(fd);
    return;
  }
  // Opened: a pipe is then read as usual, waiting for its writer.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  fd_ = fd;
  regular_ = S_ISREG(st.st_mode);
  size_ = regular_ && st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
}

xrq5_file_source::~xrq5_file_source() {
  if (fd_ >= 0) close(fd_);
}

xercesc::BinInputStream* xrq5_file_source::makeStream() const {
  // A descriptor of its own: the stream may outlive this source (a parse that goes on
  // step by step keeps only the stream).
  const int fd = fd_ < 0 ? -1 : fcntl(fd_, F_DUPFD_CLOEXEC, 3);
  if (fd < 0) return nullptr;
  return new (getMemoryManager()) fd_stream(fd, regular_);
}
