/// \file
/// Channel-description records shared with the framework, and the event-utility calls
/// that the libraries make into libXRQ5evutl.
///
/// The event-utility functions are plain, unmangled and resolved by ordinary dynamic
/// linking, so the framework's own library (or a program defining them) replaces ours.
///
/// Event data layout of libXRQ5evutl
/// ---------------------------------
/// A channel's data in an event is one xrq5_serv_block_subhead_2010 followed at once by
/// `ldata` bytes. Those bytes depend on get_data_structure_type(dtype):
///
/// ~~~
///   XRQ5_DATA_NAMVAL      float[ldata / 4]; sub-channel k is float k.
///   XRQ5_DATA_SPECTRUM,   the sub-channels one after another, each an
///   XRQ5_DATA_GSPECTRUM   xrq5_spect_header_2010 followed by ndata * groups floats
///                         (ndata >= 0, groups >= 1); sub-channel k is the k-th one.
///                         The layout carries no statistics record.
///   XRQ5_DATA_SLOW        update blocks (types 1, 4, 5, 31, 33, 36, 37):
///                           xrq5_upd_data_block_2010[ldata / 272], found by upd_prop;
///                         environment blocks (types 3, 35):
///                           xrq5_env_data_block_2010[ldata / 20], found by env_ch_idx.
///   XRQ5_DATA_IMAGE       an xrq5_image_ext_frame_head, then length bytes of pixels.
///   XRQ5_DATA_EQDATA      opaque: no accessor returns data from it.
/// ~~~
///
/// Bytes after the last whole record are ignored. Every accessor checks what it reads
/// against `ldata` and against the counts the block itself declares, and answers "no
/// data" (true or null) rather than read past the block; a negative `ldata` is no data.
/// Names inside event data are compared within their field, terminated or not.
/// Blocks are 4-byte aligned when built with event_builder.h, so the float pointers
/// handed out are aligned.
///
/// Environment dictionary (the env_dict argument of find_slow_channel_2010, and what
/// xrq5_user_trigger_set_ext_env_dictionary stores): a block of the same shape, one
/// xrq5_serv_block_subhead_2010 whose dtype is XRQ5_ENV_DICT_BLOCK_2010 (or the classic
/// XRQ5_ENV_DICT_BLOCK) followed by `ldata` bytes of entries. Each entry is an int32
/// index followed by the dictionary block of that layout: 4 + 264 bytes
/// (xrq5_env_dictionary_block_2010) or 4 + 88 bytes (xrq5_env_dictionary_block). These
/// are the environment index dictionary records laid end to end, so a dictionary read
/// from XML is copied in as it is; xrq5_evb_add_env_dict() in event_builder.h builds one.
///
/// Tables: event_name_itoa / block_name_itoa give the enumerator names without their
/// prefix ("NORMAL", "BLOCK_BPM_2010"); unassigned sub-block numbers give "UNUSED_<n>",
/// anything out of range "UNKNOWN".
///
/// ~~~
/// get_event_struct_type:
///   GLOBAL  HB, NORMAL, BOR, EOR, ENV, UPD (0..5)   channels named by property
///   LOCAL   IMAGE .. PG2, GMD .. BEAM_ENERGY, BEAM_ENERGY_BYPASS, SPECTR_1..5
///           (6..19, 21..26)                           channels named by DAQ name
///   ML      LLRF_ML, TOROID_ML (20, 27)
///   UNDEF   28..31 (reserved);  UNKNOWN outside 0..31
/// get_data_structure_type:
///   SLOW      UPD, ENV, BOR, EOR blocks of both layouts and 31
///   NAMVAL    BPM, BPM_Z, BPM_S, SINGLE, ENERGY, NAME_VALUE, and the 2010 BPM, 1CHAN ..
///             8CHAN and ENERGY blocks
///   SPECTRUM  TOROID, RF_250K, WS_FAST, WS_SLOW, CPLINTL, GUNINTL, MCP, PHM,
///             GENERIC_SPECT and their 2010 forms (TOROID .. PHM_2010, WS_2010)
///   GSPECTRUM WSS_RAW, WSS_COR
///   IMAGE     IMAGE, IMG_ROI1..3, IMAGE_EXT
///   EQDATA    everything else (the dictionaries, EQDATA, unassigned numbers)
/// ~~~
#ifndef XRQ5_EVENT_UTIL_H
#define XRQ5_EVENT_UTIL_H

#include <vector>

#include "event.h"

// ---- Channel description records (owned by the lists that hold them) -------------
// Character fields hold NUL-terminated text; longer text is cut to fit.

/// Description of one bit of a channel's value.
struct bit_descr {
  int bit;            ///< bit number
  char bit_name[64];  ///< name
  char bit_desc[80];  ///< description
};

