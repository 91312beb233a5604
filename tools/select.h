// xrq5xml select: what the channel selector makes of a set of channel descriptions.
#ifndef XRQ5_TOOL_SELECT_H
#define XRQ5_TOOL_SELECT_H

#include <vector>

// select [--xml] [--no-shift] XCD... [--event N] [CHANNEL...]: loads the descriptions
// (files, or with --xml their texts from memory) and prints per channel (all held ones
// without CHANNEL) whether it is wanted for event type N, its event types, data type,
// slow and ML nature and sub-channel count; an exit status.
int select_command(std::vector<char*>& args);

#endif  // XRQ5_TOOL_SELECT_H
