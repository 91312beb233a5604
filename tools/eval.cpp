// xrq5xml eval: every trigger of a list against the block of its channel in every
// event of a recorded-event file, as a DAQ process would evaluate them.
#include "eval.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "event_builder.h"
#include "event_util.h"
#include "files.h"
#include "kinds.h"
#include "parse_env_index_dictionary.h"
#include "records.h"
#include "stdout_guard.h"
#include "user_case_trigger.h"

namespace {

bool is_dictionary(const xrq5_serv_block_subhead_2010* b) {
  return b->dtype == XRQ5_ENV_DICT_BLOCK_2010 || b->dtype == XRQ5_ENV_DICT_BLOCK;
}

std::string describe(int i, const xrq5_user_case_trigger& t) {
  char text[600];
  snprintf(text, sizeof text, "[%d] %.255s %s %s", i, t.channel,
           xrq5_get_function_string(t.function), xrq5_get_operation_string(t.operation));
  std::string s = text;
  if (t.description[0]) s += std::string(" (") + std::string(t.description, strnlen(t.description, 256)) + ")";
  return s;
}

template <class Entry>
bool dictionary_block(char* file, int (*read)(char*, std::vector<Entry*>*),
                      bool (*make)(std::vector<Entry*>*, std::vector<char>*),
                      std::vector<char>* block) {
  std::vector<Entry*> list;
  const int r = read(file, &list);
  const bool ok = r == 0 && !make(&list, block);
  for (Entry* e : list) free(e);
  if (!ok) fprintf(stderr, "xrq5xml eval: '%s' did not read cleanly as an environment index "
                           "dictionary (result %d)\n", file, r);
  return ok;
}

bool load_dictionary(char* file, std::vector<char>* block) {
  if (classic_layout())
    return dictionary_block(file, parse_env_index_dict_readf, xrq5_make_env_dict_block, block);
  return dictionary_block(file, parse_env_index_dict_readf_2010, xrq5_make_env_dict_block_2010,
                          block);
}

bool chosen(const eval_options& opt, size_t i, const xrq5_user_case_trigger& t) {
  if (!opt.group.empty() && field_text(t.group, sizeof t.group) != opt.group) return false;
  if (opt.only_triggers.empty()) return true;
  for (int n : opt.only_triggers)
    if (n >= 0 && static_cast<size_t>(n) == i) return true;
  return false;
}

nlohmann::json trigger_json(size_t i, const xrq5_user_case_trigger& t) {
  return {{"trigger", i},
          {"channel", field_text(t.channel, sizeof t.channel)},
          {"function", xrq5_get_function_string(t.function)},
          {"operation", xrq5_get_operation_string(t.operation)},
          {"description", field_text(t.description, sizeof t.description)}};
}

// A CSV field, quoted when it holds a separator, quote or line break.
std::string csv_field(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

std::string time_text(const time_stamp& t) {
  char buf[40];
  snprintf(buf, sizeof buf, "%u.%06u", t.timeup, t.timelow);
  return buf;
}

struct tally {
  int fired = 0;
  int missing = 0;  // events without the channel
  int invalid = 0;  // evaluations that returned -1
};

}  // namespace

bool parse_event_range(const std::string& text, long* from, long* to) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) return false;
  auto end = [](const std::string& part, long* v) {
    if (part.empty()) {
      *v = -1;
      return true;
    }
    if (part.size() > 9 || part.find_first_not_of("0123456789") != std::string::npos) return false;
    *v = strtol(part.c_str(), nullptr, 10);
    return true;
  };
  if (!end(text.substr(0, colon), from) || !end(text.substr(colon + 1), to)) return false;
  if (*from < 0) *from = 0;
  return *to < 0 || *from <= *to;
}

