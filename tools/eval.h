// xrq5xml eval TRIGGERS.xml EVENTS: triggers tried on recorded events.
#ifndef XRQ5_TOOL_EVAL_H
#define XRQ5_TOOL_EVAL_H

#include <string>
#include <vector>

struct eval_options {
  std::string triggers, env_dict;  // paths; env_dict may be empty
  std::vector<std::string> events;  // recorded-event files, or folders of them
  bool json = false;     // one object per event, then a summary object (NDJSON)
  bool csv = false;      // one row per event and trigger
  bool verbose = false;  // also the triggers that were evaluated and did not fire
  std::vector<int> only_triggers;  // indices into the list; empty: all
  std::string group;               // only triggers of this group; empty: all
  long from = 0, to = -1;          // positions of the events reported; to < 0: to the end
  bool summary_only = false;       // no per-event output, only the summary
  int jobs = 1;                    // files evaluated at once, each in a process of its own
  bool progress = false;           // a progress line on standard error
};

// Reads the trigger list and streams each recorded-event file, evaluates every trigger
// against the block of its channel in every event, prints per event (of from..to, counted
// within each file) the triggers (chosen by only_triggers and group) that fired with their
// function results, then one summary over all files; an exit status. Each file is
// evaluated from a fresh trigger state, as if it were the only one (DIFF functions start
// over); with several files the per-event lines name their file. With jobs > 1 the files
// are evaluated in parallel processes and the output is what jobs == 1 gives.
int eval_command(const eval_options& opt);

// Parses "FROM:TO", "FROM:" or ":TO" (event positions, both ends included) into
// *from and *to (-1 for an open end); false when it is not such a range.
bool parse_event_range(const std::string& text, long* from, long* to);

#endif  // XRQ5_TOOL_EVAL_H
