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

#include <nlohmann/json.hpp>

#include "chan_selector.h"
#include "event_util.h"
#include "files.h"
#include "kinds.h"
#include "records.h"
#include "stdout_guard.h"

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

nlohmann::json names_json(unsigned int mask, bool events) {
  nlohmann::json names = nlohmann::json::array();
  const std::string text = names_of(mask, events);
  for (size_t at = 0; at < text.size();) {
    const size_t colon = text.find(':', at);
    names.push_back(text.substr(at, colon == std::string::npos ? std::string::npos : colon - at));
    if (colon == std::string::npos) break;
    at = colon + 1;
  }
  return names;
}

nlohmann::json describe_json(chan_selector& sel, int num, const std::string& shown, int event,
                             bool shift) {
  const unsigned int ev = static_cast<unsigned int>(sel.get_event_type(sel.get_channel(num)));
  const unsigned int dt = static_cast<unsigned int>(sel.get_data_type(sel.get_channel(num)));
  nlohmann::json j = {{"channel", shown}, {"held", true}};
  if (event >= 0)
    j["wanted"] = sel.find_channel(event, const_cast<char*>(shown.c_str()));
  j["event_types"] = ev;
  if (shift) j["event_type_names"] = names_json(ev, true);
  j["data_type"] = dt;
  if (shift) j["data_type_names"] = names_json(dt, false);
  auto flag = [](int r) { return r == 1 ? nlohmann::json(true) : r == 0 ? nlohmann::json(false)
                                                                           : nlohmann::json(nullptr); };
  j["slow"] = flag(sel.is_channel_slow(num));
  j["ml"] = flag(sel.is_channel_ml(num));
  j["subchannels"] = sel.get_subchannels(num);
  return j;
}

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

int select_json(chan_selector& sel, const select_options& opt, size_t nfiles, int good,
                bool failed, nlohmann::json* out) {
  const int event = opt.event;
  const bool shift = opt.shift;
  const std::vector<std::string>& channels = opt.channels;
  int status = failed ? EXIT_PROBLEMS : EXIT_CLEAN;
  nlohmann::json& j = *out;
  j = {{"files", nfiles}, {"read_cleanly", good}, {"failed", failed}, {"held", sel.size()}};
  if (event >= 0) j["event"] = {{"type", event}, {"name", event_name_itoa(event)}};
  nlohmann::json list = nlohmann::json::array();
  if (channels.empty())
    for (int i = 0; i < sel.size(); ++i)
      list.push_back(describe_json(sel, i, sel.get_channel(i), event, shift));
  for (const std::string& ch : channels) {
    int found = -1;
    for (int i = 0; i < sel.size() && found < 0; ++i)
      if (ch == sel.get_channel(i) || ch == sel.get_prop(i)) found = i;
    if (found >= 0) {
      list.push_back(describe_json(sel, found, ch, event, shift));
      continue;
    }
    nlohmann::json missing = {{"channel", ch}, {"held", false}};
    if (event >= 0) missing["wanted"] = sel.find_channel(event, const_cast<char*>(ch.c_str()));
    list.push_back(missing);
    status = EXIT_PROBLEMS;
  }
  j["channels"] = list;
  return status;
}

}  // namespace

int select_command(const select_options& opt) {
  const bool xml = opt.xml, shift = opt.shift;
  const int event = opt.event;
  std::vector<char*> files;
  for (const std::string& f : opt.files) files.push_back(const_cast<char*>(f.c_str()));
  const std::vector<std::string>& channels = opt.channels;
  for (char* f : files)
    if (open_check("select", f) != EXIT_CLEAN) {
      if (files.size() > 1 && f != files[0])
        fprintf(stderr, "xrq5xml select: (a channel goes after --event N, or with -c CHANNEL)\n");
      return EXIT_UNREADABLE;
    }
  chan_selector sel;
  sel.set_shift(shift);
  std::vector<std::string> texts;  // with --xml, the documents held in memory
  std::vector<char*> source = files;
  if (xml) {
    sel.change_mode(EXTR_FROM_XML);
    for (char* f : files) {
      std::ifstream in(f, std::ios::binary);
      if (!in) {
        fprintf(stderr, "xrq5xml select: cannot open '%s'\n", shown_name(f).c_str());
        return EXIT_UNREADABLE;
      }
      std::ostringstream s;
      s << in.rdbuf();
      texts.push_back(s.str());
    }
    for (size_t i = 0; i < texts.size(); ++i) source[i] = &texts[i][0];
  }
  int good = 0;
  bool failed;
  {
    // The selector's own lines are not the listing.
    library_stdout to_stderr(false);
    failed = sel.set_descriptions(source, &good);
  }
  int status = failed ? EXIT_PROBLEMS : EXIT_CLEAN;
  if (opt.json) {
    nlohmann::json j;
    {
      // The selector's own lines (a channel it does not find) are not the document.
      library_stdout to_stderr(false);
      status = select_json(sel, opt, files.size(), good, failed, &j);
    }
    printf("%s\n", json_text(j, 2).c_str());
    return status;
  }
  if (failed)
    printf("the last description did not read cleanly; %d descriptions held\n", sel.size());
  else
    printf("%d of %zu read cleanly; %d descriptions held\n", good, files.size(), sel.size());

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
