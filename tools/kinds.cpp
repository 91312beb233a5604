#include "kinds.h"

#include <unistd.h>

#include <cstdio>
#include <vector>

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cleanup.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "round_trip.h"
#include "stdout_guard.h"
#include "user_case_trigger.h"
#include "xrq5_gige_descr.h"
#include "xrq5_output.h"

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

bool lossy = false;
bool quiet = false;

// Writes `text` to standard output; false, with a message, when that fails (a full
// device, a closed descriptor).
bool to_stdout(const char* data, size_t size) {
  fflush(stdout);
  errno = EIO;  // what a write that writes nothing leaves
  if (xrq5_output::write_all(STDOUT_FILENO, data, size)) return true;
  fprintf(stderr, "xrq5xml convert: cannot write to standard output: %s\n", strerror(errno));
  return false;
}

bool to_stdout(const std::string& text) { return to_stdout(text.data(), text.size()); }

// Copies a finished text file to standard output.
bool copy_to_stdout(const char* path) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return false;
  char buf[65536];
  size_t n;
  bool ok = true;
  while (ok && (n = fread(buf, 1, sizeof buf, f)) > 0) ok = to_stdout(buf, n);
  fclose(f);
  return ok;
}

// A temporary file that a text listing is written to before it is copied out.
struct temp_file {
  temp_file() : name(make_temporary()) {
    ok = !name.empty();
    path = const_cast<char*>(name.c_str());
  }
  ~temp_file() {
    if (ok) forget_temporary(name);
  }
  temp_file(const temp_file&) = delete;
  temp_file& operator=(const temp_file&) = delete;
  std::string name;
  char* path;
  bool ok;
};

// Tells what writing `file` as `to` loses, one line per kind of field; true when the
// conversion goes on (nothing is lost, or --lossy).
bool accept(const losses& l, const char* file, const std::string& to) {
  // Quiet and --lossy: the loss was accepted beforehand.
  if (!(lossy && quiet))
    for (const auto& line : l.lines())
    fprintf(stderr, "xrq5xml convert: '%s' as %s loses %s in %d record%s\n", file, to.c_str(),
            line.first.c_str(), line.second, line.second == 1 ? "" : "s");
  if (l.empty() || lossy) return true;
  fprintf(stderr, "xrq5xml convert: nothing written (--lossy writes it all the same)\n");
  return false;
}

int not_read_back(const char* file, const std::string& to) {
  fprintf(stderr, "xrq5xml convert: '%s' written as %s does not read back; nothing written\n", file,
          to.c_str());
  return EXIT_PROBLEMS;
}

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
  int w = 0;
  if (xml) {
    // The document is read back before anything is written.
    std::string doc;
    std::vector<chan_descr_2010*> back;
    {
      library_stdout quiet(false);
      w = dump_chan_desr(&list, nullptr, mode, format, -1, &doc, nullptr);
      if (w == 0 && parse_descr_list_read(&doc[0], &back, false, false) != 0) w = -1;
    }
    const losses lost = compare(list, back);
    clean_chan_desr_list(&back);
    if (w != 0 || !accept(lost, file, to)) {
      clean_chan_desr_list(&list);
      return w < 0 ? not_read_back(file, to) : EXIT_PROBLEMS;
    }
    if (out == nullptr) {
      clean_chan_desr_list(&list);
      return to_stdout(doc) ? EXIT_CLEAN : EXIT_PROBLEMS;
    }
  }
  if (out != nullptr) {
    library_stdout to_stderr(false);
    w = dump_chan_desr(&list, const_cast<char*>(out), mode, format, -1, nullptr, nullptr);
  } else {
    // The text listings go to files only: write one, copy it out.
    temp_file temp;
    {
      library_stdout quiet(true);
      w = temp.ok ? dump_chan_desr(&list, temp.path, mode, format, -1, nullptr, nullptr) : 1;
    }
    if (w == 0 && !copy_to_stdout(temp.path)) w = 1;
  }
  clean_chan_desr_list(&list);
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

