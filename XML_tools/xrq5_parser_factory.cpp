#include "xrq5_parser_factory.h"

#include <sys/stat.h>

#include <cstdio>

#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/parsers/SAX2XMLReaderImpl.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLString.hpp>

namespace {

// Real documents hold a few entities at most; these floors let small documents with a
// DOCTYPE expand to some megabytes, far beyond any of ours.
constexpr size_t memory_floor = size_t(32) << 20;
// A DOM tree takes some ten times its text; elements nested 10^5 deep take over 64.
constexpr size_t memory_per_byte = 128;
constexpr size_t characters_floor = size_t(4) << 20;
constexpr size_t characters_per_byte = 8;

size_t times(size_t size, size_t factor) {
  return size > static_cast<size_t>(-1) / factor ? static_cast<size_t>(-1) : size * factor;
}

// Parser with its deliveries counted: every character it hands on passes here first.
template <class Parser>
class guarded : public Parser {
 public:
  template <class... Args>
  explicit guarded(xrq5_parser_memory* memory, Args... args) : Parser(args...), memory_(memory) {}

  void bound(size_t document_size) {
    const xrq5_parse_bounds b = xrq5_bounds_for(document_size);
    document_size_ = document_size;
    limit_ = b.characters;
    delivered_ = 0;
    depth_ = 0;
    too_deep_ = false;
    memory_->set_budget(b.memory);
  }

  void docCharacters(const XMLCh* const chars, const XMLSize_t length,
                     const bool cdata) override {
    count(length);
    Parser::docCharacters(chars, length, cdata);
  }
  void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length,
                           const bool cdata) override {
    count(length);
    Parser::ignorableWhitespace(chars, length, cdata);
  }
  void startElement(const xercesc::XMLElementDecl& decl, const unsigned int uri,
                    const XMLCh* const prefix, const xercesc::RefVectorOf<xercesc::XMLAttr>& attrs,
                    const XMLSize_t count_of_attrs, const bool empty, const bool root) override {
    // An empty element has no end: it is one level deeper, and leaves the depth as it is.
    const size_t level = depth_ + 1;
    if (level > xrq5_max_depth) nested_too_deep();
    if (!empty) depth_ = level;
    for (XMLSize_t i = 0; i < count_of_attrs; ++i)
      count(xercesc::XMLString::stringLen(attrs.elementAt(i)->getValue()));
    Parser::startElement(decl, uri, prefix, attrs, count_of_attrs, empty, root);
  }
  void endElement(const xercesc::XMLElementDecl& decl, const unsigned int uri, const bool root,
                  const XMLCh* const prefix) override {
    if (depth_ > 0) --depth_;
    Parser::endElement(decl, uri, root, prefix);
  }
  void resetDocument() override {
    depth_ = 0;
    too_deep_ = false;
    Parser::resetDocument();
  }

  bool too_deep() const { return too_deep_; }

 private:
  void count(size_t n) {
    if (n <= limit_ - delivered_) {
      delivered_ += n;
      return;
    }
    fprintf(stderr,
            "entity expansion: a document of %zu bytes expands to more than %zu characters; "
            "read stopped\n",
            document_size_, limit_);
    delivered_ = limit_;
    throw xercesc::OutOfMemoryException();
  }

  void nested_too_deep() {
    fprintf(stderr, "nesting: elements nested deeper than %zu levels; read stopped\n",
            xrq5_max_depth);
    too_deep_ = true;
    throw xercesc::OutOfMemoryException();
  }

  xrq5_parser_memory* memory_;
  size_t depth_ = 0;  // elements open
  bool too_deep_ = false;
  size_t document_size_ = 0;
  size_t limit_ = 0;
  size_t delivered_ = 0;
};

}  // namespace

xrq5_parse_bounds xrq5_bounds_for(size_t document_size) {
  const size_t memory = times(document_size, memory_per_byte);
  const size_t characters = times(document_size, characters_per_byte);
  return {memory > memory_floor ? memory : memory_floor,
          characters > characters_floor ? characters : characters_floor};
}

