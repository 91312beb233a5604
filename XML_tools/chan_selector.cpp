#include "chan_selector.h"

#include <cstdio>
#include <cstring>
#include <iostream>

#include "event_util.h"
#include "xrq5_name_index.h"

// Positions in descr of the first description with a DAQ name or a property name (any
// mask), with a DAQ name and a non-empty mask, and with a property name and a mask
// holding an event type of another structure than LOCAL and ML.
struct chan_selector::name_indexes {
  xrq5_name_index<size_t> daq_any, prop_any, daq_typed, prop_typed;
  unsigned int by_prop_mask = 0;  // event types whose channels are named by property
};

namespace {

template <size_t N>
size_t name_length(const char (&f)[N]) {
  return strnlen(f, N);
}

bool named_by_daq_name(int structure) {
  return structure == XRQ5_EV_STRUCT_LOCAL || structure == XRQ5_EV_STRUCT_ML;
}

const unsigned int slow_event_types =
    (1u << XRQ5_EV_BOR) | (1u << XRQ5_EV_EOR) | (1u << XRQ5_EV_ENV) | (1u << XRQ5_EV_UPD);

}  // namespace

chan_selector::chan_selector() : ev_types(0), shift(true), indexes(new name_indexes) {}

chan_selector::~chan_selector() {
  clean_chan_desr_list(&descr);
  delete indexes;
}

int chan_selector::size() { return static_cast<int>(descr.size()); }

void chan_selector::set_shift(bool s) { shift = s; }

bool chan_selector::change_mode(int m) { return set_mode(m); }

// Files the descriptions from position `first` on; the first of each name wins, as in
// a scan of the list in order.
void chan_selector::index_from(size_t first) {
  name_indexes& x = *indexes;
  unsigned int mask = 0;
  for (int i = 0; i < 32; ++i)
    if (!named_by_daq_name(get_event_struct_type(i))) mask |= 1u << i;
  if (mask != x.by_prop_mask) {  // which event types count as named by property changed
    x.by_prop_mask = mask;
    x.prop_typed = xrq5_name_index<size_t>();
    for (size_t i = 0; i < first; ++i)
      if (descr[i]->ev_type & x.by_prop_mask)
        x.prop_typed.insert(descr[i]->prop_name, name_length(descr[i]->prop_name), i);
  }
  for (size_t i = first; i < descr.size(); ++i) {
    const chan_descr_2010* d = descr[i];
    const size_t dl = name_length(d->daq_name), pl = name_length(d->prop_name);
    x.daq_any.insert(d->daq_name, dl, i);
    x.prop_any.insert(d->prop_name, pl, i);
    if (d->ev_type != 0) x.daq_typed.insert(d->daq_name, dl, i);
    if (d->ev_type & x.by_prop_mask) x.prop_typed.insert(d->prop_name, pl, i);
  }
}

bool chan_selector::set_descriptions(std::vector<char*>& source, int* total) {
  const size_t before = descr.size();
  const bool failed = get_descriptions(source, total, descr, shift);
  // What a failed read appended is held and queried like the rest, so the mask and
  // the indexes take it in too.
  for (size_t i = before; i < descr.size(); ++i) ev_types |= static_cast<int>(descr[i]->ev_type);
  index_from(before);
  return failed;
}

bool chan_selector::find_channel(int ev_type, char* chan) {
  if (descr.empty()) return true;
  if (ev_type < 0 || ev_type > 31 || !(static_cast<unsigned int>(ev_types) & (1u << ev_type)))
    return false;
  if (chan == nullptr) return false;
  const xrq5_name_index<size_t>& names =
      named_by_daq_name(get_event_struct_type(ev_type)) ? indexes->daq_any : indexes->prop_any;
  return names.find(chan) != nullptr;
}

bool chan_selector::set_counter(int num, int cnt) {
  if (static_cast<unsigned int>(num) >= descr.size()) return true;
  descr[num]->count = cnt;
  return false;
}

// The first description, in list order, that get_event_type's scan would match.
const chan_descr_2010* chan_selector::first_by_name(const char* chan) {
  const size_t* by_daq = indexes->daq_typed.find(chan);
  const size_t* by_prop = indexes->prop_typed.find(chan);
  if (by_daq && (!by_prop || *by_daq <= *by_prop)) return descr[*by_daq];
  return by_prop ? descr[*by_prop] : nullptr;
}

int chan_selector::get_event_type(char* chan) {
  if (descr.empty()) {
    std::cout << "get_event_type() No descroption !!!!" << std::endl;
    return 0;
  }
  const chan_descr_2010* d = chan ? first_by_name(chan) : nullptr;
  if (d == nullptr) {
    printf("CHANNEL %s NOT FOUND\n", chan ? chan : "");
    return 0;
  }
  return static_cast<int>(d->ev_type);
}

int chan_selector::get_data_type(char* chan) {
  if (descr.empty()) {
    std::cout << "get_event_type() No descroption !!!!" << std::endl;
    return 0;
  }
  const size_t* at = chan ? indexes->daq_any.find(chan) : nullptr;
  return at ? static_cast<int>(descr[*at]->dtype) : 0;
}

char* chan_selector::get_channel(int num) {
  return static_cast<unsigned int>(num) < descr.size() ? descr[num]->daq_name : nullptr;
}

char* chan_selector::get_prop(int num) {
  return static_cast<unsigned int>(num) < descr.size() ? descr[num]->prop_name : nullptr;
}

int chan_selector::is_channel_slow(int num) {
  if (static_cast<unsigned int>(num) >= descr.size()) return -1;
  const unsigned int m = static_cast<unsigned int>(get_event_type(get_channel(num)));
  if (m == 0) return -1;
  return (m & slow_event_types) ? 1 : 0;
}

int chan_selector::is_channel_ml(int num) {
  if (static_cast<unsigned int>(num) >= descr.size()) return -1;
  const unsigned int m = static_cast<unsigned int>(get_event_type(get_channel(num)));
  if (m == 0) return -1;
  for (int i = 0; i < 32; ++i) {
    if (!(m & (1u << i))) continue;
    const int structure = get_event_struct_type(i);
    // Structure results 10..15 count as ML too; the framework's types stop at 4, so
    // with them only the ML structure and the name decide.
    if (structure == XRQ5_EV_STRUCT_ML || (structure >= 10 && structure <= 15)) return 1;
    if (strstr(descr[num]->daq_name, ".ML") != nullptr) return 1;
  }
  return 0;
}

int chan_selector::get_subchannels(int num) {
  const int r = is_channel_slow(num);
  if (r == 1) return 1;
  if (r == -1) return 0;
  return static_cast<int>(descr[num]->dims.size());
}

void chan_selector::dump(char* title, int from, int count) {
  printf("%s\n", title ? title : "");
  const long long n = static_cast<long long>(descr.size());
  long long first = from < 0 ? 0 : from;
  long long last = static_cast<long long>(from) + (count < 0 ? 0 : count);
  if (last > n) last = n;
  for (long long i = first; i < last; ++i) {
    const chan_descr_2010* d = descr[static_cast<size_t>(i)];
    printf("[%lld] %.256s  prop %.256s  ev_type 0x%x  dtype 0x%x  count %d  dims %d\n", i,
           d->daq_name, d->prop_name, d->ev_type, d->dtype, d->count,
           static_cast<int>(d->dims.size()));
  }
}
