#include "xrq5_sax_handler.h"

#include <cstring>
#include <iostream>

#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "SAX_File_Parser.h"
#include "SAX_Memory_Parser.h"
#include "xrq5_sax_common.h"

using xercesc::XMLString;

namespace {

// Transcodes to the local code page into `out`: plain ASCII is copied as it is (every
// ASCII-based code page gives the same bytes), anything else goes through
// XMLString::transcode.
void transcode_into(std::string& out, const XMLCh* text, size_t len) {
  out.resize(len);
  char* dst = &out[0];
  for (size_t i = 0; i < len; ++i) {
    const XMLCh c = text[i];
    if (c >= 0x80 || c == 0) {
      const std::basic_string<XMLCh> terminated(text, len);
      char* s = XMLString::transcode(terminated.c_str());
      out.assign(s ? s : "");
      XMLString::release(&s);
      return;
    }
    dst[i] = static_cast<char>(c);
  }
}

char* transcode_name(std::string& out, const XMLCh* text) {
  transcode_into(out, text, text ? XMLString::stringLen(text) : 0);
  return &out[0];
}

bool is_blank_text(const std::basic_string<XMLCh>& text) {
  for (XMLCh c : text)
    if (c != ' ' && c != '\n' && c != '\t') return false;
  return true;
}

}  // namespace

template <class Attr>
xrq5_sax_handler<Attr>::xrq5_sax_handler()
    : fElementCount(0),
      fAttrCount(0),
      fCharacterCount(0),
      fSpaceCount(0),
      tag(nullptr),
      value(nullptr),
      error_count(0),
      end_flag(false),
      step_has_text(false) {}

template <class Attr>
xrq5_sax_handler<Attr>::~xrq5_sax_handler() {
  release_all();
}

template <class Attr>
void xrq5_sax_handler<Attr>::release_all() {
  clear_attributes();
  for (attr_slot* a : slots) delete a;
  slots.clear();
  resetDocument();
  std::basic_string<XMLCh>().swap(step_text);
  std::string().swap(tag_buf);
  std::string().swap(value_buf);
}

template <class Attr>
void xrq5_sax_handler<Attr>::clear_attributes() {
  vattr.clear();
}

template <class Attr>
void xrq5_sax_handler<Attr>::resetTag() {
  tag = nullptr;
}

template <class Attr>
void xrq5_sax_handler<Attr>::resetValue() {
  value = nullptr;
}

template <class Attr>
void xrq5_sax_handler<Attr>::characters(const XMLCh* const chars, const XMLSize_t length) {
  fCharacterCount += static_cast<unsigned int>(length);
  if (tag == nullptr) return;
  // Exactly `length` characters: the buffer need not be terminated there.
  if (!step_has_text) step_text.clear();
  step_text.append(chars, length);
  step_has_text = true;
}

template <class Attr>
void xrq5_sax_handler<Attr>::end_step() {
  if (!step_has_text) return;
  step_has_text = false;
  if (tag == nullptr) return;
  if (is_blank_text(step_text)) {
    resetTagValue();
  } else {
    transcode_into(value_buf, step_text.data(), step_text.size());
    value = &value_buf[0];
  }
}

template <class Attr>
void xrq5_sax_handler<Attr>::endElement(const XMLCh* const) {
  end_step();
  end_flag = true;
}

template <class Attr>
void xrq5_sax_handler<Attr>::ignorableWhitespace(const XMLCh* const, const XMLSize_t length) {
  fSpaceCount += static_cast<unsigned int>(length);
}

template <class Attr>
void xrq5_sax_handler<Attr>::resetDocument() {
  fElementCount = fAttrCount = fCharacterCount = fSpaceCount = 0;
  error_count = 0;
  step_has_text = false;
  resetTagValue();
}

template <class Attr>
void xrq5_sax_handler<Attr>::startElement(const XMLCh* const name,
                                          xercesc::AttributeList& attributes) {
  end_step();
  tag = transcode_name(tag_buf, name);
  const XMLSize_t n = attributes.getLength();
  fElementCount++;
  fAttrCount += static_cast<unsigned int>(n);
  clear_attributes();
  for (XMLSize_t i = 0; i < n; i++) {
    if (i == slots.size()) slots.push_back(new attr_slot());
    attr_slot& a = *slots[i];
    a.record.name = transcode_name(a.name, attributes.getName(i));
    a.record.type = transcode_name(a.type, attributes.getType(i));
    a.record.value = transcode_name(a.value, attributes.getValue(i));
    vattr.push_back(&a.record);
  }
}

