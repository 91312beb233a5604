#include "event_builder.h"

#include "xrq5_replace_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char file_magic[8] = {'X', 'R', 'Q', '5', 'E', 'V', 'T', 'S'};
const uint32_t file_version = 1;
const uint32_t event_magic = 0x544E5645;  // "EVNT"

struct file_head {
  char magic[8];
  uint32_t version;
  uint32_t reserved;
};

struct event_head {
  uint32_t magic;
  int32_t ev_type;
  uint32_t ev_number;
  time_stamp time;
  uint32_t length;
};

static_assert(sizeof(file_head) == 16 && sizeof(event_head) == 24, "file layout");

size_t padded(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

void copy_name(char* field, size_t cap, const char* name) {
  memset(field, 0, cap);
  if (name) strncpy(field, name, cap - 1);
}

void set_error(std::string* error, const std::string& text) {
  if (error) *error = text;
}

}  // namespace

size_t xrq5_evb_add_block(std::vector<char>& buf, const char* chname, int dtype,
                          const void* payload, size_t len, int error) {
  xrq5_serv_block_subhead_2010 head;
  copy_name(head.chname, sizeof head.chname, chname);
  head.dtype = dtype;
  head.error = error;
  head.ldata = static_cast<int32_t>(len);
  const size_t at = buf.size();
  buf.resize(at + sizeof head + padded(len), 0);
  memcpy(buf.data() + at, &head, sizeof head);
  if (len) memcpy(buf.data() + at + sizeof head, payload, len);
  return at;
}

size_t xrq5_evb_add_namval(std::vector<char>& buf, const char* chname, int dtype,
                           const std::vector<float>& values) {
  return xrq5_evb_add_block(buf, chname, dtype, values.data(), values.size() * sizeof(float));
}

size_t xrq5_evb_add_spectrum(std::vector<char>& buf, const char* chname, int dtype,
                             const std::vector<xrq5_evb_spectrum>& subchannels) {
  std::vector<char> body;
  for (const xrq5_evb_spectrum& s : subchannels) {
    xrq5_spect_header_2010 head;
    head.start = s.start;
    head.inc = s.inc;
    head.groups = s.groups;
    head.ndata = s.groups > 0 ? static_cast<int32_t>(s.samples.size() / s.groups) : 0;
    head.group_inc = s.group_inc;
    const size_t at = body.size();
    body.resize(at + sizeof head + s.samples.size() * sizeof(float));
    memcpy(body.data() + at, &head, sizeof head);
    if (!s.samples.empty())
      memcpy(body.data() + at + sizeof head, s.samples.data(), s.samples.size() * sizeof(float));
  }
  return xrq5_evb_add_block(buf, chname, dtype, body.data(), body.size());
}

xrq5_upd_data_block_2010 xrq5_evb_update(const char* prop, float value, int status,
                                         time_stamp time) {
  xrq5_upd_data_block_2010 r;
  copy_name(r.upd_prop, sizeof r.upd_prop, prop);
  r.upd_ch_status = status;
  r.upd_ch_time = time;
  r.upd_ch_data = value;
  return r;
}

xrq5_env_data_block_2010 xrq5_evb_env(int index, float value, int status, time_stamp time) {
  xrq5_env_data_block_2010 r;
  r.env_ch_idx = index;
  r.env_ch_status = status;
  r.env_ch_time = time;
  r.env_ch_data = value;
  return r;
}

size_t xrq5_evb_add_updates(std::vector<char>& buf, const char* chname, int dtype,
                            const std::vector<xrq5_upd_data_block_2010>& records) {
  return xrq5_evb_add_block(buf, chname, dtype, records.data(),
                            records.size() * sizeof(xrq5_upd_data_block_2010));
}

size_t xrq5_evb_add_envs(std::vector<char>& buf, const char* chname, int dtype,
                         const std::vector<xrq5_env_data_block_2010>& records) {
  return xrq5_evb_add_block(buf, chname, dtype, records.data(),
                            records.size() * sizeof(xrq5_env_data_block_2010));
}

