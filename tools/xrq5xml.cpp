// xrq5xml: check, print and convert the DAQ's XML documents from the command line.
// The kind of each document is found from its root element.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>

#include "SAX_File_Parser.h"
#include "diff.h"
#include "eval.h"
#include "events.h"
#include "files.h"
#include "kinds.h"
#include "records.h"
#include "select.h"
#include "cleanup.h"
#include "stdout_guard.h"
#include "strict.h"
#include "suggest.h"
#include "xrq5_messages.h"
#include "user_case_trigger.h"
#include "xrq5_version.h"
#include "xrq5_file_source.h"
#include "xrq5_parser_factory.h"

namespace {

std::string usage_text() {
  return "usage: xrq5xml COMMAND ARGS...\n"
         "\n"
         "Commands (xrq5xml help COMMAND, or COMMAND --help, for the options of each):\n"
         "  show [--json] FILE...           print each document with the library's printer\n"
         "                                  (--json: its records as the library read them)\n"
         "  check [--json] FILE...          read each document, report whether it is clean\n"
         "  check --strict [--werror] [--json] [--xcd XCD]... FILE...\n"
         "                                  also check each document against the schema of\n"
         "                                  its kind and for what the reader would make of\n"
         "                                  it unmeant; FILE:LINE:COLUMN: error|warning:\n"
         "                                  MESSAGE on standard error (--json: one array on\n"
         "                                  standard output); --werror fails on warnings;\n"
         "                                  XCD names the channels triggers may use\n"
         "  convert FILE --to FORM [-o OUT] [--lossy]\n"
         "                                  rewrite a document in another form (to standard\n"
         "                                  output without -o or with -o -); the written\n"
         "                                  document is read back first, and a form that\n"
         "                                  cannot hold all that was read is written only\n"
         "                                  with --lossy\n"
         "  eval [OPTIONS] TRIGGERS EVENTS...\n"
         "                                  evaluate a trigger list on recorded-event files\n"
         "                                  (the layout of event_builder.h; a folder: its\n"
         "                                  files in name order), each from a fresh trigger\n"
         "                                  state as if alone; prints the triggers that\n"
         "                                  fired per event and one summary over all files;\n"
         "                                  options: --env-dict DICT (resolves environment\n"
         "                                  channels), --json or --csv, --trigger N\n"
         "                                  (repeatable), --events FROM:TO, --group NAME,\n"
         "                                  --summary (only the summary), -j N (N files at\n"
         "                                  once, printing what -j 1 prints)\n"
         "  select [--xml] [--no-shift] [--json] XCD... [--event N] [CHANNEL...]\n"
         "                                  load channel descriptions as a DAQ client does;\n"
         "                                  per channel (all without CHANNEL or -c): wanted\n"
         "                                  for event type N, event and data types, slow,\n"
         "                                  ML, sub-channels\n"
         "  registry [--json]               list the trigger functions and operations\n"
         "  events [--json] FILE            list a recorded-event file: events and blocks;\n"
         "                                  a damaged file is reported at its byte offset\n"
         "  diff [--json] A B               compare two documents of one kind record by\n"
         "                                  record, recorded-event files event by event\n"
         "                                  (exit status 0 equal, 1 different)\n"
         "  help [COMMAND]                  this text, or the options of COMMAND\n"
         "  --help                          this text\n"
         "  --version                       the version of the tool and libraries\n"
         "\n"
         "Every command takes -q (nothing on standard output on success), all but select\n"
         "and registry -v (more detail), --opt=value as well as --opt value, and -- before\n"
         "file names that start with '-'. A FILE of - is standard input, -o - standard\n"
         "output.\n"
         "\n"
         "Kinds of document, by root element:\n" +
         kinds_help() +
         "Environment index dictionaries are read in the 2010 layout, in the classic one\n"
         "with --classic (show, check, convert, eval --env-dict, diff).\n"
         "Channel descriptions are shown as a DAQ client reads them (event and data types\n"
         "as masks); converted to tag or var they keep their type numbers, the text and\n"
         "short listings hold the masks and name the types.\n"
         "\n"
         "Exit status: 0 when every document read (and was written) without a warning or\n"
         "error, 1 when some document drew warnings or errors or could not be written\n"
         "(diff: the documents differ), 2 for a bad command line, 3 when a file could not\n"
         "be opened or is of an unknown kind. Parser messages go to standard error.\n";
}

// Finds the root element without printing anything: the reader that follows prints
// whatever is wrong with the document, once.
class root_finder : public xercesc::HandlerBase {
 public:
  void startElement(const XMLCh* const name, xercesc::AttributeList&) override {
    if (!found) {
      char* s = xercesc::XMLString::transcode(name);
      root = s;
      xercesc::XMLString::release(&s);
      found = true;
    }
  }
  void fatalError(const xercesc::SAXParseException&) override { failed = true; }
  bool found = false;
  bool failed = false;
  std::string root;
};

// Whether the root was found; *stopped when the parse threw (a bound of the parser was
// passed, whose message is out already).
bool find_root(const char* file, std::string* root, bool* stopped) {
  bool found = false;
  *stopped = false;
  try {
    xercesc::XMLPlatformUtils::Initialize();
  } catch (...) {
    return false;
  }
  {
    root_finder h;
    xrq5_parser_memory memory;  // outlives the parser
    xercesc::SAXParser* p = nullptr;
    try {
      const xrq5_file_source source(file);  // the name as given
      p = xrq5_make_parser<xercesc::SAXParser>(&memory, source.size());
      p->setDocumentHandler(&h);
      p->setErrorHandler(&h);
      p->setValidationScheme(xercesc::SAXParser::Val_Never);
      xercesc::XMLPScanToken token;
      bool more = source.ok() && p->parseFirst(source, token);
      while (more && !h.found && !h.failed) more = p->parseNext(token);
    } catch (...) {
      *stopped = true;
    }
    delete p;
    found = h.found;
    *root = h.root;
  }
  xercesc::XMLPlatformUtils::Terminate();
  return found;
}

// Shows the parser's own messages for a document whose root could not be found.
void explain_no_root(char* file) {
  try {
    SAX_File_Parser p;
    if (!p.init_ok() || p.start(file)) return;
    char* tag = nullptr;
    char* value = nullptr;
    p.parse(&tag, &value);
  } catch (...) {
    // The messages are what we wanted; a bound that stops the parse printed its own.
  }
}

}  // namespace

