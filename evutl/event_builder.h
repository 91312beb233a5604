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
/// The reader checks every length against the bytes the file really holds.
#ifndef XRQ5_EVENT_BUILDER_H
#define XRQ5_EVENT_BUILDER_H

#include <cstddef>
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

/// Writes the events to `path`, replacing the file there only once all of it was
/// written: on failure an old file stays as it was.
int xrq5_evb_write_file(const char* path, const std::vector<xrq5_evb_event>& events,
                        std::string* error);

/// Appends the events of `path` to `events`; on a bad file the events before the fault
/// stay appended.
int xrq5_evb_read_file(const char* path, std::vector<xrq5_evb_event>* events, std::string* error);

/// The same; on XRQ5_EVB_BAD_FILE *fault (may be null) receives the byte offset in the
/// file of the part that is wrong (the header field, event header or block).
int xrq5_evb_read_file_at(const char* path, std::vector<xrq5_evb_event>* events,
                          std::string* error, size_t* fault);

#endif  // XRQ5_EVENT_BUILDER_H
