/// \file
/// Building event data in the layout of libXRQ5evutl (see event_util.h), and reading
/// and writing recorded-event files. For tests, benchmarks, tools and anyone who wants
/// to try triggers on data of their own; not part of the framework's interface, so it
/// lives in the static library XRQ5evdata, apart from the replaceable libXRQ5evutl.
///
/// An event's data is a byte vector of blocks, each a sub-header, its `ldata` bytes and
/// zero padding up to a multiple of 4 bytes, so every block stays 4-byte aligned.
///
/// Recorded-event file, all integers 32-bit little-endian:
///
/// ~~~
///   file header (16 bytes): "XRQ5EVTS", uint32 version (1), uint32 reserved (0)
///   then per event, a header (24 bytes): uint32 magic 0x544E5645 ("EVNT"),
///     int32 ev_type, uint32 ev_number, time_stamp time, uint32 length,
///   followed by length bytes of blocks as above.
/// ~~~
///
/// The reader checks every length against the bytes the file really holds. Files are
/// read one event at a time (xrq5_evb_reader) with 64-bit offsets, so their size is
/// bounded only by the file system; one event's blocks are at most
/// XRQ5_EVB_MAX_EVENT bytes.
#ifndef XRQ5_EVENT_BUILDER_H
#define XRQ5_EVENT_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "event.h"

/// Appends one block (the name is cut to 255 characters) and returns the offset of its
/// sub-header in `buf`.
size_t xrq5_evb_add_block(std::vector<char>& buf, const char* chname, int dtype,
                          const void* payload, size_t len, int error = 0);

/// A name/value block: sub-channel k is values[k].
size_t xrq5_evb_add_namval(std::vector<char>& buf, const char* chname, int dtype,
                           const std::vector<float>& values);

/// One sub-channel of a spectrum block; ndata is samples.size() / groups.
struct xrq5_evb_spectrum {
  float start;                 ///< position of the first sample
  float inc;                   ///< step between samples
  std::vector<float> samples;  ///< all samples, group after group
  int groups = 1;              ///< number of groups
  float group_inc = 1.0f;      ///< step between groups
};

/// A spectrum block: per sub-channel a spectrum header and its samples; returns the
/// offset of the block's sub-header in `buf`.
size_t xrq5_evb_add_spectrum(std::vector<char>& buf, const char* chname, int dtype,
                             const std::vector<xrq5_evb_spectrum>& subchannels);

/// Record makers for slow blocks (names cut to fit).
///@{
xrq5_upd_data_block_2010 xrq5_evb_update(const char* prop, float value, int status = 0,
                                         time_stamp time = time_stamp{0, 0});
xrq5_env_data_block_2010 xrq5_evb_env(int index, float value, int status = 0,
                                      time_stamp time = time_stamp{0, 0});
///@}

/// A slow block of update or environment records laid end to end; returns the offset
/// of the block's sub-header in `buf`.
///@{
size_t xrq5_evb_add_updates(std::vector<char>& buf, const char* chname, int dtype,
                            const std::vector<xrq5_upd_data_block_2010>& records);
size_t xrq5_evb_add_envs(std::vector<char>& buf, const char* chname, int dtype,
                         const std::vector<xrq5_env_data_block_2010>& records);
///@}

/// An image block: the frame header, then head.length bytes from `pixels`.
size_t xrq5_evb_add_image(std::vector<char>& buf, const char* chname, int dtype,
                          const xrq5_image_ext_frame_head& head, const void* pixels);

/// One entry of an environment dictionary block.
struct xrq5_evb_dict_entry {
  int index;               ///< index that environment records refer to
  std::string prop;        ///< property (channel) name
  float abs_delta = 0.0f;  ///< absolute change threshold
  float rel_delta = 0.0f;  ///< relative change threshold
};

/// Appends an environment dictionary block named "ENV_DICT" (dtype
/// XRQ5_ENV_DICT_BLOCK_2010, or XRQ5_ENV_DICT_BLOCK when `classic`); names are cut to
/// 255 (classic 79) characters. Returns the offset of the block's sub-header in `buf`.
size_t xrq5_evb_add_env_dict(std::vector<char>& buf, const std::vector<xrq5_evb_dict_entry>& entries,
                             bool classic = false);

/// Walks the blocks of one event: returns the block at *offset and moves *offset past
/// it, or returns null (leaving *offset) when no whole block starts there.
xrq5_serv_block_subhead_2010* xrq5_evb_next_block(char* blocks, size_t size, size_t* offset);

/// One event of a recorded-event file.
struct xrq5_evb_event {
  int ev_type = XRQ5_EV_NORMAL;  ///< XRQ5_EVTYPE of the event
  unsigned int ev_number = 0;    ///< event number
  time_stamp time{0, 0};         ///< event time
  std::vector<char> blocks;      ///< the event's data blocks
};