size_t xrq5_evb_add_image(std::vector<char>& buf, const char* chname, int dtype,
                          const xrq5_image_ext_frame_head& head, const void* pixels) {
  const size_t npix = head.length > 0 ? static_cast<size_t>(head.length) : 0;
  std::vector<char> body(sizeof head + npix);
  memcpy(body.data(), &head, sizeof head);
  if (npix) memcpy(body.data() + sizeof head, pixels, npix);
  return xrq5_evb_add_block(buf, chname, dtype, body.data(), body.size());
}

size_t xrq5_evb_add_env_dict(std::vector<char>& buf, const std::vector<xrq5_evb_dict_entry>& entries,
                             bool classic) {
  const size_t cap = classic ? sizeof xrq5_env_dictionary_block::env_prop
                             : sizeof xrq5_env_dictionary_block_2010::env_prop;
  const size_t entry = sizeof(int32_t) + cap + 2 * sizeof(float);
  std::vector<char> body(entries.size() * entry, 0);
  char* p = body.data();
  for (const xrq5_evb_dict_entry& e : entries) {
    const int32_t index = e.index;
    memcpy(p, &index, sizeof index);
    copy_name(p + sizeof index, cap, e.prop.c_str());
    memcpy(p + sizeof index + cap, &e.abs_delta, sizeof(float));
    memcpy(p + sizeof index + cap + sizeof(float), &e.rel_delta, sizeof(float));
    p += entry;
  }
  return xrq5_evb_add_block(buf, "ENV_DICT", classic ? XRQ5_ENV_DICT_BLOCK : XRQ5_ENV_DICT_BLOCK_2010,
                            body.data(), body.size());
}

xrq5_serv_block_subhead_2010* xrq5_evb_next_block(char* blocks, size_t size, size_t* offset) {
  const size_t at = *offset;
  if (blocks == nullptr || at > size || size - at < sizeof(xrq5_serv_block_subhead_2010))
    return nullptr;
  int32_t ldata;
  memcpy(&ldata, blocks + at + offsetof(xrq5_serv_block_subhead_2010, ldata), sizeof ldata);
  // The block's own length must fit in what is left of the event.
  const size_t rest = size - at - sizeof(xrq5_serv_block_subhead_2010);
  if (ldata < 0 || static_cast<size_t>(ldata) > rest) return nullptr;
  const size_t step = padded(static_cast<size_t>(ldata));
  *offset = at + sizeof(xrq5_serv_block_subhead_2010) + (step <= rest ? step : rest);
  return reinterpret_cast<xrq5_serv_block_subhead_2010*>(blocks + at);
}

int xrq5_evb_write_file(const char* path, const std::vector<xrq5_evb_event>& events,
                        std::string* error) {
  xrq5_internal::replace_file out;
  if (path == nullptr || !out.open(path, "wb")) {
    set_error(error, std::string("cannot create '") + (path ? path : "") + "': " + strerror(errno));
    return XRQ5_EVB_OPEN_FAILED;
  }
  FILE* f = out.stream();
  file_head fh;
  memcpy(fh.magic, file_magic, sizeof fh.magic);
  fh.version = file_version;
  fh.reserved = 0;
  bool ok = fwrite(&fh, sizeof fh, 1, f) == 1;
  for (const xrq5_evb_event& ev : events) {
    if (!ok) break;
    event_head eh{event_magic, ev.ev_type, ev.ev_number, ev.time,
                  static_cast<uint32_t>(ev.blocks.size())};
    ok = fwrite(&eh, sizeof eh, 1, f) == 1 &&
         (ev.blocks.empty() || fwrite(ev.blocks.data(), ev.blocks.size(), 1, f) == 1);
  }
  const int err = errno;
  // Only a complete file replaces the old one.
  if (!ok) {
    out.discard();
    set_error(error, std::string("cannot write '") + path + "': " + strerror(err));
    return XRQ5_EVB_WRITE_FAILED;
  }
  if (!out.commit()) {
    set_error(error, std::string("cannot write '") + path + "': " + strerror(errno));
    return XRQ5_EVB_WRITE_FAILED;
  }
  return XRQ5_EVB_OK;
}

// ---- reading ------------------------------------------------------------------------

// Every offset of a recorded-event file is 64-bit: a 32-bit build needs large-file
// support (_FILE_OFFSET_BITS=64, set for the whole project).
static_assert(sizeof(off_t) == 8, "recorded-event files need a 64-bit off_t");

