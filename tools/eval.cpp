// xrq5xml eval: every trigger of a list against the block of its channel in every
// event of a recorded-event file, as a DAQ process would evaluate them.
#include "eval.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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
  long long fired = 0;
  long long missing = 0;  // events without the channel
  long long invalid = 0;  // evaluations that returned -1
};

// What one file gave: the summary adds these up over the files.
struct file_totals {
  long long reported = 0, evaluations = 0, fires = 0;
  int status = EXIT_CLEAN;
  std::vector<tally> tallies;
};

// What every file shares: the trigger list as read (its records are evaluated, their
// state reset before each file), the choice of triggers, the dictionary of --env-dict.
struct eval_context {
  const eval_options* opt;
  std::vector<xrq5_user_case_trigger*>* triggers;
  std::vector<bool> wanted;
  size_t n_wanted = 0;
  std::vector<char> given_dict;
  bool several = false;  // per-event lines name their file
};

// A line on standard error, rewritten in place, while eval runs on a terminal.
class progress_line {
 public:
  progress_line(bool on, size_t files, uint64_t bytes) : on_(on), files_(files), total_(bytes) {
    clock_gettime(CLOCK_MONOTONIC, &start_);
  }
  // Shows the state at most every half second (always when `force`).
  void show(size_t files_done, uint64_t events, uint64_t bytes, bool force = false) {
    if (!on_) return;
    const double t = seconds();
    if (!force && t - last_ < 0.5) return;
    last_ = t;
    const double rate = t > 0 ? bytes / t : 0;
    char left[32] = "?";
    if (rate > 0 && bytes <= total_) {
      const long s = static_cast<long>((total_ - bytes) / rate);
      snprintf(left, sizeof left, "%ld:%02ld", s / 60, s % 60);
    }
    fprintf(stderr, "\r\033[Kxrq5xml eval: %zu/%zu files, %" PRIu64 " events, %.1f MB/s, %s left",
            files_done, files_, events, rate / 1e6, left);
    fflush(stderr);
    shown_ = true;
  }
  // Removes the line.
  void done() {
    if (shown_) fprintf(stderr, "\r\033[K");
    shown_ = false;
  }

 private:
  double seconds() const {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start_.tv_sec) + (now.tv_nsec - start_.tv_nsec) / 1e9;
  }
  bool on_;
  size_t files_;
  uint64_t total_;
  timespec start_;
  double last_ = -1;
  bool shown_ = false;
};

// The state a trigger carries from event to event (DIFF's previous result, the last
// result), dropped so that each file is evaluated as if alone.
void reset_state(std::vector<xrq5_user_case_trigger*>* triggers) {
  for (xrq5_user_case_trigger* t : *triggers) {
    free(t->fprevresult);
    free(t->fresult);
    free(t->iresult);
    t->fprevresult = t->fresult = nullptr;
    t->iresult = nullptr;
  }
}

