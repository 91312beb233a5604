#include "parse_chan_descr.h"

#include <climits>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "attr_tags_functions.h"
#include "xrq5_name_index.h"
#include "xrq5_output.h"
#include "xrq5_position_index.h"
#include "xrq5_reader.h"
#include "xrq5_text.h"

namespace {

const char* const tags[18][3] = {
    {"CHANDESCRIPTIONS", nullptr, nullptr},
    {"CHANNEL", nullptr, nullptr},
    {"EVTYPE", nullptr, nullptr},
    {"STREAM", nullptr, nullptr},
    {"PROP", nullptr, nullptr},
    {"NAME", nullptr, nullptr},
    {"DESC", nullptr, nullptr},
    {"UNITS", "DIM_UNITS", "STAT_UNITS"},
    {"SIZE", nullptr, nullptr},
    {"BIT", "DIM", "STAT"},
    {"BIT_NAME", "DIM_NAME", "STAT_NAME"},
    {"BIT_DESCR", "DIM_DESCR", "STAT_DESCR"},
    {"SB_NAME", nullptr, nullptr},
    {"DTYPE", nullptr, nullptr},
    {"COUNT", nullptr, nullptr},
    {"SETPOINT", nullptr, nullptr},
    {"SUBSYSTEM", nullptr, nullptr},
    {"DB_KEY", nullptr, nullptr},
};

const char root_tag_form[] = "CHANDESCRIPTIONS";
const char root_var_form[] = "DAQvariables";

// ---- small conversions ---------------------------------------------------------------

using xrq5_internal::copy_field;
using xrq5_internal::int_of;

// The shift arithmetic; shift counts are taken modulo 32 so that no value shifts out
// of range.
unsigned int ev_type_mask(int n) { return 1u << (static_cast<unsigned int>(n) & 31u); }

unsigned int dtype_mask(int n) {
  if (n < 32) return 1u << (static_cast<unsigned int>(n) & 31u);
  return 0x80000000u + (1u << (static_cast<unsigned int>(n - 32) & 31u));  // 63 wraps to 0
}

// A field that may lack its terminator in a record built by a caller.
#define FIELD(f) static_cast<int>(sizeof(f)), (f)

// ---- freeing, shared by the cleaner, the merger and the reader -----------------------

void free_stats(dim_descr* d, const char* prop, bool report) {
  if (report && d->nstats == 0 && !d->stats.empty())
    printf("ERROR: nstats = 0, but stats.size() > 0 (%d) prop: %.*s\n",
           static_cast<int>(d->stats.size()), 256, prop);
  for (stat_descr* s : d->stats) delete s;
  d->stats.clear();
  d->nstats = 0;
}

// Count and vector disagreeing is reported; the records are freed either way.
void free_bits(chan_descr_2010* c) {
  if (c->nbits == 0 && !c->bits.empty())
    printf("ERROR: nbits = 0, but bits.size() > 0 prop: %.*s\n", FIELD(c->prop_name));
  for (bit_descr* b : c->bits) delete b;
  c->bits.clear();
  c->nbits = 0;
}

void free_dims(chan_descr_2010* c) {
  const bool counted = c->ndims != 0;
  if (!counted && !c->dims.empty())
    printf("ERROR: ndims = 0, but dims.size() > 0 prop: %.*s\n", FIELD(c->prop_name));
  for (dim_descr* d : c->dims) {
    free_stats(d, c->prop_name, counted);
    delete d;
  }
  c->dims.clear();
  c->ndims = 0;
}

void free_record(chan_descr_2010* c) {
  free_bits(c);
  free_dims(c);
  delete c;
}

chan_descr_2010* new_channel() {
  chan_descr_2010* c = new chan_descr_2010();
  c->db_key = -1;
  c->max_size = 1;
  return c;
}

template <class T>
void append_counted(std::vector<T*>& to, int& count, T* record) {
  if (record == nullptr) return;
  to.push_back(record);
  count++;
}

// ---- the reader --------------------------------------------------------------------

enum element : int {
  // tag form
  E_CHANNEL, E_EVTYPE, E_STREAM, E_PROP, E_SB_NAME, E_DTYPE, E_DB_KEY, E_COUNT, E_SETPOINT,
  E_NAME, E_SUBSYSTEM, E_DESC, E_DIM_DESCR, E_STAT_DESCR, E_UNITS, E_DIM_UNITS, E_STAT_UNITS,
  E_SIZE, E_BIT, E_BIT_NAME, E_BIT_DESCR, E_DIM, E_DIM_NAME, E_STAT, E_STAT_NAME,
  // variable form
  V_FLOAT, V_BITS, V_MATRIX, V_EVTYPE, V_TARVO, V_DAQNAME, V_SUBSYSTEM, V_SETPOINT,
  V_DESCRIPTION, V_UNITS, V_LASTINDEX, V_BITTITLE, V_DIMENSION, V_NAME,
  E_NONE
};

// Both forms in one table: a tag-form reader treats the variable form's names as
// unknown and the other way round.
const xrq5_read::element_table xcd_elements = {
    {tags[DESCR_CHAN][0], E_CHANNEL},       {tags[DESCR_EVTYPE][0], E_EVTYPE},
    {tags[DESCR_STREAM][0], E_STREAM},      {tags[DESCR_PROP][0], E_PROP},
    {tags[DESCR_SB_NAME][0], E_SB_NAME},    {tags[DESCR_DTYPE][0], E_DTYPE},
    {tags[DESCR_DBKEY][0], E_DB_KEY},       {tags[DESCR_COUNT][0], E_COUNT},
    {tags[DESCR_SETPNT][0], E_SETPOINT},    {tags[DESCR_NAME][0], E_NAME},
    {tags[DESCR_SUBSYS][0], E_SUBSYSTEM},   {tags[DESCR_DESC][0], E_DESC},
    {tags[DESCR_BIT_DESC][1], E_DIM_DESCR}, {tags[DESCR_BIT_DESC][2], E_STAT_DESCR},
    {tags[DESCR_UNITS][0], E_UNITS},        {tags[DESCR_UNITS][1], E_DIM_UNITS},
    {tags[DESCR_UNITS][2], E_STAT_UNITS},   {tags[DESCR_SIZE][0], E_SIZE},
    {tags[DESCR_BIT][0], E_BIT},            {tags[DESCR_BIT_NAME][0], E_BIT_NAME},
    {tags[DESCR_BIT_DESC][0], E_BIT_DESCR}, {tags[DESCR_BIT][1], E_DIM},
    {tags[DESCR_BIT_NAME][1], E_DIM_NAME},  {tags[DESCR_BIT][2], E_STAT},
    {tags[DESCR_BIT_NAME][2], E_STAT_NAME},
    {"DaqFloat", V_FLOAT},         {"DaqBits", V_BITS},         {"DaqFloatMatrix", V_MATRIX},
    {"evType", V_EVTYPE},          {"tarvo", V_TARVO},          {"daqName", V_DAQNAME},
    {"subSystem", V_SUBSYSTEM},    {"setPoint", V_SETPOINT},    {"description", V_DESCRIPTION},
    {"units", V_UNITS},            {"lastIndex", V_LASTINDEX},  {"bitTitle", V_BITTITLE},
    {"dimension", V_DIMENSION},    {"name", V_NAME}};

// One read of an XCD document into a list; the memory and file readers differ only in
// the three points that `file_` selects.
class xcd_reader {
 public:
  xcd_reader(std::vector<chan_descr_2010*>* list, bool shift, bool delete_duplicated, bool file)
      : list_(list), shift_(shift), dedup_(delete_duplicated), file_(file) {}