const doc_kind* kind_of(const char* command, char* file, int* status) {
  *status = open_check(command, file);
  if (*status != EXIT_CLEAN) return nullptr;
  std::string root;
  bool stopped = false;
  if (!find_root(file, &root, &stopped)) {
    fflush(stdout);
    if (stopped) {
      fprintf(stderr, "xrq5xml %s: '%s': the read was stopped before its root element\n",
              command, shown_name(file).c_str());
      *status = EXIT_PROBLEMS;
      return nullptr;
    }
    explain_no_root(file);
    fprintf(stderr, "xrq5xml %s: '%s' is not well-formed XML: no root element found\n", command,
            shown_name(file).c_str());
    *status = EXIT_PROBLEMS;
    return nullptr;
  }
  const doc_kind* k = find_kind(root);
  if (k == nullptr) {
    fprintf(stderr, "xrq5xml %s: '%s': unknown kind of document (root element '%s')\n", command,
            shown_name(file).c_str(), root.c_str());
    *status = EXIT_UNREADABLE;
  }
  return k;
}

namespace {

// "a trigger list", "an event list", "channel descriptions, tag form".
std::string with_article(const std::string& name) {
  if (name.compare(0, 8, "channel ") == 0) return name;
  return (std::string("aeiou").find(name[0]) != std::string::npos ? "an " : "a ") + name;
}

}  // namespace