int eval_command(const eval_options& opt) {
  char* env_dict = opt.env_dict.empty() ? nullptr : const_cast<char*>(opt.env_dict.c_str());
  char* files[2] = {const_cast<char*>(opt.triggers.c_str()), const_cast<char*>(opt.events.c_str())};
  for (char* f : {files[0], files[1], env_dict})
    if (f != nullptr && open_check("eval", f) != EXIT_CLEAN) return EXIT_UNREADABLE;
  // The dictionary of --env-dict, in the event-utility library's block form; without
  // it, dictionary blocks recorded in the events serve.
  std::vector<char> given_dict;
  if (env_dict != nullptr && !load_dictionary(env_dict, &given_dict)) return EXIT_PROBLEMS;

  xrq5_trigger_list owned;  // frees the records on every way out
  std::vector<xrq5_user_case_trigger*>& triggers = *owned.get();
  if (owned.readf(files[0])) {
    fprintf(stderr, "xrq5xml eval: '%s' did not read cleanly as a trigger list\n",
            shown_name(files[0]).c_str());
    return EXIT_PROBLEMS;
  }
  std::vector<xrq5_evb_event> events;
  std::string error;
  const int r = xrq5_evb_read_file(files[1], &events, &error);
  if (r != XRQ5_EVB_OK) {
    fprintf(stderr, "xrq5xml eval: %s\n", error.c_str());
    return r == XRQ5_EVB_OPEN_FAILED ? EXIT_UNREADABLE : EXIT_PROBLEMS;
  }
  for (int n : opt.only_triggers)
    if (n < 0 || static_cast<size_t>(n) >= triggers.size())
      fprintf(stderr, "xrq5xml eval: the list has no trigger %d (%zu triggers)\n", n,
              triggers.size());

  std::vector<tally> tallies(triggers.size());
  std::vector<bool> wanted(triggers.size());
  size_t n_wanted = 0;
  for (size_t i = 0; i < triggers.size(); ++i)
    n_wanted += (wanted[i] = chosen(opt, i, *triggers[i])) ? 1 : 0;
  std::vector<xrq5_trigger_outcome> outcomes;
  char* dict = nullptr;
  int evaluations = 0, fires = 0;
  size_t reported = 0;
  if (opt.csv) printf("event,time,trigger,channel,function,result,fired\n");
  for (size_t e = 0; e < events.size(); ++e) {
    xrq5_evb_event& ev = events[e];
    // A dictionary recorded in an event serves it and the events after it.
    std::vector<xrq5_serv_block_subhead_2010*> blocks;
    size_t off = 0;
    while (xrq5_serv_block_subhead_2010* b =
               xrq5_evb_next_block(ev.blocks.data(), ev.blocks.size(), &off)) {
      blocks.push_back(b);
      if (is_dictionary(b)) dict = reinterpret_cast<char*>(b);
    }
    if (!given_dict.empty()) dict = given_dict.data();

    // Every event is evaluated, so that the functions that look back (DIFF) give in a
    // range what they give in the whole run; only the range is reported.
    {
      // What the functions print (a value line, an unknown structure type) is not the
      // listing, the JSON or the CSV.
      library_stdout to_stderr(false);
      xrq5_eval_trigger_list(&triggers, &blocks, dict, &outcomes);
    }
    if (static_cast<long>(e) < opt.from || (opt.to >= 0 && static_cast<long>(e) > opt.to))
      continue;
    ++reported;
    std::vector<std::string> lines;
    nlohmann::json fired = nlohmann::json::array(), invalid = nlohmann::json::array();
    for (size_t i = 0; i < triggers.size(); ++i) {
      if (!wanted[i]) continue;
      const xrq5_trigger_outcome& o = outcomes[i];
      if (opt.csv) {
        char result[32] = "";
        if (!o.missing && o.on >= 0 && o.has_result)
          snprintf(result, sizeof result, "%g", static_cast<double>(o.result));
        printf("%u,%s,%zu,%s,%s,%s,%d\n", ev.ev_number, time_text(ev.time).c_str(), i,
               csv_field(field_text(triggers[i]->channel, sizeof triggers[i]->channel)).c_str(),
               xrq5_get_function_string(triggers[i]->function), result, o.on == 1 ? 1 : 0);
      }
      if (o.missing) {
        tallies[i].missing++;
        continue;
      }
      ++evaluations;
      if (o.on < 0) {
        tallies[i].invalid++;
        lines.push_back("  " + describe(static_cast<int>(i), *triggers[i]) + "  invalid trigger");
        invalid.push_back(i);
      } else if (o.on == 1) {
        tallies[i].fired++;
        ++fires;
        char result[64];
        snprintf(result, sizeof result, "  result %g", static_cast<double>(o.result));
        lines.push_back("  " + describe(static_cast<int>(i), *triggers[i]) + result);
        nlohmann::json f = trigger_json(i, *triggers[i]);
        f["result"] = o.has_result ? float_json(o.result) : nlohmann::json(nullptr);
        fired.push_back(f);
      } else if (opt.verbose) {
        char result[64] = "  no result";
        if (o.has_result)
          snprintf(result, sizeof result, "  result %g", static_cast<double>(o.result));
        lines.push_back("  " + describe(static_cast<int>(i), *triggers[i]) + result +
                        ", not fired");
      }
    }
    if (opt.csv) continue;
    if (opt.json) {
      const nlohmann::json line = {{"event", e},
                                   {"number", ev.ev_number},
                                   {"type", event_name_itoa(ev.ev_type)},
                                   {"time", {{"timeup", ev.time.timeup}, {"timelow", ev.time.timelow}}},
                                   {"fired", fired},
                                   {"invalid", invalid}};
      printf("%s\n", json_text(line, -1).c_str());
      continue;
    }
    printf("event %zu (number %u, %s, time %u.%06u): %zu fired\n", e, ev.ev_number,
           event_name_itoa(ev.ev_type), ev.time.timeup, ev.time.timelow,
           fired.size() + invalid.size());
    for (const std::string& l : lines) printf("%s\n", l.c_str());
  }
  xrq5_user_trigger_set_ext_env_dictionary(nullptr);

  bool invalid = false;
  for (size_t i = 0; i < triggers.size(); ++i) invalid = invalid || tallies[i].invalid != 0;
  if (opt.json) {
    nlohmann::json per = nlohmann::json::array();
    for (size_t i = 0; i < triggers.size(); ++i) {
      if (!wanted[i]) continue;
      nlohmann::json t = trigger_json(i, *triggers[i]);
      t["fired"] = tallies[i].fired;
      t["missing"] = tallies[i].missing;
      t["invalid"] = tallies[i].invalid;
      per.push_back(t);
    }
    const nlohmann::json summary = {{"summary",
                                     {{"events", reported},
                                      {"triggers", n_wanted},
                                      {"evaluations", evaluations},
                                      {"fires", fires},
                                      {"per_trigger", per}}}};
    printf("%s\n", json_text(summary, -1).c_str());
  } else if (!opt.csv) {
    printf("\nsummary: %zu events, %zu triggers, %d evaluations, %d fires\n", reported, n_wanted,
           evaluations, fires);
    for (size_t i = 0; i < triggers.size(); ++i) {
      if (!wanted[i]) continue;
      printf("  %s: fired in %d, channel missing in %d%s\n",
             describe(static_cast<int>(i), *triggers[i]).c_str(), tallies[i].fired,
             tallies[i].missing, tallies[i].invalid ? ", invalid" : "");
    }
  }
  return invalid ? EXIT_PROBLEMS : EXIT_CLEAN;
}
