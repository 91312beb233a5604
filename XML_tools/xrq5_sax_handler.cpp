#include "xrq5_sax_handler.h"

#include <cstring>
#include <iostream>

#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "SAX_File_Parser.h"
#include "SAX_Memory_Parser.h"
#include "xrq5_parser_factory.h"
#include "xrq5_sax_common.h"

using xercesc::XMLString;

namespace {

// Plain ASCII narrowed into `out` (every ASCII-based local code page gives the same
// bytes); false when the text holds anything else. XML text never holds U+0000, so
// `len` characters are the whole text.
bool narrow_ascii(char* out, const XMLCh* text, size_t len) {
  XMLCh all = 0;
  for (size_t i = 0; i < len; ++i) {
    all |= text[i];
    out[i] = static_cast<char>(text[i]);
  }
  out[len] = '\0';
  return all < 0x80;
}

template <class Char>
bool is_blank(const Char* text, size_t len) {
  for (size_t i = 0; i < len; ++i)
    if (text[i] != ' ' && text[i] != '\n' && text[i] != '\t') return false;
  return true;
}

}  // namespace

template <class Attr>
char* xrq5_sax_handler<Attr>::text_buffer::room_for(size_t len) {
  return extend(0, len);
}

template <class Attr>
char* xrq5_sax_handler<Attr>::text_buffer::extend(size_t keep, size_t more) {
  const size_t need = keep + more + 1;
  if (need > capacity) {
    const size_t grown = need > 2 * capacity ? (need < 64 ? 64 : need) : 2 * capacity;
    std::unique_ptr<char[]> bigger(new char[grown]);
    if (keep) memcpy(bigger.get(), data.get(), keep);
    data = std::move(bigger);
    capacity = grown;
  }
  return data.get();
}

