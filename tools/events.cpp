#include "events.h"

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

int events_command(const std::string& file, bool json, bool verbose) {
  if (open_check("events", file.c_str()) != EXIT_CLEAN) return EXIT_UNREADABLE;
  std::vector<xrq5_evb_event> events;
  std::string error;
  size_t fault = 0;
  const int r = xrq5_evb_read_file_at(file.c_str(), &events, &error, &fault);
  if (r == XRQ5_EVB_OPEN_FAILED) {
    fprintf(stderr, "xrq5xml events: %s\n", error.c_str());
    return EXIT_UNREADABLE;
  }
  nlohmann::json list = nlohmann::json::array();
  size_t nblocks = 0;
  for (size_t e = 0; e < events.size(); ++e) {
    xrq5_evb_event& ev = events[e];
    std::vector<xrq5_serv_block_subhead_2010*> blocks;
    size_t off = 0;
    while (xrq5_serv_block_subhead_2010* b =
               xrq5_evb_next_block(ev.blocks.data(), ev.blocks.size(), &off))
      blocks.push_back(b);
    nblocks += blocks.size();
    nlohmann::json jblocks = nlohmann::json::array();
    if (!json)
      printf("event %zu (number %u, %s, time %u.%06u): %zu block%s, %zu bytes\n", e, ev.ev_number,
             event_name_itoa(ev.ev_type), ev.time.timeup, ev.time.timelow, blocks.size(),
             blocks.size() == 1 ? "" : "s", ev.blocks.size());
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
    if (json)
      list.push_back({{"event", e},
                      {"number", ev.ev_number},
                      {"type", event_name_itoa(ev.ev_type)},
                      {"ev_type", ev.ev_type},
                      {"time", {{"timeup", ev.time.timeup}, {"timelow", ev.time.timelow}}},
                      {"size", ev.blocks.size()},
                      {"blocks", jblocks}});
  }
  const bool damaged = r != XRQ5_EVB_OK;
  if (json) {
    nlohmann::json out = {{"file", shown_name(file)}, {"events", list}, {"damaged", nullptr}};
    if (damaged) out["damaged"] = {{"offset", fault}, {"message", error}};
    printf("%s\n", json_text(out, 2).c_str());
  } else {
    printf("%zu event%s, %zu block%s%s\n", events.size(), events.size() == 1 ? "" : "s", nblocks,
           nblocks == 1 ? "" : "s", damaged ? " before the damage" : "");
  }
  if (damaged) {
    fflush(stdout);
    fprintf(stderr, "xrq5xml events: '%s' is damaged at byte %zu: %s\n",
            shown_name(file).c_str(), fault, error.c_str());
    return EXIT_PROBLEMS;
  }
  return EXIT_CLEAN;
}
