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
// - the character data of one step are joined (Xerces splits text at entity and
//   character references) and become the text of the held tag; text made only of
//   blanks, line feeds and tabs clears tag and text instead; text while no tag is held
//   is only counted;
// - an end tag sets the end flag; reset_end_tag_flag() at the start of the next step
//   then releases tag, text and attributes (also when the step held text), so that the
//   tag of a start tag without text survives into the next step.
// Warnings, errors and fatal errors are printed to standard error with the system id,
// line and column, and counted; none of them throws.
#ifndef XRQ5_SAX_HANDLER_H
#define XRQ5_SAX_HANDLER_H

#include <string>
#include <vector>

#include <xercesc/sax/HandlerBase.hpp>

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

  // Start of a step: releases tag, text and attributes when the last step ended an
  // element or held text; otherwise keeps them.
  void reset_end_tag_flag();
  // End of a step: the joined text of the step becomes the element's text.
  void end_step();
  // Releases every string and attribute record (the handler stays usable).
  void release_all();

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
  void resetTag();
  void resetValue();
  void resetTagValue() {
    resetTag();
    resetValue();
  }

 private:
  // Storage of one attribute record, kept for reuse by later start tags.
  struct attr_slot {
    Attr record;
    std::string name, type, value;
  };

  void report(const char* kind, const xercesc::SAXParseException& exc);
  void clear_attributes();

  unsigned int fElementCount;
  unsigned int fAttrCount;
  unsigned int fCharacterCount;
  unsigned int fSpaceCount;
  char* tag;
  char* value;
  std::vector<Attr*> vattr;
  int error_count;
  bool end_flag;
  std::basic_string<XMLCh> step_text;  // character data of the current step
  bool step_has_text;
  std::string tag_buf, value_buf;      // what tag and value point into
  std::vector<attr_slot*> slots;       // owned; vattr points into the first ones
};

#endif  // XRQ5_SAX_HANDLER_H
