/// \file
/// Framework event records and enumerations shared by the DAQ and its libraries.
///
/// The records that lie inside event data (the server-block sub-header and the data
/// blocks after it) are a binary format: fixed widths and byte positions, 32-bit
/// little-endian integers and IEEE 754 single-precision floats. Character arrays hold
/// NUL-terminated text; a writer cuts longer text to fit, a reader must not assume the
/// terminator is there when the array comes from event data.
#ifndef XRQ5_EVENT_H
#define XRQ5_EVENT_H

#include <cstddef>
#include <cstdint>

/// Type of a machine event or of a data stream. A set of event types is a 32-bit mask
/// with bit n for type n.
enum XRQ5_EVTYPE {
  XRQ5_EV_HB = 0,
  XRQ5_EV_NORMAL = 1,
  XRQ5_EV_BOR = 2,
  XRQ5_EV_EOR = 3,
  XRQ5_EV_ENV = 4,
  XRQ5_EV_UPD = 5,
  XRQ5_EV_IMAGE = 6,
  XRQ5_EV_WS = 7,
  XRQ5_EV_MCP = 8,
  XRQ5_EV_WSS = 9,
  XRQ5_EV_BL1 = 10,
  XRQ5_EV_BL2 = 11,
  XRQ5_EV_BL3 = 12,
  XRQ5_EV_PG0 = 13,
  XRQ5_EV_PG1 = 14,
  XRQ5_EV_PG2 = 15,
  XRQ5_EV_GMD = 16,
  XRQ5_EV_PHOTEN = 17,
  XRQ5_EV_PHOTWL = 18,
  XRQ5_EV_BEAM_ENERGY = 19,
  XRQ5_EV_LLRF_ML = 20,
  XRQ5_EV_BEAM_ENERGY_BYPASS = 21,
  XRQ5_EV_SPECTR_1 = 22,
  XRQ5_EV_SPECTR_2 = 23,
  XRQ5_EV_SPECTR_3 = 24,
  XRQ5_EV_SPECTR_4 = 25,
  XRQ5_EV_SPECTR_5 = 26,
  XRQ5_EV_TOROID_ML = 27,
  XRQ5_EV_28 = 28,
  XRQ5_EV_29 = 29,
  XRQ5_EV_30 = 30,
  XRQ5_EV_31 = 31,
  XRQ5_EV_EVMAX = 32  ///< number of event types, not a type
};

/// Structure of an event type, as get_event_struct_type() reports it.
enum XRQ5_EV_STRUCT_TYPE {
  XRQ5_EV_STRUCT_UNKNOWN = 0,  ///< not an event type
  XRQ5_EV_STRUCT_LOCAL = 1,    ///< channels named by DAQ name
  XRQ5_EV_STRUCT_GLOBAL = 2,   ///< channels named by property
  XRQ5_EV_STRUCT_ML = 3,       ///< LLRF_ML, TOROID_ML: channels named by DAQ name
  XRQ5_EV_STRUCT_UNDEF = 4     ///< reserved event types
};

