/// \file
/// Channel descriptions (XCD): list operations over chan_descr_2010 records and the
/// readers of both XCD forms.
///
/// A list is a vector of pointers to heap records; it owns them, a record owns its bit
/// and dimension records, a dimension its statistics. Only clean_chan_desr_list frees
/// them. Lists never hold null pointers.
///
/// Tag form (root "CHANDESCRIPTIONS"): one CHANNEL element per record holding the
/// elements of the tag table below; the variable form (root "DAQvariables"): one
/// DaqFloat, DaqBits or DaqFloatMatrix element per record holding evType, tarvo,
/// daqName, subSystem, setPoint, description, units, lastIndex, bitTitle bit="n" and
/// dimension id="n" (with name, description and units). Element names are exact and
/// case-sensitive; nesting is not checked, the order of arrival counts. Texts longer
/// than their fields are cut; numbers are read as strtol base 10 reads them (0 when
/// there is none) within the range of int.
#ifndef XRQ5_PARSE_CHAN_DESCR_H
#define XRQ5_PARSE_CHAN_DESCR_H

#include "xrq5_export.h"

#include <ctime>
#include <string>
#include <vector>

#include "event_util.h"

// ---- document helpers of every XML writer ----------------------------------------

/// Replaces `str` with the XML declaration
/// "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>" and a line feed.
XRQ5_API void set_xml_header(std::string& str);

/// Appends "\t<isodate>YYYY-MM-DDThh:mm:ss</isodate>\n" with the current local time.
XRQ5_API void add_iso_date(std::string& str);

/// Writes *t as local time "YYYY-MM-DDThh:mm:ss" (strftime "%FT%T", at most 40 bytes
/// with the NUL) into isodate_str; an empty text when the time has no local date.
/// Nothing for a null buffer.
XRQ5_API void create_isodate(char* isodate_str, time_t* t);

/// The same for the current time.
XRQ5_API void create_isodate(char* isodate_str);

/// Rows of the XCD tag table; columns are 0 channel or bit level, 1 dimension level,
/// 2 statistic level.
enum {
  DESCR_ROOT = 0,
  DESCR_CHAN,
  DESCR_EVTYPE,
  DESCR_STREAM,
  DESCR_PROP,
  DESCR_NAME,
  DESCR_DESC,
  DESCR_UNITS,
  DESCR_SIZE,
  DESCR_BIT,
  DESCR_BIT_NAME,
  DESCR_BIT_DESC,
  DESCR_SB_NAME,
  DESCR_DTYPE,
  DESCR_COUNT,
  DESCR_SETPNT,
  DESCR_SUBSYS,
  DESCR_DBKEY = 17
};

/// Output modes of the description writer.
enum { DUMP_TO_SCREEN = 0, DUMP_TXT_FILE = 1, DUMP_XML_FILE = 2, DUMP_TXT_FILE_SHORT = 3 };

/// XCD forms: tag form, variable form, invalid.
enum { XRQ5_FORMAT = 0, VESK_FORMAT = 1, INVD_FORMAT = 2 };

/// Channel kinds of the variable form: "DaqFloat", "DaqBits", "DaqFloatMatrix".
enum { VESK_TYPE_FLOAT = 0, VESK_TYPE_BITS = 1, VESK_TYPE_ARRAY = 2 };

/// What the names handed to descr_extractor::get_descriptions are.
enum { EXTR_FROM_FILE = 0, EXTR_FROM_XML = 1 };

/// Result codes of the writers, besides 0 for success.
enum {
  XRQ5_DUMP_OPEN_FAILED = 1,   ///< the file could not be opened
  XRQ5_DUMP_FAILED = 2,        ///< invalid list or format, or writing the output failed
  XRQ5_DUMP_READ_FAILED = 3    // dump_chan_desr_from_xml: the text could not be read
};

/// Result codes of the readers, besides 0 for success. The parser's error count is
/// added to the reader's own failure count.
enum {
  XRQ5_XCD_FAILED = 1,     ///< no parser, no start, no root, a wrong root (1 + errors)
  XRQ5_XCD_NO_LIST = 2,    ///< the list is null (nothing printed)
  XRQ5_XCD_NULL_ARG = -1,  ///< loaders: a null argument or an empty file name
  XRQ5_XCD_BAD_PATTERN = -3,  ///< blob loader: the pattern is neither 0xCDECDEF2 nor ...F3
  XRQ5_XCD_BAD_LENGTH = -4    // blob loader: a length below 9
};

/// Tag name in row n, column m of the tag table for n 0..13 and m 0..2; null
/// otherwise, also for an empty cell.
XRQ5_API const char* get_chan_descr_root_tag(int n, int m);

/// First record whose prop_name equals prop exactly, or null.
XRQ5_API chan_descr_2010* find_chan_entry(std::vector<chan_descr_2010*>* list, char* prop);

/// New copies (new/delete), or null for null. A dimension copy holds copies of all
/// its statistics, and its nstats counts them.
///@{
XRQ5_API bit_descr* xrq5_clone_bit_descr(bit_descr* in);
XRQ5_API stat_descr* xrq5_clone_stat_descr(stat_descr* in);
XRQ5_API dim_descr* xrq5_clone_dim_descr(dim_descr* in);
///@}

/// Merges `from` into `in` (same prop_name). With force, from's non-zero numbers and
/// non-empty texts win and its bits and dimensions (when it has any) replace in's;
/// without force, in keeps what it has and gains the bits, dimensions and statistics
/// it lacks. False when merged; true, with nothing changed, when either is null or the
/// names differ.
XRQ5_API bool extend_channel_description(chan_descr_2010* in, chan_descr_2010* from, bool force);

