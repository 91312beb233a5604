#include "xrq5_gige_descr.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>

#include "xrq5_gige_source.h"
#include "xrq5_parser_factory.h"
#include "xrq5_parser_memory.h"

const char* const FeatureTags[FEATURE_TYPE_MAX] = {"Undefined",   "Integer", "Float",
                                                   "Enumeration", "Boolean", "StringReg",
                                                   "Command",     "IntReg",  "Int64"};
const char* const MoreTags[MORE_TAGS_MAX] = {"Extension", "PvRename", "ToolTip", "Description"};
const char* const Attributes[ATTRIBUTE_MAX] = {"Name"};

namespace {

using xercesc::XMLString;

using xrq5_gige::exception_text;
using xrq5_gige::text_of;
using xrq5_gige::unknown;
using xrq5_gige::waiting;

// Whether a Xerces string is the ASCII text `ascii`. The same answer as comparing its
// transcoding: an element or attribute name that transcodes to ASCII letters is those
// letters, and a name that is not cannot come out as them.
bool is(const XMLCh* s, const char* ascii) {
  if (s == nullptr) return false;
  for (; *ascii != '\0'; ++s, ++ascii)
    if (*s != static_cast<unsigned char>(*ascii)) return false;
  return *s == 0;
}

// Whether a field holds one of the markers (the length first: most texts differ).
bool holds(const std::string& field, std::string_view marker) { return field == marker; }

// What one node does to the list. Names are compared as Xerces hands them over; only
// the texts a record keeps are transcoded.
void handle(xercesc::DOMNode* node, std::vector<XRQ5GigEFeature*>& out) {
  const short type = node->getNodeType();
  if (type == xercesc::DOMNode::ELEMENT_NODE) {
    xercesc::DOMElement* el = static_cast<xercesc::DOMElement*>(node);
    const XMLCh* tag = el->getTagName();
    bool feature = false;
    for (int t = 0; t < FEATURE_TYPE_MAX && !feature; ++t) {
      if (is(tag, FeatureTags[t])) {
        XRQ5GigEFeature* f = new XRQ5GigEFeature{t, unknown, unknown, unknown, unknown};
        out.push_back(f);
        feature = true;
      }
    }
    if (out.empty()) return;  // nothing to fill before the first feature
    if (!feature) {
      XRQ5GigEFeature& last = *out.back();
      if (is(tag, MoreTags[MORE_TAGS_PVRENAME])) last.extension = waiting;
      else if (is(tag, MoreTags[MORE_TAGS_TOOLTIP])) last.tooltip = waiting;
      else if (is(tag, MoreTags[MORE_TAGS_DESCRIPTION])) last.description = waiting;
    }
    xercesc::DOMNamedNodeMap* attrs = el->getAttributes();
    const XMLSize_t n = attrs ? attrs->getLength() : 0;
    for (XMLSize_t i = 0; i < n; ++i) {
      xercesc::DOMAttr* a = static_cast<xercesc::DOMAttr*>(attrs->item(i));
      if (!is(a->getName(), Attributes[ATTRIBUTE_NAME])) continue;
      XRQ5GigEFeature& last = *out.back();
      if (holds(last.name, unknown))
        last.name = text_of(a->getValue());
      else if (holds(last.extension, waiting))
        last.extension = text_of(a->getValue());
    }
  } else if (type == xercesc::DOMNode::TEXT_NODE && !out.empty()) {
    XRQ5GigEFeature& last = *out.back();
    for (std::string* field : {&last.extension, &last.tooltip, &last.description}) {
      if (holds(*field, waiting)) {
        *field = text_of(node->getNodeValue());
        break;
      }
    }
  }
}


void report(const xercesc::DOMException& e) {
  std::string text;
  if (exception_text(e, &text)) printf("Message is:  %s\n", text.c_str());
}

// The descendants of `parent`, depth-first in document order: each node, then its
// children, then its next sibling. A stack of its own rather than recursion, so that a
// deeply nested document cannot exhaust the call stack; siblings are followed by link,
// because a child list's item(i) walks from the first child each time.
void walk_children(xercesc::DOMNode* parent, std::vector<XRQ5GigEFeature*>& out) {
  std::vector<xercesc::DOMNode*> next{parent->getFirstChild()};  // per depth
  while (!next.empty()) {
    xercesc::DOMNode* node = next.back();
    if (node == nullptr) {
      next.pop_back();
      continue;
    }
    try {
      next.back() = node->getNextSibling();
      handle(node, out);
      if (xercesc::DOMNode* child = node->getFirstChild()) next.push_back(child);
    } catch (const xercesc::DOMException& e) {
      report(e);
      next.pop_back();  // the walk of this list stops; its parent's goes on
    }
  }
}

}  // namespace

bool dump_nodes(xercesc::DOMNodeList* nodes, std::vector<XRQ5GigEFeature*>* out) {
  if (nodes == nullptr || out == nullptr) return false;
  const XMLSize_t n = nodes->getLength();
  for (XMLSize_t i = 0; i < n; ++i) {
    xercesc::DOMNode* node = nullptr;
    try {
      node = nodes->item(i);
      if (node == nullptr) continue;
      handle(node, *out);
    } catch (const xercesc::DOMException& e) {
      report(e);
      return true;
    }
    walk_children(node, *out);
  }
  return false;
}

bool xrq5_fill_gige_descr(char* file_name, std::vector<XRQ5GigEFeature*>* out) {
  if (file_name == nullptr || out == nullptr) return true;
  xrq5_hold_platform();
  try {
    xercesc::XMLPlatformUtils::Initialize();
  } catch (const xercesc::XMLException& e) {
    printf("Error during Xerces-c Initialization.  Exception message: %s\n",
           text_of(e.getMessage()).c_str());
    return true;
  }
  const bool failed = xrq5_gige_fill(file_name, nullptr, xrq5_file_size(file_name), out);
  xercesc::XMLPlatformUtils::Terminate();
  return failed;
}

void xrq5_dump_gige_descr(std::vector<XRQ5GigEFeature*>* out) {
  if (out == nullptr) return;
  int i = 0;
  for (const XRQ5GigEFeature* f : *out) {
    if (f != nullptr && !f->name.empty()) {
      if (!f->extension.empty())
        printf("[%d] Name:'%s' Extension:'%s' type:%d ToolTip:'%s' Description:'%s'\n", i,
               f->name.c_str(), f->extension.c_str(), f->type, f->tooltip.c_str(),
               f->description.c_str());
      else
        printf("[%d] Name:'%s' type:%d ToolTip:'%s' Description:'%s'\n", i, f->name.c_str(),
               f->type, f->tooltip.c_str(), f->description.c_str());
    }
    ++i;
  }
}

void xrq5_clean_gige_descr(std::vector<XRQ5GigEFeature*>* out) {
  if (out == nullptr) return;
  for (XRQ5GigEFeature* f : *out) delete f;
  out->clear();
}
