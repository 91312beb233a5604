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

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

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

// The same into raw storage: `out` must have room for escaped_room(size) bytes (a
// value grows at most six-fold) or 11 bytes for an integer. They return the new end.
inline size_t escaped_room(size_t size) { return 6 * size; }
char* escape_text(char* out, std::string_view value);
char* write_int(char* out, int v);

// Writes the whole text to fd, going on after short writes; false when write fails.
bool write_all(int fd, const char* data, size_t size);
inline bool write_all(int fd, const std::string& text) {
  return write_all(fd, text.data(), text.size());
}

// ---- a document built in place --------------------------------------------------------
//
// Appends go straight into the storage of a string, which is lengthened in steps of
// at least 64 KB (the step is zero-filled while it is still in the cache, and each
// append is then a compare and a copy). With a block target, the text so far is
// handed to it whenever a step would be taken, so that the string stays near 64 KB;
// without one, the string holds the whole text after finish().
class sink {
 public:
  // Called with each full block and, from finish(), with the rest.
  using block_target = void (*)(void* context, const char* data, size_t size);

  // Appends after what `s` holds (with a target, that goes in the first block).
  explicit sink(std::string& s, block_target target = nullptr, void* context = nullptr);
  sink(const sink&) = delete;
  sink& operator=(const sink&) = delete;

  // Makes room for `n` bytes in all, for a writer that knows roughly how much comes.
  void reserve(size_t n);

  // At least `n` bytes of room at the returned position; done(p) ends the append there.
  char* room(size_t n) {
    if (static_cast<size_t>(end_ - p_) < n) grow(n);
    return p_;
  }
  void done(char* p) { p_ = p; }

  void put(char c) { *room(1) = c; ++p_; }
  void put(const char* data, size_t size) {
    char* p = room(size);
    memcpy(p, data, size);
    p_ = p + size;
  }
  void put(std::string_view s) { put(s.data(), s.size()); }
  void put_int(int v) { p_ = write_int(room(11), v); }
  void put_text(std::string_view v) { p_ = escape_text(room(escaped_room(v.size())), v); }
  // A fixed field of N bytes up to its first NUL, as it is.
  template <size_t N>
  void put_field(const char (&f)[N]) {
    put(f, strnlen(f, N));
  }
  // A fixed field of N bytes up to its first NUL (records filled by callers may lack
  // one), escaped as element text; the common field that needs no escaping is
  // scanned once and copied.
  template <size_t N>
  void put_field_text(const char (&f)[N]) {
    p_ = field_text(room(escaped_room(N)), f, N);
  }

  // The same at a position with room for escaped_room(cap) bytes; returns the new end.
  static char* field_text(char* out, const char* f, size_t cap);

  // Cuts the string to what was written, or hands the rest to the target and empties
  // the string.
  void finish();

 private:
  void grow(size_t n);

  std::string& s_;
  block_target target_;
  void* context_;
  char* p_;
  char* end_;
};

// ---- the names already written ---------------------------------------------------------
//
// A flat open-addressing table of small slots: the name's hash with its length in the
// low 16 bits, and a pointer to the name, which stays in the caller's record and is
// never copied. A look-up touches one slot (and the name only when the hashes agree),
// and a writer that knows the names to come can fetch their slots ahead.
class name_set {
 public:
  // Room for `n` names at most half full (more still fit; the table then grows).
  explicit name_set(size_t n);

  // The key of a name of `len` bytes (len < 65535).
  static uint64_t key(const char* name, size_t len);
  void prefetch(uint64_t key) const { __builtin_prefetch(&slots_[key_slot(key)]); }

  // Adds the name under its key; false when it was there already.
  bool insert(uint64_t key, const char* name);

 private:
  struct slot {
    uint64_t key;
    const char* name;  // null: free
  };
  size_t key_slot(uint64_t key) const { return static_cast<size_t>(key >> 16) & mask_; }
  void grow();

  std::vector<slot> slots_;
  size_t mask_;
  size_t used_ = 0;
};

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

  // The same for a document that a sink hands over in blocks (context: this output):
  // each block goes to the file and to the descriptor set by stream_to(), which is
  // written no more once it failed; blocks_done() then reports as put() does.
  void stream_to(int fd) { fd_ = fd; }
  static void put_block(void* self, const char* data, size_t size);
  bool blocks_done();

  // Puts the file in place of the target (announcing it closed when `announce_close`
  // and the writer announces). False after the file-failed message and perror when
  // writing it failed: the target is then as it was before the call.
  bool close(bool announce_close);

 private:
  const messages& m_;
  const char* name_ = nullptr;
  int fd_ = -1;
  bool fd_failed_ = false;
  xrq5_internal::replace_file file_;
};

}  // namespace xrq5_output

#endif  // XRQ5_OUTPUT_H