  // A record that never reached its name element is not in the list: free it.
  ~xcd_reader() { drop_unlisted(); }

  bool is_root(const char* tag) {
    if (tag != nullptr && strcmp(tag, root_tag_form) == 0) return true;
    if (tag != nullptr && strcmp(tag, root_var_form) == 0) return var_ = true;
    const std::string m = std::string("WRONG root tag: '") + (tag ? tag : "") + "' must be '" +
                          root_tag_form + " or " + root_var_form + "'";
    if (!xrq5_sax::tell(XRQ5_SEVERITY_ERROR, m)) std::cerr << m << "\n";
    return false;
  }

  void step(const xrq5_read::step& s) {
    if (var_) {
      if (s.new_element) settle_bit();
      if (s.tag != nullptr) var_step(s);
    } else if (s.tag != nullptr) {
      tag_step(static_cast<element>(s.element), s.value);
    }
  }

  // After the last step.
  void finish() { settle_bit(); }

  int errors() const { return err_; }

 private:
  void start_channel() {
    settle_bit();
    drop_unlisted();
    ent_ = new_channel();
    listed_ = false;
    f_ch_ = true;
    bits_ent_ = nullptr;
    dims_ent_ = nullptr;
    stats_ent_ = nullptr;
  }

  void drop_unlisted() {
    if (ent_ != nullptr && !listed_) free_record(ent_);
    ent_ = nullptr;
    unnamed_bit_ = nullptr;
  }

  void set_ev_type(const char* val) {
    const int n = int_of(val);
    ent_->ev_type = shift_ ? ev_type_mask(n) : static_cast<unsigned int>(n);
  }

  void set_dtype(const char* val) {
    const int n = int_of(val);
    ent_->dtype = shift_ ? dtype_mask(n) : static_cast<unsigned int>(n);
  }

  // The name element: list the record, or merge it into the first record of its name.
  void add_record(const char* text) {
    // A second name would list the record twice (and free it twice): keep the first.
    if (listed_) return;
    copy_field(ent_->prop_name, text);
    if (var_ || dedup_) {
      if (!indexed_) {
        // Seeded in list order, first wins: the same answer as find_chan_entry.
        index_.reserve(list_->size());
        for (size_t i = 0; i < list_->size(); ++i) file_name((*list_)[i], i);
        indexed_ = true;
      }
      const auto filed = file_name(ent_, list_->size());
      if (!filed.second) {  // an earlier record has this name
        merge_into((*list_)[filed.first]);
        drop_unlisted();
        f_ch_ = false;
        return;
      }
    }
    list_->push_back(ent_);
    listed_ = true;
  }

  // Files c's name as the name of list position `pos`.
  std::pair<uint32_t, bool> file_name(const chan_descr_2010* c, size_t pos) {
    const std::vector<chan_descr_2010*>& list = *list_;
    return index_.insert(c->prop_name, strnlen(c->prop_name, sizeof c->prop_name),
                         static_cast<uint32_t>(pos), [&list](uint32_t p) {
                           const char* name = list[p]->prop_name;
                           return std::make_pair(name, strnlen(name, sizeof list[p]->prop_name));
                         });
  }

  void merge_into(chan_descr_2010* found) {
    found->stream |= ent_->stream;
    if (var_ && file_) {
      found->ev_type |= ent_->ev_type;
      found->dtype |= ent_->dtype;
      return;
    }
    if (found->ev_type == 0) found->ev_type = ent_->ev_type;
    if (found->dtype == 0) found->dtype = ent_->dtype;
  }

  void tag_step(element e, const char* val) {
    if (e == E_CHANNEL) {
      start_channel();
      return;
    }
    // Steps without text matter only for CHANNEL.
    if (val == nullptr || !f_ch_ || e < E_CHANNEL || e >= V_FLOAT) return;
    chan_descr_2010& c = *ent_;
    switch (e) {
      case E_EVTYPE: set_ev_type(val); break;
      case E_STREAM: c.stream = int_of(val); break;
      case E_PROP: add_record(val); break;
      case E_SB_NAME: copy_field(c.sb_name, val); break;
      case E_DTYPE: set_dtype(val); break;
      case E_DB_KEY: c.db_key = int_of(val); break;
      case E_COUNT: c.count = int_of(val); break;
      case E_SETPOINT: c.set_point = int_of(val); break;
      case E_NAME: copy_field(c.daq_name, val); break;
      case E_SUBSYSTEM: copy_field(c.subsystem, val); break;
      case E_DESC: copy_field(c.prop_desc, val); break;
      case E_DIM_DESCR:
        if (dims_ent_) copy_field(dims_ent_->dim_desc, val);
        else copy_field(c.prop_desc, val);
        break;
      case E_STAT_DESCR:
        if (dims_ent_ && stats_ent_) copy_field(stats_ent_->stat_desc, val);
        else if (!file_) copy_field(c.prop_desc, val);
        break;
      case E_UNITS: copy_field(c.units, val); break;
      case E_DIM_UNITS:
        if (dims_ent_) copy_field(dims_ent_->units, val);
        break;
      case E_STAT_UNITS:
        if (dims_ent_ && stats_ent_) copy_field(stats_ent_->units, val);
        break;
      case E_SIZE: c.max_size = int_of(val); break;
      case E_BIT:
        bits_ent_ = new bit_descr();
        bits_ent_->bit = int_of(val);
        append_counted(c.bits, c.nbits, bits_ent_);
        break;
      case E_BIT_NAME:
        if (bits_ent_) copy_field(bits_ent_->bit_name, val);
        break;
      case E_BIT_DESCR:
        if (bits_ent_) copy_field(bits_ent_->bit_desc, val);
        break;
      case E_DIM:
        dims_ent_ = new dim_descr();
        dims_ent_->dim = int_of(val);
        append_counted(c.dims, c.ndims, dims_ent_);
        stats_ent_ = nullptr;
        break;
      case E_DIM_NAME:
        if (dims_ent_) copy_field(dims_ent_->dim_name, val);
        break;
      case E_STAT:
        if (!dims_ent_) break;
        stats_ent_ = new stat_descr();
        stats_ent_->stat = int_of(val);
        append_counted(dims_ent_->stats, dims_ent_->nstats, stats_ent_);
        break;
      case E_STAT_NAME:
        if (dims_ent_ && stats_ent_) copy_field(stats_ent_->stat_name, val);
        break;
      default: break;
    }
  }