/// Sub-block type: the dtype of a server block and of a channel description.
/// The numbers are not contiguous; 0, 29, 30, 32 and 54..59 are unassigned. Numbers
/// up to 31 are the classic layouts, 33 and up the 2010 layouts.
enum XRQ5_SUBBLOCK_TYPE {
  // classic layouts
  XRQ5_UPD_BLOCK = 1,
  XRQ5_ENV_DICT_BLOCK = 2,
  XRQ5_ENV_BLOCK = 3,
  XRQ5_BOR_BLOCK = 4,
  XRQ5_EOR_BLOCK = 5,
  XRQ5_BLOCK_BPM = 6,
  XRQ5_BLOCK_BPM_Z = 7,
  XRQ5_BLOCK_BPM_S = 8,
  XRQ5_BLOCK_SINGLE = 9,
  XRQ5_BLOCK_TOROID = 10,
  XRQ5_BLOCK_RF_250K = 11,
  XRQ5_BLOCK_ENERGY = 12,
  XRQ5_BLOCK_IMAGE = 13,
  XRQ5_BLOCK_WS_FAST = 14,
  XRQ5_BLOCK_WS_SLOW = 15,
  XRQ5_BLOCK_CPLINTL = 16,
  XRQ5_BLOCK_GUNINTL = 17,
  XRQ5_BLOCK_MCP = 18,
  XRQ5_BLOCK_PHM = 19,
  XRQ5_BLOCK_WSS_RAW = 20,
  XRQ5_BLOCK_WSS_COR = 21,
  XRQ5_BLOCK_NAME_VALUE = 22,
  XRQ5_BLOCK_EQDATA = 23,
  XRQ5_BLOCK_IMG_ROI1 = 24,
  XRQ5_BLOCK_IMG_ROI2 = 25,
  XRQ5_BLOCK_IMG_ROI3 = 26,
  XRQ5_BLOCK_IMAGE_EXT = 27,
  XRQ5_BLOCK_GENERIC_SPECT = 28,
  XRQ5_UPD_BLOCK_DONT_USE_31 = 31,
  // 2010 layouts
  XRQ5_UPD_BLOCK_2010 = 33,
  XRQ5_ENV_DICT_BLOCK_2010 = 34,
  XRQ5_ENV_BLOCK_2010 = 35,
  XRQ5_BOR_BLOCK_2010 = 36,
  XRQ5_EOR_BLOCK_2010 = 37,
  XRQ5_BLOCK_BPM_2010 = 38,
  XRQ5_BLOCK_BPM_Z_2010 = 39,
  XRQ5_BLOCK_BPM_S_2010 = 40,
  XRQ5_BLOCK_1CHAN_2010 = 41,
  XRQ5_BLOCK_TOROID_2010 = 42,
  XRQ5_BLOCK_RF_250K_2010 = 43,
  XRQ5_BLOCK_ENERGY_2010 = 44,
  XRQ5_BLOCK_2CHAN_2010 = 45,
  XRQ5_BLOCK_WS_2010 = 46,
  XRQ5_BLOCK_4CHAN_2010 = 47,
  XRQ5_BLOCK_CPLINTL_2010 = 48,
  XRQ5_BLOCK_GUNINTL_2010 = 49,
  XRQ5_BLOCK_MCP_2010 = 50,
  XRQ5_BLOCK_PHM_2010 = 51,
  XRQ5_BLOCK_6CHAN_2010 = 52,
  XRQ5_BLOCK_8CHAN_2010 = 53,
  XRQ5_BLOCK_3CHAN_2010 = 60,
  XRQ5_BLOCK_5CHAN_2010 = 61,
  XRQ5_BLOCK_7CHAN_2010 = 62,
  XRQ5_BLOCK_MAX_2010 = 63
};

/// Layout of a block's data, as get_data_structure_type() reports it.
enum xrq_daq_struct_type {
  XRQ5_DATA_EQDATA = 0,      ///< opaque equipment data
  XRQ5_DATA_NAMVAL = 16,     ///< a plain array of floats
  XRQ5_DATA_IMAGE = 22,      ///< an image frame header and its pixels
  XRQ5_DATA_IMAGE_EXT = 22,  ///< same value: one image case
  XRQ5_DATA_SLOW = 103,      ///< slow / environment channel data
  XRQ5_DATA_SPECTRUM = 1013,  ///< spectra, one per sub-channel
  XRQ5_DATA_GSPECTRUM = 1015  ///< grouped spectrum; (t & ~2) == XRQ5_DATA_SPECTRUM for both
};

/// A time in seconds and microseconds (event times, channel value times).
struct time_stamp {
  uint32_t timeup;   ///< seconds
  uint32_t timelow;  ///< microseconds
};

/// Heads the data of one channel inside a server block; `ldata` bytes follow it.
struct xrq5_serv_block_subhead_2010 {
  char chname[256];  ///< channel (property) name
  int32_t dtype;     ///< XRQ5_SUBBLOCK_TYPE
  int32_t error;     ///< error code of the channel's server
  int32_t ldata;     ///< length of the data that follow
};

/// One environment channel value; env_ch_idx indexes the environment dictionary.
struct xrq5_env_data_block_2010 {
  int32_t env_ch_idx;      ///< index of the channel in the environment dictionary
  int32_t env_ch_status;   ///< status of the value
  time_stamp env_ch_time;  ///< time of the value
  float env_ch_data;       ///< the value
};

/// One updated slow value, by name.
struct xrq5_upd_data_block_2010 {
  char upd_prop[256];      ///< property (channel) name
  int32_t upd_ch_status;   ///< status of the value
  time_stamp upd_ch_time;  ///< time of the value
  float upd_ch_data;       ///< the value
};

/// Environment dictionary entry, classic layout: property and absolute / relative
/// change thresholds.
struct xrq5_env_dictionary_block {
  char env_prop[80];       ///< property (channel) name
  float env_ch_abs_delta;  ///< absolute change threshold
  float env_ch_rel_delta;  ///< relative change threshold
};

