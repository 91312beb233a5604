// Internal: the one output path of the writers (channel descriptions, environment
// index dictionaries, trigger lists). Not installed.
//
// A writer builds its document or listing and hands it here: the values it puts in
// elements and attributes pass through the escaping and the encoding below, and the
// targets (a file by name, a descriptor, the screen) are opened, written and closed
// by `output`, which also prints the writer's own messages. The writer keeps only its
// document and its texts.
#ifndef XRQ5_OUTPUT_H
#define XRQ5_OUTPUT_H

#include <cstdio>
#include <string>
#include <string_view>

#include "xrq5_replace_file.h"

namespace xrq5_output {

// ---- values in a document declared encoding="ISO-8859-1" -----------------------------
//
// The readers hand out UTF-8; a value is decoded as UTF-8, and a byte that does not
// begin a valid sequence is taken as the ISO-8859-1 character of that byte (records
// that a caller filled with ISO-8859-1 text are written as they were). Characters
// U+0020..U+007E stay as they are, except & < > (and " in attribute values), which
// become entity references; U+0080..U+00FF become their one ISO-8859-1 byte; anything
// beyond becomes a numeric character reference. A carriage return becomes &#13; (a
// reader would turn it into a line feed), and in attribute values tab and line feed
// become &#9; and &#10; (a reader would turn them into blanks). Characters that XML
// 1.0 cannot carry at all (the other control characters, U+FFFE, U+FFFF) become '?'.
// A value of plain ASCII without those characters is copied unchanged.
void append_text(std::string& out, std::string_view value);
void append_attribute(std::string& out, std::string_view value);
std::string attribute(std::string_view value);

// A float as printf "%f" writes it when that text reads back as the same float, else
// with the fewest significant digits ("%.6g" to "%.9g") that do: a limit of 5e-9 is
// written 5e-09, not 0.000000. Returns the length written into `buf` (64 bytes).
int format_float(char* buf, float v);

// Appends the decimal text of v, as printf "%d" writes it. (std::to_chars for
// integers would put libstdc++'s digit table among the library's exported symbols.)
void append_int(std::string& out, int v);

// Writes the whole text to fd, going on after short writes; false when write fails.
bool write_all(int fd, const char* data, size_t size);
inline bool write_all(int fd, const std::string& text) {
  return write_all(fd, text.data(), text.size());
}

// ---- the targets of one writer call ---------------------------------------------------

// The messages of one writer; each is printed on standard output with the file name
// and "'" after it, and the system error text follows on standard error (perror).
struct messages {
  const char* open_failed;   // the file could not be opened ("fopen")
  const char* announce;      // "... file: '" before " has been created/closed", or null
  const char* write_failed;  // the whole line when the descriptor write fails
  const char* file_failed;   // the file could not be written out in full
};

class output {
 public:
  explicit output(const messages& m) : m_(m) {}

  // Opens the file target when `file_name` is neither null nor empty. False after
  // printing the open-failed message; announces the file when the writer does.
  bool open(const char* file_name);

  // The text stream of the file target, or null when there is none.
  FILE* file() const { return file_.stream(); }

  // Whether a writer with these targets prints to the screen: no file, no string and
  // no descriptor.
  bool screen(const void* str, int fd) const { return file() == nullptr && str == nullptr && fd == -1; }

  // Writes a finished document to the file (when open) and to `fd` (when not -1).
  // False after printing the write-failed message when the descriptor write fails.
  bool put(const std::string& doc, int fd);

  // Puts the file in place of the target (announcing it closed when `announce_close`
  // and the writer announces). False after the file-failed message and perror when
  // writing it failed: the target is then as it was before the call.
  bool close(bool announce_close);

 private:
  const messages& m_;
  const char* name_ = nullptr;
  xrq5_internal::replace_file file_;
};

}  // namespace xrq5_output

#endif  // XRQ5_OUTPUT_H