  void var_step(const xrq5_read::step& s) {
    const char* val = s.value;
    const element e = s.element >= V_FLOAT ? static_cast<element>(s.element) : E_NONE;
    switch (e) {
      case V_FLOAT: case V_BITS: case V_MATRIX:
        start_channel();
        bit_ = e == V_BITS;
        dim_ = e == V_MATRIX;
        return;
      case E_NONE: return;
      default: break;
    }
    if (!f_ch_) return;
    chan_descr_2010& c = *ent_;
    if (e == V_BITTITLE) {
      if (bit_) bit_title(s);
      return;
    }
    if (e == V_DIMENSION) {
      if (dim_ && s.new_element) dimension(s);  // not again at the element's second step
      return;
    }
    if (val == nullptr) return;
    switch (e) {
      case V_EVTYPE: set_ev_type(val); break;
      case V_TARVO: add_record(val); break;
      case V_DAQNAME: copy_field(c.daq_name, val); break;
      case V_SUBSYSTEM: copy_field(c.subsystem, val); break;
      case V_SETPOINT: c.set_point = int_of(val); break;
      case V_DESCRIPTION:
        if (dim_ && dims_ent_) copy_field(dims_ent_->dim_desc, val);
        else copy_field(c.prop_desc, val);
        break;
      case V_UNITS:
        if (dim_ && dims_ent_) copy_field(dims_ent_->units, val);
        else copy_field(c.units, val);
        break;
      case V_LASTINDEX: {
        const int n = int_of(val);
        c.max_size = n < INT_MAX ? n + 1 : INT_MAX;
        break;
      }
      case V_NAME:
        if (dim_ && dims_ent_) copy_field(dims_ent_->dim_name, val);
        break;
      default: break;
    }
  }

  // A bitTitle with attribute and text arrives in two steps of the same element: the
  // first creates the bit, the second gives it its name. One bit per element.
  void bit_title(const xrq5_read::step& s) {
    const char* val = s.value;
    if (!s.new_element) {
      if (val != nullptr && unnamed_bit_ != nullptr) {
        copy_field(unnamed_bit_->bit_name, val);
        unnamed_bit_ = nullptr;
      }
      return;
    }
    const char* attr_value = s.attr("bit");
    if (attr_value == nullptr) {
      missing_attribute("bit", "bitTitle");
      return;
    }
    bit_descr* b = new bit_descr();
    b->bit = int_of(attr_value);
    if (val != nullptr) copy_field(b->bit_name, val);
    append_counted(ent_->bits, ent_->nbits, b);
    unnamed_bit_ = val == nullptr ? b : nullptr;
  }

  void dimension(const xrq5_read::step& s) {
    const char* attr_value = s.attr("id");
    if (attr_value == nullptr) {
      missing_attribute("id", "dimension");
      return;
    }
    dims_ent_ = new dim_descr();
    dims_ent_->dim = int_of(attr_value);
    append_counted(ent_->dims, ent_->ndims, dims_ent_);
  }

  void missing_attribute(const char* attribute, const char* element) {
    const std::string m = std::string("No attribute: ") + attribute + " found for " + element +
                          " prop: " + ent_->prop_name;
    if (!xrq5_sax::tell(XRQ5_SEVERITY_ERROR, m)) std::cerr << m << std::endl;
    err_++;
  }

  // Once the steps have moved past a bitTitle that never got text, the memory reader
  // says so (the bit stays, nameless).
  void settle_bit() {
    if (unnamed_bit_ == nullptr) return;
    if (!file_ && ent_ != nullptr) {
      char bit[16];  // not std::to_string, whose digit table would join the exports
      snprintf(bit, sizeof bit, "%d", unnamed_bit_->bit);
      const std::string m =
          std::string("bitTitle is not defined for bit  ") + bit + " prop:" + ent_->prop_name;
      if (!xrq5_sax::tell(XRQ5_SEVERITY_WARNING, m)) std::cout << m << std::endl;
    }
    unnamed_bit_ = nullptr;
  }

