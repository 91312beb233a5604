// Internal: the shape that every document reader shares. Not installed.
//
// A reader is a twin pair (memory text / file) over one loop: construct the parser,
// init_ok, start, first step and root check, then one callback per further step
// that returns 0. Exceptions that Xerces raises on the way are reported on standard
// error and end the read as a failure, so none reaches the caller.
#ifndef XRQ5_READER_H
#define XRQ5_READER_H

#include <memory>

#include "SAX_File_Parser.h"
#include "SAX_Memory_Parser.h"

namespace xrq5_read {

enum stage {
  read_done,        // the loop ran to the end of the document or its first problem
  read_no_init,     // the parser did not initialise
  read_no_start,    // start failed
  read_no_root,     // the first step failed
  read_wrong_root,  // the root check refused the first tag
  read_exception    // an exception ended the read
};

struct outcome {
  stage at;
  int errors;  // the parser's error count when the read ended
};

// Prints the exception being handled (call only inside a catch block).
void report_exception();

inline SAX_Memory_Parser* new_parser(SAX_Memory_Parser*, char* text) {
  return new SAX_Memory_Parser(text);
}
inline SAX_File_Parser* new_parser(SAX_File_Parser*, char*) { return new SAX_File_Parser(); }
inline bool start(SAX_Memory_Parser& p, char*) { return p.start(); }
inline bool start(SAX_File_Parser& p, char* file) { return p.start(file); }

// Reads `source` (the text for the memory parser, the file name for the file parser).
// is_root(tag) decides on the first tag (null when there is none) and prints its own
// message; on_step(tag, value, parser) sees every later step.
template <class Parser, class IsRoot, class OnStep>
outcome read(char* source, IsRoot is_root, OnStep on_step) {
  std::unique_ptr<Parser> p;
  try {
    p.reset(new_parser(static_cast<Parser*>(nullptr), source));
    if (!p->init_ok()) return {read_no_init, 0};
    if (start(*p, source)) return {read_no_start, p->get_error_counter()};
    char* tag = nullptr;
    char* value = nullptr;
    if (p->parse(&tag, &value) != 0) return {read_no_root, p->get_error_counter()};
    if (!is_root(tag)) return {read_wrong_root, p->get_error_counter()};
    while (p->parse(&tag, &value) == 0) on_step(tag, value, *p);
    return {read_done, p->get_error_counter()};
  } catch (...) {
    report_exception();
    return {read_exception, p ? p->get_error_counter() : 0};
  }
}

}  // namespace xrq5_read

#endif  // XRQ5_READER_H