// Evaluates every event of `file` from a fresh trigger state, writing the per-event
// output to `out`; the functions' own printing goes to standard error meanwhile.
file_totals eval_file(const eval_context& ctx, const std::string& file, FILE* out,
                      progress_line* progress, size_t files_done, uint64_t* events_before,
                      uint64_t* bytes_before) {
  const eval_options& opt = *ctx.opt;
  std::vector<xrq5_user_case_trigger*>& triggers = *ctx.triggers;
  file_totals totals;
  totals.tallies.resize(triggers.size());
  reset_state(&triggers);
  const std::string name = shown_name(file);
  xrq5_evb_reader reader;
  if (!reader.open(file.c_str())) {
    fprintf(stderr, "xrq5xml eval: %s\n", reader.error().c_str());
    totals.status = reader.status() == XRQ5_EVB_OPEN_FAILED ? EXIT_UNREADABLE : EXIT_PROBLEMS;
    return totals;
  }
  // What the functions print (a value line, an unknown structure type) is not the
  // listing, the JSON or the CSV.
  library_stdout to_stderr(false);
  std::vector<xrq5_trigger_outcome> outcomes;
  std::vector<xrq5_serv_block_subhead_2010*> blocks;
  // A dictionary recorded in an event serves it and the events after it: a copy, as the
  // event's buffer is reused.
  std::vector<char> recorded_dict;
  xrq5_evb_event ev;
  std::vector<std::string> lines;
  const std::string file_prefix = ctx.several ? name + ": " : "";
  const std::string csv_file = ctx.several ? csv_field(name) + "," : "";
  for (uint64_t e = 0; reader.next(&ev); ++e) {
    blocks.clear();
    size_t off = 0;
    while (xrq5_serv_block_subhead_2010* b =
               xrq5_evb_next_block(ev.blocks.data(), ev.blocks.size(), &off)) {
      blocks.push_back(b);
      if (is_dictionary(b) && ctx.given_dict.empty())
        recorded_dict.assign(reinterpret_cast<char*>(b), ev.blocks.data() + off);
    }
    char* dict = !ctx.given_dict.empty() ? const_cast<char*>(ctx.given_dict.data())
                 : recorded_dict.empty() ? nullptr : recorded_dict.data();

    // Every event is evaluated, so that the functions that look back (DIFF) give in a
    // range what they give in the whole run; only the range is reported.
    xrq5_eval_trigger_list(&triggers, &blocks, dict, &outcomes);
    if ((e & 1023) == 0 && progress)
      progress->show(files_done, *events_before + e, *bytes_before + reader.position());
    if (static_cast<long long>(e) < opt.from || (opt.to >= 0 && static_cast<long long>(e) > opt.to))
      continue;
    ++totals.reported;
    // Null (nothing allocated) until a trigger is listed; push_back makes an array.
    lines.clear();
    nlohmann::json fired, invalid;
    for (size_t i = 0; i < triggers.size(); ++i) {
      if (!ctx.wanted[i]) continue;
      const xrq5_trigger_outcome& o = outcomes[i];
      if (opt.csv) {
        char result[32] = "";
        if (!o.missing && o.on >= 0 && o.has_result)
          snprintf(result, sizeof result, "%g", static_cast<double>(o.result));
        fprintf(out, "%s%u,%s,%zu,%s,%s,%s,%d\n", csv_file.c_str(), ev.ev_number,
                time_text(ev.time).c_str(), i,
                csv_field(field_text(triggers[i]->channel, sizeof triggers[i]->channel)).c_str(),
                xrq5_get_function_string(triggers[i]->function), result, o.on == 1 ? 1 : 0);
      }
      if (o.missing) {
        totals.tallies[i].missing++;
        continue;
      }
      ++totals.evaluations;
      if (o.on < 0) {
        totals.tallies[i].invalid++;
        if (opt.summary_only || opt.csv) continue;
        lines.push_back("  " + describe(static_cast<int>(i), *triggers[i]) + "  invalid trigger");
        invalid.push_back(i);
      } else if (o.on == 1) {
        totals.tallies[i].fired++;
        ++totals.fires;
        if (opt.summary_only || opt.csv) continue;
        char result[64];
        snprintf(result, sizeof result, "  result %g", static_cast<double>(o.result));
        lines.push_back("  " + describe(static_cast<int>(i), *triggers[i]) + result);
        nlohmann::json f = trigger_json(i, *triggers[i]);
        f["result"] = o.has_result ? float_json(o.result) : nlohmann::json(nullptr);
        fired.push_back(f);
      } else if (opt.verbose && !opt.summary_only) {
        char result[64] = "  no result";
        if (o.has_result)
          snprintf(result, sizeof result, "  result %g", static_cast<double>(o.result));
        lines.push_back("  " + describe(static_cast<int>(i), *triggers[i]) + result +
                        ", not fired");
      }
    }
    if (opt.csv || opt.summary_only) continue;
    if (opt.json) {
      if (fired.is_null()) fired = nlohmann::json::array();
      if (invalid.is_null()) invalid = nlohmann::json::array();
      nlohmann::json line = {{"event", e},
                             {"number", ev.ev_number},
                             {"type", event_name_itoa(ev.ev_type)},
                             {"time", {{"timeup", ev.time.timeup}, {"timelow", ev.time.timelow}}},
                             {"fired", fired},
                             {"invalid", invalid}};
      if (ctx.several) line["file"] = name;
      fprintf(out, "%s\n", json_text(line, -1).c_str());
      continue;
    }
    fprintf(out, "%sevent %" PRIu64 " (number %u, %s, time %u.%06u): %zu fired\n",
            file_prefix.c_str(), e, ev.ev_number, event_name_itoa(ev.ev_type), ev.time.timeup,
            ev.time.timelow, fired.size() + invalid.size());
    for (const std::string& l : lines) fprintf(out, "%s\n", l.c_str());
  }
  xrq5_user_trigger_set_ext_env_dictionary(nullptr);
  *events_before += reader.events();
  *bytes_before += reader.size();
  if (reader.status() != XRQ5_EVB_OK) {
    fflush(out);
    if (progress) progress->done();
    fprintf(stderr, "xrq5xml eval: '%s' is damaged at byte %" PRIu64 ": %s\n", name.c_str(),
            reader.fault(), reader.error().c_str());
    totals.status = EXIT_PROBLEMS;
  }
  for (const tally& t : totals.tallies)
    if (t.invalid != 0) totals.status = std::max(totals.status, static_cast<int>(EXIT_PROBLEMS));
  return totals;
}

