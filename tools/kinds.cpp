#include "kinds.h"

#include <unistd.h>

#include <cstdio>
#include <vector>

#include <fcntl.h>

#include <cstdlib>

#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "user_case_trigger.h"
#include "xrq5_gige_descr.h"

namespace {

bool classic = false;

int read_ev_list(char* file, bool print) {
  std::vector<xrq5_ev_entry*> list;
  const int r = xrq5_parse_ev_list_readf(file, &list);
  if (print) xrq5_print_ev_list(&list);
  xrq5_clean_ev_list(&list);
  return r;
}

// Channel descriptions are shown as a DAQ client reads them: types as masks.
int read_chan_descr(char* file, bool print) {
  std::vector<chan_descr_2010*> list;
  const int r = parse_descr_list_readf(file, &list, true, false);
  if (print) print_xrq5_chan_descr(&list);
  clean_chan_desr_list(&list);
  return r;
}

// Copies a finished text file to standard output.
bool copy_to_stdout(const char* path) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return false;
  char buf[65536];
  size_t n;
  bool ok = true;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) ok = ok && fwrite(buf, 1, n, stdout) == n;
  fclose(f);
  return ok && fflush(stdout) == 0;
}

// A temporary file that a text listing is written to before it is copied out.
struct temp_file {
  temp_file() {
    const int fd = mkstemp(path);
    ok = fd >= 0;
    if (ok) close(fd);
  }
  ~temp_file() {
    if (ok) remove(path);
  }
  char path[32] = "/tmp/xrq5xml-XXXXXX";
  bool ok;
};

