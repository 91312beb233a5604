/// \file
/// Environment index dictionaries: which property stands behind each index of the
/// environment data blocks, with its absolute and relative change thresholds. Two
/// record layouts, classic (names of at most 79 characters) and 2010 (255), share one
/// XML format:
///
/// ~~~{.xml}
///   <?xml version="1.0" encoding="ISO-8859-1" ?>
///   <ENVINDEXDICT>
///   <isodate>2026-12-01T10:00:00</isodate>            (after a tab)
///   <CHANNEL>
///   <INDEX>12</INDEX>
///   <PROP>TEMP.1</PROP>
///   <DABS>0.100000</DABS>
///   <DREL>0.000000</DREL>
///   </CHANNEL>
///   </ENVINDEXDICT>
/// ~~~
///
/// Readers take the elements of a CHANNEL in any order, ignore everything else, and
/// list a record once it has both an INDEX and a PROP (later values of the same
/// CHANNEL still land in it); a CHANNEL without both is dropped. Records are plain
/// blocks from malloc: the caller releases each with free.
#ifndef XRQ5_PARSE_ENV_INDEX_DICTIONARY_H
#define XRQ5_PARSE_ENV_INDEX_DICTIONARY_H

#include "xrq5_export.h"

#include <string>
#include <vector>

#include "event.h"

/// One dictionary record, classic layout.
struct xrq5_env_index_dictionary_entry {
  int index;                       ///< -1 until an INDEX was read
  xrq5_env_dictionary_block data;  ///< property and change thresholds
};

/// One dictionary record, 2010 layout.
struct xrq5_env_index_dictionary_entry_2010 {
  int index;                            ///< -1 until an INDEX was read
  xrq5_env_dictionary_block_2010 data;  ///< property and change thresholds
};

// Laid end to end these records are the entries of the event-utility library's
// environment dictionary block (see event_util.h).
static_assert(sizeof(xrq5_env_index_dictionary_entry) == 92, "classic entry layout");
static_assert(sizeof(xrq5_env_index_dictionary_entry_2010) == 268, "2010 entry layout");

/// Element names of the format, by position.
enum {
  ENV_INDX_ROOT = 0,  ///< ENVINDEXDICT
  ENV_INDX_CHAN = 1,  ///< CHANNEL
  ENV_INDX_INDX = 2,  ///< INDEX
  ENV_INDX_PROP = 3,  ///< PROP
  ENV_INDX_DABS = 4,  ///< DABS
  ENV_INDX_DREL = 5   ///< DREL
};

/// Output modes of the writers.
enum {
  ENV_INDX_DUMP_TO_SCREEN = 0,  ///< nothing (a given file is created empty)
  ENV_INDX_DUMP_TXT_FILE = 1,   ///< "%d\t%s\t%f\t%f" per record, to the file
  ENV_INDX_DUMP_XML_FILE = 2,   ///< XML to the file and the descriptor
  ENV_INDX_DUMP_XML_STRING = 3  ///< XML into the string
};

/// Result codes of the writers, besides 0 for success.
enum {
  ENV_INDX_OPEN_FAILED = 1,  ///< the file could not be opened
  ENV_INDX_FAILED = 2,       ///< no list, or writing the descriptor or the file failed
  ENV_INDX_READ_FAILED = 3   ///< the XML-text writers: the text could not be read
};

/// Append the records of the NUL-terminated text `xml` (or of the file `file`) to
/// `list`, which is never cleared. 0 when the whole document was read without parser
/// errors; 1 plus the parser's error count when the parser cannot start, the document
/// is empty or its root is not ENVINDEXDICT ("WRONG root tag: ..." on standard error);
/// the error count for problems later on. Records appended before a problem stay.
///@{
XRQ5_API int parse_env_index_dict_list_read(char* xml, std::vector<xrq5_env_index_dictionary_entry*>* list);
XRQ5_API int parse_env_index_dict_list_read_2010(char* xml,
                                        std::vector<xrq5_env_index_dictionary_entry_2010*>* list);
XRQ5_API int parse_env_index_dict_readf(char* file, std::vector<xrq5_env_index_dictionary_entry*>* list);
XRQ5_API int parse_env_index_dict_readf_2010(char* file,
                                    std::vector<xrq5_env_index_dictionary_entry_2010*>* list);
///@}

/// Write `list` to the targets given: a file created or replaced under file_name (null or empty:
/// none; "... has been created" and "... has been closed" on standard output, whatever
/// the mode), the descriptor fd (-1: none), the string *xml_str (replaced). With no
/// target at all every record is printed on the screen, whatever the mode. Otherwise
/// mode 1 writes the text lines to the file (nothing without a file), mode 2 the XML
/// document to the file and the descriptor, mode 3 the XML document into the string.
/// Result: 0, ENV_INDX_OPEN_FAILED, or ENV_INDX_FAILED (no list, or a failed write,
/// with a message).
///
/// Every writer that writes a file by name writes it beside the target and puts it in
/// place only once it is complete: when writing fails (a full disk), the old file stays
/// as it was. Texts go into the XML escaped (& < > and, in attributes, the double
/// quote) and encoded for the ISO-8859-1 declaration: the UTF-8 that the readers hand
/// out becomes one byte per character up to U+00FF, a character reference beyond;
/// floats are written "%f" unless that would not read back as the same float (then
/// with the digits it needs).
///@{
XRQ5_API int dump_env_index_dict(std::vector<xrq5_env_index_dictionary_entry*>* list, char* file_name,
                        int mode, int fd, std::string* xml_str);
XRQ5_API int dump_env_index_dict_2010(std::vector<xrq5_env_index_dictionary_entry_2010*>* list,
                             char* file_name, int mode, int fd, std::string* xml_str);
///@}

/// Read the text `xml` with the memory reader of the layout and write it with the list
/// writer (no string): ENV_INDX_READ_FAILED ("Failed to parse ENV INDEX DICT list") when
/// it cannot be read, else the writer's result. The records are freed either way.
///@{
XRQ5_API int dump_env_index_dict(char* xml, char* file_name, int mode, int fd);
XRQ5_API int dump_env_index_dict_2010(char* xml, char* file_name, int mode, int fd);
///@}

/// The environment dictionary block of the event-utility library (event_util.h) for a
/// list: one xrq5_serv_block_subhead_2010 ("ENV_DICT", XRQ5_ENV_DICT_BLOCK or
/// XRQ5_ENV_DICT_BLOCK_2010) followed by the records in list order, into *block
/// (replaced). Hand block->data() to xrq5_user_trigger_set_ext_env_dictionary while
/// the vector lives. False when done; true for a null argument or a list too long for
/// the block's 32-bit length.
///@{
XRQ5_API bool xrq5_make_env_dict_block(std::vector<xrq5_env_index_dictionary_entry*>* list,
                              std::vector<char>* block);
XRQ5_API bool xrq5_make_env_dict_block_2010(std::vector<xrq5_env_index_dictionary_entry_2010*>* list,
                                   std::vector<char>* block);
///@}

#endif  // XRQ5_PARSE_ENV_INDEX_DICTIONARY_H
