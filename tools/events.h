// xrq5xml events FILE: what a recorded-event file holds.
#ifndef XRQ5_TOOL_EVENTS_H
#define XRQ5_TOOL_EVENTS_H

#include <string>

// Lists every event (position, number, type, time) and per block its name, data type,
// data structure type and size (verbose: also the block's error code); a damaged file is
// listed up to the fault, which is reported with its byte offset (exit status 1).
int events_command(const std::string& file, bool json, bool verbose);

#endif  // XRQ5_TOOL_EVENTS_H