/// Description of one statistic of a dimension.
struct stat_descr {
  int stat;            ///< statistic id
  char stat_name[64];  ///< name
  char stat_desc[80];  ///< description
  char units[16];      ///< units
};

/// Description of one dimension of a channel, with its statistics.
struct dim_descr {
  int dim;            ///< dimension id
  char dim_name[64];  ///< name
  char dim_desc[80];  ///< description
  char units[16];     ///< units
  int nstats;                      ///< kept equal to stats.size()
  std::vector<stat_descr*> stats;  ///< owned
};

/// One channel description. Character fields hold NUL-terminated text; longer text is
/// cut to fit. A new record from a reader is all zero except db_key -1 and max_size 1.
struct chan_descr_2010 {
  int stream;         ///< mask of DAQ streams
  unsigned int ev_type;  ///< event type number, or a mask of types when read with shift
  int count;          ///< number of sub-channels
  unsigned int dtype;    ///< sub-block type number, or a mask when read with shift
  int db_key;         ///< -1 when none
  char prop_name[256];  ///< control-system property (address); the key of a list
  char daq_name[256];   ///< name of the channel in the DAQ
  char prop_desc[256];  ///< description
  char units[16];       ///< units
  int max_size;       ///< number of values; 1 for a scalar
  int nbits;          ///< kept equal to bits.size()
  std::vector<bit_descr*> bits;  ///< owned
  int ndims;          ///< kept equal to dims.size()
  std::vector<dim_descr*> dims;  ///< owned
  char sb_name[256];   ///< server block that carries the channel
  int set_point;       ///< non-zero for a set point
  char subsystem[64];  ///< subsystem name
};

/// Parameters of one dimensioned channel, handed to the description writer.
struct dim_params {
  char* name;                          ///< channel name, matched against the DAQ name
  int num;                             ///< entries behind params
  xrq5_spect_header_2010* params;      ///< or null
  xrq5_image_ext_frame_head* iparams;  ///< or null
};

/// A channel-description blob in a data block: pattern 0xCDECDEF2 or 0xCDECDEF3, then
/// the total length (these 8 bytes plus the text), then length - 8 bytes of XML text
/// that need not be NUL-terminated.
struct xrq5_xml_chan_descr_header {
  unsigned int pattern;  ///< 0xCDECDEF2 or 0xCDECDEF3
  int length;            ///< total length in bytes, header included
  char xml[1];           ///< first byte of the XML text
};

static_assert(sizeof(unsigned int) == 4 && sizeof(int) == 4, "32-bit int required");

// ---- Event-utility calls -----------------------------------------------------------

struct xrq5_user_case_trigger;  // only its leading `channel` field (char[256]) is read

extern "C" {

/// Name of event type 0..32; never null ("UNKNOWN" outside the range).
const char* event_name_itoa(int ev_type);

/// Name of sub-block type 0..63; never null ("UNKNOWN" outside the range).
const char* block_name_itoa(int block_type);

/// XRQ5_EV_STRUCT_TYPE of event type 0..31; XRQ5_EV_STRUCT_UNKNOWN otherwise.
int get_event_struct_type(int ev_type);

/// xrq_daq_struct_type of a sub-block type; XRQ5_DATA_EQDATA for unknown types.
int get_data_structure_type(int block_type);

/// Finds the trigger channel's record in an update block. False when found (*upd
/// addresses the record inside the block); true when not, or for any other block.
bool find_upd_channel_2010(xrq5_serv_block_subhead_2010* data, xrq5_user_case_trigger* usert,
                           xrq5_upd_data_block_2010** upd);

/// Resolves the trigger channel's name to an index through env_dict (see above) and
/// finds that index in an environment block. False when found (*env addresses the
/// record); true when not, when env_dict is null or not a dictionary, or for any other
/// block.
bool find_slow_channel_2010(xrq5_serv_block_subhead_2010* data, char* env_dict,
                            xrq5_user_case_trigger* usert, xrq5_env_data_block_2010** env);

/// First float of a sub-channel of a name/value or spectrum block; null when the block
/// has no such sub-channel, or it holds no samples.
float* get_pointer_to_data_2010(xrq5_serv_block_subhead_2010* data, int subchannel);

/// Spectrum parameters of a sub-channel. False when stored through the (non-null)
/// pointers, *stat set to null; true when the block holds no such spectrum.
bool get_spect_params_for_data_type_2010(xrq5_serv_block_subhead_2010* data, float* start,
                                         float* inc, void* unused, int* ndata, int* groups,
                                         float* group_inc, xrq5_spect_statistics_2010** stat,
                                         int subchannel);

/// Image frame parameters and pixels of an image block; zeros and a null pixel
/// pointer when the block holds no whole frame.
void get_image_params_2010(xrq5_serv_block_subhead_2010* data, int* x, int* y, int* bpp,
                           int* ev_num, unsigned char** chd);
}

#endif  // XRQ5_EVENT_UTIL_H
