/// \file
/// Event lists: which event types a DAQ client wants, with per type the trigger mask,
/// minimum time between events, priority and the wanted server blocks and channels.
/// Stored as XML under the root "BMR":
///
/// ~~~{.xml}
///   <BMR>
///     <EVENT>
///       <TYPE>1</TYPE> <TMASK>0x1F</TMASK> <MINTIMESEC>1</MINTIMESEC>
///       <MINTIMEUSEC>500</MINTIMEUSEC> <PRIORITY>2</PRIORITY>
///       <SBLOCK>BPM.SB</SBLOCK> <CHLIST> <CHAN>X1</CHAN> <CHAN>Y1</CHAN> </CHLIST>
///     </EVENT>
///   </BMR>
/// ~~~
///
/// Element names are exact and case-sensitive; attributes are ignored; what counts is
/// the order in which elements arrive, not their nesting. TYPE (0..32, decimal) opens
/// the entry of an EVENT; elements before it, and those of an EVENT whose TYPE is out
/// of range, are ignored. TMASK, MINTIMESEC, MINTIMEUSEC and PRIORITY are hexadecimal
/// when the text holds a lowercase x (" 0x%X "), unsigned decimal otherwise; text that
/// does not match leaves the field as it was. Texts are kept untrimmed.
#ifndef XRQ5_PARSE_EV_LIST_H
#define XRQ5_PARSE_EV_LIST_H

#include "xrq5_export.h"

#include <sys/types.h>

#include <string>
#include <vector>

#include "event.h"

/// One wanted server block.
struct xrq5_ev_sb_list {
  char sb_list[256];             ///< block name, at most 254 characters (longer is cut)
  std::vector<char*>* ch_list;   ///< wanted channels (new[] strings); empty: all channels
};

/// One wanted event type.
struct xrq5_ev_entry {
  XRQ5_EVTYPE evtype;                      ///< the event type
  std::vector<xrq5_ev_sb_list*>* sb_list;  ///< wanted blocks; null: the full event
  time_stamp min_ev_time;                  ///< seconds and microseconds; default 0 0
  u_int tmask;                             ///< default 0
  u_int priority;                          ///< default 0
};

/// Result codes of the readers: 0 when the whole document was read without any
/// warning; 1 (plus the parser's error count) when the parser could not start, the
/// document is empty or its root is not BMR ("WRONG root tag: ..." on standard error),
/// or Xerces raised an exception; the error count alone for problems later in the
/// document, in which case everything read before them stays in the list.
enum { XRQ5_EV_LIST_OK = 0, XRQ5_EV_LIST_FAILED = 1 };

/// Appends the entries of the event list in the NUL-terminated text `xml` to `list`
/// (never cleared first). The caller owns what is appended, whatever the result, and
/// frees it with xrq5_clean_ev_list. Null arguments give 1 and change nothing.
XRQ5_API int xrq5_parse_ev_list_read(char* xml, std::vector<xrq5_ev_entry*>* list);

/// The same for the event list in the file `file`.
XRQ5_API int xrq5_parse_ev_list_readf(char* file, std::vector<xrq5_ev_entry*>* list);

/// Prints the entries to standard output; nothing for a null or empty list.
XRQ5_API void xrq5_print_ev_list(std::vector<xrq5_ev_entry*>* list);

/// Frees every entry with its blocks and channel names and empties the vector (which
/// stays with the caller); nothing for null.
XRQ5_API void xrq5_clean_ev_list(std::vector<xrq5_ev_entry*>* list);

/// Result codes of the writer, besides 0 for success.
enum {
  XRQ5_EV_LIST_OPEN_FAILED = 1,  ///< the file could not be opened
  XRQ5_EV_LIST_WRITE_FAILED = 2  // null list, or writing the descriptor or the file failed
};

/// Writes `list` as an event list document (the declaration, the root, an isodate line,
/// then per entry TYPE, TMASK as "0x%X", MINTIMESEC, MINTIMEUSEC, PRIORITY, and per block
/// SBLOCK and a CHLIST of CHAN; names escaped and encoded as the other writers do, see
/// parse_chan_descr.h) to every target given: a file created or replaced under
/// file_name (null or empty: none; replaced only once complete), the descriptor
/// fd (-1: none), the string *xml_str (replaced; null: none). Reading the document
/// back gives the same entries, except that an entry without a block list comes back
/// with an empty one (both mean the full event). Result: 0, XRQ5_EV_LIST_OPEN_FAILED
/// ("xrq5_write_ev_list() failed to open file: '...'" and perror), or
/// XRQ5_EV_LIST_WRITE_FAILED (with a message on standard output).
XRQ5_API int xrq5_write_ev_list(std::vector<xrq5_ev_entry*>* list, char* file_name, int fd,
                       std::string* xml_str);

#endif  // XRQ5_PARSE_EV_LIST_H
