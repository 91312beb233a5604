#include "events.h"

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "event_builder.h"
#include "event_util.h"
#include "files.h"
#include "kinds.h"
#include "records.h"

namespace {

const char* structure_name(int t) {
  switch (t) {
    case XRQ5_DATA_EQDATA: return "EQDATA";
    case XRQ5_DATA_NAMVAL: return "NAMVAL";
    case XRQ5_DATA_IMAGE: return "IMAGE";
    case XRQ5_DATA_SLOW: return "SLOW";
    case XRQ5_DATA_SPECTRUM: return "SPECTRUM";
    case XRQ5_DATA_GSPECTRUM: return "GSPECTRUM";
    default: return "UNKNOWN";
  }
}

}  // namespace

namespace {

// One event's entry of the JSON listing, indented as it stands in the "events" array.
std::string event_json_text(const nlohmann::json& entry) {
  std::string text = json_text(entry, 2);
  std::string out = "    ";
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    out += c;
    if (c == '\n') out += "    ";
  }
  return out;
}

}  // namespace

int events_command(const std::string& file, bool json, bool verbose) {
  if (open_check("events", file.c_str()) != EXIT_CLEAN) return EXIT_UNREADABLE;
  if (!is_kind("events", file.c_str(), nullptr)) return EXIT_UNREADABLE;
  // One event at a time: the listing, JSON too, is written as the file is read.
  xrq5_evb_reader reader;
  if (!reader.open(file.c_str()) && reader.status() == XRQ5_EVB_OPEN_FAILED) {
    fprintf(stderr, "xrq5xml events: %s\n", reader.error().c_str());
    return EXIT_UNREADABLE;
  }
  if (json) {
    // The object's keys are in name order, "damaged" first: a quick first pass over the
    // headers finds it, so that the listing still streams.
    xrq5_evb_reader first;
    nlohmann::json why = nullptr;
    if (first.open(file.c_str()))
      while (first.skip()) {
      }
    if (first.status() == XRQ5_EVB_BAD_FILE)
      why = {{"offset", first.fault()}, {"message", first.error()}};
    std::string indented;
    for (char c : json_text(why, 2)) indented += c == '\n' ? std::string("\n  ") : std::string(1, c);
    printf("{\n  \"damaged\": %s,\n  \"events\": [", indented.c_str());
  }
  size_t nblocks = 0;
  xrq5_evb_event ev;
  std::vector<xrq5_serv_block_subhead_2010*> blocks;
  uint64_t e = 0;
  for (; reader.next(&ev); ++e) {
    blocks.clear();
    size_t off = 0;
    while (xrq5_serv_block_subhead_2010* b =
               xrq5_evb_next_block(ev.blocks.data(), ev.blocks.size(), &off))
      blocks.push_back(b);
    nblocks += blocks.size();
    nlohmann::json jblocks = nlohmann::json::array();
    if (!json)
      printf("event %" PRIu64 " (number %u, %s, time %u.%06u): %zu block%s, %zu bytes\n", e,
             ev.ev_number, event_name_itoa(ev.ev_type), ev.time.timeup, ev.time.timelow,
             blocks.size(), blocks.size() == 1 ? "" : "s", ev.blocks.size());
    for (const xrq5_serv_block_subhead_2010* b : blocks) {
      const std::string name = field_text(b->chname, sizeof b->chname);
      const int structure = get_data_structure_type(b->dtype);
      if (json) {
        jblocks.push_back({{"name", name},
                           {"dtype", b->dtype},
                           {"data_type", block_name_itoa(b->dtype)},
                           {"struct_type", structure},
                           {"structure", structure_name(structure)},
                           {"size", b->ldata},
                           {"error", b->error}});
        continue;
      }
      printf("  %s: %s (%d), %s (%d), %d bytes", name.c_str(), block_name_itoa(b->dtype),
             b->dtype, structure_name(structure), structure, b->ldata);
      if (verbose) printf(", error %d", b->error);
      printf("\n");
    }
    if (json) {
      const nlohmann::json entry = {
          {"event", e},
          {"number", ev.ev_number},
          {"type", event_name_itoa(ev.ev_type)},
          {"ev_type", ev.ev_type},
          {"time", {{"timeup", ev.time.timeup}, {"timelow", ev.time.timelow}}},
          {"size", ev.blocks.size()},
          {"blocks", jblocks}};
      printf("%s\n%s", e == 0 ? "" : ",", event_json_text(entry).c_str());
    }
  }
  const bool damaged = reader.status() != XRQ5_EVB_OK;
  if (json) {
    const nlohmann::json name = shown_name(file);
    printf("%s],\n  \"file\": %s\n}\n", e == 0 ? "" : "\n  ", json_text(name, -1).c_str());
  } else {
    printf("%" PRIu64 " event%s, %zu block%s%s\n", e, e == 1 ? "" : "s", nblocks,
           nblocks == 1 ? "" : "s", damaged ? " before the damage" : "");
  }
  if (damaged) {
    fflush(stdout);
    fprintf(stderr, "xrq5xml events: '%s' is damaged at byte %" PRIu64 ": %s\n",
            shown_name(file).c_str(), reader.fault(), reader.error().c_str());
    return EXIT_PROBLEMS;
  }
  return EXIT_CLEAN;
}
