// xrq5xml select: what the channel selector makes of a set of channel descriptions.
#ifndef XRQ5_TOOL_SELECT_H
#define XRQ5_TOOL_SELECT_H

#include <string>
#include <vector>

struct select_options {
  bool xml = false;    // hand the selector the texts of the files, not their names
  bool shift = true;   // types read as masks
  bool json = false;
  int event = -1;      // event type asked about; -1: none
  std::vector<std::string> files;
  std::vector<std::string> channels;  // empty: every held description
};

// Loads the descriptions (files, or with xml their texts from memory) and prints per
// channel whether it is wanted for the event type, its event types, data type, slow
// and ML nature and sub-channel count; an exit status.
int select_command(const select_options& opt);

#endif  // XRQ5_TOOL_SELECT_H
