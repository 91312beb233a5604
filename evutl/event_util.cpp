// libXRQ5evutl: our stand-in for the framework's event-utility library. The layout
// of the data it reads is described in event_util.h. It uses only the C library, so
// that nothing but the nine entry points has to match the framework's own library.
#include "event_util.h"

#include <cstring>

namespace {

const char* const event_names[XRQ5_EV_EVMAX + 1] = {
    "HB",       "NORMAL",  "BOR",         "EOR",      "ENV",      "UPD",
    "IMAGE",    "WS",      "MCP",         "WSS",      "BL1",      "BL2",
    "BL3",      "PG0",     "PG1",         "PG2",      "GMD",      "PHOTEN",
    "PHOTWL",   "BEAM_ENERGY", "LLRF_ML", "BEAM_ENERGY_BYPASS",   "SPECTR_1",
    "SPECTR_2", "SPECTR_3", "SPECTR_4",   "SPECTR_5", "TOROID_ML", "EV_28",
    "EV_29",    "EV_30",   "EV_31",       "EVMAX"};

const int max_block_type = XRQ5_BLOCK_MAX_2010;

const char* const block_names[max_block_type + 1] = {
    "UNUSED_0",           "UPD_BLOCK",          "ENV_DICT_BLOCK",    "ENV_BLOCK",
    "BOR_BLOCK",          "EOR_BLOCK",          "BLOCK_BPM",         "BLOCK_BPM_Z",
    "BLOCK_BPM_S",        "BLOCK_SINGLE",       "BLOCK_TOROID",      "BLOCK_RF_250K",
    "BLOCK_ENERGY",       "BLOCK_IMAGE",        "BLOCK_WS_FAST",     "BLOCK_WS_SLOW",
    "BLOCK_CPLINTL",      "BLOCK_GUNINTL",      "BLOCK_MCP",         "BLOCK_PHM",
    "BLOCK_WSS_RAW",      "BLOCK_WSS_COR",      "BLOCK_NAME_VALUE",  "BLOCK_EQDATA",
    "BLOCK_IMG_ROI1",     "BLOCK_IMG_ROI2",     "BLOCK_IMG_ROI3",    "BLOCK_IMAGE_EXT",
    "BLOCK_GENERIC_SPECT", "UNUSED_29",         "UNUSED_30",         "UPD_BLOCK_DONT_USE_31",
    "UNUSED_32",          "UPD_BLOCK_2010",     "ENV_DICT_BLOCK_2010", "ENV_BLOCK_2010",
    "BOR_BLOCK_2010",     "EOR_BLOCK_2010",     "BLOCK_BPM_2010",    "BLOCK_BPM_Z_2010",
    "BLOCK_BPM_S_2010",   "BLOCK_1CHAN_2010",   "BLOCK_TOROID_2010", "BLOCK_RF_250K_2010",
    "BLOCK_ENERGY_2010",  "BLOCK_2CHAN_2010",   "BLOCK_WS_2010",     "BLOCK_4CHAN_2010",
    "BLOCK_CPLINTL_2010", "BLOCK_GUNINTL_2010", "BLOCK_MCP_2010",    "BLOCK_PHM_2010",
    "BLOCK_6CHAN_2010",   "BLOCK_8CHAN_2010",   "UNUSED_54",         "UNUSED_55",
    "UNUSED_56",          "UNUSED_57",          "UNUSED_58",         "UNUSED_59",
    "BLOCK_3CHAN_2010",   "BLOCK_5CHAN_2010",   "BLOCK_7CHAN_2010",  "BLOCK_MAX_2010"};

int event_struct_type(int ev_type) {
  if (ev_type < 0 || ev_type > XRQ5_EV_31) return XRQ5_EV_STRUCT_UNKNOWN;
  if (ev_type <= XRQ5_EV_UPD) return XRQ5_EV_STRUCT_GLOBAL;
  if (ev_type == XRQ5_EV_LLRF_ML || ev_type == XRQ5_EV_TOROID_ML) return XRQ5_EV_STRUCT_ML;
  if (ev_type >= XRQ5_EV_28) return XRQ5_EV_STRUCT_UNDEF;
  return XRQ5_EV_STRUCT_LOCAL;
}

int data_structure_type(int block_type) {
  switch (block_type) {
    case XRQ5_UPD_BLOCK: case XRQ5_ENV_BLOCK: case XRQ5_BOR_BLOCK: case XRQ5_EOR_BLOCK:
    case XRQ5_UPD_BLOCK_DONT_USE_31: case XRQ5_UPD_BLOCK_2010: case XRQ5_ENV_BLOCK_2010:
    case XRQ5_BOR_BLOCK_2010: case XRQ5_EOR_BLOCK_2010:
      return XRQ5_DATA_SLOW;
    case XRQ5_BLOCK_BPM: case XRQ5_BLOCK_BPM_Z: case XRQ5_BLOCK_BPM_S: case XRQ5_BLOCK_SINGLE:
    case XRQ5_BLOCK_ENERGY: case XRQ5_BLOCK_NAME_VALUE: case XRQ5_BLOCK_BPM_2010:
    case XRQ5_BLOCK_BPM_Z_2010: case XRQ5_BLOCK_BPM_S_2010: case XRQ5_BLOCK_1CHAN_2010:
    case XRQ5_BLOCK_ENERGY_2010: case XRQ5_BLOCK_2CHAN_2010: case XRQ5_BLOCK_3CHAN_2010:
    case XRQ5_BLOCK_4CHAN_2010: case XRQ5_BLOCK_5CHAN_2010: case XRQ5_BLOCK_6CHAN_2010:
    case XRQ5_BLOCK_7CHAN_2010: case XRQ5_BLOCK_8CHAN_2010:
      return XRQ5_DATA_NAMVAL;
    case XRQ5_BLOCK_TOROID: case XRQ5_BLOCK_RF_250K: case XRQ5_BLOCK_WS_FAST:
    case XRQ5_BLOCK_WS_SLOW: case XRQ5_BLOCK_CPLINTL: case XRQ5_BLOCK_GUNINTL:
    case XRQ5_BLOCK_MCP: case XRQ5_BLOCK_PHM: case XRQ5_BLOCK_GENERIC_SPECT:
    case XRQ5_BLOCK_TOROID_2010: case XRQ5_BLOCK_RF_250K_2010: case XRQ5_BLOCK_WS_2010:
    case XRQ5_BLOCK_CPLINTL_2010: case XRQ5_BLOCK_GUNINTL_2010: case XRQ5_BLOCK_MCP_2010:
    case XRQ5_BLOCK_PHM_2010:
      return XRQ5_DATA_SPECTRUM;
    case XRQ5_BLOCK_WSS_RAW: case XRQ5_BLOCK_WSS_COR:
      return XRQ5_DATA_GSPECTRUM;
    case XRQ5_BLOCK_IMAGE: case XRQ5_BLOCK_IMG_ROI1: case XRQ5_BLOCK_IMG_ROI2:
    case XRQ5_BLOCK_IMG_ROI3: case XRQ5_BLOCK_IMAGE_EXT:
      return XRQ5_DATA_IMAGE;
    default:
      return XRQ5_DATA_EQDATA;
  }
}

bool is_update_block(int dtype) {
  return data_structure_type(dtype) == XRQ5_DATA_SLOW && dtype != XRQ5_ENV_BLOCK &&
         dtype != XRQ5_ENV_BLOCK_2010;
}

// The bytes behind a sub-header, as far as its own ldata declares them.
const char* payload(const xrq5_serv_block_subhead_2010* data, size_t* len) {
  if (data == nullptr || data->ldata < 0) return nullptr;
  *len = static_cast<size_t>(data->ldata);
  return reinterpret_cast<const char*>(data + 1);
}

// Names from event data may fill their field without a terminator.
bool same_name(const char* a, size_t a_cap, const char* b, size_t b_cap) {
  size_t la = strnlen(a, a_cap);
  return la == strnlen(b, b_cap) && memcmp(a, b, la) == 0;
}

const size_t trigger_channel_cap = 256;  // xrq5_user_case_trigger::channel

int32_t read_i32(const char* p) {
  int32_t v;
  memcpy(&v, p, sizeof v);
  return v;
}

// Sub-channel `sub` of a spectrum block: its header and the address of its samples.
// Each header's ndata * groups floats must fit in what is left of the block.
const char* spectrum_at(const xrq5_serv_block_subhead_2010* data, int sub,
                        xrq5_spect_header_2010* head) {
  size_t len = 0;
  const char* p = payload(data, &len);
  if (p == nullptr || sub < 0 || (data_structure_type(data->dtype) & ~2) != XRQ5_DATA_SPECTRUM)
    return nullptr;
  size_t off = 0;
  for (int k = 0;; ++k) {
    if (len - off < sizeof *head) return nullptr;
    memcpy(head, p + off, sizeof *head);
    off += sizeof *head;
    if (head->ndata < 0 || head->groups < 1) return nullptr;
    unsigned long long n = static_cast<unsigned long long>(head->ndata) *
                           static_cast<unsigned long long>(head->groups);
    if (n > (len - off) / sizeof(float)) return nullptr;
    if (k == sub) return p + off;
    off += static_cast<size_t>(n) * sizeof(float);
  }
}

}  // namespace

