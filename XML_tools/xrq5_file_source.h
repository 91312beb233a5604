// Internal: a document file opened by its name exactly as given. Not installed.
//
// The name goes to open() byte for byte (a Latin-1 name, one that is not UTF-8 at
// all): it never passes through a transcoder on its way to the file, and the parser
// reads the descriptor opened here. The open itself never blocks (a FIFO is read
// once opened, as before); a folder is refused (EISDIR). The system id the parser puts in its messages is the name
// as far as it is UTF-8 (other bytes become U+FFFD); whoever prints messages about the
// file can show name() itself.
#ifndef XRQ5_FILE_SOURCE_H
#define XRQ5_FILE_SOURCE_H

#include <cstddef>
#include <string>

#include <xercesc/sax/InputSource.hpp>

class xrq5_file_source : public xercesc::InputSource {
 public:
  // Opens `name`; ok() says whether it could, error() the errno when not.
  explicit xrq5_file_source(const char* name);
  ~xrq5_file_source() override;
  xrq5_file_source(const xrq5_file_source&) = delete;
  xrq5_file_source& operator=(const xrq5_file_source&) = delete;

  bool ok() const { return fd_ >= 0; }
  int error() const { return error_; }
  const std::string& name() const { return name_; }
  const std::string& id() const { return id_; }
  // Size of the file in bytes.
  size_t size() const { return size_; }

  // A stream over the whole file from its first byte (each reads on its own).
  xercesc::BinInputStream* makeStream() const override;

 private:
  std::string name_;
  std::string id_;
  int fd_ = -1;
  int error_ = 0;
  bool regular_ = false;
  size_t size_ = 0;
};

// The system id for a file name: its UTF-8 as UTF-16, each byte that is not part of a
// UTF-8 character as U+FFFD.
std::u16string xrq5_name_as_utf16(const char* name);

#endif  // XRQ5_FILE_SOURCE_H