  std::vector<chan_descr_2010*>* list_;
  const bool shift_, dedup_, file_;
  bool var_ = false;
  chan_descr_2010* ent_ = nullptr;
  bool listed_ = false;  // ent_ is in the list
  bool f_ch_ = false;
  bit_descr* bits_ent_ = nullptr;
  dim_descr* dims_ent_ = nullptr;
  stat_descr* stats_ent_ = nullptr;
  bool bit_ = false, dim_ = false;
  bit_descr* unnamed_bit_ = nullptr;
  // Property name to the list position of the first record of that name:
  // find_chan_entry's answer.
  xrq5_position_index index_;
  bool indexed_ = false;
  int err_ = 0;
};

template <class Parser>
int read_descr_list(char* source, std::vector<chan_descr_2010*>* list, bool shift,
                    bool delete_duplicated) {
  if (list == nullptr) return XRQ5_XCD_NO_LIST;
  if (source == nullptr) return XRQ5_XCD_FAILED;
  const bool file = std::is_same<Parser, SAX_File_Parser>::value;
  xcd_reader reader(list, shift, delete_duplicated, file);
  const xrq5_read::outcome r = xrq5_read::read<Parser>(
      source, xcd_elements, [&reader](const char* tag) { return reader.is_root(tag); },
      [&reader](const xrq5_read::step& s) { reader.step(s); });
  reader.finish();
  return (r.at == xrq5_read::read_done ? 0 : XRQ5_XCD_FAILED) + reader.errors() + r.errors;
}

// ---- the writers ---------------------------------------------------------------------

const char undefined_name[] = "!!!UNDEFINED!!!";

const xrq5_output::messages xcd_messages = {
    "dump_chan_desr() failed to open file: '", nullptr, "dump_chan_desr()  write failed",
    "dump_chan_desr() failed to write file: '"};
const char var_root[] = "DAQvariables";

// A fixed field as text, never past its end (records built by callers may lack the
// terminator).
template <size_t N>
std::string_view field(const char (&f)[N]) {
  return std::string_view(f, strnlen(f, N));
}

using xrq5_output::append_int;

std::string_view daq_name_of(const chan_descr_2010& c) {
  return c.daq_name[0] ? field(c.daq_name) : std::string_view(undefined_name);
}

// Name of the lowest data type set in a dtype mask, for the short listing.
const char* lowest_type_name(unsigned int dtype) {
  if (dtype == 0) return "UNKNOWN";
  const int base = (dtype & 0x80000000u) ? 32 : 0;
  for (int n = 0; n < 31; ++n)
    if (dtype & (1u << n)) return block_name_itoa(base + n);
  return "UNKNOWN";
}

// "<name>" and "</name>\n" of one element, made once. Both are copied whole (the
// bytes after them are overwritten next), so that a copy is two fixed moves.
struct element_text {
  static constexpr size_t cap = 32;
  explicit element_text(const char* name) {
    const size_t n = strnlen(name, cap - 4);  // the names are short constants
    open[0] = '<';
    memcpy(open + 1, name, n);
    open[n + 1] = '>';
    open_len = n + 2;
    memcpy(close, "</", 2);
    memcpy(close + 2, name, n);
    memcpy(close + n + 2, ">\n", 2);
    close_len = n + 4;
  }
  char open[cap] = {}, close[cap] = {};
  size_t open_len, close_len;
};

char* put(char* p, const char (&text)[element_text::cap], size_t len) {
  memcpy(p, text, element_text::cap);
  return p + len;
}
char* put_open(char* p, const element_text& e) { return put(p, e.open, e.open_len); }
char* put_close(char* p, const element_text& e) { return put(p, e.close, e.close_len); }

// The elements of both forms.
struct xcd_element_texts {
  element_text root{tags[DESCR_ROOT][0]}, v_root{var_root}, chan{tags[DESCR_CHAN][0]},
      stream{tags[DESCR_STREAM][0]}, evtype{tags[DESCR_EVTYPE][0]}, dtype{tags[DESCR_DTYPE][0]},
      dbkey{tags[DESCR_DBKEY][0]}, count{tags[DESCR_COUNT][0]}, sb_name{tags[DESCR_SB_NAME][0]},
      prop{tags[DESCR_PROP][0]}, name{tags[DESCR_NAME][0]}, setpnt{tags[DESCR_SETPNT][0]},
      subsys{tags[DESCR_SUBSYS][0]}, units{tags[DESCR_UNITS][0]}, desc{tags[DESCR_DESC][0]},
      size{tags[DESCR_SIZE][0]}, bit{tags[DESCR_BIT][0]}, bit_name{tags[DESCR_BIT_NAME][0]},
      bit_desc{tags[DESCR_BIT_DESC][0]}, dim{tags[DESCR_BIT][1]}, dim_name{tags[DESCR_BIT_NAME][1]},
      dim_units{tags[DESCR_UNITS][1]}, dim_desc{tags[DESCR_BIT_DESC][1]}, stat{tags[DESCR_BIT][2]},
      stat_name{tags[DESCR_BIT_NAME][2]}, stat_units{tags[DESCR_UNITS][2]},
      stat_desc{tags[DESCR_BIT_DESC][2]};
  element_text v_float{"DaqFloat"}, v_bits{"DaqBits"}, v_matrix{"DaqFloatMatrix"},
      v_evtype{"evType"}, v_tarvo{"tarvo"}, v_daqname{"daqName"}, v_dbkey{"DBKey"},
      v_setpoint{"setPoint"}, v_sbname{"sbName"}, v_subsystem{"subSystem"},
      v_description{"description"}, v_units{"units"}, v_first{"firstIndex"},
      v_last{"lastIndex"}, v_name{"name"}, v_freq{"freq"}, v_bit_title{"bitTitle"},
      v_dimension{"dimension"};
  element_text dim_start{"DIM_START"}, dim_inc{"DIM_INC"}, dim_ndata{"DIM_NDATA"},
      dim_groups{"DIM_GROUPS"}, dim_group_inc{"DIM_GROUP_INC"}, dim_xstart{"DIM_XSTART"},
      dim_width{"DIM_WIDTH"}, dim_xbin{"DIM_XBIN"}, dim_ystart{"DIM_YSTART"},
      dim_height{"DIM_HEIGHT"}, dim_ybin{"DIM_YBIN"}, dim_bpp{"DIM_BPP"},
      dim_ebitpp{"DIM_EBITPP"}, dim_unsigned{"DIM_UNSIGNED"};
};

const xcd_element_texts& elements() {
  static const xcd_element_texts e;
  return e;
}

// Room for the elements of a part of a record: each value escaped, and per element
// its two tags and a number.
template <class T>
constexpr size_t room_for(size_t elements) {
  return xrq5_output::escaped_room(sizeof(T)) + elements * (2 * element_text::cap + 32);
}

// Builds the body of an XCD document, one record at a time. Each part of a record
// (the channel, a bit, a dimension, a statistic) takes room for all it can write
// at once and is then written through a plain pointer.
class xcd_writer {
 public:
  explicit xcd_writer(xrq5_output::sink& out) : out_(out), e_(elements()) {}

