// What a conversion loses: the records as they were read, compared field by field with
// the records that the written document reads back as.
#ifndef XRQ5_TOOL_ROUND_TRIP_H
#define XRQ5_TOOL_ROUND_TRIP_H

#include <string>
#include <utility>
#include <vector>

#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "user_case_trigger.h"

// Per kind of field lost, in a fixed order: its name and the number of records in
// which it did not come back.
class losses {
 public:
  void add(const char* field) {
    for (auto& l : lost_)
      if (l.first == field) {
        ++l.second;
        return;
      }
    lost_.emplace_back(field, 1);
  }
  bool empty() const { return lost_.empty(); }
  const std::vector<std::pair<std::string, int>>& lines() const { return lost_; }

 private:
  std::vector<std::pair<std::string, int>> lost_;
};

// `read` as the reader gave it, `back` as the written document reads back. Records that
// the writer leaves out (a repeated property name: the first record of a name wins)
// and records that do not come back are counted too.
losses compare(const std::vector<chan_descr_2010*>& read, const std::vector<chan_descr_2010*>& back);
losses compare(const std::vector<xrq5_user_case_trigger*>& read,
               const std::vector<xrq5_user_case_trigger*>& back);
losses compare(const std::vector<xrq5_env_index_dictionary_entry*>& read,
               const std::vector<xrq5_env_index_dictionary_entry*>& back);
losses compare(const std::vector<xrq5_env_index_dictionary_entry_2010*>& read,
               const std::vector<xrq5_env_index_dictionary_entry_2010*>& back);

#endif  // XRQ5_TOOL_ROUND_TRIP_H
