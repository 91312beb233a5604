#include "kinds.h"

#include <unistd.h>

#include <cstdio>
#include <vector>

#include "parse_chan_descr.h"
#include "parse_ev_list.h"

namespace {

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
  char temp[] = "/tmp/xrq5xml-XXXXXX";
  if (target.empty() && xml) {
    fd = STDOUT_FILENO;
  } else if (target.empty()) {
    // The text listings go to files only: write one, then copy it out.
    const int t = mkstemp(temp);
    if (t < 0) {
      perror("xrq5xml convert: mkstemp");
      clean_chan_desr_list(&list);
      return EXIT_PROBLEMS;
    }
    close(t);
    target = temp;
  }
  fflush(stdout);
  int w = dump_chan_desr(&list, target.empty() ? nullptr : &target[0], mode, format, fd, nullptr,
                         nullptr);
  clean_chan_desr_list(&list);
  if (target == temp) {
    if (w == 0 && !copy_to_stdout(temp)) w = 1;
    remove(temp);
  }
  fflush(stdout);
  return w == 0 ? EXIT_CLEAN : EXIT_PROBLEMS;
}

const doc_kind kinds[] = {
    {"BMR", "event list", read_ev_list, nullptr, nullptr},
    {"CHANDESCRIPTIONS", "channel descriptions, tag form", read_chan_descr, "tag|var|text|short",
     convert_chan_descr},
    {"DAQvariables", "channel descriptions, variable form", read_chan_descr, "tag|var|text|short",
     convert_chan_descr},
};

}  // namespace

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