/// Result codes of the file calls; `error` (may be null) receives a message.
enum {
  XRQ5_EVB_OK = 0,            ///< success
  XRQ5_EVB_OPEN_FAILED = 1,   ///< the file could not be opened
  XRQ5_EVB_WRITE_FAILED = 2,  ///< writing or closing failed
  XRQ5_EVB_BAD_FILE = 3       ///< not a recorded-event file, or truncated or inconsistent
};

/// The largest event the reader takes (512 MiB of blocks); an event header that declares
/// more is reported as damage, so a corrupt length never makes the reader allocate more.
#define XRQ5_EVB_MAX_EVENT (512u * 1024u * 1024u)

/// Reads a recorded-event file one event at a time, holding one event (and a 64 KiB
/// buffer): a file of any size is read in bounded memory. Every length is checked as by
/// xrq5_evb_read_file, with the same messages; positions are 64-bit.
///
/// ~~~{.cpp}
///   xrq5_evb_reader r;
///   xrq5_evb_event ev;
///   if (!r.open(path)) return fail(r.error());
///   while (r.next(&ev)) use(ev);   // ev.blocks is reused from event to event
///   if (r.status() != XRQ5_EVB_OK) report(r.error(), r.fault());
/// ~~~
class xrq5_evb_reader {
 public:
  xrq5_evb_reader();
  ~xrq5_evb_reader();
  xrq5_evb_reader(const xrq5_evb_reader&) = delete;
  xrq5_evb_reader& operator=(const xrq5_evb_reader&) = delete;

  /// Opens `path` and checks its file header; false with status() XRQ5_EVB_OPEN_FAILED
  /// or XRQ5_EVB_BAD_FILE and error() set.
  bool open(const char* path);
  /// The same over an open descriptor, read from offset 0 with pread (its file position
  /// is left alone); `name` is used in messages. The descriptor is closed by close() or
  /// the destructor only when `take` is true.
  bool open_fd(int fd, const char* name, bool take = false);
  /// The next event into *ev (its buffer is reused); false at the end of the file, or at
  /// damage (status() XRQ5_EVB_BAD_FILE, error(), fault()), or when not open.
  bool next(xrq5_evb_event* ev);
  /// Passes over the next event as next() would, checking its header and blocks
  /// against the file, with the same messages, but reading only the headers: a quick
  /// walk that finds where a file is damaged.
  bool skip();
  /// Closes the file; the reader can be opened again.
  void close();

  /// XRQ5_EVB_OK while the file reads cleanly (also at its end), else the failure.
  int status() const { return status_; }
  /// The message of the failure ("'F', event 3: truncated event header").
  const std::string& error() const { return error_; }
  /// Byte offset in the file of the part that is wrong (file header field, event
  /// header or block).
  uint64_t fault() const { return fault_; }
  /// Bytes of the file read so far (the end of the last event handed out).
  uint64_t position() const { return pos_; }
  /// Size of the file.
  uint64_t size() const { return end_; }
  /// Events handed out so far.
  uint64_t events() const { return count_; }

 private:
  bool fail(const std::string& message, uint64_t at);
  bool read_head(void* head);
  std::string where_event() const;
  bool read_at(uint64_t at, void* to, size_t n);

  int fd_ = -1;
  bool own_ = false;
  std::string name_;
  int status_ = XRQ5_EVB_OPEN_FAILED;
  std::string error_;
  uint64_t fault_ = 0, pos_ = 0, end_ = 0, count_ = 0;
  std::vector<char> buf_;  // file bytes [buf_at_, buf_at_ + buf_len_)
  uint64_t buf_at_ = 0;
  size_t buf_len_ = 0;
};

/// Writes the events to `path`, replacing the file there only once all of it was
/// written: on failure an old file stays as it was.
int xrq5_evb_write_file(const char* path, const std::vector<xrq5_evb_event>& events,
                        std::string* error);

/// Appends the events of `path` to `events` (all of them in memory: xrq5_evb_reader
/// reads one at a time); on a bad file the events before the fault stay appended.
int xrq5_evb_read_file(const char* path, std::vector<xrq5_evb_event>* events, std::string* error);

/// The same; on XRQ5_EVB_BAD_FILE *fault (may be null) receives the byte offset in the
/// file of the part that is wrong (the header field, event header or block); on a
/// 32-bit target an offset past 4 GiB does not fit: xrq5_evb_reader::fault() has it.
int xrq5_evb_read_file_at(const char* path, std::vector<xrq5_evb_event>* events,
                          std::string* error, size_t* fault);

#endif  // XRQ5_EVENT_BUILDER_H
