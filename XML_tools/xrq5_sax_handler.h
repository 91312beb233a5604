// The SAX handler behind both pull parsers (MemParseHandlers and FileParseHandlers are
// this template over their attribute record). It holds, after each progressive-parse
// step, the current element's tag, its text and the attributes of the start tag seen
// last, transcoded to the local code page (XMLString::transcode; plain ASCII is
// copied as it is, which every ASCII-based code page would give). The handler owns
// the strings; it reuses their storage from step to step, so a string handed out is
// valid only until the next step.
//
// Per step:
// - a start tag replaces the tag and the attributes; the text is not touched;
// - the character data of one step are joined and become the text of the held tag;
//   text made only of blanks, line feeds and tabs clears tag and text instead; text
//   while no tag is held is only counted;
// - an end tag sets the end flag; reset_end_tag_flag() at the start of the next step
//   then releases tag, text and attributes (also when the step held text), so that the
//   tag of a start tag without text survives into the next step.
// The text of an element reaches the reader whole: Xerces stops a run of character
// data at an entity reference, a CDATA section, a comment or a processing instruction,
// so a step that holds text reads ahead until a start tag, an end tag or a problem
// comes, joining what it meets. That start tag, end tag or problem is kept and makes
// the next step, exactly as if it had been read then.
// Warnings, errors and fatal errors are printed to standard error with the system id,
// line and column, and counted; none of them throws.
#ifndef XRQ5_SAX_HANDLER_H
#define XRQ5_SAX_HANDLER_H

#include <memory>
#include <string>
#include <vector>

#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>

#include "xrq5_parser_memory.h"

template <class Attr>
class xrq5_sax_handler : public xercesc::HandlerBase {
 public:
  xrq5_sax_handler();
  ~xrq5_sax_handler() override;

  void characters(const XMLCh* const chars, const XMLSize_t length) override;
  void endElement(const XMLCh* const name) override;
  void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length) override;
  void resetDocument() override;
  void startElement(const XMLCh* const name, xercesc::AttributeList& attributes) override;
  void error(const xercesc::SAXParseException& exc) override;
  void fatalError(const xercesc::SAXParseException& exc) override;
  void warning(const xercesc::SAXParseException& exc) override;

  // One step of a pull parser over `parser`: clears *tag and *value (null pointers are
  // skipped), returns -1 once gotMore is false, else advances Xerces by one
  // progressive step and returns the error count when it is non-zero, or 0 with the
  // current tag and text in *tag and *value.
  // Inline with the two calls below: it runs for every step of every document.
  int parse_step(xercesc::SAXParser* parser, xercesc::XMLPScanToken& token, bool& gotMore,
                 char** t, char** v) {
    if (t) *t = nullptr;
    if (v) *v = nullptr;
    reset_end_tag_flag();
    if (pending_) {
      apply_pending();  // read ahead by the last step: no Xerces call now
    } else {
      if (!gotMore) return -1;
      gotMore = parser->parseNext(token);
      if (text_open_ && error_count == 0) read_ahead(parser, token, gotMore);
      end_step();
      if (!gotMore) parser->parseReset(token);
    }
    if (error_count != 0) return error_count;
    if (t) *t = tag;
    if (v) *v = value;
    return 0;
  }

  // Start of a step: releases tag, text and attributes when the last step ended an
  // element or held text; otherwise keeps them.
  void reset_end_tag_flag() {
    step_has_text = false;  // nothing of the last step is pending
    text_open_ = false;
    if (!end_flag && value == nullptr) return;
    resetTagValue();
    clear_attributes();
    end_flag = false;
  }

  // End of a step: the joined text of the step becomes the element's text, or clears
  // the tag when it is blank.
  void end_step() {
    if (!step_has_text) return;
    step_has_text = false;
    if (tag == nullptr) return;
    if (step_wide) {
      take_wide_text();
      return;
    }
    const char* text = value_buf.data.get();
    for (size_t i = 0; i < step_len; ++i) {
      if (text[i] != ' ' && text[i] != '\n' && text[i] != '\t') {
        value = value_buf.data.get();
        return;
      }
    }
    resetTagValue();
  }
  // Releases every string and attribute record (the handler stays usable).
  void release_all();

  // The memory of the parser that this handler serves: it lives as long as the
  // handler, which outlives the parser, and frees what the parser leaves behind.
  xrq5_parser_memory* parser_memory() { return &memory; }

  int getErrorCount() const { return error_count; }
  unsigned int getElementCount() const { return fElementCount; }
  unsigned int getAttrCount() const { return fAttrCount; }
  unsigned int getCharacterCount() const { return fCharacterCount; }
  unsigned int getSpaceCount() const { return fSpaceCount; }
  char* getTag() const { return tag; }
  char* getValue() const { return value; }
  void getTagValue(const char** t, const char** v) const {
    *t = tag;
    *v = value;
  }
  // Value of the first attribute of the current element named exactly `name`, or null.
  const char* getAttr(const char* name) const;
  void resetTag() { tag = nullptr; }
  void resetValue() { value = nullptr; }
  void resetTagValue() {
    resetTag();
    resetValue();
  }

 private:
  // Storage of one transcoded string, grown as needed and reused.
  struct text_buffer {
    std::unique_ptr<char[]> data;
    size_t capacity = 0;
    char* room_for(size_t len);  // len characters and the terminator; content dropped
    char* extend(size_t keep, size_t more);  // keeps the first `keep` characters
  };

  // Storage of one attribute record, kept for reuse by later start tags.
  struct attr_slot {
    Attr record;
    text_buffer name, type, value;
  };

  void report(const char* kind, const xercesc::SAXParseException& exc);
  void clear_attributes() { vattr.clear(); }
  void take_wide_text();
  // Fills tag_buf and the first slots from a start tag; the number of attributes.
  size_t take_start(text_buffer& name_buf, std::vector<attr_slot*>& slots_, const XMLCh* name,
                    xercesc::AttributeList& attributes);
  void start_element(size_t attributes);
  void read_ahead(xercesc::SAXParser* parser, xercesc::XMLPScanToken& token, bool& gotMore);
  void apply_pending();

  unsigned int fElementCount;
  unsigned int fAttrCount;
  unsigned int fCharacterCount;
  unsigned int fSpaceCount;
  char* tag;
  char* value;
  std::vector<Attr*> vattr;
  int error_count;
  bool end_flag;
  // Character data of the current step: narrowed into value_buf while it is plain
  // ASCII (step_len characters), kept in step_text from the first other character on.
  std::basic_string<XMLCh> step_text;
  bool step_has_text;
  bool step_wide;
  size_t step_len;
  text_buffer tag_buf, value_buf;      // what tag and value point into
  std::vector<attr_slot*> slots;       // owned; vattr points into the first ones
  // Reading ahead: what came after the text of a step, kept for the next step.
  bool text_open_ = false;   // the step holds text of the held tag, and nothing after it
  bool reading_ahead_ = false;
  bool pending_ = false;     // a start tag, an end tag or a problem is kept
  bool pending_start_ = false, pending_end_ = false;
  int pending_errors_ = 0;
  size_t pending_attributes_ = 0;
  text_buffer pending_tag_buf_;
  std::vector<attr_slot*> pending_slots_;  // owned
  xrq5_parser_memory memory;
};

#endif  // XRQ5_SAX_HANDLER_H