void add(file_totals* sum, const file_totals& f) {
  sum->reported += f.reported;
  sum->evaluations += f.evaluations;
  sum->fires += f.fires;
  sum->status = std::max(sum->status, f.status);
  sum->tallies.resize(std::max(sum->tallies.size(), f.tallies.size()));
  for (size_t i = 0; i < f.tallies.size(); ++i) {
    sum->tallies[i].fired += f.tallies[i].fired;
    sum->tallies[i].missing += f.tallies[i].missing;
    sum->tallies[i].invalid += f.tallies[i].invalid;
  }
}

// A file's totals as one line of numbers, between a worker process and the parent.
std::string totals_text(const file_totals& t) {
  std::string s = std::to_string(t.reported) + " " + std::to_string(t.evaluations) + " " +
                  std::to_string(t.fires) + " " + std::to_string(t.status) + " " +
                  std::to_string(t.tallies.size());
  for (const tally& c : t.tallies)
    s += " " + std::to_string(c.fired) + " " + std::to_string(c.missing) + " " +
         std::to_string(c.invalid);
  return s + "\n";
}

bool parse_totals(FILE* f, file_totals* t) {
  size_t n = 0;
  if (fscanf(f, "%lld %lld %lld %d %zu", &t->reported, &t->evaluations, &t->fires, &t->status,
             &n) != 5 || n > (size_t{1} << 24))
    return false;
  t->tallies.resize(n);
  for (tally& c : t->tallies)
    if (fscanf(f, "%lld %lld %lld", &c.fired, &c.missing, &c.invalid) != 3) return false;
  return true;
}

// Copies what a worker wrote to a temporary file onto a descriptor; false on a write
// failure.
bool copy_out(FILE* from, int to) {
  fflush(from);
  if (fseeko(from, 0, SEEK_SET) != 0) return false;
  char buf[64 * 1024];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, from)) > 0) {
    size_t done = 0;
    while (done < n) {
      const ssize_t w = write(to, buf + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      done += static_cast<size_t>(w);
    }
  }
  return true;
}

// A worker process evaluating one file, its output held in temporary files until the
// files before it are printed.
struct worker {
  pid_t pid = -1;
  FILE* out = nullptr;
  FILE* err = nullptr;
  FILE* totals = nullptr;
  bool finished = false;
  int exit_code = 0;
};

void close_worker(worker* w) {
  for (FILE* f : {w->out, w->err, w->totals})
    if (f) fclose(f);
  w->out = w->err = w->totals = nullptr;
}

