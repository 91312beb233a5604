// xrq5xml select: channel descriptions loaded as a DAQ client loads them, and the
// answers of the channel selector.
#include "select.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "chan_selector.h"
#include "event_util.h"
#include "files.h"
#include "kinds.h"

namespace {

std::string names_of(unsigned int mask, bool events) {
  std::string text;
  const int base = !events && (mask & 0x80000000u) ? 32 : 0;
  for (int n = 0; n < (events ? 32 : 31); ++n) {
    if (!(mask & (1u << n))) continue;
    if (!text.empty()) text += ':';
    text += events ? event_name_itoa(n) : block_name_itoa(base + n);
  }
  return text;
}

const char* yes_no(int r) { return r == 1 ? "yes" : r == 0 ? "no" : "?"; }

void describe(chan_selector& sel, int num, const std::string& shown, int event, bool shift) {
  const unsigned int ev = static_cast<unsigned int>(sel.get_event_type(sel.get_channel(num)));
  const unsigned int dt = static_cast<unsigned int>(sel.get_data_type(sel.get_channel(num)));
  std::string line = shown + ":";
  if (event >= 0)
    line += std::string(" ") + (sel.find_channel(event, const_cast<char*>(shown.c_str()))
                                    ? "wanted"
                                    : "not wanted") +
            " for " + event_name_itoa(event) + ";";
  char buf[64];
  snprintf(buf, sizeof buf, " event types 0x%x", ev);
  line += buf;
  if (shift) line += " (" + names_of(ev, true) + ")";
  snprintf(buf, sizeof buf, "; data type 0x%x", dt);
  line += buf;
  if (shift) line += " (" + names_of(dt, false) + ")";
  line += std::string("; slow ") + yes_no(sel.is_channel_slow(num)) + "; ML " +
          yes_no(sel.is_channel_ml(num)) + "; sub-channels " +
          std::to_string(sel.get_subchannels(num));
  printf("%s\n", line.c_str());
}

}  // namespace

int select_command(std::vector<char*>& args) {
  bool xml = false, shift = true;
  int event = -1;
  std::vector<char*> files;
  std::vector<std::string> channels;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string a = args[i];
    if (a == "--xml") {
      xml = true;
    } else if (a == "--no-shift") {
      shift = false;
    } else if (a == "--event" && i + 1 < args.size()) {
      char* end = nullptr;
      const long n = strtol(args[++i], &end, 10);
      if (*end != '\0' || n < 0 || n > 31) {
        fprintf(stderr, "xrq5xml select: --event takes an event type 0..31\n");
        return EXIT_USAGE;
      }
      event = static_cast<int>(n);
    } else if (!a.empty() && a[0] == '-') {
      fprintf(stderr, "xrq5xml select: unexpected argument '%s' (try xrq5xml --help)\n", a.c_str());
      return EXIT_USAGE;
    } else if (event < 0) {
      files.push_back(args[i]);
    } else {
      channels.push_back(a);
    }
  }
  if (files.empty()) {
    fprintf(stderr, "xrq5xml select: usage: xrq5xml select [--xml] [--no-shift] XCD... "
                    "[--event N] [CHANNEL...]\n");
    return EXIT_USAGE;
  }

  for (char* f : files)
    if (open_check("select", f) != EXIT_CLEAN) return EXIT_UNREADABLE;
  chan_selector sel;
  sel.set_shift(shift);
  std::vector<std::string> texts;  // with --xml, the documents held in memory
  std::vector<char*> source = files;
  if (xml) {
    sel.change_mode(EXTR_FROM_XML);
    for (char* f : files) {
      std::ifstream in(f, std::ios::binary);
      if (!in) {
        fprintf(stderr, "xrq5xml select: cannot open '%s'\n", f);
        return EXIT_UNREADABLE;
      }
      std::ostringstream s;
      s << in.rdbuf();
      texts.push_back(s.str());
    }
    for (size_t i = 0; i < texts.size(); ++i) source[i] = &texts[i][0];
  }
  int good = 0;
  const bool failed = sel.set_descriptions(source, &good);
  fflush(stdout);
  if (failed)
    printf("the last description did not read cleanly; %d descriptions held\n", sel.size());
  else
    printf("%d of %zu read cleanly; %d descriptions held\n", good, files.size(), sel.size());

  int status = failed ? EXIT_PROBLEMS : EXIT_CLEAN;
  if (channels.empty()) {
    for (int i = 0; i < sel.size(); ++i) describe(sel, i, sel.get_channel(i), event, shift);
    return status;
  }
  for (const std::string& ch : channels) {
    int found = -1;
    for (int i = 0; i < sel.size() && found < 0; ++i)
      if (ch == sel.get_channel(i) || ch == sel.get_prop(i)) found = i;
    if (found < 0) {
      printf("%s: %s for %s; no description holds it\n", ch.c_str(),
             sel.find_channel(event, const_cast<char*>(ch.c_str())) ? "wanted" : "not wanted",
             event_name_itoa(event));
      status = EXIT_PROBLEMS;
      continue;
    }
    describe(sel, found, ch, event, shift);
  }
  return status;
}