namespace {

// Transcodes `len` characters to the local code page into `out`.
template <class Buffer>
char* transcode_into(Buffer& out, const XMLCh* text, size_t len) {
  char* dst = out.room_for(len);
  if (narrow_ascii(dst, text, len)) return dst;
  const std::basic_string<XMLCh> terminated(text, len);
  char* s = XMLString::transcode(terminated.c_str());
  const size_t n = s ? strlen(s) : 0;
  dst = out.room_for(n);
  if (n) memcpy(dst, s, n);
  dst[n] = '\0';
  XMLString::release(&s);
  return dst;
}

// A NUL-terminated name: short ASCII names are narrowed in one pass.
template <class Buffer>
char* transcode_name(Buffer& out, const XMLCh* text) {
  if (text == nullptr) return transcode_into(out, text, 0);
  char* dst = out.room_for(31);
  XMLCh all = 0;
  for (size_t i = 0; i + 1 < out.capacity; ++i) {
    const XMLCh c = text[i];
    if (c == 0) {
      dst[i] = '\0';
      if (all < 0x80) return dst;
      break;
    }
    all |= c;
    dst[i] = static_cast<char>(c);
  }
  return transcode_into(out, text, XMLString::stringLen(text));
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
      step_has_text(false),
      step_wide(false),
      step_len(0) {}

template <class Attr>
xrq5_sax_handler<Attr>::~xrq5_sax_handler() {
  release_all();
}

template <class Attr>
void xrq5_sax_handler<Attr>::release_all() {
  clear_attributes();
  for (attr_slot* a : slots) delete a;
  slots.clear();
  for (attr_slot* a : pending_slots_) delete a;
  pending_slots_.clear();
  pending_tag_buf_ = text_buffer();
  resetDocument();
  std::basic_string<XMLCh>().swap(step_text);
  tag_buf = text_buffer();
  value_buf = text_buffer();
}

template <class Attr>
void xrq5_sax_handler<Attr>::characters(const XMLCh* const chars, const XMLSize_t length) {
  fCharacterCount += static_cast<unsigned int>(length);
  if (tag == nullptr || pending_) return;
  text_open_ = true;
  if (!step_has_text) {
    step_has_text = true;
    step_wide = false;
    step_len = 0;
  }
  // Exactly `length` characters: the buffer need not be terminated there.
  if (!step_wide) {
    char* dst = value_buf.extend(step_len, length);
    if (narrow_ascii(dst + step_len, chars, length)) {
      step_len += length;
      return;
    }
    step_wide = true;
    step_text.assign(dst, dst + step_len);  // the ASCII so far, widened back
  }
  step_text.append(chars, length);
}

template <class Attr>
void xrq5_sax_handler<Attr>::take_wide_text() {
  if (is_blank(step_text.data(), step_text.size()))
    resetTagValue();
  else
    value = transcode_into(value_buf, step_text.data(), step_text.size());
}

template <class Attr>
void xrq5_sax_handler<Attr>::endElement(const XMLCh* const) {
  if (reading_ahead_) {
    pending_ = pending_end_ = true;
    return;
  }
  text_open_ = false;
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
  text_open_ = false;
  pending_ = pending_start_ = pending_end_ = false;
  pending_errors_ = 0;
  resetTagValue();
}

template <class Attr>
size_t xrq5_sax_handler<Attr>::take_start(text_buffer& name_buf, std::vector<attr_slot*>& to,
                                          const XMLCh* name, xercesc::AttributeList& attributes) {
  transcode_name(name_buf, name);
  const XMLSize_t n = attributes.getLength();
  for (XMLSize_t i = 0; i < n; i++) {
    if (i == to.size()) to.push_back(new attr_slot());
    attr_slot& a = *to[i];
    a.record.name = transcode_name(a.name, attributes.getName(i));
    a.record.type = transcode_name(a.type, attributes.getType(i));
    a.record.value = transcode_name(a.value, attributes.getValue(i));
  }
  return n;
}

template <class Attr>
void xrq5_sax_handler<Attr>::start_element(size_t attributes) {
  tag = tag_buf.data.get();
  fElementCount++;
  fAttrCount += static_cast<unsigned int>(attributes);
  clear_attributes();
  for (size_t i = 0; i < attributes; i++) vattr.push_back(&slots[i]->record);
}

template <class Attr>
void xrq5_sax_handler<Attr>::startElement(const XMLCh* const name,
                                          xercesc::AttributeList& attributes) {
  if (reading_ahead_) {
    // Kept apart: the step that read ahead still shows its own element's attributes.
    pending_attributes_ = take_start(pending_tag_buf_, pending_slots_, name, attributes);
    pending_ = pending_start_ = true;
    return;
  }
  text_open_ = false;
  end_step();
  start_element(take_start(tag_buf, slots, name, attributes));
}

template <class Attr>
void xrq5_sax_handler<Attr>::read_ahead(xercesc::SAXParser* parser, xercesc::XMLPScanToken& token,
                                        bool& gotMore) {
  struct flag {
    explicit flag(bool& f) : f_(f) { f_ = true; }
    ~flag() { f_ = false; }
    bool& f_;
  } ahead(reading_ahead_);
  while (gotMore && !pending_) gotMore = parser->parseNext(token);
}

template <class Attr>
void xrq5_sax_handler<Attr>::apply_pending() {
  if (pending_start_) {
    std::swap(tag_buf, pending_tag_buf_);
    for (size_t i = 0; i < pending_attributes_; ++i) {
      if (i == slots.size()) slots.push_back(nullptr);
      std::swap(slots[i], pending_slots_[i]);
      if (pending_slots_[i] == nullptr) pending_slots_[i] = new attr_slot();
    }
    start_element(pending_attributes_);
  }
  if (pending_end_) end_flag = true;
  error_count += pending_errors_;
  pending_ = pending_start_ = pending_end_ = false;
  pending_errors_ = 0;
  pending_attributes_ = 0;
}

template <class Attr>
void xrq5_sax_handler<Attr>::report(const char* kind, const xercesc::SAXParseException& exc) {
  xrq5_sax::transcoded id(exc.getSystemId());
  xrq5_sax::transcoded msg(exc.getMessage());
  std::cerr << "\n" << kind << " at (file " << id.c_str() << ", line "
            << static_cast<unsigned long long>(exc.getLineNumber()) << ", char "
            << static_cast<unsigned long long>(exc.getColumnNumber()) << "): " << msg.c_str()
            << std::endl;
  if (reading_ahead_) {
    // Counted with the step it belongs to, the next one.
    pending_errors_++;
    pending_ = true;
    return;
  }
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

xercesc::SAXParser* make_parser(xercesc::HandlerBase* handler, xrq5_parser_memory* memory,
                                size_t document_size) {
  xercesc::SAXParser* p = xrq5_make_parser<xercesc::SAXParser>(memory, document_size);
  p->setDocumentHandler(handler);
  p->setErrorHandler(handler);
  p->setValidationScheme(xercesc::SAXParser::Val_Auto);
  p->setDoNamespaces(false);
  p->setDoSchema(false);
  p->setValidationSchemaFullChecking(false);
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
