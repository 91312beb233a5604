/// \file
/// User-case triggers (libXRQ5USERTRIG): a condition on the data of one channel in one
/// event. A function reduces the channel's data (a slow value, a spectrum range, a
/// name/value entry) to one float, and an operation compares it with the record's
/// limits or bit mask. Functions and operations live in two process-wide registries of
/// 32 rows each, which callers may extend or change before they evaluate triggers;
/// nothing here is locked.
#ifndef XRQ5_USER_CASE_TRIGGER_H
#define XRQ5_USER_CASE_TRIGGER_H

#include "xrq5_export.h"

#include <sys/types.h>

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "event.h"

/// One trigger. Records are heap blocks from calloc (the list readers make them so) and
/// are released with XRQ5_FREE_USER, which also frees the three result cells; texts
/// are NUL-terminated, longer ones cut to 255 characters.
struct xrq5_user_case_trigger {
  char channel[256];   ///< the channel (property) whose data the trigger examines
  int subchannel;      ///< sub-channel inside the channel's block
  int function;        ///< function registry row, 0..31
  float fparam[16];    ///< function parameters: [0] start, [1] end, [2] step of a range
  float low;           ///< low limit (LL)
  float upper;         ///< upper limit (UL)
  u_int bitmask;       ///< mask of AND and BITS
  int operation;       ///< operation registry row, 0..31
  time_t time;         ///< creation time
  char description[256];  ///< free text
  int pre_mode;        ///< carried for the caller, never interpreted
  char group[256];        ///< name of the group the trigger belongs to
  int post_mode;       ///< carried for the caller, never interpreted
  int valid;           ///< for the caller; 0 in records read from XML
  float* fprevresult;  ///< one float: the previous plain result (DIFF functions only)
  float* fresult;      ///< one float: the latest result, made by the first evaluation
  u_int* iresult;      ///< one int, reserved
};

/// A function: false after storing its result in *usert->fresult (making the cell when
/// it is null), true when it produced no result. `data` is the channel's
/// xrq5_serv_block_subhead_2010 in the current event.
typedef bool (*pt2Fun)(void* data, xrq5_user_case_trigger* usert);

/// An operation: true when the condition holds.
typedef bool (*pt2Op)(float result, float low, float upper, u_int bitmask);

/// Row names and "name : help" texts; "UNKNOWN" outside 0..31. The help text stays valid
/// until the next call of the same function.
///@{
XRQ5_API char* xrq5_get_function_string(int function);
XRQ5_API char* xrq5_get_operation_string(int operation);
XRQ5_API char* xrq5_get_function_help(int function);
XRQ5_API char* xrq5_get_operation_help(int operation);
///@}

/// Lowest row whose name equals the argument exactly; -1 when none does.
///@{
XRQ5_API int xrq5_get_function_index(char* fun);
XRQ5_API int xrq5_get_operation_index(char* op);
///@}

/// Stores pt, name and description (not copied: they must outlive their use) in the
/// free row (help text "undefined") of lowest index; returns it, or -1 when none is free.
///@{
XRQ5_API int xrq5_add_user_function(pt2Fun pt, char* name, char* description);
XRQ5_API int xrq5_add_user_operation(pt2Op pt, char* name, char* description);
///@}

/// Stores pt, name and description in row indx, built-in rows included; returns indx,
/// or -1 with nothing changed when indx is outside 0..31.
///@{
XRQ5_API int xrq5_change_user_function(pt2Fun pt, int indx, char* name, char* description);
XRQ5_API int xrq5_change_user_operation(pt2Op pt, int indx, char* name, char* description);
///@}

/// Frees the result cells and the record; nothing for null.
XRQ5_API void XRQ5_FREE_USER(xrq5_user_case_trigger* inp);

/// Copies the settings of inp into outp (limits, mask, texts, modes, valid, sub-channel,
/// parameters, time). outp gets a result cell holding inp's value when it had none;
/// a cell it has keeps its value; its cell is freed when inp has none. fprevresult and
/// iresult of outp are not touched. False when done; true for a null record or when a
/// cell cannot be allocated.
XRQ5_API bool XRQ5_USER_COPY(xrq5_user_case_trigger* inp, xrq5_user_case_trigger* outp);

/// True when both records have the same channel, description, group, sub-channel,
/// function, operation, limits (exact; NaN never equals), mask and parameters; time,
/// modes, valid and result cells are not compared. False for null.
XRQ5_API bool XRQ5_USER_THESAME(xrq5_user_case_trigger* inp, xrq5_user_case_trigger* outp);

/// The environment dictionary handed to the slow-channel look-up (its form is described
/// in event_util.h). Stored, not copied; null clears it.
XRQ5_API void xrq5_user_trigger_set_ext_env_dictionary(char* ptr);

/// Evaluates one trigger against the block of its channel: 1 when it fires, 0 when it
/// does not or its function gave no result, -1 for a null argument or a function or
/// operation outside 0..31. Allocates only the record's result cells, once.
XRQ5_API int xrq5_is_trigger_on(xrq5_serv_block_subhead_2010* data, xrq5_user_case_trigger* usert);

