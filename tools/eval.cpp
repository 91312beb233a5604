// xrq5xml eval: every trigger of a list against the block of its channel in every
// event of a recorded-event file, as a DAQ process would evaluate them.
#include "eval.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "event_builder.h"
#include "event_util.h"
#include "files.h"
#include "kinds.h"
#include "parse_env_index_dictionary.h"
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

struct tally {
  int fired = 0;
  int missing = 0;  // events without the channel
  int invalid = 0;  // evaluations that returned -1
};

}  // namespace

int eval_command(std::vector<char*>& args) {
  std::vector<char*> files;
  char* env_dict = nullptr;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string a = args[i];
    if (a == "--env-dict" && i + 1 < args.size()) {
      env_dict = args[++i];
    } else if (!a.empty() && a[0] == '-') {
      fprintf(stderr, "xrq5xml eval: unexpected argument '%s' (try xrq5xml --help)\n", a.c_str());
      return EXIT_USAGE;
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 2) {
    fprintf(stderr, "xrq5xml eval: usage: xrq5xml eval TRIGGERS.xml EVENTS [--env-dict DICT.xml] "
                    "[--classic]\n");
    return EXIT_USAGE;
  }
  for (char* f : {files[0], files[1], env_dict})
    if (f != nullptr && open_check("eval", f) != EXIT_CLEAN) return EXIT_UNREADABLE;
  // The dictionary of --env-dict, in the event-utility library's block form; without
  // it, dictionary blocks recorded in the events serve.
  std::vector<char> given_dict;
  if (env_dict != nullptr && !load_dictionary(env_dict, &given_dict)) return EXIT_PROBLEMS;

  std::vector<xrq5_user_case_trigger*> triggers;
  if (parse_trigger_list_readf(files[0], &triggers)) {
    for (xrq5_user_case_trigger* t : triggers) XRQ5_FREE_USER(t);
    fprintf(stderr, "xrq5xml eval: '%s' did not read cleanly as a trigger list\n", files[0]);
    return EXIT_PROBLEMS;
  }
  std::vector<xrq5_evb_event> events;
  std::string error;
  const int r = xrq5_evb_read_file(files[1], &events, &error);
  if (r != XRQ5_EVB_OK) {
    for (xrq5_user_case_trigger* t : triggers) XRQ5_FREE_USER(t);
    fprintf(stderr, "xrq5xml eval: %s\n", error.c_str());
    return r == XRQ5_EVB_OPEN_FAILED ? EXIT_UNREADABLE : EXIT_PROBLEMS;
  }

  std::vector<tally> tallies(triggers.size());
  std::vector<xrq5_trigger_outcome> outcomes;
  char* dict = nullptr;
  int evaluations = 0, fires = 0;
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

    fflush(stdout);
    xrq5_eval_trigger_list(&triggers, &blocks, dict, &outcomes);
    std::vector<std::string> lines;
    for (size_t i = 0; i < triggers.size(); ++i) {
      const xrq5_trigger_outcome& o = outcomes[i];
      if (o.missing) {
        tallies[i].missing++;
        continue;
      }
      ++evaluations;
      if (o.on < 0) {
        tallies[i].invalid++;
        lines.push_back("  " + describe(static_cast<int>(i), *triggers[i]) + "  invalid trigger");
      } else if (o.on == 1) {
        tallies[i].fired++;
        ++fires;
        char result[64];
        snprintf(result, sizeof result, "  result %g", static_cast<double>(o.result));
        lines.push_back("  " + describe(static_cast<int>(i), *triggers[i]) + result);
      }
    }
    printf("event %zu (number %u, %s, time %u.%06u): %zu fired\n", e, ev.ev_number,
           event_name_itoa(ev.ev_type), ev.time.timeup, ev.time.timelow,
           lines.size());
    for (const std::string& l : lines) printf("%s\n", l.c_str());
  }
  xrq5_user_trigger_set_ext_env_dictionary(nullptr);

  printf("\nsummary: %zu events, %zu triggers, %d evaluations, %d fires\n", events.size(),
         triggers.size(), evaluations, fires);
  bool invalid = false;
  for (size_t i = 0; i < triggers.size(); ++i) {
    printf("  %s: fired in %d, channel missing in %d%s\n",
           describe(static_cast<int>(i), *triggers[i]).c_str(), tallies[i].fired,
           tallies[i].missing, tallies[i].invalid ? ", invalid" : "");
    invalid = invalid || tallies[i].invalid != 0;
  }
  for (xrq5_user_case_trigger* t : triggers) XRQ5_FREE_USER(t);
  return invalid ? EXIT_PROBLEMS : EXIT_CLEAN;
}
