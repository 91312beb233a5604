// Internal: the core of the camera feature reader, for callers that hold the Xerces
// platform themselves (the fuzz harness reads from memory through it). Not installed.
#ifndef XRQ5_GIGE_SOURCE_H
#define XRQ5_GIGE_SOURCE_H

#include <cstddef>
#include <string>
#include <vector>

#include <xercesc/dom/DOMException.hpp>
#include <xercesc/sax/InputSource.hpp>

#include "xrq5_gige_descr.h"

namespace xrq5_gige {

// Marker texts of a record being filled: a field not yet set, a field that takes the
// next text node.
constexpr char unknown[] = "Unknown";
constexpr char waiting[] = "Waiting";

// A Xerces string transcoded ("" for null).
std::string text_of(const XMLCh* s);

// The text of a DOM exception's code, when Xerces has one.
bool exception_text(const xercesc::DOMException& e, std::string* text);

}  // namespace xrq5_gige

// What xrq5_fill_gige_descr does after initialising the platform: reads `source`, or
// the file `name` when source is null, into `out`, with the parser bounded for a
// document of `size` bytes. `name` also names the document in DOM error messages.
// The caller holds an XMLPlatformUtils::Initialize for the duration of the call.
bool xrq5_gige_fill(const char* name, const xercesc::InputSource* source, size_t size,
                    std::vector<XRQ5GigEFeature*>* out);

#endif  // XRQ5_GIGE_SOURCE_H