template <class Attr>
void xrq5_sax_handler<Attr>::report(const char* kind, const xercesc::SAXParseException& exc) {
  xrq5_sax::transcoded id(exc.getSystemId());
  xrq5_sax::transcoded msg(exc.getMessage());
  std::cerr << "\n" << kind << " at (file " << id.c_str() << ", line "
            << static_cast<unsigned long long>(exc.getLineNumber()) << ", char "
            << static_cast<unsigned long long>(exc.getColumnNumber()) << "): " << msg.c_str()
            << std::endl;
  error_count++;
}

template <class Attr>
void xrq5_sax_handler<Attr>::warning(const xercesc::SAXParseException& exc) {
  report("Warning", exc);
}

template <class Attr>
void xrq5_sax_handler<Attr>::error(const xercesc::SAXParseException& exc) {
  report("Error", exc);
}

template <class Attr>
void xrq5_sax_handler<Attr>::fatalError(const xercesc::SAXParseException& exc) {
  report("Fatal Error", exc);
}

template <class Attr>
void xrq5_sax_handler<Attr>::reset_end_tag_flag() {
  // A new step begins: nothing of the last one is pending.
  step_has_text = false;
  if (!end_flag && value == nullptr) return;
  resetTagValue();
  clear_attributes();
  end_flag = false;
}

template <class Attr>
const char* xrq5_sax_handler<Attr>::getAttr(const char* name) const {
  for (const Attr* a : vattr)
    if (strcmp(a->name, name) == 0) return a->value;
  return nullptr;
}

template class xrq5_sax_handler<attr>;
template class xrq5_sax_handler<attrf>;

namespace xrq5_sax {

transcoded::transcoded(const XMLCh* text) : text_(text ? XMLString::transcode(text) : nullptr) {}

transcoded::~transcoded() {
  if (text_) XMLString::release(&text_);
}

bool initialize_platform() {
  try {
    xercesc::XMLPlatformUtils::Initialize(xercesc::XMLUni::fgXercescDefaultLocale, nullptr,
                                          nullptr, nullptr);
  } catch (const xercesc::XMLException& e) {
    transcoded msg(e.getMessage());
    std::cerr << "Error during initialization! Message:\n" << msg.c_str() << std::endl;
    return false;
  }
  return true;
}

xercesc::SAXParser* make_parser(xercesc::HandlerBase* handler) {
  // Read-only after construction; shared by every parser of the process.
  static xercesc::SecurityManager entity_limits;
  xercesc::SAXParser* p =
      new xercesc::SAXParser(nullptr, xercesc::XMLPlatformUtils::fgMemoryManager, nullptr);
  p->setDocumentHandler(handler);
  p->setErrorHandler(handler);
  p->setValidationScheme(xercesc::SAXParser::Val_Auto);
  p->setDoNamespaces(false);
  p->setDoSchema(false);
  p->setValidationSchemaFullChecking(false);
  // A document must not make us read other files or the network, nor expand
  // entities without bound.
  p->setDisableDefaultEntityResolution(true);
  p->setLoadExternalDTD(false);
  p->setSecurityManager(&entity_limits);
  return p;
}

bool start_parse(xercesc::SAXParser* parser, const char* file, const xercesc::InputSource* source,
                 xercesc::XMLPScanToken& token) {
  try {
    const bool ok = source ? parser->parseFirst(*source, token)
                           : (file != nullptr && parser->parseFirst(file, token));
    if (ok) return false;
    std::cerr << "scanFirst() failed\n";
    return true;
  } catch (const xercesc::XMLException& e) {
    transcoded msg(e.getMessage());
    std::cerr << "\nError during parsing memory stream:\n"
              << "Exception message is:  \n"
              << msg.c_str() << std::endl;
    return true;
  }
}

}  // namespace xrq5_sax