/// Environment dictionary entry, 2010 layout: as the classic one with a longer name.
struct xrq5_env_dictionary_block_2010 {
  char env_prop[256];      ///< property (channel) name
  float env_ch_abs_delta;  ///< absolute change threshold
  float env_ch_rel_delta;  ///< relative change threshold
};

/// Parameters of a spectrum.
struct xrq5_spect_header_2010 {
  float start;      ///< time or position of the first sample
  float inc;        ///< step between samples
  int32_t ndata;    ///< samples per group
  int32_t groups;   ///< number of groups
  float group_inc;  ///< step between groups
};

/// Statistics of a spectrum, up to 32 values.
struct xrq5_spect_statistics_2010 {
  uint32_t mask;  ///< bit n set when val[n] holds a value
  float val[32];  ///< the statistic values
};

/// Header of an extended image frame; `length` bytes of pixels follow it.
struct xrq5_image_ext_frame_head {
  int32_t width;          ///< full image width in pixels
  int32_t height;         ///< full image height in pixels
  int32_t aoi_width;      ///< width of the area of interest (below 1: the full width)
  int32_t aoi_height;     ///< height of the area of interest (below 1: the full height)
  int32_t x_start;        ///< first column of the area of interest
  int32_t y_start;        ///< first row of the area of interest
  int32_t bpp;            ///< bytes per pixel
  int32_t ebitpp;         ///< effective bits per pixel
  int32_t hbin;           ///< horizontal binning
  int32_t vbin;           ///< vertical binning
  int32_t source_format;  ///< pixel format of the camera
  int32_t image_format;   ///< pixel format of the stored image
  uint32_t frame;         ///< frame number
  uint32_t event;         ///< event number
  float scale_x;          ///< horizontal scale
  float scale_y;          ///< vertical scale
  float image_rotation;   ///< rotation of the image
  float fspare2;          ///< spare; a description writes it as the spectrum start
  float fspare3;          ///< spare; a description writes it as the spectrum step
  float fspare4;          ///< spare; a description writes it as the group step
  int32_t image_flags;    ///< image flags
  int32_t ispare2;        ///< spare; a description writes it as the group count
  int32_t ispare3;        ///< spare; a description writes it as samples per group
  int32_t ispare4;        ///< spare; a description writes it as the unsigned flag
  int32_t length;         ///< byte length of the pixel data
};

// The binary layout is fixed: keep it so on every compiler.
static_assert(sizeof(time_stamp) == 8, "time_stamp layout");
static_assert(sizeof(xrq5_serv_block_subhead_2010) == 268, "sub-header layout");
static_assert(offsetof(xrq5_serv_block_subhead_2010, chname) == 0, "sub-header chname");
static_assert(offsetof(xrq5_serv_block_subhead_2010, dtype) == 256, "sub-header dtype");
static_assert(offsetof(xrq5_serv_block_subhead_2010, error) == 260, "sub-header error");
static_assert(offsetof(xrq5_serv_block_subhead_2010, ldata) == 264, "sub-header ldata");
static_assert(sizeof(xrq5_env_data_block_2010) == 20, "env data layout");
static_assert(offsetof(xrq5_env_data_block_2010, env_ch_time) == 8, "env data time");
static_assert(offsetof(xrq5_env_data_block_2010, env_ch_data) == 16, "env data value");
static_assert(sizeof(xrq5_upd_data_block_2010) == 272, "update data layout");
static_assert(offsetof(xrq5_upd_data_block_2010, upd_ch_time) == 260, "update data time");
static_assert(offsetof(xrq5_upd_data_block_2010, upd_ch_data) == 268, "update data value");
static_assert(sizeof(xrq5_env_dictionary_block) == 88, "env dictionary layout");
static_assert(sizeof(xrq5_env_dictionary_block_2010) == 264, "env dictionary 2010 layout");
static_assert(sizeof(xrq5_spect_header_2010) == 20, "spectrum header layout");
static_assert(sizeof(xrq5_spect_statistics_2010) == 132, "spectrum statistics layout");
static_assert(sizeof(xrq5_image_ext_frame_head) == 100, "image frame header layout");
static_assert(offsetof(xrq5_image_ext_frame_head, frame) == 48, "image frame number");
static_assert(offsetof(xrq5_image_ext_frame_head, length) == 96, "image frame length");

#endif  // XRQ5_EVENT_H
