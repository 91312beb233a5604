/// \file
/// The channel descriptions a DAQ client wants, and the questions it asks per event:
/// is this channel wanted for this event type, what are its event types, data type,
/// slow or ML nature and sub-channel count.
///
/// Queries by name use hash indexes kept by set_descriptions, so they take the same
/// time however many descriptions are held, and answer exactly as a scan of the held
/// list in order would: the first description that matches.
#ifndef XRQ5_CHAN_SELECTOR_H
#define XRQ5_CHAN_SELECTOR_H

#include <vector>

#include "descr_extractor.h"

/// The channel descriptions a DAQ client wants, held with indexes by name, and the
/// per-event questions about them. Owns the descriptions it holds.
class XRQ5_API chan_selector : public descr_extractor {
 public:
  chan_selector();   ///< empty, ev_types 0, shift true, mode EXTR_FROM_FILE
  ~chan_selector();  ///< frees the held descriptions (clean_chan_desr_list)
  chan_selector(const chan_selector&) = delete;
  chan_selector& operator=(const chan_selector&) = delete;

  int size();  ///< number of held descriptions
  void set_shift(bool s);  ///< read later descriptions with (true) or without shift
  bool change_mode(int m);  ///< as set_mode

  /// Loads descriptions (get_descriptions with the shift flag) and appends them to the
  /// held list; the event-type mask grows by theirs. True when the last read failed;
  /// what it appended is held all the same.
  bool set_descriptions(std::vector<char*>& source, int* total);

  /// True when `chan` is wanted for event type ev_type (0..31): some held description
  /// carries the name, compared with DAQ names for LOCAL and ML event types and with
  /// property names for the others, and some held description is recorded in ev_type.
  /// An empty selector wants everything.
  bool find_channel(int ev_type, char* chan);

  /// Stores cnt as the sub-channel count of entry num; true when num is out of range.
  bool set_counter(int num, int cnt);

  /// The event-type mask of the first description whose DAQ name (or, with an event type
  /// of another structure than LOCAL and ML, property name) is chan; 0, with "CHANNEL ...
  /// NOT FOUND" (or "No descroption" when empty) on standard output, when none is.
  int get_event_type(char* chan);

  /// dtype of the first description whose DAQ name is chan; 0 when none.
  int get_data_type(char* chan);

  /// DAQ name (get_channel) or property name (get_prop) of entry num inside the held
  /// record, or null when num is out of range.
  ///@{
  char* get_channel(int num);
  char* get_prop(int num);
  ///@}

  /// 1 when the channel is recorded in BOR, EOR, ENV or UPD events, 0 when not, -1 for
  /// an index out of range or a channel whose mask is empty.
  int is_channel_slow(int num);
  /// 1 when the DAQ name holds ".ML" or an event type of the channel has the ML
  /// structure, 0 when not, -1 as for is_channel_slow.
  int is_channel_ml(int num);
  /// 1 for a slow channel, else the number of dimension descriptions; 0 out of range.
  int get_subchannels(int num);

  /// Prints the title and the held entries from `from` on (at most `count`).
  void dump(char* title, int from, int count);

 private:
  XRQ5_LOCAL void index_from(size_t first);

  int ev_types;
  std::vector<chan_descr_2010*> descr;
  bool shift;
  /// The look-ups by name, inside the library (the layout of the class is the three
  /// fields above and this pointer).
  struct name_indexes;
  name_indexes* indexes;
};

#endif  // XRQ5_CHAN_SELECTOR_H