bool is_recorded_events(const char* file) {
  char magic[8] = {0};
  // Non-blocking: a FIFO named here is not waited on.
  const int fd = open(file, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  const bool is = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                  read(fd, magic, sizeof magic) == static_cast<ssize_t>(sizeof magic) &&
                  memcmp(magic, "XRQ5EVTS", sizeof magic) == 0;
  close(fd);
  return is;
}

bool is_kind(const char* command, const char* file, const char* root) {
  const std::string wanted = root ? with_article(find_kind(root)->name) : "a recorded-event file";
  const std::string shown = shown_name(file);
  if (is_recorded_events(file)) {
    if (root == nullptr) return true;
    fprintf(stderr, "xrq5xml %s: '%s' is a recorded-event file, not %s\n", command, shown.c_str(),
            wanted.c_str());
    return false;
  }
  std::string found;
  bool stopped = false;
  const doc_kind* k = find_root(file, &found, &stopped) ? find_kind(found) : nullptr;
  if (k == nullptr) return true;
  if (root != nullptr && (found == root || find_kind(root)->read == k->read)) return true;
  fprintf(stderr, "xrq5xml %s: '%s' is %s, not %s\n", command, shown.c_str(),
          with_article(k->name).c_str(), wanted.c_str());
  return false;
}

namespace {

struct common_options {
  bool quiet = false;
  bool verbose = false;
  bool json = false;
};

int show_or_check(const char* command, bool print, const std::vector<std::string>& paths,
                  const common_options& o) {
  int status = EXIT_CLEAN;
  nlohmann::json out = nlohmann::json::array();
  for (const std::string& path : paths) {
    char* file = const_cast<char*>(path.c_str());
    const std::string shown = shown_name(path);
    int s = EXIT_CLEAN;
    const doc_kind* k = kind_of(command, file, &s);
    if (k != nullptr && o.json) {
      nlohmann::json records;
      const int r = read_records(*k, file, &records);
      nlohmann::json entry = {{"file", shown}, {"kind", k->name}, {"root", k->root}, {"result", r}};
      if (print)
        entry["records"] = records;
      else
        entry["records"] = records.size();
      out.push_back(entry);
      if (r != 0) {
        if (print)
          fprintf(stderr, "xrq5xml %s: '%s' (%s) read with problems, result %d\n", command,
                  shown.c_str(), k->name, r);
        s = EXIT_PROBLEMS;
      }
    } else if (k != nullptr && !print && o.verbose) {
      nlohmann::json records;
      const int r = read_records(*k, file, &records);
      if (r == 0) {
        if (!o.quiet)
          printf("%s: ok (%s, %zu record%s)\n", shown.c_str(), k->name, records.size(),
                 records.size() == 1 ? "" : "s");
      } else {
        printf("%s: FAILED (%s, result %d, %zu record%s read)\n", shown.c_str(), k->name, r,
               records.size(), records.size() == 1 ? "" : "s");
        s = EXIT_PROBLEMS;
      }
      fflush(stdout);
    } else if (k != nullptr) {
      if (print) printf("==== %s (%s)\n", shown.c_str(), k->name);
      fflush(stdout);
      const int r = k->read(file, print);
      fflush(stdout);
      if (r == 0) {
        if (!print && !o.quiet) printf("%s: ok (%s)\n", shown.c_str(), k->name);
      } else if (print) {
        fprintf(stderr, "xrq5xml %s: '%s' (%s) read with problems, result %d\n", command,
                shown.c_str(), k->name, r);
        s = EXIT_PROBLEMS;
      } else {
        printf("%s: FAILED (%s, result %d)\n", shown.c_str(), k->name, r);
        s = EXIT_PROBLEMS;
      }
      fflush(stdout);
    } else if (o.json) {
      out.push_back({{"file", shown}, {"kind", nullptr}, {"status", s}});
    }
    if (s > status) status = s;
  }
  if (o.json) printf("%s\n", json_text(out, 2).c_str());
  return status;
}

int convert(const std::string& path, const std::string& to, const std::string& out_arg,
            bool verbose) {
  char* file = const_cast<char*>(path.c_str());
  const char* out = out_arg.empty() || out_arg == "-" ? nullptr : out_arg.c_str();
  int status = EXIT_CLEAN;
  const doc_kind* k = kind_of("convert", file, &status);
  if (k == nullptr) return status;
  const std::string forms = k->forms ? k->forms : "";
  const std::string padded = "|" + forms + "|";
  if (k->convert == nullptr || padded.find("|" + to + "|") == std::string::npos) {
    fprintf(stderr, "xrq5xml convert: %s cannot be converted to '%s'%s%s\n", k->name, to.c_str(),
            forms.empty() ? "" : "; forms: ", forms.c_str());
    return EXIT_USAGE;
  }
  status = k->convert(file, to, out);
  if (verbose && status == EXIT_CLEAN)
    fprintf(stderr, "xrq5xml convert: '%s' (%s) written as %s to %s\n",
            shown_name(path).c_str(), k->name, to.c_str(), out ? out : "standard output");
  return status;
}

// The trigger registries as this process has them: index, name and help text.
int registry(bool json) {
  if (json) {
    nlohmann::json functions = nlohmann::json::array(), operations = nlohmann::json::array();
    for (int i = 0; i < 32; ++i) {
      functions.push_back({{"index", i},
                           {"name", xrq5_get_function_string(i)},
                           {"help", xrq5_get_function_help(i)}});
      operations.push_back({{"index", i},
                            {"name", xrq5_get_operation_string(i)},
                            {"help", xrq5_get_operation_help(i)}});
    }
    printf("%s\n", json_text({{"functions", functions}, {"operations", operations}}, 2).c_str());
    return EXIT_CLEAN;
  }
  printf("Functions:\n");
  for (int i = 0; i < 32; ++i)
    printf("%3d  %s\n", i, xrq5_get_function_help(i));
  printf("\nOperations:\n");
  for (int i = 0; i < 32; ++i)
    printf("%3d  %s\n", i, xrq5_get_operation_help(i));
  return EXIT_CLEAN;
}

// ---- the command line ---------------------------------------------------------------

const char* const command_names[] = {"show", "check", "convert", "eval", "select",
                                     "registry", "events", "diff"};

// The usage line of each command, printed after a usage error.
std::string usage_line(const std::string& command) {
  static const std::pair<const char*, const char*> lines[] = {
      {"show", "xrq5xml show [-q] [-v] [--json] [--classic] FILE..."},
      {"check", "xrq5xml check [-q] [-v] [--json] [--classic] [--strict [--werror] [--xcd XCD]...] "
                "FILE..."},
      {"convert", "xrq5xml convert FILE --to FORM [-o OUT] [--lossy] [--classic] [-q] [-v]"},
      {"eval", "xrq5xml eval TRIGGERS EVENTS... [--env-dict DICT] [--classic] [--json|--csv] "
               "[--trigger N]... [--events FROM:TO] [--group NAME] [--summary] [-j N] [-q] [-v]"},
      {"select", "xrq5xml select [--xml] [--no-shift] [--json] XCD... [--event N] [CHANNEL...] "
                 "[-c CHANNEL]... [-q]"},
      {"registry", "xrq5xml registry [--json] [-q]"},
      {"events", "xrq5xml events [--json] [-q] [-v] FILE"},
      {"diff", "xrq5xml diff [--json] [--classic] [-q] [-v] A B"},
  };
  for (const auto& l : lines)
    if (command == l.first) return l.second;
  return "xrq5xml COMMAND ARGS...";
}

// The option of `app` nearest to the first option among `args` (in command-line order) that
// `app` does not know, as "--name"; empty when there is none near enough.
std::string misspelt_option(const CLI::App& app, const std::vector<std::string>& args) {
  std::vector<std::string> names;
  for (const CLI::Option* o : app.get_options()) {
    for (const std::string& n : o->get_lnames()) names.push_back("--" + n);
    for (const std::string& n : o->get_snames()) names.push_back("-" + n);
  }
  for (auto a = args.begin(); a != args.end(); ++a) {
    if (*a == "--") break;
    if (a->size() < 3 || a->compare(0, 2, "--") != 0) continue;
    const std::string word = a->substr(0, a->find('='));
    if (std::find(names.begin(), names.end(), word) != names.end()) continue;
    return closest_word(word, names);
  }
  return std::string();
}

int usage_error(const std::string& command, const std::string& why) {
  fprintf(stderr, "xrq5xml %s: %s\nusage: %s\n(xrq5xml help %s tells more)\n", command.c_str(),
          why.c_str(), usage_line(command).c_str(), command.c_str());
  return EXIT_USAGE;
}

struct parsed {
  common_options common;
  bool classic = false;
  std::vector<std::string> files;
  // check
  bool strict = false, werror = false;
  std::vector<std::string> xcd;
  // convert
  std::string to, out;
  bool lossy = false;
  // eval
  std::string env_dict, events_range, group;
  std::vector<int> triggers;
  bool csv = false, summary = false;
  int jobs = 1;
  // select
  bool xml = false, no_shift = false;
  std::string event;
  std::vector<std::string> channels;
};

// The parser of one command; its options land in *p.
std::unique_ptr<CLI::App> make_app(const std::string& command, parsed* p) {
  static const std::pair<const char*, const char*> what[] = {
      {"show", "Print each document with the library's printer, or its records as JSON."},
      {"check", "Read each document and say whether it is clean; --strict also checks it "
                "against the schema of its kind and for what the reader would make of it "
                "that its writer likely did not mean."},
      {"convert", "Rewrite a document in another form: channel descriptions --to "
                  "tag|var|text|short, trigger lists and dictionaries --to xml|text. The "
                  "written document is read back first; a form that cannot hold all that "
                  "was read is written only with --lossy."},
      {"eval", "Evaluate a trigger list on recorded-event files (or the files of a folder, "
               "in name order), each from a fresh trigger state as if it were alone: per "
               "event the triggers that fired with their function results (naming the file "
               "when there are several), then one summary over all files. -j N evaluates "
               "N files at once and prints what -j 1 prints. On a terminal a progress line "
               "goes to standard error (not with -q)."},
      {"select", "Load channel descriptions as a DAQ client does and show what the channel "
                 "selector answers per channel. Names after --event are channels."},
      {"registry", "List the trigger functions and operations."},
      {"events", "List a recorded-event file: per event its position, number, type and "
                 "time, per block its name, data type, data structure type and size. A "
                 "damaged file is listed up to the damage, whose byte offset is reported "
                 "(exit status 1)."},
      {"diff", "Compare two documents of one kind record by record: channel descriptions "
               "by property name, trigger lists by position, dictionaries by index, event "
               "lists by event type, camera features by name; recorded-event files event by "
               "event, by position. Exit status 0 equal, 1 different."},
  };
  std::string description;
  for (const auto& w : what)
    if (command == w.first) description = "usage: " + usage_line(command) + "\n\n" + w.second;
  auto app = std::make_unique<CLI::App>(description, "xrq5xml " + command);
  app->set_help_flag("-h,--help", "print this help and exit");
  app->footer("A FILE of - is standard input; -- ends the options. Exit status: 0 clean, 1 "
              "problems, 2 bad command line, 3 a file unreadable or of an unknown kind.");
  app->add_flag("-q,--quiet", p->common.quiet, "print nothing on standard output on success");
  if (command != "registry" && command != "select")
    app->add_flag("-v,--verbose", p->common.verbose, "add detail");
  app->add_flag("--json", p->common.json, "machine-readable output (JSON)");
  if (command == "show" || command == "check" || command == "convert" || command == "eval" ||
      command == "diff")
    app->add_flag("--classic", p->classic, "read dictionaries in the classic layout");
  if (command == "show" || command == "check") {
    app->add_option("FILE", p->files, "documents to read")->type_name("");
  }
  if (command == "check") {
    app->add_flag("--strict", p->strict, "also against the schema and for meaning");
    app->add_flag("--werror", p->werror, "with --strict: warnings fail the check");
    app->add_option("--xcd", p->xcd, "with --strict: channel descriptions that trigger "
                                     "channels must be in")
        ->type_name("XCD")
        ->allow_extra_args(false);
  }
  if (command == "convert") {
    app->add_option("FILE", p->files, "the document")->type_name("");
    app->add_option("--to", p->to, "the form to write")->type_name("FORM");
    app->add_option("-o,--output", p->out, "file to write (- or none: standard output)")
        ->type_name("OUT");
    app->add_flag("--lossy", p->lossy, "write even a form that loses fields");
  }
  if (command == "eval") {
    app->add_option("FILES", p->files, "TRIGGERS (a trigger list), then EVENTS (recorded-event "
                                       "files or folders of them)")->type_name("");
    app->add_flag("--summary", p->summary, "only the summary, no per-event output");
    app->add_option("-j,--jobs", p->jobs, "files evaluated at once")->type_name("N")
        ->check(CLI::Range(1, 256));
    app->add_option("--env-dict", p->env_dict, "environment index dictionary")->type_name("DICT");
    app->add_flag("--csv", p->csv, "one CSV row per event and trigger");
    app->add_option("--trigger", p->triggers, "only trigger N of the list (repeatable)")
        ->type_name("N")
        ->allow_extra_args(false);
    app->add_option("--events", p->events_range, "only the events at positions FROM to TO")
        ->type_name("FROM:TO");
    app->add_option("--group", p->group, "only the triggers of group NAME")->type_name("NAME");
  }
  if (command == "select") {
    app->add_flag("--xml", p->xml, "hand the selector the texts of the files");
    app->add_flag("--no-shift", p->no_shift, "read types as numbers, not masks");
    app->add_option("--event", p->event, "event type asked about, 0..31")->type_name("N");
    app->add_option("-c,--channel", p->channels, "a channel to ask about (repeatable)")
        ->type_name("CHANNEL")
        ->allow_extra_args(false);
    app->add_option("ARGS", p->files, "XCD files, then (after --event) channels")->type_name("");
  }
  if (command == "events") app->add_option("FILE", p->files, "recorded-event file")->type_name("");
  if (command == "diff") app->add_option("FILES", p->files, "A and B")->type_name("");
  return app;
}

// Standard output to /dev/null while a quiet command runs; its status and messages on
// standard error stay.
struct quiet_stdout {
  explicit quiet_stdout(bool on) {
    if (on) guard.reset(new library_stdout(true));
  }
  std::unique_ptr<library_stdout> guard;
};

// The libraries' problems as FILE:LINE:COLUMN: error|warning: MESSAGE on standard error,
// with the file as the user named it; their progress lines on standard output, unless
// quiet (`context` points to the quiet flag).
static void print_problem(const xrq5_problem* p, void* context) {
  if (p->severity == XRQ5_SEVERITY_NOTE) {
    if (!*static_cast<const bool*>(context)) printf("%s\n", p->message);
    return;
  }
  fflush(stdout);
  const char* severity = p->severity == XRQ5_SEVERITY_WARNING ? "warning" : "error";
  if (p->line == 0)  // about the document as a whole
    fprintf(stderr, "%s: %s: %s\n", shown_name(p->file).c_str(), severity, p->message);
  else
    fprintf(stderr, "%s:%lu:%lu: %s: %s\n", shown_name(p->file).c_str(), p->line, p->column,
            severity, p->message);
}

// Every "-" among the documents becomes the copy of standard input; false (with a
// message) when that cannot be made.
bool resolve_documents(const std::string& command, std::vector<std::string>* files) {
  for (std::string& f : *files) {
    f = document_path(command.c_str(), f);
    if (f.empty()) return false;
  }
  return true;
}

int run_command(const std::string& command, std::vector<std::string> args) {
  parsed p;
  std::unique_ptr<CLI::App> app = make_app(command, &p);
  const std::vector<std::string> given = args;
  std::reverse(args.begin(), args.end());  // CLI11 takes them last first
  try {
    app->parse(args);
  } catch (const CLI::CallForHelp&) {
    fputs(app->help().c_str(), stdout);
    return EXIT_CLEAN;
  } catch (const CLI::ParseError& e) {
    std::string why = e.what();
    const std::string misspelt = misspelt_option(*app, given);
    if (!misspelt.empty())
      why += " (did you mean " + misspelt + "?)";
    else if (why.find("not expected") != std::string::npos && !args.empty())
      why += " (a file name that starts with '-' goes after --)";
    return usage_error(command, why);
  }
  set_classic_layout(p.classic);
  set_lossy(p.lossy);
  set_quiet_convert(p.common.quiet);
  const common_options& o = p.common;
  xrq5_problem_scope messages(print_problem, &p.common.quiet);
  if (command == "registry") {
    quiet_stdout q(o.quiet);
    return registry(o.json);
  }
  if (command == "select") {
    // Names before --event are files, after it channels.
    select_options s;
    s.xml = p.xml;
    s.shift = !p.no_shift;
    s.json = o.json;
    s.channels = p.channels;
    if (!p.event.empty()) {
      char* end = nullptr;
      const long n = strtol(p.event.c_str(), &end, 10);
      if (*end != '\0' || n < 0 || n > 31) {
        fprintf(stderr, "xrq5xml select: --event takes an event type 0..31\n");
        return EXIT_USAGE;
      }
      s.event = static_cast<int>(n);
    }
    size_t before_event = p.files.size();
    if (!p.event.empty()) {
      const CLI::Option* event_opt = app->get_option("--event");
      before_event = 0;
      for (const CLI::Option* opt : app->parse_order()) {
        if (opt == event_opt) break;
        if (opt->get_positional()) ++before_event;
      }
    }
    for (size_t i = 0; i < p.files.size(); ++i)
      (i < before_event ? s.files : s.channels).push_back(p.files[i]);
    if (s.files.empty()) return usage_error(command, "no channel-description file given");
    if (!resolve_documents(command, &s.files)) return EXIT_UNREADABLE;
    quiet_stdout q(o.quiet);
    return select_command(s);
  }
  if (command == "convert") {
    if (p.files.size() != 1 || p.to.empty())
      return usage_error(command, p.files.size() > 1 ? "one document at a time"
                                                     : p.files.empty() ? "no file given"
                                                                       : "--to FORM is needed");
    if (!resolve_documents(command, &p.files)) return EXIT_UNREADABLE;
    return convert(p.files[0], p.to, p.out, o.verbose);
  }
  if (command == "eval") {
    eval_options e;
    if (p.files.size() < 2)
      return usage_error(command, "a trigger list and a recorded-event file are needed");
    if (o.json && p.csv) return usage_error(command, "--json and --csv exclude each other");
    if (!p.events_range.empty() && !parse_event_range(p.events_range, &e.from, &e.to))
      return usage_error(command, "--events takes FROM:TO, FROM: or :TO (event positions)");
    if (std::count(p.files.begin(), p.files.end(), std::string("-")) > 1)
      return usage_error(command, "standard input can be only one of the files");
    if (!resolve_documents(command, &p.files)) return EXIT_UNREADABLE;
    e.triggers = p.files[0];
    e.events.assign(p.files.begin() + 1, p.files.end());
    e.summary_only = p.summary;
    e.jobs = p.jobs;
    // Not between per-event lines on the same terminal.
    e.progress = !o.quiet && isatty(STDERR_FILENO) && (p.summary || !isatty(STDOUT_FILENO));
    e.env_dict = p.env_dict == "-" ? document_path("eval", "-") : p.env_dict;
    if (p.env_dict == "-" && e.env_dict.empty()) return EXIT_UNREADABLE;
    e.json = o.json;
    e.csv = p.csv;
    e.verbose = o.verbose;
    e.only_triggers = p.triggers;
    e.group = p.group;
    quiet_stdout q(o.quiet);
    const int r = eval_command(e);
    // A --trigger or --group that the list does not have is a bad command line.
    if (r == EXIT_USAGE)
      fprintf(stderr, "usage: %s\n(xrq5xml help %s tells more)\n", usage_line(command).c_str(),
              command.c_str());
    return r;
  }
  if (command == "events") {
    if (p.files.size() != 1) return usage_error(command, "one recorded-event file is needed");
    if (!resolve_documents(command, &p.files)) return EXIT_UNREADABLE;
    quiet_stdout q(o.quiet);
    return events_command(p.files[0], o.json, o.verbose);
  }
  if (command == "diff") {
    if (p.files.size() != 2) return usage_error(command, "two documents are needed");
    if (!resolve_documents(command, &p.files)) return EXIT_UNREADABLE;
    quiet_stdout q(o.quiet);
    return diff_command(p.files[0], p.files[1], o.json, o.verbose);
  }
  // show and check
  if (command == "check" && !p.strict && (p.werror || !p.xcd.empty()))
    return usage_error(command, "--werror and --xcd go with --strict");
  if (p.files.empty()) return usage_error(command, "no file given");
  if (!resolve_documents(command, &p.files)) return EXIT_UNREADABLE;
  if (command == "check" && p.strict) {
    strict_options s;
    s.werror = p.werror;
    s.json = o.json;
    s.quiet = o.quiet;
    s.xcd = p.xcd;
    if (!resolve_documents(command, &s.xcd)) return EXIT_UNREADABLE;
    s.files = p.files;
    return strict_check_command(s);
  }
  if (command == "show") {
    quiet_stdout q(o.quiet);
    return show_or_check("show", true, p.files, o);
  }
  return show_or_check("check", false, p.files, o);
}

bool is_command(const std::string& name) {
  for (const char* c : command_names)
    if (name == c) return true;
  return false;
}

int run(int argc, char** argv) {
  if (argc < 2) {
    fputs(usage_text().c_str(), stderr);
    return EXIT_USAGE;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || (command == "help" && argc == 2)) {
    fputs(usage_text().c_str(), stdout);
    return EXIT_CLEAN;
  }
  if (command == "--version") {
    printf("xrq5xml %s (libXRQ5XML %s)\n", XRQ5_VERSION_STRING, xrq5_library_version());
    return EXIT_CLEAN;
  }
  if (command == "help") {
    const std::string of = argv[2];
    if (argc > 3 || !is_command(of)) {
      fprintf(stderr, "xrq5xml help: %s (commands: show check convert eval select registry "
                      "events diff)\n",
              argc > 3 ? "one command at a time" : ("unknown command '" + of + "'").c_str());
      return EXIT_USAGE;
    }
    parsed p;
    fputs(make_app(of, &p)->help().c_str(), stdout);
    return EXIT_CLEAN;
  }
  if (!is_command(command)) {
    const std::string near = closest_word(command, {std::begin(command_names), std::end(command_names)});
    if (!near.empty())
      fprintf(stderr, "xrq5xml: unknown command '%s' (did you mean '%s'?)\n", command.c_str(),
              near.c_str());
    else
      fprintf(stderr, "xrq5xml: unknown command '%s' (try xrq5xml --help)\n", command.c_str());
    return EXIT_USAGE;
  }
  return run_command(command, std::vector<std::string>(argv + 2, argv + argc));
}

}  // namespace

// Standard output is checked once, at the end: a listing that could not be written is
// a failure, not silence (convert reports its own write errors).
int main(int argc, char** argv) {
  // A closed standard descriptor would be taken by the next file opened, and what is
  // printed would land in it: hold each with /dev/null, read-only, so that a write to
  // a closed standard output still fails and is reported.
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int held = open("/dev/null", O_RDONLY);
      if (held >= 0 && held != fd) close(held);
    }
  // A file-size limit makes a write fail (and the writer keep the old file) instead of
  // killing the tool halfway.
  signal(SIGXFSZ, SIG_IGN);
  install_cleanup_handlers();
  int status;
  const std::string command = argc > 1 ? argv[1] : "";
  auto stopped = [&](const char* what) {
    fflush(stdout);
    fprintf(stderr, "xrq5xml%s%s: stopped by an unexpected error: %s\n", command.empty() ? "" : " ",
            command.c_str(), what);
    return EXIT_PROBLEMS;
  };
  try {
    status = run(argc, argv);
  } catch (const std::bad_alloc&) {
    status = stopped("out of memory");
  } catch (const std::exception& e) {
    status = stopped(e.what());
  } catch (...) {
    status = stopped("an exception of unknown type");
  }
  const bool convert = argc > 1 && std::string(argv[1]) == "convert";
  const int flush_error = fflush(stdout) != 0 ? errno : 0;
  if (!convert && (flush_error != 0 || ferror(stdout))) {
    fprintf(stderr, "xrq5xml: cannot write standard output: %s\n",
            flush_error ? strerror(flush_error) : "write error");
    if (status == EXIT_CLEAN) status = EXIT_PROBLEMS;
  }
  return status;
}