// ---- one event, a whole trigger list ------------------------------------------------

/// What one trigger gave in one event.
struct xrq5_trigger_outcome {
  int on;           ///< as xrq5_is_trigger_on: 1 fired, 0 not, -1 invalid trigger (or null)
  bool missing;     ///< no block of the event holds the channel; not run (on is 0)
  bool has_result;  ///< its function gave a result in this event
  float result;     ///< that result (*fresult of the record); NaN when has_result is false
};

/// Evaluates every trigger of `list` against the block of its channel among `blocks`,
/// the server-block sub-headers of one event (null entries are skipped). The block of a
/// trigger is the first whose chname equals its channel (compared within the 256-byte
/// fields); failing that, the first slow block (XRQ5_DATA_SLOW) holding an update record
/// of that name, or an environment record that `env_dict` (the dictionary block of
/// event_util.h, may be null) resolves to it. env_dict also serves the functions while they run; the dictionary stored with
/// xrq5_user_trigger_set_ext_env_dictionary is put back before returning.
/// *out is replaced by one outcome per trigger, in list order. The records' result
/// cells change as with xrq5_is_trigger_on (DIFF functions remember this event).
/// Result: the number of triggers that fired, or -1 (nothing done) for a null list,
/// blocks or out.
///
/// ~~~{.cpp}
///   std::vector<xrq5_serv_block_subhead_2010*> blocks = ...;   // this event's blocks
///   std::vector<xrq5_trigger_outcome> out;
///   if (xrq5_eval_trigger_list(triggers.get(), &blocks, dict, &out) > 0)
///     for (size_t i = 0; i < out.size(); ++i)
///       if (out[i].on == 1) printf("%s: %g\n", triggers[i]->channel, out[i].result);
/// ~~~
XRQ5_API int xrq5_eval_trigger_list(std::vector<xrq5_user_case_trigger*>* list,
                           std::vector<xrq5_serv_block_subhead_2010*>* blocks, char* env_dict,
                           std::vector<xrq5_trigger_outcome>* out);

// ---- trigger lists in XML -----------------------------------------------------------

/// Elements of a trigger list document, in the order of this enumeration:
///
/// ~~~{.xml}
/// <?xml version="1.0" encoding="ISO-8859-1" ?>
/// <XRQ5USERTRIGGERLIST>
/// <isodate>2026-12-01T10:00:00</isodate>            (after a tab)
/// <USERTRIGGER>
/// <Chan name="TOROID.INJ" subchan="0"/>
/// <Function name="MEAN" param0="0.000000" ... param15="0.000000"/>
/// <Operation name="GT"/>
/// <LowLimit value="0.000000"/>
/// <UpperLimit value="1.500000"/>
/// <BitMask mask="0x0"/>
/// <Creation time="1764583200"/>
/// <Description text="charge too high"/>
/// <PreMode events="0"/>
/// <PostMode events="0"/>
/// <Group name="injector"/>
/// </USERTRIGGER>
/// </XRQ5USERTRIGGERLIST>
/// ~~~
///
/// Only attributes carry data; nothing is escaped. Readers take the parameters of
/// Function also under the aliases start, x0, position (0), end, y0 (1), incr,
/// halfwidthX, a (2), halfwidthY, b (3), form (4), param0 .. param15 first; look names
/// up case-sensitively in the registries; take BitMask only written as "0x%X"; and give
/// each record the time of reading (Creation is not read). A read record starts zeroed
/// with function MEAN (2) and operation GT (0).
enum {
  USER_TRIG_ROOT = 0,   ///< XRQ5USERTRIGGERLIST
  USER_TRIG_TRIGGER,    ///< USERTRIGGER
  USER_TRIG_CHANNEL,    ///< Chan
  USER_TRIG_FUNC,       ///< Function
  USER_TRIG_OP,         ///< Operation
  USER_TRIG_LL,         ///< LowLimit
  USER_TRIG_UL,         ///< UpperLimit
  USER_TRIG_BIT_MASK,   ///< BitMask
  USER_TRIG_TIME,       ///< Creation
  USER_TRIG_DESCR,      ///< Description
  USER_TRIG_PREMODE,    ///< PreMode
  USER_TRIG_GROUP,      ///< Group
  USER_TRIG_POSTMODE,   ///< PostMode
  USER_TRIG_VALID       ///< no element
};

/// Output modes of the list writer.
enum {
  USER_TRIG_DUMP_TO_SCREEN = 0,  ///< nothing (a given file is created empty)
  USER_TRIG_DUMP_TXT_FILE = 1,   ///< text lines to the file
  USER_TRIG_DUMP_XML_FILE = 2,   ///< XML to the file and the descriptor
  USER_TRIG_DUMP_XML_STRING = 3  ///< XML into the string
};

/// Result codes of the writers, besides 0 for success.
enum {
  USER_TRIG_OPEN_FAILED = 1,   ///< the file could not be opened
  USER_TRIG_FAILED = 2,        ///< null argument, or writing the descriptor or file failed
  USER_TRIG_READ_FAILED = 3    ///< dump_user_triggers: the text could not be read
};

