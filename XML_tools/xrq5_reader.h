// Internal: the shape that every document reader shares. Not installed.
//
// A reader is a twin pair (memory text / file) over one loop: construct the parser,
// init_ok, start, first step and root check, then one callback per further step that
// holds a tag, with the tag, its text, its id in the reader's table, whether the step
// began the element, and the element's attributes; readers never ask the parser. Exceptions
// that Xerces raises on the way are reported on standard error and end the read as a
// failure, so none reaches the caller.
#ifndef XRQ5_READER_H
#define XRQ5_READER_H

#include <memory>

#include "SAX_File_Parser.h"
#include "SAX_Memory_Parser.h"
#include "xrq5_element_table.h"
#include "xrq5_sax_common.h"

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

// Prints the exception being handled (call only inside a catch block), or hands it to
// the thread's problem handler as a fatal problem of `file` (null: a text in memory).
void report_exception(const char* file = nullptr);

inline const char* given_name(SAX_Memory_Parser*, char*) { return nullptr; }
inline const char* given_name(SAX_File_Parser*, char* file) { return file; }

inline SAX_Memory_Parser* new_parser(SAX_Memory_Parser*, char* text) {
  return new SAX_Memory_Parser(text);
}
inline SAX_File_Parser* new_parser(SAX_File_Parser*, char*) { return new SAX_File_Parser(); }
inline bool start(SAX_Memory_Parser& p, char*) { return p.start(); }
inline bool start(SAX_File_Parser& p, char* file) { return p.start(file); }

template <class Parser, class IsRoot, class OnStep>
outcome read(char* source, const element_table& names, IsRoot is_root, OnStep on_step);

// One step as a reader sees it. The strings live until the next step.
class step {
 public:
  const char* tag = nullptr;    // never null
  const char* value = nullptr;  // the element's text; null when it has none (yet)
  int element = element_table::none;  // the tag's id in the reader's table
  // The step read the element's start tag: an element with attributes and text, or
  // with an end tag of its own, arrives in more than one step, and only the first
  // has this set.
  bool new_element = false;

  // Attribute `name` of the element, or null (also after any warning or error).
  const char* attr(const char* name) const { return attr_(parser_, name); }

 private:
  template <class Parser, class IsRoot, class OnStep>
  friend outcome read(char*, const element_table&, IsRoot, OnStep);

  template <class Parser>
  static const char* attr_of(void* parser, const char* name) {
    char* value = nullptr;
    return static_cast<Parser*>(parser)->get_attr(const_cast<char*>(name), &value) == 0 ? value
                                                                                       : nullptr;
  }

  void* parser_ = nullptr;
  const char* (*attr_)(void*, const char*) = nullptr;
};

// Reads `source` (the text for the memory parser, the file name for the file parser).
// is_root(tag) decides on the first tag (null when there is none) and prints its own
// message; on_step(const step&) sees every later step that holds a tag, looked up in
// `names` (the steps without one only count characters and ends of elements).
template <class Parser, class IsRoot, class OnStep>
outcome read(char* source, const element_table& names, IsRoot is_root, OnStep on_step) {
  std::unique_ptr<Parser> p;
  xrq5_sax::reading_document document(given_name(static_cast<Parser*>(nullptr), source));
  try {
    p.reset(new_parser(static_cast<Parser*>(nullptr), source));
    if (!p->init_ok()) return {read_no_init, 0};
    if (start(*p, source)) return {read_no_start, p->get_error_counter()};
    char* tag = nullptr;
    char* value = nullptr;
    if (p->parse(&tag, &value) != 0) return {read_no_root, p->get_error_counter()};
    if (!is_root(tag)) return {read_wrong_root, p->get_error_counter()};
    step s;
    s.parser_ = p.get();
    s.attr_ = &step::attr_of<Parser>;
    // A start tag counts one element and always leaves its tag held; a step that saw
    // none continues the last element, whose id is the one looked up last.
    unsigned int elements = p->get_element_counter();
    s.element = names.find(tag);  // the root's, for its own later steps
    while (p->parse(&tag, &value) == 0) {
      if (tag == nullptr) continue;  // only counts: white space, ends of elements
      const unsigned int now = p->get_element_counter();
      s.new_element = now != elements;
      if (s.new_element) s.element = names.find(tag);
      elements = now;
      s.tag = tag;
      s.value = value;
      on_step(static_cast<const step&>(s));
    }
    return {read_done, p->get_error_counter()};
  } catch (...) {
    report_exception(given_name(static_cast<Parser*>(nullptr), source));
    return {read_exception, p ? p->get_error_counter() : 0};
  }
}

}  // namespace xrq5_read

#endif  // XRQ5_READER_H