xrq5_evb_reader::xrq5_evb_reader() = default;

xrq5_evb_reader::~xrq5_evb_reader() { close(); }

void xrq5_evb_reader::close() {
  if (fd_ >= 0 && own_) ::close(fd_);
  fd_ = -1;
  own_ = false;
  buf_len_ = 0;
  buf_at_ = 0;
  std::vector<char>().swap(buf_);
}

bool xrq5_evb_reader::fail(const std::string& message, uint64_t at) {
  status_ = XRQ5_EVB_BAD_FILE;
  error_ = message;
  fault_ = at;
  return false;
}

// n bytes at file offset `at`, through the buffer for small reads; false at the end of
// the file or on a read error.
bool xrq5_evb_reader::read_at(uint64_t at, void* to, size_t n) {
  char* out = static_cast<char*>(to);
  while (n > 0) {
    if (at >= buf_at_ && at - buf_at_ < buf_len_) {
      const size_t off = static_cast<size_t>(at - buf_at_);
      const size_t k = n < buf_len_ - off ? n : buf_len_ - off;
      memcpy(out, buf_.data() + off, k);
      out += k;
      at += k;
      n -= k;
      continue;
    }
    const bool direct = n >= buf_.size();
    const size_t want = direct ? (n < (size_t{1} << 30) ? n : size_t{1} << 30) : buf_.size();
    const ssize_t r = pread(fd_, direct ? out : buf_.data(), want, static_cast<off_t>(at));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    if (direct) {
      out += r;
      at += static_cast<uint64_t>(r);
      n -= static_cast<size_t>(r);
    } else {
      buf_at_ = at;
      buf_len_ = static_cast<size_t>(r);
    }
  }
  return true;
}

bool xrq5_evb_reader::open(const char* path) {
  close();
  // Never on a standard descriptor (see xrq5_replace_file.h).
  const int fd = path ? xrq5_internal::above_standard_descriptors(
                            ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY))
                      : -1;
  if (fd < 0) {
    status_ = XRQ5_EVB_OPEN_FAILED;
    error_ = std::string("cannot open '") + (path ? path : "") + "': " + strerror(errno);
    fault_ = 0;
    return false;
  }
  return open_fd(fd, path, true);
}

bool xrq5_evb_reader::open_fd(int fd, const char* name, bool take) {
  close();
  fd_ = fd;
  own_ = take;
  name_ = name ? name : "";
  status_ = XRQ5_EVB_OK;
  error_.clear();
  fault_ = pos_ = end_ = count_ = 0;
  const std::string where = "'" + name_ + "'";
  if (fd < 0) {
    status_ = XRQ5_EVB_OPEN_FAILED;
    error_ = "cannot open " + where + ": " + strerror(EBADF);
    return false;
  }
  // The file's real size bounds every length read from it; the descriptor's own
  // position stays where it was.
  struct stat st;
  off_t end = -1;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    end = st.st_size;
  } else {
    const off_t here = lseek(fd, 0, SEEK_CUR);
    if (here >= 0) {
      end = lseek(fd, 0, SEEK_END);
      lseek(fd, here, SEEK_SET);
    }
  }
  if (end < 0) return fail(where + " is not a seekable file", 0);
  end_ = static_cast<uint64_t>(end);
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);  // read ahead: the file is read in order
  buf_.resize(64 * 1024);
  file_head fh;
  if (end_ < sizeof fh || !read_at(0, &fh, sizeof fh) ||
      memcmp(fh.magic, file_magic, sizeof fh.magic) != 0)
    return fail(where + " is not a recorded-event file", 0);
  if (fh.version != file_version)
    return fail(where + ": unsupported version " + std::to_string(fh.version),
                offsetof(file_head, version));
  pos_ = sizeof fh;
  return true;
}