// Evaluates the files in up to opt.jobs processes; what is printed, and in which order,
// is what one process prints.
file_totals eval_parallel(const eval_context& ctx, const std::vector<std::string>& files,
                          progress_line* progress) {
  file_totals sum;
  sum.tallies.resize(ctx.triggers->size());
  std::vector<worker> workers(files.size());
  size_t next_start = 0, next_print = 0, running = 0;
  uint64_t bytes_done = 0;
  bool write_failed = false;
  fflush(stdout);
  fflush(stderr);
  while (next_print < files.size()) {
    // Files finished ahead of one still running wait in temporary files: at most a few
    // per process, so that one slow file does not leave hundreds open.
    const size_t window = 4 * static_cast<size_t>(ctx.opt->jobs);
    while (running < static_cast<size_t>(ctx.opt->jobs) && next_start < files.size() &&
           next_start - next_print < window) {
      worker& w = workers[next_start];
      w.out = tmpfile();
      w.err = tmpfile();
      w.totals = tmpfile();
      if (!w.out || !w.err || !w.totals) {
        fprintf(stderr, "xrq5xml eval: cannot make a temporary file: %s\n", strerror(errno));
        close_worker(&w);
        w.finished = true;
        w.exit_code = -1;
      } else if ((w.pid = fork()) == 0) {
        // The worker: standard error into its own file; output into another.
        dup2(fileno(w.err), STDERR_FILENO);
        FILE* out = fdopen(dup(fileno(w.out)), "w");
        uint64_t events = 0, bytes = 0;
        file_totals t = out ? eval_file(ctx, files[next_start], out, nullptr, 0, &events, &bytes)
                            : file_totals();
        if (!out) t.status = EXIT_PROBLEMS;
        const bool written = out && fflush(out) == 0;
        const std::string text = totals_text(t);
        fputs(text.c_str(), w.totals);
        fflush(w.totals);
        fflush(stderr);
        _exit(written ? 0 : 1);
      } else if (w.pid < 0) {
        fprintf(stderr, "xrq5xml eval: cannot start a process: %s\n", strerror(errno));
        close_worker(&w);
        w.finished = true;
        w.exit_code = -1;
      } else {
        ++running;
      }
      ++next_start;
    }
    // Print, in order, every file whose worker has finished.
    while (next_print < next_start && workers[next_print].finished) {
      worker& w = workers[next_print];
      file_totals t;
      if (w.exit_code == -1) {
        t.status = EXIT_PROBLEMS;
      } else {
        fflush(stdout);
        const bool out_ok = copy_out(w.out, fileno(stdout));
        if (progress) progress->done();
        copy_out(w.err, STDERR_FILENO);
        rewind(w.totals);
        write_failed = write_failed || !out_ok;
        if (!parse_totals(w.totals, &t) || w.exit_code != 0 || !out_ok) t.status = EXIT_PROBLEMS;
      }
      close_worker(&w);
      add(&sum, t);
      struct stat st;
      if (stat(files[next_print].c_str(), &st) == 0) bytes_done += static_cast<uint64_t>(st.st_size);
      ++next_print;
      if (progress) progress->show(next_print, static_cast<uint64_t>(sum.reported), bytes_done, true);
    }
    if (next_print >= files.size()) break;
    if (running == 0) continue;
    int status = 0;
    const pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (worker& w : workers)
      if (w.pid == pid && !w.finished) {
        w.finished = true;
        w.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
        --running;
      }
  }
  // Said once (and not again when standard output's own stream failed, which the tool
  // reports on its way out).
  if (write_failed && !ferror(stdout))
    fprintf(stderr, "xrq5xml: cannot write standard output: %s\n", strerror(EIO));
  return sum;
}

