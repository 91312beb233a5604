// Internal: what the SAX handler keeps besides its fields. Not installed.
#ifndef XRQ5_SAX_STATE_H
#define XRQ5_SAX_STATE_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/AttributeList.hpp>

#include "xrq5_parser_memory.h"
#include "xrq5_sax_handler.h"

template <class Attr>
struct xrq5_sax_state {
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

  ~xrq5_sax_state() {
    for (attr_slot* a : slots) delete a;
    for (attr_slot* a : pending_slots) delete a;
  }

  // Frees storage that an idle state should not keep.
  void trim();

  // A handler's state comes from its thread's idle one when there is one: the Xerces
  // parser inside it, its memory and the string storage are made once per thread,
  // not once per document.
  static xrq5_sax_state* take();
  // Gives the state of `h` back to its thread (or deletes it) and leaves h without
  // one; `token` is the scan token of its last document. Call it while the platform
  // is still held.
  static void recycle(xrq5_sax_handler<Attr>& h, xercesc::XMLPScanToken& token);
  // Deletes `st`: its parser too when the platform that made it is still up; else the
  // parser's memory is freed without running Xerces code.
  static void drop(xrq5_sax_state* st);
  // The SAX parser of `h`, made on first use, with `h` installed and bounded for a
  // document of `document_size` bytes.
  static xercesc::SAXParser* parser_for(xrq5_sax_handler<Attr>& h, size_t document_size);
  // An input source over `size` bytes at `bytes`, parsed in place.
  static xercesc::MemBufInputSource* input_for(xrq5_sax_handler<Attr>& h, const char* bytes,
                                               size_t size);
  // Starts the parse of `source`, or of the file `file` when source is null, as
  // xrq5_sax::start_parse does.
  static bool start(xrq5_sax_handler<Attr>& h, const char* file,
                    const xercesc::InputSource* source, xercesc::XMLPScanToken& token);

  // Fills `name_buf` and the first of `to` from a start tag; the number of attributes.
  static size_t take_start(text_buffer& name_buf, std::vector<attr_slot*>& to, const XMLCh* name,
                           xercesc::AttributeList& attributes);

  // Character data of the current step: narrowed into value_buf while it is plain
  // ASCII (step_len characters), kept in step_text from the first other character on.
  std::basic_string<XMLCh> step_text;
  bool step_has_text = false;
  bool step_wide = false;
  size_t step_len = 0;
  text_buffer tag_buf, value_buf;  // what tag and value point into
  std::vector<attr_slot*> slots;   // owned; vattr points into the first ones
  // Reading ahead: what came after the text of a step, kept for the next step.
  bool text_open = false;  // the step holds text of the held tag, and nothing after it
  bool reading_ahead = false;
  bool pending = false;  // a start tag, an end tag or a problem is kept
  bool pending_start = false, pending_end = false;
  int pending_errors = 0;
  size_t pending_attributes = 0;
  text_buffer pending_tag_buf;
  std::vector<attr_slot*> pending_slots;  // owned
  xrq5_parser_memory memory;
  // Allocated from `memory`, made with the platform of generation `platform`.
  xercesc::SAXParser* parser = nullptr;
  xercesc::MemBufInputSource* input = nullptr;
  unsigned long platform = 0;
  const void* platform_memory = nullptr;
  // Set while Xerces runs a step or a start: still set afterwards when it threw (or
  // the start failed), and the parser is then only fit to be deleted.
  bool unsound = false;
  bool mid_document = false;  // started, and the end not reached yet
  // The file being read: as its default messages name it (the bytes of its full name,
  // never transcoded), and as the caller named it (for a problem handler). Both are
  // empty for a document in memory.
  std::string file_id;
  std::string given_name;
};

#endif  // XRQ5_SAX_STATE_H
