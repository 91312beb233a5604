#include "xrq5_gige_source.h"

#include <cstdio>
#include <string>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLString.hpp>

#include "xrq5_file_source.h"
#include "xrq5_parser_factory.h"
#include "xrq5_parser_memory.h"

namespace xrq5_gige {

using xercesc::XMLString;

std::string text_of(const XMLCh* s) {
  if (s == nullptr) return std::string();
  char* t = XMLString::transcode(s);
  std::string r = t ? t : "";
  XMLString::release(&t);
  return r;
}

// The text of a DOM exception's code, when Xerces has one.
bool exception_text(const xercesc::DOMException& e, std::string* text) {
  XMLCh buf[2048];
  if (!xercesc::DOMImplementation::loadDOMExceptionMsg(e.code, buf, 2047)) return false;
  *text = text_of(buf);
  return true;
}

}  // namespace xrq5_gige

namespace {

using xrq5_gige::exception_text;
using xrq5_gige::text_of;

// Counts what the parse reports, without throwing, and keeps the first message.
class parse_errors : public xercesc::HandlerBase {
 public:
  void error(const xercesc::SAXParseException& e) override { note(e); }
  void fatalError(const xercesc::SAXParseException& e) override { note(e); }
  int count = 0;
  std::string first;
  std::string file_id;  // the file's name for messages, when reading a file

 private:
  void note(const xercesc::SAXParseException& e) {
    if (count++ == 0)
      first = (file_id.empty() ? text_of(e.getSystemId()) : file_id) + ", line " + std::to_string(e.getLineNumber()) +
              ", char " + std::to_string(e.getColumnNumber()) + ": " + text_of(e.getMessage());
  }
};


void clear_markers(std::string& s) {
  if (s == xrq5_gige::unknown || s == xrq5_gige::waiting) s.clear();
}

}  // namespace

bool xrq5_gige_fill(const char* name, const xercesc::InputSource* source, size_t size,
                    std::vector<XRQ5GigEFeature*>* out) {
  if (name == nullptr || out == nullptr) return true;
  bool failed = false;
  {
    parse_errors errors;
    xrq5_parser_memory memory;  // outlives the parser; frees what a failed parse leaves
    xercesc::XercesDOMParser* parser = nullptr;
    try {
      parser = xrq5_make_parser<xercesc::XercesDOMParser>(&memory, size);
      parser->setValidationScheme(xercesc::XercesDOMParser::Val_Never);
      parser->setDoNamespaces(false);
      parser->setDoSchema(false);
      parser->setValidationSchemaFullChecking(false);
      parser->setCreateEntityReferenceNodes(false);
      // The walk skips comments; without their nodes a comment still ends a text.
      parser->setCreateCommentNodes(false);
      // Only counts: without it a malformed file parsed to an empty document silently.
      parser->setErrorHandler(&errors);
      if (source) {
        parser->parse(*source);
      } else {
        // By the name as given (see xrq5_file_source.h).
        const xrq5_file_source file(name);
        if (!file.ok()) {
          printf("An error occurred during parsing  Message: , line 0, char 0: unable to open primary document entity '%s'\n",
                 file.id().c_str());
          failed = true;
        } else {
          errors.file_id = file.id();
          parser->parse(file);
        }
      }
    } catch (const xercesc::OutOfMemoryException&) {
      printf("OutOfMemoryException\n");
      failed = true;
    } catch (const xercesc::XMLException& e) {
      printf("An error occurred during parsing  Message: %s\n", text_of(e.getMessage()).c_str());
      failed = true;
    } catch (const xercesc::DOMException& e) {
      printf("\nDOM Error during parsing: '%s' DOMException code is: %d\n", name, e.code);
      std::string text;
      if (exception_text(e, &text)) printf("Message is: %s", text.c_str());
      failed = true;
    } catch (...) {
      printf("An error occurred during parsing\n ");
      failed = true;
    }
    if (!failed && errors.count > 0) {
      printf("An error occurred during parsing  Message: %s\n", errors.first.c_str());
      failed = true;
    }
    if (!failed) {
      try {
        out->clear();
        xercesc::DOMDocument* doc = parser->getDocument();
        if (doc != nullptr) dump_nodes(doc->getChildNodes(), out);
      } catch (...) {
        // Out of memory while listing: the records so far stay the caller's.
        printf("OutOfMemoryException\n");
        failed = true;
      }
    }
    delete parser;
  }
  if (failed) return true;
  for (XRQ5GigEFeature* f : *out) {
    clear_markers(f->name);
    clear_markers(f->extension);
    clear_markers(f->tooltip);
    clear_markers(f->description);
  }
  return false;
}