extern "C" {

const char* event_name_itoa(int ev_type) {
  if (ev_type < 0 || ev_type > XRQ5_EV_EVMAX) return "UNKNOWN";
  return event_names[ev_type];
}

const char* block_name_itoa(int block_type) {
  if (block_type < 0 || block_type > max_block_type) return "UNKNOWN";
  return block_names[block_type];
}

int get_event_struct_type(int ev_type) { return event_struct_type(ev_type); }

int get_data_structure_type(int block_type) { return data_structure_type(block_type); }

bool find_upd_channel_2010(xrq5_serv_block_subhead_2010* data, xrq5_user_case_trigger* usert,
                           xrq5_upd_data_block_2010** upd) {
  size_t len = 0;
  const char* p = payload(data, &len);
  if (p == nullptr || usert == nullptr || upd == nullptr || !is_update_block(data->dtype))
    return true;
  const char* want = reinterpret_cast<const char*>(usert);
  const size_t rec = sizeof(xrq5_upd_data_block_2010);
  for (size_t off = 0; len - off >= rec; off += rec) {
    const char* name = p + off + offsetof(xrq5_upd_data_block_2010, upd_prop);
    if (same_name(name, sizeof xrq5_upd_data_block_2010::upd_prop, want, trigger_channel_cap)) {
      *upd = reinterpret_cast<xrq5_upd_data_block_2010*>(const_cast<char*>(p + off));
      return false;
    }
  }
  return true;
}

bool find_slow_channel_2010(xrq5_serv_block_subhead_2010* data, char* env_dict,
                            xrq5_user_case_trigger* usert, xrq5_env_data_block_2010** env) {
  size_t len = 0;
  const char* p = payload(data, &len);
  if (p == nullptr || env_dict == nullptr || usert == nullptr || env == nullptr ||
      (data->dtype != XRQ5_ENV_BLOCK && data->dtype != XRQ5_ENV_BLOCK_2010))
    return true;

  // The dictionary is itself a block: its ldata bounds the entries.
  xrq5_serv_block_subhead_2010 dict_head;
  memcpy(&dict_head, env_dict, sizeof dict_head);
  size_t name_cap;
  if (dict_head.dtype == XRQ5_ENV_DICT_BLOCK_2010)
    name_cap = sizeof xrq5_env_dictionary_block_2010::env_prop;
  else if (dict_head.dtype == XRQ5_ENV_DICT_BLOCK)
    name_cap = sizeof xrq5_env_dictionary_block::env_prop;
  else
    return true;
  if (dict_head.ldata < 0) return true;
  const size_t entry = sizeof(int32_t) + name_cap + 2 * sizeof(float);
  const size_t dict_len = static_cast<size_t>(dict_head.ldata);
  const char* dict = env_dict + sizeof dict_head;

  const char* want = reinterpret_cast<const char*>(usert);
  bool known = false;
  int32_t index = 0;
  for (size_t off = 0; dict_len - off >= entry; off += entry) {
    if (same_name(dict + off + sizeof(int32_t), name_cap, want, trigger_channel_cap)) {
      index = read_i32(dict + off);
      known = true;
      break;
    }
  }
  if (!known) return true;

  const size_t rec = sizeof(xrq5_env_data_block_2010);
  for (size_t off = 0; len - off >= rec; off += rec) {
    if (read_i32(p + off + offsetof(xrq5_env_data_block_2010, env_ch_idx)) == index) {
      *env = reinterpret_cast<xrq5_env_data_block_2010*>(const_cast<char*>(p + off));
      return false;
    }
  }
  return true;
}

float* get_pointer_to_data_2010(xrq5_serv_block_subhead_2010* data, int subchannel) {
  size_t len = 0;
  const char* p = payload(data, &len);
  if (p == nullptr || subchannel < 0) return nullptr;
  const int t = data_structure_type(data->dtype);
  if (t == XRQ5_DATA_NAMVAL) {
    if (static_cast<size_t>(subchannel) >= len / sizeof(float)) return nullptr;
    return reinterpret_cast<float*>(const_cast<char*>(p)) + subchannel;
  }
  xrq5_spect_header_2010 head;
  const char* samples = spectrum_at(data, subchannel, &head);
  if (samples == nullptr || head.ndata == 0) return nullptr;
  return reinterpret_cast<float*>(const_cast<char*>(samples));
}

bool get_spect_params_for_data_type_2010(xrq5_serv_block_subhead_2010* data, float* start,
                                         float* inc, void* /*unused*/, int* ndata, int* groups,
                                         float* group_inc, xrq5_spect_statistics_2010** stat,
                                         int subchannel) {
  xrq5_spect_header_2010 head;
  if (spectrum_at(data, subchannel, &head) == nullptr) return true;
  if (start) *start = head.start;
  if (inc) *inc = head.inc;
  if (ndata) *ndata = head.ndata;
  if (groups) *groups = head.groups;
  if (group_inc) *group_inc = head.group_inc;
  if (stat) *stat = nullptr;
  return false;
}

void get_image_params_2010(xrq5_serv_block_subhead_2010* data, int* x, int* y, int* bpp,
                           int* ev_num, unsigned char** chd) {
  xrq5_image_ext_frame_head head;
  memset(&head, 0, sizeof head);
  const unsigned char* pixels = nullptr;
  size_t len = 0;
  const char* p = payload(data, &len);
  if (p != nullptr && data_structure_type(data->dtype) == XRQ5_DATA_IMAGE && len >= sizeof head) {
    memcpy(&head, p, sizeof head);
    // The frame's own pixel length must fit in the block, and its width x height x
    // bytes per pixel in that length (width x height fits 64 bits; divide for the rest).
    const bool dims = head.width >= 0 && head.height >= 0 && head.bpp >= 0;
    const uint64_t area =
        dims ? static_cast<uint64_t>(head.width) * static_cast<uint64_t>(head.height) : 0;
    const uint64_t length = head.length >= 0 ? static_cast<uint64_t>(head.length) : 0;
    if (head.length >= 0 && static_cast<size_t>(head.length) <= len - sizeof head && dims &&
        (head.bpp == 0 || area <= length / static_cast<uint64_t>(head.bpp)))
      pixels = reinterpret_cast<const unsigned char*>(p + sizeof head);
    else
      memset(&head, 0, sizeof head);
  }
  if (x) *x = head.width;
  if (y) *y = head.height;
  if (bpp) *bpp = head.bpp;
  if (ev_num) *ev_num = static_cast<int>(head.event);
  if (chd) *chd = const_cast<unsigned char*>(pixels);
}

}  // extern "C"
