// xrq5xml: check, print and convert the DAQ's XML documents from the command line.
// The kind of each document is found from its root element.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>

#include "SAX_File_Parser.h"
#include "eval.h"
#include "files.h"
#include "kinds.h"
#include "select.h"
#include "strict.h"
#include "user_case_trigger.h"
#include "xrq5_version.h"
#include "xrq5_parser_factory.h"

namespace {

std::string usage_text() {
  return "usage: xrq5xml COMMAND ARGS...\n"
         "\n"
         "Commands:\n"
         "  show FILE...                    print each document with the library's printer\n"
         "  check FILE...                   read each document, report whether it is clean\n"
         "  check --strict [--werror] [--json] [--xcd XCD]... FILE...\n"
         "                                  also check each document against the schema of\n"
         "                                  its kind and for what the reader would make of\n"
         "                                  it unmeant; FILE:LINE:COLUMN: error|warning:\n"
         "                                  MESSAGE on standard error (--json: one array on\n"
         "                                  standard output); --werror fails on warnings;\n"
         "                                  XCD names the channels triggers may use\n"
         "  convert FILE --to FORM [-o OUT] [--lossy]\n"
         "                                  rewrite a document in another form (to standard\n"
         "                                  output without -o); the written document is read\n"
         "                                  back first, and a form that cannot hold all that\n"
         "                                  was read is written only with --lossy\n"
         "  eval TRIGGERS EVENTS [--env-dict DICT]\n"
         "                                  evaluate a trigger list on a recorded-event file\n"
         "                                  (the layout of event_builder.h); prints the\n"
         "                                  triggers that fired per event and a summary;\n"
         "                                  DICT resolves environment channels\n"
         "  select [--xml] [--no-shift] XCD... [--event N] [CHANNEL...]\n"
         "                                  load channel descriptions as a DAQ client does;\n"
         "                                  per channel (all without CHANNEL): wanted for\n"
         "                                  event type N, event and data types, slow, ML,\n"
         "                                  sub-channels\n"
         "  registry                        list the trigger functions and operations\n"
         "  --help                          this text\n"
         "  --version                       the version of the tool and libraries\n"
         "\n"
         "Kinds of document, by root element:\n" +
         kinds_help() +
         "Environment index dictionaries are read in the 2010 layout, in the classic one\n"
         "with --classic (show, check, convert, eval --env-dict).\n"
         "Channel descriptions are shown as a DAQ client reads them (event and data types\n"
         "as masks); converted to tag or var they keep their type numbers, the text and\n"
         "short listings hold the masks and name the types.\n"
         "\n"
         "Exit status: 0 when every document read (and was written) without a warning or\n"
         "error, 1 when some document drew warnings or errors or could not be written, 2\n"
         "for a bad command line, 3 when a file could not be opened or is of an unknown\n"
         "kind. Parser messages go to standard error.\n";
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
      p = xrq5_make_parser<xercesc::SAXParser>(&memory, xrq5_file_size(file));
      p->setDocumentHandler(&h);
      p->setErrorHandler(&h);
      p->setValidationScheme(xercesc::SAXParser::Val_Never);
      xercesc::XMLPScanToken token;
      bool more = p->parseFirst(file, token);
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

// The kind of `file`, or null with the exit status in *status and a message printed.
const doc_kind* kind_of(const char* command, char* file, int* status) {
  *status = open_check(command, file);
  if (*status != EXIT_CLEAN) return nullptr;
  std::string root;
  bool stopped = false;
  if (!find_root(file, &root, &stopped)) {
    fflush(stdout);
    if (stopped) {
      fprintf(stderr, "xrq5xml %s: '%s': the read was stopped before its root element\n",
              command, file);
      *status = EXIT_PROBLEMS;
      return nullptr;
    }
    explain_no_root(file);
    fprintf(stderr, "xrq5xml %s: '%s' is not well-formed XML: no root element found\n", command,
            file);
    *status = EXIT_PROBLEMS;
    return nullptr;
  }
  const doc_kind* k = find_kind(root);
  if (k == nullptr) {
    fprintf(stderr, "xrq5xml %s: '%s': unknown kind of document (root element '%s')\n", command,
            file, root.c_str());
    *status = EXIT_UNREADABLE;
  }
  return k;
}

int show_or_check(const char* command, bool print, std::vector<char*>& files) {
  int status = EXIT_CLEAN;
  for (char* file : files) {
    int s = EXIT_CLEAN;
    const doc_kind* k = kind_of(command, file, &s);
    if (k != nullptr) {
      if (print) printf("==== %s (%s)\n", file, k->name);
      fflush(stdout);
      const int r = k->read(file, print);
      fflush(stdout);
      if (r == 0) {
        if (!print) printf("%s: ok (%s)\n", file, k->name);
      } else if (print) {
        fprintf(stderr, "xrq5xml %s: '%s' (%s) read with problems, result %d\n", command, file,
                k->name, r);
        s = EXIT_PROBLEMS;
      } else {
        printf("%s: FAILED (%s, result %d)\n", file, k->name, r);
        s = EXIT_PROBLEMS;
      }
      fflush(stdout);
    }
    if (s > status) status = s;
  }
  return status;
}

int convert(std::vector<char*>& args) {
  char* file = nullptr;
  std::string to;
  const char* out = nullptr;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string a = args[i];
    if (a == "--to" && i + 1 < args.size()) {
      to = args[++i];
    } else if (a == "-o" && i + 1 < args.size()) {
      out = args[++i];
    } else if (file == nullptr && a[0] != '-') {
      file = args[i];
    } else {
      fprintf(stderr, "xrq5xml convert: unexpected argument '%s' (try xrq5xml --help)\n",
              a.c_str());
      return EXIT_USAGE;
    }
  }
  if (file == nullptr || to.empty()) {
    fprintf(stderr, "xrq5xml convert: usage: xrq5xml convert FILE --to FORM [-o OUT]\n");
    return EXIT_USAGE;
  }
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
  return k->convert(file, to, out);
}

// The trigger registries as this process has them: index, name and help text.
int registry() {
  printf("Functions:\n");
  for (int i = 0; i < 32; ++i)
    printf("%3d  %s\n", i, xrq5_get_function_help(i));
  printf("\nOperations:\n");
  for (int i = 0; i < 32; ++i)
    printf("%3d  %s\n", i, xrq5_get_operation_help(i));
  return EXIT_CLEAN;
}

int run(int argc, char** argv) {
  if (argc < 2) {
    fputs(usage_text().c_str(), stderr);
    return EXIT_USAGE;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    fputs(usage_text().c_str(), stdout);
    return EXIT_CLEAN;
  }
  if (command == "--version") {
    printf("xrq5xml %s (libXRQ5XML %s)\n", XRQ5_VERSION_STRING, xrq5_library_version());
    return EXIT_CLEAN;
  }
  std::vector<char*> args;
  for (int i = 2; i < argc; ++i) {
    if (std::string(argv[i]) == "--classic")
      set_classic_layout(true);
    else if (command == "convert" && std::string(argv[i]) == "--lossy")
      set_lossy(true);
    else
      args.push_back(argv[i]);
  }
  if (command == "convert") return convert(args);
  if (command == "registry") return registry();
  if (command == "eval") return eval_command(args);
  if (command == "select") return select_command(args);
  if (command != "show" && command != "check") {
    fprintf(stderr, "xrq5xml: unknown command '%s' (try xrq5xml --help)\n", command.c_str());
    return EXIT_USAGE;
  }
  if (command == "check" && strict_requested(args)) return strict_check_command(args);
  if (args.empty()) {
    fprintf(stderr, "xrq5xml %s: no file given (try xrq5xml --help)\n", command.c_str());
    return EXIT_USAGE;
  }
  return show_or_check(command.c_str(), command == "show", args);
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
  int status;
  try {
    status = run(argc, argv);
  } catch (...) {
    fflush(stdout);
    fprintf(stderr, "xrq5xml: stopped by an unexpected error (out of memory?)\n");
    status = EXIT_PROBLEMS;
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