// The regular files of a folder, in name order (names starting with '.' left out).
bool folder_files(const std::string& dir, std::vector<std::string>* out) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return false;
  std::vector<std::string> names;
  while (const dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const std::string path = dir + (dir.back() == '/' ? "" : "/") + e->d_name;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(path);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  out->insert(out->end(), names.begin(), names.end());
  return true;
}

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
  char* trigger_file = const_cast<char*>(opt.triggers.c_str());
  // The events: files as given, a folder's files in name order.
  std::vector<std::string> files;
  for (const std::string& f : opt.events) {
    struct stat st;
    if (stat(f.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      if (!folder_files(f, &files)) {
        fprintf(stderr, "xrq5xml eval: cannot read the folder '%s': %s\n", f.c_str(),
                strerror(errno));
        return EXIT_UNREADABLE;
      }
      continue;
    }
    files.push_back(f);
  }
  if (files.empty()) {
    fprintf(stderr, "xrq5xml eval: no recorded-event file in the folder given\n");
    return EXIT_UNREADABLE;
  }
  if (open_check("eval", trigger_file) != EXIT_CLEAN) return EXIT_UNREADABLE;
  for (const std::string& f : files)
    if (open_check("eval", f.c_str()) != EXIT_CLEAN) return EXIT_UNREADABLE;
  if (env_dict != nullptr && open_check("eval", env_dict) != EXIT_CLEAN) return EXIT_UNREADABLE;
  // A file of the wrong kind for its place (the two swapped, say) is told as such.
  if (!is_kind("eval", trigger_file, "XRQ5USERTRIGGERLIST")) return EXIT_UNREADABLE;
  for (const std::string& f : files)
    if (!is_kind("eval", f.c_str(), nullptr)) return EXIT_UNREADABLE;
  if (env_dict != nullptr && !is_kind("eval", env_dict, "ENVINDEXDICT")) return EXIT_UNREADABLE;

  eval_context ctx;
  ctx.opt = &opt;
  ctx.several = files.size() > 1;
  // The dictionary of --env-dict, in the event-utility library's block form; without
  // it, dictionary blocks recorded in the events serve.
  if (env_dict != nullptr && !load_dictionary(env_dict, &ctx.given_dict)) return EXIT_PROBLEMS;

  xrq5_trigger_list owned;  // frees the records on every way out
  std::vector<xrq5_user_case_trigger*>& triggers = *owned.get();
  ctx.triggers = &triggers;
  if (owned.readf(trigger_file)) {
    fprintf(stderr, "xrq5xml eval: '%s' did not read cleanly as a trigger list\n",
            shown_name(trigger_file).c_str());
    return EXIT_PROBLEMS;
  }
  for (int n : opt.only_triggers)
    if (n < 0 || static_cast<size_t>(n) >= triggers.size()) {
      fprintf(stderr, "xrq5xml eval: the list has no trigger %d (%zu triggers)\n", n,
              triggers.size());
      return EXIT_USAGE;
    }
  ctx.wanted.resize(triggers.size());
  for (size_t i = 0; i < triggers.size(); ++i)
    ctx.n_wanted += (ctx.wanted[i] = chosen(opt, i, *triggers[i])) ? 1 : 0;
  if (!opt.group.empty() && ctx.n_wanted == 0) {
    fprintf(stderr, "xrq5xml eval: no trigger of the list is in group '%s'\n", opt.group.c_str());
    return EXIT_USAGE;
  }

  uint64_t total_bytes = 0;
  for (const std::string& f : files) {
    struct stat st;
    if (stat(f.c_str(), &st) == 0) total_bytes += static_cast<uint64_t>(st.st_size);
  }
  progress_line progress(opt.progress, files.size(), total_bytes);
  if (opt.csv) printf("%sevent,time,trigger,channel,function,result,fired\n",
                      ctx.several ? "file," : "");
  file_totals sum;
  sum.tallies.resize(triggers.size());
  if (opt.jobs > 1 && files.size() > 1) {
    sum = eval_parallel(ctx, files, opt.progress ? &progress : nullptr);
  } else {
    // The tool's standard output as it stands (null under -q); the libraries' lines go
    // elsewhere while each file is evaluated, this stream stays the listing's.
    FILE* out = stdout;
    uint64_t events = 0, bytes = 0;
    for (size_t k = 0; k < files.size(); ++k) {
      add(&sum, eval_file(ctx, files[k], out, opt.progress ? &progress : nullptr, k, &events,
                          &bytes));
      progress.show(k + 1, events, bytes, true);
    }
    // A failed write stays on the stream: the tool reports it on its way out.
    fflush(out);
  }
  progress.done();

  const std::vector<tally>& tallies = sum.tallies;
  if (opt.json) {
    nlohmann::json per = nlohmann::json::array();
    for (size_t i = 0; i < triggers.size(); ++i) {
      if (!ctx.wanted[i]) continue;
      nlohmann::json t = trigger_json(i, *triggers[i]);
      t["fired"] = tallies[i].fired;
      t["missing"] = tallies[i].missing;
      t["invalid"] = tallies[i].invalid;
      per.push_back(t);
    }
    const nlohmann::json summary = {{"summary",
                                     {{"events", sum.reported},
                                      {"triggers", ctx.n_wanted},
                                      {"evaluations", sum.evaluations},
                                      {"fires", sum.fires},
                                      {"per_trigger", per}}}};
    printf("%s\n", json_text(summary, -1).c_str());
  } else if (!opt.csv) {
    printf("%ssummary: %lld events, %zu triggers, %lld evaluations, %lld fires\n",
           opt.summary_only ? "" : "\n", sum.reported, ctx.n_wanted, sum.evaluations, sum.fires);
    for (size_t i = 0; i < triggers.size(); ++i) {
      if (!ctx.wanted[i]) continue;
      printf("  %s: fired in %lld, channel missing in %lld%s\n",
             describe(static_cast<int>(i), *triggers[i]).c_str(), tallies[i].fired,
             tallies[i].missing, tallies[i].invalid ? ", invalid" : "");
    }
  }
  return sum.status;
}