// The steps of a conversion of triggers and dictionaries, which differ only in their
// calls: the XML document is made in a string and read back first; text listings are
// written to the file of -o, or to a temporary file copied to standard output.
template <class Record, class Write, class ReadBack, class Free>
int convert_list(std::vector<Record*>& list, char* file, const std::string& to, const char* out,
                 Write write, ReadBack read_back, Free free_list) {
  int w = 0;
  if (to == "xml") {
    std::string doc;
    std::vector<Record*> back;
    {
      library_stdout quiet(false);
      w = write(&list, nullptr, true, &doc);
      if (w == 0 && read_back(&doc[0], &back)) w = -1;
    }
    const losses lost = compare(list, back);
    free_list(back);
    if (w != 0 || !accept(lost, file, to)) return w < 0 ? not_read_back(file, to) : EXIT_PROBLEMS;
    if (out == nullptr) return to_stdout(doc) ? EXIT_CLEAN : EXIT_PROBLEMS;
    library_stdout to_stderr(false);
    w = write(&list, out, true, nullptr);
  } else if (out != nullptr) {
    library_stdout to_stderr(false);
    w = write(&list, out, false, nullptr);
  } else {
    temp_file temp;
    {
      library_stdout quiet(true);
      w = temp.ok ? write(&list, temp.path, false, nullptr) : 1;
    }
    if (w == 0 && !copy_to_stdout(temp.path)) w = 1;
  }
  return w == 0 ? EXIT_CLEAN : EXIT_PROBLEMS;
}

int convert_triggers(char* file, const std::string& to, const char* out) {
  std::vector<xrq5_user_case_trigger*> list;
  if (parse_trigger_list_readf(file, &list)) {
    free_triggers(list);
    fprintf(stderr, "xrq5xml convert: '%s' did not read cleanly; nothing written\n", file);
    return EXIT_PROBLEMS;
  }
  const int status = convert_list(
      list, file, to, out,
      [](std::vector<xrq5_user_case_trigger*>* l, const char* name, bool xml, std::string* str) {
        const int mode = !xml ? USER_TRIG_DUMP_TXT_FILE
                              : str ? USER_TRIG_DUMP_XML_STRING : USER_TRIG_DUMP_XML_FILE;
        return dump_user_trigger_list(l, const_cast<char*>(name), mode, -1, str);
      },
      [](char* xml, std::vector<xrq5_user_case_trigger*>* back) {
        return parse_trigger_list_read(xml, back);
      },
      free_triggers);
  free_triggers(list);
  return status;
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
  int (*read_text)(char*, std::vector<Entry*>*);
  int (*dump)(std::vector<Entry*>*, char*, int, int, std::string*);
};

const dict_calls<xrq5_env_index_dictionary_entry> classic_calls = {
    parse_env_index_dict_readf, parse_env_index_dict_list_read, dump_env_index_dict};
const dict_calls<xrq5_env_index_dictionary_entry_2010> calls_2010 = {
    parse_env_index_dict_readf_2010, parse_env_index_dict_list_read_2010, dump_env_index_dict_2010};

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
  const int status = convert_list(
      list, file, to, out,
      [&c](std::vector<Entry*>* l, const char* name, bool xml, std::string* str) {
        const int mode = !xml ? ENV_INDX_DUMP_TXT_FILE
                              : str ? ENV_INDX_DUMP_XML_STRING : ENV_INDX_DUMP_XML_FILE;
        return c.dump(l, const_cast<char*>(name), mode, -1, str);
      },
      [&c](char* xml, std::vector<Entry*>* back) { return c.read_text(xml, back) != 0; },
      free_entries<Entry>);
  free_entries(list);
  return status;
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
void set_lossy(bool l) { lossy = l; }
void set_quiet_convert(bool q) { quiet = q; }
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