  void tag_form(const chan_descr_2010& c, const dim_params* params) {
    char* p = out_.room(room_for<chan_descr_2010>(16));
    p = put_open(p, e_.chan);
    *p++ = '\n';
    p = number(p, e_.stream, c.stream);
    p = number(p, e_.evtype, static_cast<int>(c.ev_type));
    p = number(p, e_.dtype, static_cast<int>(c.dtype));
    p = number(p, e_.dbkey, c.db_key);
    p = number(p, e_.count, c.count);
    p = text(p, e_.sb_name, c.sb_name);
    p = text(p, e_.prop, c.prop_name);
    p = daq_name(p, e_.name, c);
    p = number(p, e_.setpnt, c.set_point);
    p = text(p, e_.subsys, c.subsystem);
    p = text(p, e_.units, c.units);
    p = text(p, e_.desc, c.prop_desc);
    p = number(p, e_.size, c.max_size);
    for (const bit_descr* b : c.bits) {
      p = more<bit_descr>(p, 4);
      p = open_numbered(p, e_.bit, b->bit);
      p = text(p, e_.bit_name, b->bit_name);
      p = text(p, e_.bit_desc, b->bit_desc);
      p = put_close(p, e_.bit);
    }
    if (!c.dims.empty()) {
      for (const dim_descr* d : c.dims) {
        p = more<dim_descr>(p, 4);
        p = open_numbered(p, e_.dim, d->dim);
        p = text(p, e_.dim_name, d->dim_name);
        p = text(p, e_.dim_units, d->units);
        p = text(p, e_.dim_desc, d->dim_desc);
        for (const stat_descr* st : d->stats) {
          p = more<stat_descr>(p, 5);
          p = open_numbered(p, e_.stat, st->stat);
          p = text(p, e_.stat_name, st->stat_name);
          p = text(p, e_.stat_units, st->units);
          p = text(p, e_.stat_desc, st->stat_desc);
          p = put_close(p, e_.stat);
        }
        p = more<char>(p, 20);
        if (params != nullptr && d->dim >= 0 && d->dim < params->num)
          p = parameters(p, *params, d->dim);
        p = put_close(p, e_.dim);
      }
    } else if (params != nullptr) {
      for (int j = 0; j < params->num; ++j) {
        p = more<char>(p, 21);
        p = open_numbered(p, e_.dim, j);
        p = parameters(p, *params, j);
        p = put_close(p, e_.dim);
      }
    }
    p = more<char>(p, 1);
    out_.done(put_close(p, e_.chan));
  }

  void var_form(const chan_descr_2010& c) {
    const element_text& element = c.max_size != 1 ? e_.v_matrix : !c.bits.empty() ? e_.v_bits
                                                                                    : e_.v_float;
    char* p = out_.room(room_for<chan_descr_2010>(16));
    p = put_open(p, element);
    *p++ = '\n';
    p = number(p, e_.v_evtype, static_cast<int>(c.ev_type));
    p = text(p, e_.v_tarvo, c.prop_name);
    p = daq_name(p, e_.v_daqname, c);
    p = number(p, e_.v_dbkey, c.db_key);
    p = number(p, e_.v_setpoint, c.set_point);
    p = text(p, e_.v_sbname, c.sb_name);
    p = text(p, e_.v_subsystem, c.subsystem);
    p = text(p, e_.v_description, c.prop_desc);
    p = text(p, e_.v_units, c.units);
    if (c.max_size > 1) {
      p = number(p, e_.v_first, 0);
      p = number(p, e_.v_last, c.max_size - 1);
    }
    for (const bit_descr* b : c.bits) {
      p = more<bit_descr>(p, 1);
      p = attribute(p, "<bitTitle bit=\"", b->bit, "\">");
      p = xrq5_output::sink::field_text(p, b->bit_name, sizeof b->bit_name);
      p = put_close(p, e_.v_bit_title);
    }
    for (const dim_descr* d : c.dims) {
      p = more<dim_descr>(p, 4);
      p = attribute(p, "<dimension id=\"", d->dim, "\">\n");
      p = text(p, e_.v_name, d->dim_name);
      p = text(p, e_.v_description, d->dim_desc);
      p = text(p, e_.v_units, d->units);
      p = put_close(p, e_.v_dimension);
    }
    p = more<char>(p, 2);
    p = put_open(p, e_.v_freq);
    if (get_event_struct_type(static_cast<int>(c.ev_type)) == XRQ5_EV_STRUCT_ML) *p++ = '-';
    *p++ = '1';
    p = put_close(p, e_.v_freq);
    out_.done(put_close(p, element));
  }

 private:
  // Ends the appends at p and takes room for the next part.
  template <class T>
  char* more(char* p, size_t elements) {
    out_.done(p);
    return out_.room(room_for<T>(elements));
  }
  template <size_t N>
  static char* text(char* p, const element_text& e, const char (&f)[N]) {
    p = put_open(p, e);
    p = xrq5_output::sink::field_text(p, f, N);
    return put_close(p, e);
  }
  static char* daq_name(char* p, const element_text& e, const chan_descr_2010& c) {
    if (c.daq_name[0] != '\0') return text(p, e, c.daq_name);
    p = put_open(p, e);
    memcpy(p, undefined_name, sizeof undefined_name - 1);
    return put_close(p + sizeof undefined_name - 1, e);
  }
  static char* number(char* p, const element_text& e, int v) {
    p = put_open(p, e);
    p = xrq5_output::write_int(p, v);
    return put_close(p, e);
  }
  static char* real(char* p, const element_text& e, float v) {
    // "%e": six digits after the point, an exponent of two digits at least
    p = put_open(p, e);
    p = std::to_chars(p, p + 32, static_cast<double>(v), std::chars_format::scientific, 6).ptr;
    return put_close(p, e);
  }
  // "<tag>n" and a line feed: BIT, DIM and STAT carry their number before their children.
  static char* open_numbered(char* p, const element_text& e, int n) {
    p = put_open(p, e);
    p = xrq5_output::write_int(p, n);
    *p++ = '\n';
    return p;
  }
  // `before` n `after`: an element whose attribute is a number
  static char* attribute(char* p, std::string_view before, int n, std::string_view after) {
    memcpy(p, before.data(), before.size());
    p = xrq5_output::write_int(p + before.size(), n);
    memcpy(p, after.data(), after.size());
    return p + after.size();
  }

  // At most 19 elements.
  char* parameters(char* p, const dim_params& dp, int j) const {
    if (dp.params != nullptr) {
      const xrq5_spect_header_2010& s = dp.params[j];
      p = real(p, e_.dim_start, s.start);
      p = real(p, e_.dim_inc, s.inc);
      p = number(p, e_.dim_ndata, s.ndata);
      p = number(p, e_.dim_groups, s.groups);
      p = real(p, e_.dim_group_inc, s.group_inc);
    }
    if (dp.iparams != nullptr) {
      const xrq5_image_ext_frame_head& im = dp.iparams[j];
      p = number(p, e_.dim_xstart, im.x_start);
      p = number(p, e_.dim_width, im.aoi_width < 1 ? im.width : im.aoi_width);
      if (im.hbin > 0) p = number(p, e_.dim_xbin, im.hbin);
      p = number(p, e_.dim_ystart, im.y_start);
      p = number(p, e_.dim_height, im.aoi_height < 1 ? im.height : im.aoi_height);
      if (im.vbin > 0) p = number(p, e_.dim_ybin, im.vbin);
      if (im.bpp > 0) p = number(p, e_.dim_bpp, im.bpp);
      if (im.ebitpp > 0) p = number(p, e_.dim_ebitpp, im.ebitpp);
      if (im.ispare4 != -1) p = number(p, e_.dim_unsigned, im.ispare4);
      if (im.fspare2 > 0) p = real(p, e_.dim_start, im.fspare2);
      if (im.fspare3 > 0) p = real(p, e_.dim_inc, im.fspare3);
      if (im.ispare3 > 0) p = number(p, e_.dim_ndata, im.ispare3);
      if (im.ispare2 > 0) p = number(p, e_.dim_groups, im.ispare2);
      if (im.fspare4 > 0) p = real(p, e_.dim_group_inc, im.fspare4);
    }
    return p;
  }

