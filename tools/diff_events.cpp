// xrq5xml diff A B on two recorded-event files: events paired by position, compared
// one pair at a time, so that files of any size compare in bounded memory.
#include "diff_events.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "event_builder.h"
#include "event_util.h"
#include "files.h"
#include "kinds.h"
#include "records.h"

using nlohmann::json;

namespace {

std::string time_text(const time_stamp& t) {
  char buf[40];
  snprintf(buf, sizeof buf, "%u.%06u", t.timeup, t.timelow);
  return buf;
}

std::vector<xrq5_serv_block_subhead_2010*> blocks_of(xrq5_evb_event& ev) {
  std::vector<xrq5_serv_block_subhead_2010*> blocks;
  size_t off = 0;
  while (xrq5_serv_block_subhead_2010* b =
             xrq5_evb_next_block(ev.blocks.data(), ev.blocks.size(), &off))
    blocks.push_back(b);
  return blocks;
}

void field(json* changes, const std::string& name, const json& a, const json& b) {
  if (a != b) changes->push_back({{"field", name}, {"old", a}, {"new", b}});
}

json summary_of(const xrq5_evb_event& ev) {
  return {{"number", ev.ev_number},
          {"type", event_name_itoa(ev.ev_type)},
          {"time", time_text(ev.time)},
          {"size", ev.blocks.size()}};
}

std::string value_text(const json& v) { return v.is_string() ? v.get<std::string>() : v.dump(); }

// Lists `first_ev` (at position e) and the rest of r's events, which the other file
// lacks; their count.
uint64_t list_rest(xrq5_evb_reader* r, xrq5_evb_event* ev, uint64_t e, bool json_out,
                   const char* what) {
  uint64_t n = 0;
  do {
    if (json_out) {
      const json entry = {{"key", e}, {"record", summary_of(*ev)}};
      printf("%s%s", n == 0 ? "" : ",", json_text(entry, -1).c_str());
    } else {
      printf("%s event %" PRIu64 "\n", what, e);
    }
    ++n;
    ++e;
  } while (r->next(ev));
  return n;
}

}  // namespace

int diff_events(const std::string& a, const std::string& b, bool json_out, bool verbose) {
  const std::string names[2] = {shown_name(a), shown_name(b)};
  xrq5_evb_reader r[2];
  for (int i = 0; i < 2; ++i)
    if (!r[i].open(i == 0 ? a.c_str() : b.c_str())) {
      fprintf(stderr, "xrq5xml diff: %s; not compared\n", r[i].error().c_str());
      return EXIT_UNREADABLE;
    }
  if (json_out)
    printf("{\"a\":%s,\"b\":%s,\"kind\":\"recorded events\",\"changed\":[",
           json_text(names[0], -1).c_str(), json_text(names[1], -1).c_str());
  xrq5_evb_event ev[2];
  uint64_t e = 0, changed = 0, added = 0, removed = 0;
  bool got[2] = {false, false};
  for (;; ++e) {
    got[0] = r[0].next(&ev[0]);
    got[1] = r[1].next(&ev[1]);
    if (!got[0] || !got[1]) break;
    json changes = json::array();
    field(&changes, "number", ev[0].ev_number, ev[1].ev_number);
    field(&changes, "type", event_name_itoa(ev[0].ev_type), event_name_itoa(ev[1].ev_type));
    field(&changes, "time", time_text(ev[0].time), time_text(ev[1].time));
    field(&changes, "size", ev[0].blocks.size(), ev[1].blocks.size());
    const std::vector<xrq5_serv_block_subhead_2010*> ba = blocks_of(ev[0]), bb = blocks_of(ev[1]);
    field(&changes, "blocks", ba.size(), bb.size());
    for (size_t k = 0; k < ba.size() && k < bb.size(); ++k) {
      const std::string at = "blocks[" + std::to_string(k) + "].";
      field(&changes, at + "name", field_text(ba[k]->chname, sizeof ba[k]->chname),
            field_text(bb[k]->chname, sizeof bb[k]->chname));
      field(&changes, at + "dtype", ba[k]->dtype, bb[k]->dtype);
      field(&changes, at + "error", ba[k]->error, bb[k]->error);
      field(&changes, at + "size", ba[k]->ldata, bb[k]->ldata);
      if (ba[k]->ldata == bb[k]->ldata && ba[k]->ldata > 0 &&
          memcmp(ba[k] + 1, bb[k] + 1, static_cast<size_t>(ba[k]->ldata)) != 0)
        changes.push_back({{"field", at + "data"}, {"old", "differs"}, {"new", "differs"}});
    }
    if (changes.empty()) continue;
    if (json_out) {
      const json entry = {{"key", e}, {"fields", changes}};
      printf("%s%s", changed == 0 ? "" : ",", json_text(entry, -1).c_str());
    } else {
      printf("changed event %" PRIu64 "\n", e);
      for (const json& c : changes)
        printf("  %s: %s -> %s\n", c["field"].get<std::string>().c_str(),
               value_text(c["old"]).c_str(), value_text(c["new"]).c_str());
    }
    ++changed;
  }
  const bool damaged = r[0].status() != XRQ5_EVB_OK || r[1].status() != XRQ5_EVB_OK;
  // The events one file has past the end of the other (not listed past damage).
  if (json_out) printf("],\"removed\":[");
  if (got[0] && !damaged) removed = list_rest(&r[0], &ev[0], e, json_out, "removed");
  if (json_out) printf("],\"added\":[");
  if (got[1] && !damaged) added = list_rest(&r[1], &ev[1], e, json_out, "added");
  const bool equal = !damaged && changed == 0 && added == 0 && removed == 0;
  const uint64_t count[2] = {r[0].events(), r[1].events()};
  if (json_out) {
    printf("],\"equal\":%s}\n", equal ? "true" : "false");
  } else if (!equal || verbose) {
    printf("%s and %s: %" PRIu64 " added, %" PRIu64 " removed, %" PRIu64 " changed of %" PRIu64
           " and %" PRIu64 " events (recorded events)\n",
           names[0].c_str(), names[1].c_str(), added, removed, changed, count[0], count[1]);
  }
  for (int i = 0; i < 2; ++i)
    if (r[i].status() != XRQ5_EVB_OK) {
      fflush(stdout);
      fprintf(stderr, "xrq5xml diff: '%s' is damaged at byte %" PRIu64 ": %s; compared up to "
                      "the damage\n", names[i].c_str(), r[i].fault(), r[i].error().c_str());
    }
  if (damaged) return EXIT_UNREADABLE;
  return equal ? EXIT_CLEAN : EXIT_PROBLEMS;
}