// Standard output goes to /dev/null meanwhile (the writers' progress lines about a
// temporary file mean nothing to the reader of a listing).
struct quiet_stdout {
  quiet_stdout() {
    fflush(stdout);
    saved = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  ~quiet_stdout() {
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
  }
  int saved;
};

// The XML forms are converted without shift, so that type numbers stay numbers; the
// text listings with it, so that they can name the types.
int convert_chan_descr(char* file, const std::string& to, const char* out) {
  const bool xml = to == "tag" || to == "var";
  std::vector<chan_descr_2010*> list;
  const int r = parse_descr_list_readf(file, &list, !xml, false);
  if (r != 0) {
    clean_chan_desr_list(&list);
    fprintf(stderr, "xrq5xml convert: '%s' did not read cleanly (result %d); nothing written\n",
            file, r);
    return EXIT_PROBLEMS;
  }
  const int mode = xml ? DUMP_XML_FILE : to == "text" ? DUMP_TXT_FILE : DUMP_TXT_FILE_SHORT;
  const int format = to == "var" ? VESK_FORMAT : XRQ5_FORMAT;
  std::string target = out ? out : "";
  int fd = -1;
  temp_file temp;
  if (target.empty() && xml)
    fd = STDOUT_FILENO;
  else if (target.empty())
    target = temp.path;  // the text listings go to files only: write one, copy it out
  fflush(stdout);
  int w = dump_chan_desr(&list, &target[0], mode, format, fd, nullptr, nullptr);
  clean_chan_desr_list(&list);
  if (target == temp.path && w == 0 && !copy_to_stdout(temp.path)) w = 1;
  fflush(stdout);
  return w == 0 ? EXIT_CLEAN : EXIT_PROBLEMS;
}

void free_triggers(std::vector<xrq5_user_case_trigger*>& list) {
  for (xrq5_user_case_trigger* t : list) XRQ5_FREE_USER(t);
  list.clear();
}

int read_triggers(char* file, bool print) {
  std::vector<xrq5_user_case_trigger*> list;
  const bool failed = parse_trigger_list_readf(file, &list);
  if (print) dump_user_trigger_list(&list, nullptr, USER_TRIG_DUMP_TO_SCREEN, -1, nullptr);
  fflush(stdout);
  free_triggers(list);
  return failed ? 1 : 0;
}

int convert_triggers(char* file, const std::string& to, const char* out) {
  std::vector<xrq5_user_case_trigger*> list;
  if (parse_trigger_list_readf(file, &list)) {
    free_triggers(list);
    fprintf(stderr, "xrq5xml convert: '%s' did not read cleanly; nothing written\n", file);
    return EXIT_PROBLEMS;
  }
  int w;
  if (to == "xml") {
    fflush(stdout);
    w = dump_user_trigger_list(&list, const_cast<char*>(out), USER_TRIG_DUMP_XML_FILE,
                               out ? -1 : STDOUT_FILENO, nullptr);
  } else if (out != nullptr) {
    w = dump_user_trigger_list(&list, const_cast<char*>(out), USER_TRIG_DUMP_TXT_FILE, -1, nullptr);
  } else {
    temp_file temp;
    {
      quiet_stdout quiet;
      w = temp.ok ? dump_user_trigger_list(&list, temp.path, USER_TRIG_DUMP_TXT_FILE, -1, nullptr)
                  : 1;
    }
    if (w == 0 && !copy_to_stdout(temp.path)) w = 1;
  }
  fflush(stdout);
  free_triggers(list);
  return w == 0 ? EXIT_CLEAN : EXIT_PROBLEMS;
}

template <class Entry>
void free_entries(std::vector<Entry*>& list) {
  for (Entry* e : list) free(e);
  list.clear();
}

// The two layouts differ in their record and their reader and writer calls.
template <class Entry>
struct dict_calls {
  int (*read)(char*, std::vector<Entry*>*);
  int (*dump)(std::vector<Entry*>*, char*, int, int, std::string*);
};

const dict_calls<xrq5_env_index_dictionary_entry> classic_calls = {parse_env_index_dict_readf,
                                                                  dump_env_index_dict};
const dict_calls<xrq5_env_index_dictionary_entry_2010> calls_2010 = {
    parse_env_index_dict_readf_2010, dump_env_index_dict_2010};

template <class Entry>
int show_env_dict(const dict_calls<Entry>& c, char* file, bool print) {
  std::vector<Entry*> list;
  const int r = c.read(file, &list);
  if (print) c.dump(&list, nullptr, ENV_INDX_DUMP_TO_SCREEN, -1, nullptr);
  fflush(stdout);
  free_entries(list);
  return r;
}

template <class Entry>
int convert_env_dict(const dict_calls<Entry>& c, char* file, const std::string& to,
                     const char* out) {
  std::vector<Entry*> list;
  const int r = c.read(file, &list);
  if (r != 0) {
    free_entries(list);
    fprintf(stderr, "xrq5xml convert: '%s' did not read cleanly (result %d); nothing written\n",
            file, r);
    return EXIT_PROBLEMS;
  }
  char* target = const_cast<char*>(out);
  int w;
  if (to == "xml") {
    fflush(stdout);
    w = c.dump(&list, target, ENV_INDX_DUMP_XML_FILE, out ? -1 : STDOUT_FILENO, nullptr);
  } else if (out != nullptr) {
    w = c.dump(&list, target, ENV_INDX_DUMP_TXT_FILE, -1, nullptr);
  } else {
    temp_file temp;
    {
      quiet_stdout quiet;
      w = temp.ok ? c.dump(&list, temp.path, ENV_INDX_DUMP_TXT_FILE, -1, nullptr) : 1;
    }
    if (w == 0 && !copy_to_stdout(temp.path)) w = 1;
  }
  fflush(stdout);
  free_entries(list);
  return w == 0 ? EXIT_CLEAN : EXIT_PROBLEMS;
}

int read_env_dict(char* file, bool print) {
  return classic ? show_env_dict(classic_calls, file, print) : show_env_dict(calls_2010, file, print);
}

int convert_env_dict(char* file, const std::string& to, const char* out) {
  return classic ? convert_env_dict(classic_calls, file, to, out)
                 : convert_env_dict(calls_2010, file, to, out);
}

int read_camera(char* file, bool print) {
  std::vector<XRQ5GigEFeature*> list;
  const bool failed = xrq5_fill_gige_descr(file, &list);
  if (print) xrq5_dump_gige_descr(&list);
  fflush(stdout);
  xrq5_clean_gige_descr(&list);
  return failed ? 1 : 0;
}

const doc_kind kinds[] = {
    {"BMR", "event list", read_ev_list, nullptr, nullptr},
    {"CHANDESCRIPTIONS", "channel descriptions, tag form", read_chan_descr, "tag|var|text|short",
     convert_chan_descr},
    {"DAQvariables", "channel descriptions, variable form", read_chan_descr, "tag|var|text|short",
     convert_chan_descr},
    {"XRQ5USERTRIGGERLIST", "trigger list", read_triggers, "xml|text", convert_triggers},
    {"ENVINDEXDICT", "environment index dictionary", read_env_dict, "xml|text", convert_env_dict},
    {"RegisterDescription", "camera feature description", read_camera, nullptr, nullptr},
};

}  // namespace

void set_classic_layout(bool c) { classic = c; }
bool classic_layout() { return classic; }

const doc_kind* find_kind(const std::string& root) {
  for (const doc_kind& k : kinds)
    if (root == k.root) return &k;
  return nullptr;
}

std::string kinds_help() {
  std::string text;
  char line[160];
  for (const doc_kind& k : kinds) {
    snprintf(line, sizeof line, "  %-18s %s%s%s\n", k.root, k.name, k.forms ? "; --to " : "",
             k.forms ? k.forms : "");
    text += line;
  }
  return text;
}
