/// \file
/// The SAX handler behind both pull parsers (MemParseHandlers and FileParseHandlers are
/// this template over their attribute record). It holds, after each progressive-parse
/// step, the current element's tag, its text and the attributes of the start tag seen
/// last, transcoded to the local code page (XMLString::transcode; plain ASCII is
/// copied as it is, which every ASCII-based code page would give). The handler owns
/// the strings; it reuses their storage from step to step, so a string handed out is
/// valid only until the next step.
///
/// Per step:
/// - a start tag replaces the tag and the attributes; the text is not touched;
/// - the character data of one step are joined and become the text of the held tag;
///   text made only of blanks, line feeds and tabs clears tag and text instead; text
///   while no tag is held is only counted;
/// - an end tag sets the end flag; reset_end_tag_flag() at the start of the next step
///   then releases tag, text and attributes (also when the step held text), so that the
///   tag of a start tag without text survives into the next step.
/// The text of an element reaches the reader whole: Xerces stops a run of character
/// data at an entity reference, a CDATA section, a comment or a processing instruction,
/// so a step that holds text reads ahead until a start tag, an end tag or a problem
/// comes, joining what it meets. That start tag, end tag or problem is kept and makes
/// the next step, exactly as if it had been read then.
/// Warnings, errors and fatal errors are printed to standard error with the system id,
/// line and column (or handed to the thread's problem handler, xrq5_messages.h, with
/// the name the document was given), and counted; none of them throws.
///
/// The storage behind the strings, the step, and the Xerces parser that the handler
/// serves with its memory sit behind one pointer (xrq5_sax_state, inside the library),
/// so the layout of the handler is its fields below and nothing else. When a pull
/// parser is destroyed after a clean document, that state is kept for the next pull
/// parser of the same thread, so a parser's construction and start do not build Xerces'
/// scanner, grammar and buffers anew.
#ifndef XRQ5_SAX_HANDLER_H
#define XRQ5_SAX_HANDLER_H

#include <vector>

#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>

#include "xrq5_export.h"

class xrq5_parser_memory;
template <class Attr>
struct xrq5_sax_state;

/// The Xerces SAX handler of a pull parser, over its attribute record `Attr` (attr or
/// attrf): keeps the current element's tag, text and attributes, and the counts.
template <class Attr>
class XRQ5_API xrq5_sax_handler : public xercesc::HandlerBase {
 public:
  xrq5_sax_handler();
  ~xrq5_sax_handler() override;
  xrq5_sax_handler(const xrq5_sax_handler&) = delete;
  xrq5_sax_handler& operator=(const xrq5_sax_handler&) = delete;

  /// Character data of the current step: joined into the text of the held tag, and
  /// counted.
  void characters(const XMLCh* const chars, const XMLSize_t length) override;
  /// An end tag: sets the end flag (at the next step when it arrives while a step
  /// reads ahead).
  void endElement(const XMLCh* const name) override;
  /// Whitespace that the document's grammar marks ignorable: only counted.
  void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length) override;
  /// Start of a document: zeroes the counts and the error count, forgets tag and text.
  void resetDocument() override;
  /// A start tag: becomes the held tag with its attributes (at the next step when it
  /// arrives while a step reads ahead).
  void startElement(const XMLCh* const name, xercesc::AttributeList& attributes) override;
  /// An error in the document: printed to standard error with the system id, line and
  /// column, and counted.
  void error(const xercesc::SAXParseException& exc) override;
  /// A fatal error: printed and counted as error() does; it does not throw.
  void fatalError(const xercesc::SAXParseException& exc) override;
  /// A warning: printed and counted as error() does.
  void warning(const xercesc::SAXParseException& exc) override;

  /// One step of a pull parser over `parser`: clears *tag and *value (null pointers are
  /// skipped), returns -1 once gotMore is false, else advances Xerces by one
  /// progressive step (or more, see above) and returns the error count when it is
  /// non-zero, or 0 with the current tag and text in *tag and *value.
  int parse_step(xercesc::SAXParser* parser, xercesc::XMLPScanToken& token, bool& gotMore,
                 char** t, char** v);

  /// Start of a step: releases tag, text and attributes when the last step ended an
  /// element or held text; otherwise keeps them.
  void reset_end_tag_flag();

  /// Releases every string and attribute record (the handler stays usable).
  void release_all();

  /// The memory of the parser that this handler serves: it goes with the parser (kept
  /// for the thread's next pull parser, or deleted after it) and frees what the
  /// parser leaves behind.
  xrq5_parser_memory* parser_memory();

  /// Warnings, errors and fatal errors since the document was reset.
  int getErrorCount() const { return error_count; }
  /// Start tags seen since the document was reset.
  unsigned int getElementCount() const { return fElementCount; }
  /// Attributes seen since the document was reset.
  unsigned int getAttrCount() const { return fAttrCount; }
  /// Characters delivered as character data.
  unsigned int getCharacterCount() const { return fCharacterCount; }
  /// Characters delivered as ignorable whitespace.
  unsigned int getSpaceCount() const { return fSpaceCount; }
  /// The current element's tag, or null when none is held.
  char* getTag() const { return tag; }
  /// The current element's text, or null when none is held.
  char* getValue() const { return value; }
  /// Tag and text at once, as getTag() and getValue(); neither pointer may be null.
  void getTagValue(const char** t, const char** v) const {
    *t = tag;
    *v = value;
  }
  /// Value of the first attribute of the current element named exactly `name`, or null.
  const char* getAttr(const char* name) const;
  /// Forgets the held tag (sets it null); its storage stays with the handler.
  void resetTag() { tag = nullptr; }
  /// Forgets the held text (sets it null); its storage stays with the handler.
  void resetValue() { value = nullptr; }
  /// Forgets the held tag and text.
  void resetTagValue() {
    resetTag();
    resetValue();
  }

 private:
  friend struct xrq5_sax_state<Attr>;
  XRQ5_LOCAL void report(const char* kind, const xercesc::SAXParseException& exc);
  XRQ5_LOCAL void end_step();
  XRQ5_LOCAL void take_wide_text();
  XRQ5_LOCAL void start_element(size_t attributes);
  XRQ5_LOCAL void read_ahead(xercesc::SAXParser* parser, xercesc::XMLPScanToken& token, bool& gotMore);
  XRQ5_LOCAL void apply_pending();

  unsigned int fElementCount;
  unsigned int fAttrCount;
  unsigned int fCharacterCount;
  unsigned int fSpaceCount;
  char* tag;
  char* value;
  std::vector<Attr*> vattr;
  int error_count;
  bool end_flag;
  xrq5_sax_state<Attr>* state;  ///< owned
};

#endif  // XRQ5_SAX_HANDLER_H