/// Appends the triggers of the NUL-terminated XML text `xml` to `list` (never cleared).
/// False on success; true when the parser cannot start, the root is not
/// XRQ5USERTRIGGERLIST ("WRONG root tag: ..." on standard error), a record cannot be
/// allocated, or the parser counted any warning or error. Records read before a
/// failure stay in the list; the caller frees them with XRQ5_FREE_USER.
XRQ5_API bool parse_trigger_list_read(char* xml, std::vector<xrq5_user_case_trigger*>* list);

/// The same for the file `file`.
XRQ5_API bool parse_trigger_list_readf(char* file, std::vector<xrq5_user_case_trigger*>* list);

/// Writes `list` to the targets given: a file created or replaced under file_name (null or empty:
/// none; "... has been created" and "... has been closed" on standard output), the
/// descriptor fd (-1: none), the string *xml_str (replaced). With no target at all the
/// list is printed on the screen, whatever the mode; otherwise mode 1 writes text lines
/// to the file, mode 2 the XML document to the file and the descriptor, mode 3 the XML
/// document into *xml_str. Result: 0, USER_TRIG_OPEN_FAILED, or USER_TRIG_FAILED for a
/// null list and when writing the descriptor or the file failed (with a message).
///
/// Every writer that writes a file by name writes it beside the target and puts it in
/// place only once it is complete: when writing fails (a full disk), the old file stays
/// as it was. Texts go into the XML escaped (& < > and, in attributes, the double
/// quote) and encoded for the ISO-8859-1 declaration: the UTF-8 that the readers hand
/// out becomes one byte per character up to U+00FF, a character reference beyond;
/// floats are written "%f" unless that would not read back as the same float (then
/// with the digits it needs).
XRQ5_API int dump_user_trigger_list(std::vector<xrq5_user_case_trigger*>* list, char* file_name, int mode,
                           int fd, std::string* xml_str);

/// Reads `xml` and writes the list with dump_user_trigger_list (no string).
/// USER_TRIG_READ_FAILED ("Failed to parse USER TRIGGER list") when it cannot be read;
/// else the writer's result. The records are freed either way.
XRQ5_API int dump_user_triggers(char* xml, char* file_name, int mode, int fd);

/// An empty trigger list document (declaration, root, date line) in *xml_str: 0, or
/// USER_TRIG_FAILED for null.
XRQ5_API int get_user_trigger_empty_header(std::string* xml_str);

/// A trigger list that owns its records: they are freed with XRQ5_FREE_USER when it is
/// cleared, assigned over or destroyed. Movable, not copyable. get() hands the vector to
/// the calls above; records appended to it belong to the list.
///
/// ~~~{.cpp}
///   xrq5_trigger_list triggers;
///   if (triggers.readf(path)) return 1;          // records read so far freed on return
/// ~~~
class xrq5_trigger_list {
 public:
  xrq5_trigger_list() = default;
  ~xrq5_trigger_list() { clear(); }
  xrq5_trigger_list(const xrq5_trigger_list&) = delete;
  xrq5_trigger_list& operator=(const xrq5_trigger_list&) = delete;
  /// Takes over the records of `o`, which is left empty.
  xrq5_trigger_list(xrq5_trigger_list&& o) noexcept : list_(std::move(o.list_)) { o.list_.clear(); }
  /// Frees the own records and takes over those of `o`, which is left empty.
  xrq5_trigger_list& operator=(xrq5_trigger_list&& o) noexcept {
    if (this != &o) {
      clear();
      list_.swap(o.list_);
    }
    return *this;
  }

  /// As parse_trigger_list_read / parse_trigger_list_readf, appending to this list.
  ///@{
  bool read(char* xml) { return parse_trigger_list_read(xml, &list_); }
  bool readf(char* file) { return parse_trigger_list_readf(file, &list_); }
  ///@}

  /// Frees every record and empties the list.
  void clear() {
    for (xrq5_user_case_trigger* t : list_) XRQ5_FREE_USER(t);
    list_.clear();
  }
  /// Gives up ownership of every record: the caller frees them.
  std::vector<xrq5_user_case_trigger*> release() {
    std::vector<xrq5_user_case_trigger*> r;
    r.swap(list_);
    return r;
  }

  /// The vector of records, for the calls that take one; the list still owns them.
  std::vector<xrq5_user_case_trigger*>* get() { return &list_; }
  size_t size() const { return list_.size(); }  ///< number of records
  bool empty() const { return list_.empty(); }  ///< true when there are no records
  /// Record i (unchecked: i must be below size()); still owned by the list.
  xrq5_user_case_trigger* operator[](size_t i) const { return list_[i]; }
  /// The records in order, for range-for loops.
  ///@{
  std::vector<xrq5_user_case_trigger*>::const_iterator begin() const { return list_.begin(); }
  std::vector<xrq5_user_case_trigger*>::const_iterator end() const { return list_.end(); }
  ///@}

 private:
  std::vector<xrq5_user_case_trigger*> list_;
};

#endif  // XRQ5_USER_CASE_TRIGGER_H