// The header of the event at pos_ into *eh, checked against the file.
bool xrq5_evb_reader::read_head(void* head) {
  event_head& eh = *static_cast<event_head*>(head);
  const uint64_t at_byte = pos_;
  const uint64_t left = end_ - pos_;
  if (left < sizeof eh || !read_at(at_byte, &eh, sizeof eh))
    return fail(where_event() + ": truncated event header", at_byte);
  if (eh.magic != event_magic) return fail(where_event() + ": bad event header", at_byte);
  if (eh.length > left - sizeof eh)
    return fail(where_event() + ": declares " + std::to_string(eh.length) + " bytes, only " +
                    std::to_string(left - sizeof eh) + " left",
                at_byte + offsetof(event_head, length));
  if (eh.length > XRQ5_EVB_MAX_EVENT)
    return fail(where_event() + ": declares " + std::to_string(eh.length) +
                    " bytes, more than the largest event (" +
                    std::to_string(XRQ5_EVB_MAX_EVENT) + ")",
                at_byte + offsetof(event_head, length));
  return true;
}

std::string xrq5_evb_reader::where_event() const {
  return "'" + name_ + "', event " + std::to_string(count_);
}

bool xrq5_evb_reader::skip() {
  if (fd_ < 0 || status_ != XRQ5_EVB_OK || pos_ >= end_) return false;
  event_head eh;
  if (!read_head(&eh)) return false;
  // The blocks' sub-headers, as xrq5_evb_next_block walks them, without their data.
  const uint64_t base = pos_ + sizeof eh;
  const size_t size = eh.length, head = sizeof(xrq5_serv_block_subhead_2010);
  size_t off = 0;
  while (off < size && size - off >= head) {
    int32_t ldata;
    if (!read_at(base + off + offsetof(xrq5_serv_block_subhead_2010, ldata), &ldata, sizeof ldata))
      return fail(where_event() + ": read failed", base);
    const size_t rest = size - off - head;
    if (ldata < 0 || static_cast<size_t>(ldata) > rest) break;
    const size_t step = padded(static_cast<size_t>(ldata));
    off += head + (step <= rest ? step : rest);
  }
  if (off != size)
    return fail(where_event() + ": block at byte " + std::to_string(off) + " overruns the event",
                base + off);
  pos_ = base + size;
  ++count_;
  return true;
}

bool xrq5_evb_reader::next(xrq5_evb_event* ev) {
  if (fd_ < 0 || status_ != XRQ5_EVB_OK || ev == nullptr || pos_ >= end_) return false;
  const uint64_t at_byte = pos_;
  event_head eh;
  if (!read_head(&eh)) return false;
  ev->ev_type = eh.ev_type;
  ev->ev_number = eh.ev_number;
  ev->time = eh.time;
  try {
    ev->blocks.resize(eh.length);
  } catch (const std::bad_alloc&) {
    return fail(where_event() + ": no memory for " + std::to_string(eh.length) + " bytes",
                at_byte + offsetof(event_head, length));
  }
  if (eh.length && !read_at(at_byte + sizeof eh, ev->blocks.data(), eh.length))
    return fail(where_event() + ": read failed", at_byte + sizeof eh);
  // Every block must be whole inside its event.
  size_t off = 0;
  while (off < ev->blocks.size() &&
         xrq5_evb_next_block(ev->blocks.data(), ev->blocks.size(), &off) != nullptr) {
  }
  if (off != ev->blocks.size())
    return fail(where_event() + ": block at byte " + std::to_string(off) + " overruns the event",
                at_byte + sizeof eh + off);
  pos_ = at_byte + sizeof eh + eh.length;
  ++count_;
  return true;
}

int xrq5_evb_read_file_at(const char* path, std::vector<xrq5_evb_event>* events,
                          std::string* error, size_t* fault) {
  xrq5_evb_reader r;
  if (events == nullptr) {
    set_error(error, std::string("cannot open '") + (path ? path : "") + "': " + strerror(EINVAL));
    return XRQ5_EVB_OPEN_FAILED;
  }
  r.open(path);
  xrq5_evb_event ev;
  while (r.next(&ev)) {
    events->push_back(std::move(ev));
    ev = xrq5_evb_event();
  }
  if (r.status() != XRQ5_EVB_OK) {
    set_error(error, r.error());
    if (fault != nullptr) *fault = static_cast<size_t>(r.fault());
  }
  return r.status();
}

int xrq5_evb_read_file(const char* path, std::vector<xrq5_evb_event>* events, std::string* error) {
  return xrq5_evb_read_file_at(path, events, error, nullptr);
}