namespace {

// Read-only after construction; shared by every parser of the process.
xercesc::SecurityManager* entity_limits() {
  static xercesc::SecurityManager limits;
  return &limits;
}

template <class Parser>
guarded<Parser>* protect(guarded<Parser>* p) {
  p->setDisableDefaultEntityResolution(true);
  p->setLoadExternalDTD(false);
  p->setSecurityManager(entity_limits());
  return p;
}

guarded<xercesc::SAX2XMLReaderImpl>* protect(guarded<xercesc::SAX2XMLReaderImpl>* p) {
  p->setFeature(xercesc::XMLUni::fgXercesDisableDefaultEntityResolution, true);
  p->setFeature(xercesc::XMLUni::fgXercesLoadExternalDTD, false);
  p->setProperty(xercesc::XMLUni::fgXercesSecurityManager, entity_limits());
  return p;
}

guarded<xercesc::SAXParser>* construct(xrq5_parser_memory* memory, xercesc::SAXParser*) {
  return new (memory) guarded<xercesc::SAXParser>(memory, nullptr, memory, nullptr);
}

// A DOM parser told to make no comment nodes still ends a text at a comment, as the
// comment's node would: the text after it is a node of its own.
class guarded_dom : public guarded<xercesc::XercesDOMParser> {
 public:
  using guarded::guarded;

  void docComment(const XMLCh* const comment) override {
    if (getCreateCommentNodes())
      guarded::docComment(comment);
    else if (fCurrentNode != nullptr &&
             fCurrentNode->getNodeType() == xercesc::DOMNode::TEXT_NODE)
      fCurrentNode = fCurrentParent;
  }
};

guarded<xercesc::XercesDOMParser>* construct(xrq5_parser_memory* memory, xercesc::XercesDOMParser*) {
  return new (memory) guarded_dom(memory, nullptr, memory, nullptr);
}
guarded<xercesc::SAX2XMLReaderImpl>* construct(xrq5_parser_memory* memory,
                                               xercesc::SAX2XMLReaderImpl*) {
  return new (memory) guarded<xercesc::SAX2XMLReaderImpl>(memory, memory, nullptr);
}

}  // namespace

template <class Parser>
Parser* xrq5_make_parser(xrq5_parser_memory* memory, size_t document_size) {
  guarded<Parser>* p = protect(construct(memory, static_cast<Parser*>(nullptr)));
  p->bound(document_size);
  return p;
}

template <class Parser>
void xrq5_bound_parser(Parser* parser, size_t document_size) {
  static_cast<guarded<Parser>*>(parser)->bound(document_size);
}

template <class Parser>
bool xrq5_parse_too_deep(const Parser* parser) {
  return static_cast<const guarded<Parser>*>(parser)->too_deep();
}

namespace {

// Its destructor runs at exit, or when the library is unloaded (it is registered
// with the library's own handle), after every parser made by this library has been
// deleted by a caller that deletes its parsers before then.
struct platform_reference {
  platform_reference() { xercesc::XMLPlatformUtils::Initialize(); }
  // A program that called Terminate once too often has taken this reference already:
  // the platform is down, and Xerces' count would only go below zero.
  ~platform_reference() {
    if (xercesc::XMLPlatformUtils::fgMemoryManager != nullptr)
      xercesc::XMLPlatformUtils::Terminate();
  }
  platform_reference(const platform_reference&) = delete;
  platform_reference& operator=(const platform_reference&) = delete;
};

}  // namespace

bool xrq5_hold_platform() {
  try {
    static platform_reference held;  // a throw leaves it unmade: the next call retries
    return true;
  } catch (...) {
    return false;
  }
}

size_t xrq5_file_size(const char* name) {
  struct stat st;
  if (name == nullptr || stat(name, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return 0;
  const unsigned long long size = static_cast<unsigned long long>(st.st_size);
  return size > static_cast<size_t>(-1) ? static_cast<size_t>(-1) : static_cast<size_t>(size);
}

template xercesc::SAXParser* xrq5_make_parser<xercesc::SAXParser>(xrq5_parser_memory*, size_t);
template xercesc::XercesDOMParser* xrq5_make_parser<xercesc::XercesDOMParser>(xrq5_parser_memory*,
                                                                              size_t);
template void xrq5_bound_parser<xercesc::SAXParser>(xercesc::SAXParser*, size_t);
template void xrq5_bound_parser<xercesc::XercesDOMParser>(xercesc::XercesDOMParser*, size_t);
template xercesc::SAX2XMLReaderImpl* xrq5_make_parser<xercesc::SAX2XMLReaderImpl>(
    xrq5_parser_memory*, size_t);
template bool xrq5_parse_too_deep<xercesc::SAXParser>(const xercesc::SAXParser*);
template bool xrq5_parse_too_deep<xercesc::XercesDOMParser>(const xercesc::XercesDOMParser*);
template bool xrq5_parse_too_deep<xercesc::SAX2XMLReaderImpl>(const xercesc::SAX2XMLReaderImpl*);
