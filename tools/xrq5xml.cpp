// xrq5xml: check, print and convert the DAQ's XML documents from the command line.
// The kind of each document is found from its root element.
#include <cerrno>
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
#include "parse_chan_descr.h"
#include "parse_ev_list.h"

namespace {

// Exit status, worst of all files wins.
enum {
  EXIT_CLEAN = 0,      // every document read without a warning or error
  EXIT_PROBLEMS = 1,   // some document drew warnings or errors, or is not well-formed
  EXIT_USAGE = 2,      // bad command line
  EXIT_UNREADABLE = 3  // some file could not be opened, or its kind is unknown
};

const char* const usage_text =
    "usage: xrq5xml COMMAND FILE...\n"
    "\n"
    "Commands:\n"
    "  show FILE...    print each document with the library's own printer\n"
    "  check FILE...   read each document and report whether it is clean\n"
    "  --help          this text\n"
    "  --version       the version of the tool and libraries\n"
    "\n"
    "Kinds of document, by root element:\n"
    "  BMR               event list\n"
    "  CHANDESCRIPTIONS  channel descriptions, tag form\n"
    "  DAQvariables      channel descriptions, variable form\n"
    "Channel descriptions are read as a DAQ client reads them: event and data types\n"
    "as masks, repeated properties of the variable form merged.\n"
    "\n"
    "Exit status: 0 when every document read without a warning or error, 1 when some\n"
    "document drew warnings or errors, 2 for a bad command line, 3 when a file could\n"
    "not be opened or is of an unknown kind. Parser messages go to standard error.\n";

// What a kind of document can do: read (and, when `print`, print) one file; the
// result is the reader's own, 0 when clean.
struct kind {
  const char* root;
  const char* name;
  int (*read)(char* file, bool print);
};

int read_ev_list(char* file, bool print) {
  std::vector<xrq5_ev_entry*> list;
  const int r = xrq5_parse_ev_list_readf(file, &list);
  if (print) xrq5_print_ev_list(&list);
  xrq5_clean_ev_list(&list);
  return r;
}

int read_chan_descr(char* file, bool print) {
  std::vector<chan_descr_2010*> list;
  const int r = parse_descr_list_readf(file, &list, true, false);
  if (print) print_xrq5_chan_descr(&list);
  clean_chan_desr_list(&list);
  return r;
}

const kind kinds[] = {
    {"BMR", "event list", read_ev_list},
    {"CHANDESCRIPTIONS", "channel descriptions, tag form", read_chan_descr},
    {"DAQvariables", "channel descriptions, variable form", read_chan_descr},
};

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

bool find_root(const char* file, std::string* root) {
  bool found = false;
  try {
    xercesc::XMLPlatformUtils::Initialize();
  } catch (...) {
    return false;
  }
  {
    root_finder h;
    xercesc::SAXParser p;
    p.setDocumentHandler(&h);
    p.setErrorHandler(&h);
    p.setValidationScheme(xercesc::SAXParser::Val_Never);
    p.setDisableDefaultEntityResolution(true);
    p.setLoadExternalDTD(false);
    xercesc::XMLPScanToken token;
    try {
      bool more = p.parseFirst(file, token);
      while (more && !h.found && !h.failed) more = p.parseNext(token);
    } catch (...) {
    }
    found = h.found;
    *root = h.root;
  }
  xercesc::XMLPlatformUtils::Terminate();
  return found;
}

// Shows the parser's own messages for a document whose root could not be found.
void explain_no_root(char* file) {
  SAX_File_Parser p;
  if (!p.init_ok() || p.start(file)) return;
  char* tag = nullptr;
  char* value = nullptr;
  p.parse(&tag, &value);
}

int run(const char* command, bool print, std::vector<char*>& files) {
  int status = EXIT_CLEAN;
  auto worst = [&status](int s) {
    if (s > status) status = s;
  };
  for (char* file : files) {
    FILE* f = fopen(file, "rb");
    if (f == nullptr) {
      fprintf(stderr, "xrq5xml %s: cannot open '%s': %s\n", command, file, strerror(errno));
      worst(EXIT_UNREADABLE);
      continue;
    }
    fclose(f);
    std::string root;
    if (!find_root(file, &root)) {
      fflush(stdout);
      explain_no_root(file);
      fprintf(stderr, "xrq5xml %s: '%s' is not well-formed XML: no root element found\n",
              command, file);
      worst(EXIT_PROBLEMS);
      continue;
    }
    const kind* k = nullptr;
    for (const kind& candidate : kinds)
      if (root == candidate.root) k = &candidate;
    if (k == nullptr) {
      fprintf(stderr, "xrq5xml %s: '%s': unknown kind of document (root element '%s')\n",
              command, file, root.c_str());
      worst(EXIT_UNREADABLE);
      continue;
    }
    if (print) printf("==== %s (%s)\n", file, k->name);
    fflush(stdout);
    const int r = k->read(file, print);
    fflush(stdout);
    if (r == 0) {
      if (!print) printf("%s: ok (%s)\n", file, k->name);
    } else {
      if (print) {
        fprintf(stderr, "xrq5xml %s: '%s' (%s) read with problems, result %d\n", command, file,
                k->name, r);
      } else {
        printf("%s: FAILED (%s, result %d)\n", file, k->name, r);
      }
      worst(EXIT_PROBLEMS);
    }
    fflush(stdout);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fputs(usage_text, stderr);
    return EXIT_USAGE;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    fputs(usage_text, stdout);
    return EXIT_CLEAN;
  }
  if (command == "--version") {
    printf("xrq5xml %s\n", XRQ5_VERSION);
    return EXIT_CLEAN;
  }
  if (command != "show" && command != "check") {
    fprintf(stderr, "xrq5xml: unknown command '%s' (try xrq5xml --help)\n", command.c_str());
    return EXIT_USAGE;
  }
  std::vector<char*> files(argv + 2, argv + argc);
  if (files.empty()) {
    fprintf(stderr, "xrq5xml %s: no file given (try xrq5xml --help)\n", command.c_str());
    return EXIT_USAGE;
  }
  return run(command.c_str(), command == "show", files);
}