/// Frees every record with what it owns and empties the list; nothing for null. A
/// count of 0 with records in its vector is reported ("ERROR: nbits = 0, ...") on
/// standard output; the records are freed all the same.
XRQ5_API void clean_chan_desr_list(std::vector<chan_descr_2010*>* list);

/// Prints the list to standard output, event and data types with their names; nothing
/// at all for null.
XRQ5_API void print_xrq5_chan_descr(std::vector<chan_descr_2010*>* list);

/// Reads the XCD document in the NUL-terminated text `xml` (either form) and appends
/// its records to `list`; records already there stay and take part in duplicate
/// look-up. With `shift`, event type n is stored as the mask 1 << (n mod 32) and data
/// type n as 1 << n (n < 32) or 0x80000000 + (1 << (n - 32)) (types 32..62; 63 gives 0).
/// With `delete_duplicated` (always in the variable form) a channel whose property is
/// already listed is merged into the first record of that name (event and data type
/// taken when that record's are 0, streams ORed), and the rest of the channel is
/// ignored. A property element after the record was listed is ignored.
/// Result: 0, XRQ5_XCD_NO_LIST, or failures plus the parser's error count; in the
/// variable form each element without its attribute ("No attribute: ..." on standard
/// error) counts one. The caller owns what was appended, whatever the result.
XRQ5_API int parse_descr_list_read(char* xml, std::vector<chan_descr_2010*>* list, bool shift,
                          bool delete_duplicated);

/// The same for the file `file`, with three differences: duplicates of the variable
/// form are merged by ORing event type, stream and data type; STAT_DESCR without a
/// current dimension and statistic is ignored (the memory reader takes it as the
/// description); a bitTitle without text draws no message.
XRQ5_API int parse_descr_list_readf(char* file, std::vector<chan_descr_2010*>* list, bool shift,
                           bool delete_duplicated);

/// Reads a channel-description blob: exactly tab->length - 8 bytes of XCD text after the
/// 8-byte header, without shift or merging. XRQ5_XCD_NULL_ARG, XRQ5_XCD_BAD_PATTERN or
/// XRQ5_XCD_BAD_LENGTH (nothing read or printed), else the memory reader's result.
XRQ5_API int xrq5_load_chan_descr(xrq5_xml_chan_descr_header* tab, std::vector<chan_descr_2010*>* list);

/// Reads the XCD file `file`, without shift or merging. XRQ5_XCD_NULL_ARG for a null
/// list or a null or empty name, else the file reader's result.
XRQ5_API int xrq5_load_master_daq_channel_description_file(std::vector<chan_descr_2010*>* list, char* file);

// ---- writers -------------------------------------------------------------------------

/// Writes `list` (not changed) to the targets that are given: a file created or
/// replaced under file_name (null or empty: none), the open descriptor fd (-1: none)
/// and the string *sout, appended to (null: none). With no target at all the list is
/// printed with print_xrq5_chan_descr, whatever the mode. Otherwise, by mode:
/// ~~~
///   DUMP_TO_SCREEN       nothing (a given file is created empty)
///   DUMP_TXT_FILE        one tab-separated line per channel, bit, dimension, statistic,
///                        to the file only
///   DUMP_TXT_FILE_SHORT  "%50s\t%d\t%s" (DAQ name, size, data-type name), file only
///   DUMP_XML_FILE        the XCD document in format (XRQ5_FORMAT or VESK_FORMAT) to
///                        every target; the tag form written to a file has an isodate
///                        line after the root
/// ~~~
/// Only the first record of each property is written; an empty DAQ name is written as
/// "!!!UNDEFINED!!!". `dims` (may be null) gives spectrum and image frame parameters of
/// channels by DAQ name: the first entry with that name, num non-zero and headers adds
/// DIM_START ... elements in the tag form. A record with dimension records gets those
/// of entry index = dimension id (id below num) inside each DIM; a record without gets
/// num DIM elements 0..num-1, DIM j holding params[j] and iparams[j] (each array, when
/// not null, must hold num headers).
/// Result: 0; XRQ5_DUMP_OPEN_FAILED ("dump_chan_desr() failed to open file: '...'" and
/// perror on standard output/error); XRQ5_DUMP_FAILED for a null list or a bad format
/// ("dump_chan_desr() invalid argument: '"), and when writing the descriptor or the
/// file failed ("dump_chan_desr()  write failed", "dump_chan_desr() failed to write
/// file: '...'"; the old file then stays as it was). A file that was opened is closed
/// in every case.
///
/// Every writer that writes a file by name writes it beside the target and puts it in
/// place only once it is complete: when writing fails (a full disk), the old file stays
/// as it was. Texts go into the XML escaped (& < > and, in attributes, the double
/// quote) and encoded for the ISO-8859-1 declaration: the UTF-8 that the readers hand
/// out becomes one byte per character up to U+00FF, a character reference beyond;
/// floats are written "%f" unless that would not read back as the same float (then
/// with the digits it needs).
XRQ5_API int dump_chan_desr(std::vector<chan_descr_2010*>* list, char* file_name, int mode, int format,
                   int fd, std::string* sout, std::vector<dim_params*>* dims);

/// Reads the XCD text `xml` (with shift, without merging) and writes it with
/// dump_chan_desr (no string, no parameters). XRQ5_DUMP_READ_FAILED with "Failed to
/// parse CHANDESCR list" on standard output when the text cannot be read; else the
/// writer's result. The records read are freed either way.
XRQ5_API int dump_chan_desr_from_xml(char* xml, char* file_name, int mode, int format, int fd);

#endif  // XRQ5_PARSE_CHAN_DESCR_H
