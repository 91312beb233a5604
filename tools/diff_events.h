// xrq5xml diff A B on recorded-event files.
#ifndef XRQ5_TOOL_DIFF_EVENTS_H
#define XRQ5_TOOL_DIFF_EVENTS_H

#include <string>

// Compares two recorded-event files event by event (paired by position: number, type,
// time, size, and per block its name, type, error, size and bytes), holding one event of
// each; prints the differences (json: one object, written as the files are read), then
// the events that one file has past the end of the other. Exit status 0 equal, 1
// different, 3 a file unreadable or damaged (compared up to the damage).
int diff_events(const std::string& a, const std::string& b, bool json, bool verbose);

#endif  // XRQ5_TOOL_DIFF_EVENTS_H
