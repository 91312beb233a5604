#include "xrq5_sax_handler.h"

#include <cstring>
#include <iostream>

#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>

#include "SAX_File_Parser.h"
#include "SAX_Memory_Parser.h"
#include "xrq5_file_source.h"
#include "xrq5_parser_factory.h"
#include "xrq5_sax_common.h"
#include "xrq5_sax_state.h"

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
char* xrq5_sax_state<Attr>::text_buffer::room_for(size_t len) {
  return extend(0, len);
}

template <class Attr>
char* xrq5_sax_state<Attr>::text_buffer::extend(size_t keep, size_t more) {
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

template <class Attr>
size_t xrq5_sax_state<Attr>::take_start(text_buffer& name_buf, std::vector<attr_slot*>& to,
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
xrq5_sax_handler<Attr>::xrq5_sax_handler()
    : fElementCount(0),
      fAttrCount(0),
      fCharacterCount(0),
      fSpaceCount(0),
      tag(nullptr),
      value(nullptr),
      error_count(0),
      end_flag(false),
      state(xrq5_sax_state<Attr>::take()) {}

template <class Attr>
xrq5_sax_handler<Attr>::~xrq5_sax_handler() {
  if (state != nullptr) xrq5_sax_state<Attr>::drop(state);
}

namespace {

// A thread's idle handler state, with the Xerces parser in it, for the next parser of
// that thread. The thread's end deletes it, while the library's reference keeps the
// platform up; a library still referenced by a thread's destructor stays loaded
// until that thread ends.
template <class Attr>
struct idle_state {
  ~idle_state() {
    closed = true;
    if (st != nullptr) xrq5_sax_state<Attr>::drop(st);
    st = nullptr;
  }
  xrq5_sax_state<Attr>* st = nullptr;
  bool closed = false;
};

template <class Attr>
idle_state<Attr>& idle() {
  static thread_local idle_state<Attr> held;
  return held;
}

// What an idle state may keep: storage past these goes back to the heap, so a thread
// that once read a large document does not hold its buffers for good.
constexpr size_t idle_text_capacity = 4096;
constexpr size_t idle_attributes = 16;
constexpr size_t idle_parser_bytes = size_t(256) << 10;

}  // namespace

template <class Attr>
void xrq5_sax_state<Attr>::trim() {
  for (text_buffer* b : {&tag_buf, &value_buf, &pending_tag_buf})
    if (b->capacity > idle_text_capacity) *b = text_buffer();
  if (step_text.capacity() > idle_text_capacity) step_text = std::basic_string<XMLCh>();
  for (std::vector<attr_slot*>* v : {&slots, &pending_slots}) {
    while (v->size() > idle_attributes) {
      delete v->back();
      v->pop_back();
    }
    for (attr_slot* a : *v)
      if (a != nullptr)
        for (text_buffer* b : {&a->name, &a->type, &a->value})
          if (b->capacity > idle_text_capacity) *b = text_buffer();
  }
}

template <class Attr>
xrq5_sax_state<Attr>* xrq5_sax_state<Attr>::take() {
  idle_state<Attr>& i = idle<Attr>();
  xrq5_sax_state* st = i.st;
  i.st = nullptr;
  return st != nullptr ? st : new xrq5_sax_state;
}

template <class Attr>
void xrq5_sax_state<Attr>::drop(xrq5_sax_state* st) {
  if (st->parser != nullptr && st->platform == xrq5_sax::platform_generation() &&
      st->platform_memory == xercesc::XMLPlatformUtils::fgMemoryManager) {
    delete st->input;
    delete st->parser;
  }
  // Otherwise the blocks of both go with the memory, and no Xerces code runs over a
  // platform that is gone.
  st->input = nullptr;
  st->parser = nullptr;
  delete st;
}

template <class Attr>
xercesc::SAXParser* xrq5_sax_state<Attr>::parser_for(xrq5_sax_handler<Attr>& h,
                                                     size_t document_size) {
  const unsigned long generation = xrq5_sax::platform_generation();
  const void* platform_memory = xercesc::XMLPlatformUtils::fgMemoryManager;
  if (h.state->parser != nullptr &&
      (h.state->platform != generation || h.state->platform_memory != platform_memory)) {
    drop(h.state);
    h.state = nullptr;
    h.state = new xrq5_sax_state;
  }
  xrq5_sax_state& st = *h.state;
  if (st.parser == nullptr) {
    st.parser = xrq5_sax::make_parser(&h, &st.memory, document_size);
    st.platform = generation;
    st.platform_memory = platform_memory;
  } else {
    st.parser->setDocumentHandler(&h);
    st.parser->setErrorHandler(&h);
    xrq5_bound_parser(st.parser, document_size);
  }
  st.unsound = false;
  st.mid_document = false;
  return st.parser;
}

template <class Attr>
xercesc::MemBufInputSource* xrq5_sax_state<Attr>::input_for(xrq5_sax_handler<Attr>& h,
                                                             const char* bytes, size_t size) {
  xrq5_sax_state& st = *h.state;
  const XMLByte* b = reinterpret_cast<const XMLByte*>(bytes);
  if (st.input != nullptr) {
    st.input->resetMemBufInputSource(b, size);
  } else {
    st.input = new (&st.memory) xercesc::MemBufInputSource(b, size, "my_mem_info", false,
                                                            &st.memory);
    st.input->setCopyBufToStream(false);  // parse the caller's buffer in place
  }
  return st.input;
}

template <class Attr>
bool xrq5_sax_state<Attr>::start(xrq5_sax_handler<Attr>& h, const char* file,
                                 const xercesc::InputSource* source,
                                 xercesc::XMLPScanToken& token) {
  xrq5_sax_state& st = *h.state;
  const bool unsound = st.unsound;
  st.unsound = st.mid_document = true;
  // A file comes with its own source: its messages show the name's own bytes.
  const auto* named = dynamic_cast<const xrq5_file_source*>(source);
  st.file_id = named != nullptr ? named->id() : "";
  st.given_name = named != nullptr ? named->name() : file != nullptr ? file : "";
  const bool failed = xrq5_sax::start_parse(st.parser, file, source, token);
  // A failed start leaves the parser unsound: it is not kept for another document.
  st.unsound = unsound || failed;
  return failed;
}

template <class Attr>
void xrq5_sax_state<Attr>::recycle(xrq5_sax_handler<Attr>& h, xercesc::XMLPScanToken& token) {
  xrq5_sax_state* st = h.state;
  if (st == nullptr) return;
  // A document with problems may have left Xerces in a state nobody tests: not kept.
  bool keep = st->parser != nullptr && !st->unsound && h.error_count == 0 &&
              st->platform == xrq5_sax::platform_generation() &&
              st->platform_memory == xercesc::XMLPlatformUtils::fgMemoryManager;
  h.vattr.clear();
  h.end_flag = false;
  h.resetDocument();
  h.state = nullptr;
  if (keep && st->mid_document) {
    try {
      st->parser->parseReset(token);  // abandoned before its end
      st->mid_document = false;
    } catch (...) {
      keep = false;
    }
  }
  idle_state<Attr>& i = idle<Attr>();
  keep = keep && !i.closed && i.st == nullptr && st->memory.held() <= idle_parser_bytes;
  if (!keep) {
    drop(st);
    return;
  }
  st->parser->setDocumentHandler(nullptr);
  st->parser->setErrorHandler(nullptr);
  st->trim();
  i.st = st;
}

template <class Attr>
xrq5_parser_memory* xrq5_sax_handler<Attr>::parser_memory() {
  return &state->memory;
}

template <class Attr>
int xrq5_sax_handler<Attr>::parse_step(xercesc::SAXParser* parser, xercesc::XMLPScanToken& token,
                                       bool& gotMore, char** t, char** v) {
  if (t) *t = nullptr;
  if (v) *v = nullptr;
  reset_end_tag_flag();
  if (state->pending) {
    apply_pending();  // read ahead by the last step: no Xerces call now
  } else {
    if (!gotMore) return -1;
    const bool unsound = state->unsound;
    state->unsound = true;  // until Xerces returns
    gotMore = parser->parseNext(token);
    if (state->text_open && error_count == 0) read_ahead(parser, token, gotMore);
    end_step();
    if (!gotMore) {
      parser->parseReset(token);
      state->mid_document = false;
    }
    state->unsound = unsound;
  }
  if (error_count != 0) return error_count;
  if (t) *t = tag;
  if (v) *v = value;
  return 0;
}

template <class Attr>
void xrq5_sax_handler<Attr>::reset_end_tag_flag() {
  state->step_has_text = false;  // nothing of the last step is pending
  state->text_open = false;
  if (!end_flag && value == nullptr) return;
  resetTagValue();
  vattr.clear();
  end_flag = false;
}

// End of a step: the joined text of the step becomes the element's text, or clears the
// tag when it is blank.
template <class Attr>
void xrq5_sax_handler<Attr>::end_step() {
  xrq5_sax_state<Attr>& st = *state;
  if (!st.step_has_text) return;
  st.step_has_text = false;
  if (tag == nullptr) return;
  if (st.step_wide) {
    take_wide_text();
    return;
  }
  const char* text = st.value_buf.data.get();
  if (is_blank(text, st.step_len))
    resetTagValue();
  else
    value = st.value_buf.data.get();
}

template <class Attr>
void xrq5_sax_handler<Attr>::release_all() {
  if (state == nullptr) return;
  using slot = typename xrq5_sax_state<Attr>::attr_slot;
  using buffer = typename xrq5_sax_state<Attr>::text_buffer;
  xrq5_sax_state<Attr>& st = *state;
  vattr.clear();
  for (slot* a : st.slots) delete a;
  st.slots.clear();
  for (slot* a : st.pending_slots) delete a;
  st.pending_slots.clear();
  st.pending_tag_buf = buffer();
  resetDocument();
  std::basic_string<XMLCh>().swap(st.step_text);
  st.tag_buf = buffer();
  st.value_buf = buffer();
}

template <class Attr>
void xrq5_sax_handler<Attr>::characters(const XMLCh* const chars, const XMLSize_t length) {
  fCharacterCount += static_cast<unsigned int>(length);
  xrq5_sax_state<Attr>& st = *state;
  if (tag == nullptr || st.pending) return;
  st.text_open = true;
  if (!st.step_has_text) {
    st.step_has_text = true;
    st.step_wide = false;
    st.step_len = 0;
  }
  // Exactly `length` characters: the buffer need not be terminated there.
  if (!st.step_wide) {
    char* dst = st.value_buf.extend(st.step_len, length);
    if (narrow_ascii(dst + st.step_len, chars, length)) {
      st.step_len += length;
      return;
    }
    st.step_wide = true;
    st.step_text.assign(dst, dst + st.step_len);  // the ASCII so far, widened back
  }
  st.step_text.append(chars, length);
}

template <class Attr>
void xrq5_sax_handler<Attr>::take_wide_text() {
  xrq5_sax_state<Attr>& st = *state;
  if (is_blank(st.step_text.data(), st.step_text.size()))
    resetTagValue();
  else
    value = transcode_into(st.value_buf, st.step_text.data(), st.step_text.size());
}

template <class Attr>
void xrq5_sax_handler<Attr>::endElement(const XMLCh* const) {
  if (state->reading_ahead) {
    state->pending = state->pending_end = true;
    return;
  }
  state->text_open = false;
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
  xrq5_sax_state<Attr>& st = *state;
  st.step_has_text = false;
  st.text_open = false;
  st.pending = st.pending_start = st.pending_end = false;
  st.pending_errors = 0;
  resetTagValue();
}

template <class Attr>
void xrq5_sax_handler<Attr>::start_element(size_t attributes) {
  tag = state->tag_buf.data.get();
  fElementCount++;
  fAttrCount += static_cast<unsigned int>(attributes);
  vattr.clear();
  for (size_t i = 0; i < attributes; i++) vattr.push_back(&state->slots[i]->record);
}

template <class Attr>
void xrq5_sax_handler<Attr>::startElement(const XMLCh* const name,
                                          xercesc::AttributeList& attributes) {
  xrq5_sax_state<Attr>& st = *state;
  if (st.reading_ahead) {
    // Kept apart: the step that read ahead still shows its own element's attributes.
    st.pending_attributes = st.take_start(st.pending_tag_buf, st.pending_slots, name, attributes);
    st.pending = st.pending_start = true;
    return;
  }
  st.text_open = false;
  end_step();
  start_element(st.take_start(st.tag_buf, st.slots, name, attributes));
}

template <class Attr>
void xrq5_sax_handler<Attr>::read_ahead(xercesc::SAXParser* parser, xercesc::XMLPScanToken& token,
                                        bool& gotMore) {
  struct flag {
    explicit flag(bool& f) : f_(f) { f_ = true; }
    ~flag() { f_ = false; }
    bool& f_;
  } ahead(state->reading_ahead);
  while (gotMore && !state->pending) gotMore = parser->parseNext(token);
}

template <class Attr>
void xrq5_sax_handler<Attr>::apply_pending() {
  xrq5_sax_state<Attr>& st = *state;
  if (st.pending_start) {
    std::swap(st.tag_buf, st.pending_tag_buf);
    for (size_t i = 0; i < st.pending_attributes; ++i) {
      if (i == st.slots.size()) st.slots.push_back(nullptr);
      std::swap(st.slots[i], st.pending_slots[i]);
      if (st.pending_slots[i] == nullptr)
        st.pending_slots[i] = new typename xrq5_sax_state<Attr>::attr_slot();
    }
    start_element(st.pending_attributes);
  }
  if (st.pending_end) end_flag = true;
  error_count += st.pending_errors;
  st.pending = st.pending_start = st.pending_end = false;
  st.pending_errors = 0;
  st.pending_attributes = 0;
}

template <class Attr>
void xrq5_sax_handler<Attr>::report(const char* kind, const xercesc::SAXParseException& exc) {
  xrq5_sax::transcoded id(exc.getSystemId());
  xrq5_sax::transcoded msg(exc.getMessage());
  const xrq5_severity severity = kind[0] == 'W'   ? XRQ5_SEVERITY_WARNING
                                 : kind[0] == 'E' ? XRQ5_SEVERITY_ERROR
                                                  : XRQ5_SEVERITY_FATAL;
  if (!xrq5_sax::deliver(severity, state->given_name.empty() ? nullptr : state->given_name.c_str(),
                         static_cast<unsigned long>(exc.getLineNumber()),
                         static_cast<unsigned long>(exc.getColumnNumber()), msg.c_str()))
    std::cerr << "\n" << kind << " at (file "
              << (state->file_id.empty() ? id.c_str() : state->file_id.c_str()) << ", line "
              << static_cast<unsigned long long>(exc.getLineNumber()) << ", char "
              << static_cast<unsigned long long>(exc.getColumnNumber()) << "): " << msg.c_str()
              << std::endl;
  if (state->reading_ahead) {
    // Counted with the step it belongs to, the next one.
    state->pending_errors++;
    state->pending = true;
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

template struct xrq5_sax_state<attr>;
template struct xrq5_sax_state<attrf>;
template class xrq5_sax_handler<attr>;
template class xrq5_sax_handler<attrf>;