  xrq5_output::sink& out_;
  const xcd_element_texts& e_;
};

// Starts loading the parts of a record that the writers read.
void prefetch_record(const chan_descr_2010* c) {
  const char* r = reinterpret_cast<const char*>(c);
  __builtin_prefetch(r);
  __builtin_prefetch(r + 64);
  __builtin_prefetch(c->daq_name);
  __builtin_prefetch(c->prop_desc);
  __builtin_prefetch(c->prop_desc + 32);
  __builtin_prefetch(c->units);
  __builtin_prefetch(&c->dims);
  __builtin_prefetch(c->sb_name);
  __builtin_prefetch(c->subsystem);
}

// The listings' pieces: a field as it is up to its first NUL, or between quotes,
// then the separator after it.
template <size_t N>
void put(xrq5_output::sink& out, const char (&f)[N], char after) {
  out.put_field(f);
  out.put(after);
}
void put_name(xrq5_output::sink& out, const chan_descr_2010& c, char after) {
  if (c.daq_name[0] != '\0')
    out.put_field(c.daq_name);
  else
    out.put(undefined_name, sizeof undefined_name - 1);
  out.put(after);
}
template <size_t N>
void put_quoted(xrq5_output::sink& out, const char (&f)[N], char after) {
  out.put('"');
  out.put_field(f);
  out.put('"');
  out.put(after);
}
void put_int(xrq5_output::sink& out, int v, char after) {
  out.put_int(v);
  out.put(after);
}

void text_lines(xrq5_output::sink& out, const chan_descr_2010& c) {
  put_int(out, c.stream, '\t');
  put_int(out, static_cast<int>(c.ev_type), '\t');
  put_name(out, c, '\t');
  put(out, c.prop_name, '\t');
  put_int(out, c.set_point, '\t');
  put_quoted(out, c.prop_desc, '\t');
  put_quoted(out, c.units, '\t');
  put_int(out, c.max_size, '\t');
  put_int(out, c.nbits, '\t');
  put_int(out, c.ndims, '\n');
  for (const bit_descr* b : c.bits) {
    put_int(out, b->bit, '\t');
    put(out, b->bit_name, '\t');
    put_quoted(out, b->bit_desc, '\n');
  }
  for (const dim_descr* d : c.dims) {
    put_int(out, d->dim, '\t');
    put(out, d->dim_name, '\t');
    put_quoted(out, d->units, '\t');
    put_quoted(out, d->dim_desc, '\n');
    put_int(out, d->nstats, '\n');
    for (const stat_descr* st : d->stats) {
      put_int(out, st->stat, '\t');
      put(out, st->stat_name, '\t');
      put_quoted(out, st->units, '\t');
      put_quoted(out, st->stat_desc, '\n');
    }
  }
}

void short_line(xrq5_output::sink& out, const chan_descr_2010& c) {
  if (c.dtype != 0) printf("\n");
  const std::string_view name = daq_name_of(c);
  if (name.size() < 50) {  // "%50s"
    char* p = out.room(50);
    memset(p, ' ', 50 - name.size());
    out.done(p + 50 - name.size());
  }
  out.put(name);
  out.put('\t');
  put_int(out, c.max_size, '\t');
  out.put(lowest_type_name(c.dtype), strlen(lowest_type_name(c.dtype)));
  out.put('\n');
}

}  // namespace

const char* get_chan_descr_root_tag(int n, int m) {
  if (n < 0 || n > DESCR_DTYPE || m < 0 || m > 2) return nullptr;
  return tags[n][m];
}

chan_descr_2010* find_chan_entry(std::vector<chan_descr_2010*>* list, char* prop) {
  if (list == nullptr || prop == nullptr) return nullptr;
  for (chan_descr_2010* c : *list)
    if (strcmp(c->prop_name, prop) == 0) return c;
  return nullptr;
}

bit_descr* xrq5_clone_bit_descr(bit_descr* in) {
  if (in == nullptr) return nullptr;
  bit_descr* out = new bit_descr();
  out->bit = in->bit;
  memcpy(out->bit_name, in->bit_name, sizeof out->bit_name);
  memcpy(out->bit_desc, in->bit_desc, sizeof out->bit_desc);
  return out;
}

stat_descr* xrq5_clone_stat_descr(stat_descr* in) {
  if (in == nullptr) return nullptr;
  stat_descr* out = new stat_descr();
  out->stat = in->stat;
  memcpy(out->stat_name, in->stat_name, sizeof out->stat_name);
  memcpy(out->stat_desc, in->stat_desc, sizeof out->stat_desc);
  memcpy(out->units, in->units, sizeof out->units);
  return out;
}

dim_descr* xrq5_clone_dim_descr(dim_descr* in) {
  if (in == nullptr) return nullptr;
  dim_descr* out = new dim_descr();
  out->dim = in->dim;
  memcpy(out->dim_name, in->dim_name, sizeof out->dim_name);
  memcpy(out->dim_desc, in->dim_desc, sizeof out->dim_desc);
  memcpy(out->units, in->units, sizeof out->units);
  for (stat_descr* s : in->stats) append_counted(out->stats, out->nstats, xrq5_clone_stat_descr(s));
  return out;
}

