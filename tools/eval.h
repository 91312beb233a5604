// xrq5xml eval TRIGGERS.xml EVENTS: triggers tried on recorded events.
#ifndef XRQ5_TOOL_EVAL_H
#define XRQ5_TOOL_EVAL_H

#include <vector>

// Reads the trigger list and the recorded-event file named in `args`, evaluates every
// trigger against the block of its channel in every event, prints per event the
// triggers that fired with their function results, then a summary; an exit status.
int eval_command(std::vector<char*>& args);

#endif  // XRQ5_TOOL_EVAL_H