bool extend_channel_description(chan_descr_2010* in, chan_descr_2010* from, bool force) {
  if (in == nullptr || from == nullptr ||
      strncmp(in->prop_name, from->prop_name, sizeof in->prop_name) != 0)
    return true;
  // Takes from's number where `take` says so.
  auto number_field = [](int& to, int value, bool take) {
    if (take) to = value;
  };
  auto text_field = [](char* to, const char* value, size_t n, bool take) {
    if (take) {
      memcpy(to, value, n);
      to[n - 1] = '\0';
    }
  };
  if (force) {
    number_field(in->stream, from->stream, from->stream != 0);
    if (from->ev_type != 0) in->ev_type = from->ev_type;
    number_field(in->count, from->count, from->count != 0);
    if (from->dtype != 0) in->dtype = from->dtype;
    number_field(in->max_size, from->max_size, from->max_size != 0);
    number_field(in->set_point, from->set_point, from->set_point != 0);
    number_field(in->db_key, from->db_key, from->db_key > 0);
  } else {
    number_field(in->stream, from->stream, in->stream == 0);
    if (in->ev_type == 0) in->ev_type = from->ev_type;
    number_field(in->count, from->count, in->count == 0);
    if (in->dtype == 0) in->dtype = from->dtype;
    number_field(in->max_size, from->max_size, in->max_size == 0);
    number_field(in->set_point, from->set_point, in->set_point == 0);
    number_field(in->db_key, from->db_key, in->db_key < 1);
  }
  struct {
    char* to;
    const char* value;
    size_t n;
  } texts[] = {{in->daq_name, from->daq_name, sizeof in->daq_name},
               {in->prop_desc, from->prop_desc, sizeof in->prop_desc},
               {in->units, from->units, sizeof in->units},
               {in->sb_name, from->sb_name, sizeof in->sb_name},
               {in->subsystem, from->subsystem, sizeof in->subsystem}};
  for (const auto& t : texts) text_field(t.to, t.value, t.n, force ? t.value[0] != '\0' : t.to[0] == '\0');

  if (force) {
    if (from->nbits != 0) {
      free_bits(in);
      for (bit_descr* b : from->bits) append_counted(in->bits, in->nbits, xrq5_clone_bit_descr(b));
    }
    if (from->ndims != 0) {
      free_dims(in);
      for (dim_descr* d : from->dims) append_counted(in->dims, in->ndims, xrq5_clone_dim_descr(d));
    }
    return false;
  }

  if (in->nbits == 0) {
    for (bit_descr* b : from->bits) append_counted(in->bits, in->nbits, xrq5_clone_bit_descr(b));
  } else if (from->nbits != 0) {
    for (bit_descr* b : from->bits) {
      bool present = false;
      for (const bit_descr* mine : in->bits) present = present || mine->bit == b->bit;
      if (!present) append_counted(in->bits, in->nbits, xrq5_clone_bit_descr(b));
    }
  }
  if (in->ndims == 0) {
    for (dim_descr* d : from->dims) append_counted(in->dims, in->ndims, xrq5_clone_dim_descr(d));
  } else if (from->ndims != 0) {
    for (dim_descr* d : from->dims) {
      dim_descr* found = nullptr;
      for (dim_descr* mine : in->dims)
        if (found == nullptr && mine->dim == d->dim) found = mine;
      if (found == nullptr) {
        append_counted(in->dims, in->ndims, xrq5_clone_dim_descr(d));
      } else if (found->nstats == 0 && d->nstats != 0) {
        for (stat_descr* s : d->stats)
          append_counted(found->stats, found->nstats, xrq5_clone_stat_descr(s));
      }
    }
  }
  return false;
}

void clean_chan_desr_list(std::vector<chan_descr_2010*>* list) {
  if (list == nullptr) return;
  for (chan_descr_2010* c : *list) free_record(c);
  list->clear();
}

void print_xrq5_chan_descr(std::vector<chan_descr_2010*>* list) {
  if (list == nullptr) return;
  printf("========================\n");
  printf("XRQ5 XML Channel Description (XCD)\n");
  int i = 0;
  for (const chan_descr_2010* c : *list) {
    // The joined names grow as needed, however many bits are set.
    std::string events, types;
    auto join = [](std::string& text, const char* name) {
      if (name == nullptr) return;
      if (!text.empty()) text += ':';
      text += name;
    };
    for (int n = 0; n < 32; ++n)
      if (c->ev_type & (1u << n)) join(events, event_name_itoa(n));
    const int base = (c->dtype & 0x80000000u) ? 32 : 0;
    for (int n = 0; n < 31; ++n)
      if (c->dtype & (1u << n)) join(types, block_name_itoa(base + n));

    printf("--------------[%d]-----------------\n", i++);
    printf(" stream   : %d \n", c->stream);
    printf(" ev type  : 0x%x %s\n", c->ev_type, events.c_str());
    printf(" data type: 0x%x %s\n", c->dtype, types.c_str());
    printf("\tcount  :%d\n", c->count);
    printf("\tdb_key :%d\n", c->db_key);
    printf("\tprop   :%.*s\n", FIELD(c->prop_name));
    printf("\tname   :%.*s\n", FIELD(c->daq_name));
    printf("\tset_pnt:%s\n", c->set_point ? "yes" : "no");
    printf("\tdesc   :%.*s\n", FIELD(c->prop_desc));
    printf("\tsb_name:%.*s\n", FIELD(c->sb_name));
    printf("\tsubsys :%.*s\n", FIELD(c->subsystem));
    printf("\tunit   :%.*s\n", FIELD(c->units));
    printf("\tmax_sz :%d\n", c->max_size);
    if (c->nbits != 0) {
      printf("\t\t# bits :%d\n", c->nbits);
      for (const bit_descr* b : c->bits) {
        printf("\t\tbit    : %d\n", b->bit);
        printf("\t\tname   : %.*s\n", FIELD(b->bit_name));
        printf("\t\tdesc   : %.*s\n", FIELD(b->bit_desc));
      }
    } else if (!c->bits.empty()) {
      printf("ERROR: nbits = 0, but bits.size() > 0\n");
    }
    if (c->ndims != 0) {
      printf("\t\t# dims : %d\n", c->ndims);
      for (const dim_descr* d : c->dims) {
        printf("\t\tid    : %d\n", d->dim);
        printf("\t\tname : %.*s\n", FIELD(d->dim_name));
        printf("\t\tdesc : %.*s\n", FIELD(d->dim_desc));
        printf("\t\tunits: %.*s\n", FIELD(d->units));
        if (d->nstats != 0) {
          printf("\t\t\t# stats : %d\n", d->nstats);
          for (const stat_descr* s : d->stats) {
            printf("\t\t\tid     : %d\n", s->stat);
            printf("\t\t\tname   : %.*s\n", FIELD(s->stat_name));
            printf("\t\t\tdesc   : %.*s\n", FIELD(s->stat_desc));
            printf("\t\t\tunits  : %.*s\n", FIELD(s->units));
          }
        } else if (!d->stats.empty()) {
          printf("ERROR: nstats = 0, but stats.size() > 0\n");
        }
      }
    } else if (!c->dims.empty()) {
      printf("ERROR: ndims = 0, but dims.size() > 0\n");
    }
  }
}

int parse_descr_list_read(char* xml, std::vector<chan_descr_2010*>* list, bool shift,
                          bool delete_duplicated) {
  return read_descr_list<SAX_Memory_Parser>(xml, list, shift, delete_duplicated);
}

int parse_descr_list_readf(char* file, std::vector<chan_descr_2010*>* list, bool shift,
                           bool delete_duplicated) {
  return read_descr_list<SAX_File_Parser>(file, list, shift, delete_duplicated);
}

int xrq5_load_chan_descr(xrq5_xml_chan_descr_header* tab, std::vector<chan_descr_2010*>* list) {
  if (tab == nullptr || list == nullptr) return XRQ5_XCD_NULL_ARG;
  const char* blob = reinterpret_cast<const char*>(tab);
  unsigned int pattern;
  int length;
  memcpy(&pattern, blob, sizeof pattern);
  memcpy(&length, blob + 4, sizeof length);
  if (pattern != 0xCDECDEF2u && pattern != 0xCDECDEF3u) return XRQ5_XCD_BAD_PATTERN;
  if (length < 9) return XRQ5_XCD_BAD_LENGTH;
  // Exactly the declared text, with a terminator of our own: nothing past the blob.
  const size_t n = static_cast<size_t>(length) - 8;
  std::unique_ptr<char[]> text;
  try {
    text.reset(new char[n + 1]);
  } catch (const std::bad_alloc&) {
    return XRQ5_XCD_BAD_LENGTH;
  }
  memcpy(text.get(), blob + 8, n);
  text[n] = '\0';
  return parse_descr_list_read(text.get(), list, false, false);
}

int xrq5_load_master_daq_channel_description_file(std::vector<chan_descr_2010*>* list, char* file) {
  if (list == nullptr || file == nullptr || file[0] == '\0') return XRQ5_XCD_NULL_ARG;
  return parse_descr_list_readf(file, list, false, false);
}

int dump_chan_desr(std::vector<chan_descr_2010*>* list, char* file_name, int mode, int format,
                   int fd, std::string* sout, std::vector<dim_params*>* dims) {
  if (list == nullptr || (format != XRQ5_FORMAT && format != VESK_FORMAT)) {
    printf("dump_chan_desr() invalid argument: '\n");
    return XRQ5_DUMP_FAILED;
  }
  xrq5_output::output out(xcd_messages);
  if (!out.open(file_name)) return XRQ5_DUMP_OPEN_FAILED;
  FILE* f = out.file();
  const bool xml = mode == DUMP_XML_FILE;
  const bool no_target = f == nullptr && sout == nullptr && fd == -1;
  // A document for a string is built whole, with room for a few hundred bytes a
  // channel; one for the file or the descriptor alone, and the listings (which go to
  // the file only), are handed over in blocks of some 64 KB.
  const bool whole = xml && sout != nullptr;
  std::string doc;
  if (xml) {
    set_xml_header(doc);
    if (whole) doc.reserve(doc.size() + 64 + 512 * list->size());
    START_TAGN(doc, format == XRQ5_FORMAT ? tags[DESCR_ROOT][0] : var_root);
    if (format == XRQ5_FORMAT && f != nullptr) add_iso_date(doc);
  }
  if (!xml) out.stream_to(-1);
  else if (!whole) out.stream_to(fd);
  xrq5_output::sink sink(doc, whole ? nullptr : xrq5_output::output::put_block, &out);
  // Parameters by DAQ name, the first usable entry of each name.
  xrq5_name_index<dim_params*> params;
  if (xml && format == XRQ5_FORMAT && dims != nullptr)
    for (dim_params* p : *dims)
      if (p != nullptr && p->name != nullptr && p->num != 0 && (p->params || p->iparams))
        params.insert(p->name, strlen(p->name), p);

  const size_t n = list->size();
  xrq5_output::name_set written(n);  // the first record of a property wins
  const auto key_of = [&](size_t i) {
    const chan_descr_2010* c = (*list)[i];
    return xrq5_output::name_set::key(c->prop_name, strnlen(c->prop_name, sizeof c->prop_name));
  };
  // The records and the slots of their names are far apart in memory: records are
  // fetched eight ahead and the slots two ahead, their keys kept until their turn.
  uint64_t keys[4] = {};
  for (size_t i = 0; i < n && i < 2; ++i) keys[i] = key_of(i);
  for (size_t i = 0; i < 8 && i < n; ++i) prefetch_record((*list)[i]);
  xcd_writer writer(sink);
  for (size_t i = 0; i < n; ++i) {
    if (i + 8 < n) prefetch_record((*list)[i + 8]);
    if (i + 2 < n) {
      keys[(i + 2) & 3] = key_of(i + 2);
      written.prefetch(keys[(i + 2) & 3]);
    }
    chan_descr_2010* c = (*list)[i];
    if (!written.insert(keys[i & 3], c->prop_name)) continue;
    if (no_target) {
      print_xrq5_chan_descr(list);
      break;
    }
    if (mode == DUMP_TXT_FILE_SHORT && f != nullptr) {
      short_line(sink, *c);
    } else if (mode == DUMP_TXT_FILE && f != nullptr) {
      text_lines(sink, *c);
    } else if (xml && format == XRQ5_FORMAT) {
      const std::string_view daq = daq_name_of(*c);
      dim_params* const* p = params.find(daq.data(), daq.size());
      writer.tag_form(*c, p ? *p : nullptr);
    } else if (xml) {
      writer.var_form(*c);
    }
  }

  int result = 0;
  if (xml) {
    const element_text& root = format == XRQ5_FORMAT ? elements().root : elements().v_root;
    sink.put(root.close, root.close_len);
    sink.put('\n');
  }
  sink.finish();
  if (xml && !(whole ? out.put(doc, fd) : out.blocks_done())) {
    result = XRQ5_DUMP_FAILED;
  } else if (whole) {
    if (sout->empty())
      sout->swap(doc);
    else
      sout->append(doc);
  }
  if (!out.close(false)) result = XRQ5_DUMP_FAILED;
  return result;
}

int dump_chan_desr_from_xml(char* xml, char* file_name, int mode, int format, int fd) {
  std::vector<chan_descr_2010*> list;
  int r = parse_descr_list_read(xml, &list, true, false);
  if (r != 0) {
    printf("Failed to parse CHANDESCR list\n");
    r = XRQ5_DUMP_READ_FAILED;
  } else {
    r = dump_chan_desr(&list, file_name, mode, format, fd, nullptr, nullptr);
  }
  clean_chan_desr_list(&list);
  return r;
}
