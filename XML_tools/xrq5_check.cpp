// The check of a document against the schema of its kind and for its meaning: one
// validating SAX2 pass whose handler gathers the parser's findings and, from the
// elements as they arrive, those of the meaning checks of the kind.
#include "xrq5_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAX2XMLReaderImpl.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/common/Grammar.hpp>

#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "user_case_trigger.h"
#include "xrq5_gige_descr.h"
#include "xrq5_messages.h"
#include "xrq5_parser_factory.h"
#include "xrq5_parser_memory.h"
#include "xrq5_sax_common.h"
#include "xrq5_schemas.h"

using xercesc::XMLUni;

namespace {

std::string utf8(const XMLCh* s, XMLSize_t n) {
  if (s == nullptr || n == 0) return std::string();
  xercesc::TranscodeToStr t(s, n, "UTF-8");
  return std::string(reinterpret_cast<const char*>(t.str()), t.length());
}

std::string utf8(const XMLCh* s) {
  return s ? utf8(s, xercesc::XMLString::stringLen(s)) : std::string();
}

// Characters, not bytes: the fields hold one byte per character of the code pages
// the documents are written in.
size_t char_count(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

bool blank(const std::string& s) {
  return s.find_first_not_of(" \t\r\n") == std::string::npos;
}

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return std::string();
  return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
}

// A whole decimal int (blanks around it allowed), as strtol would read it fully.
bool whole_int(const std::string& text, long* v) {
  const std::string t = trim(text);
  if (t.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long n = strtoll(t.c_str(), &end, 10);
  *v = static_cast<long>(n);
  return errno == 0 && *end == '\0' && n >= INT_MIN && n <= INT_MAX;
}

// A whole float as strtof reads it.
bool whole_float(const std::string& text) {
  const std::string t = trim(text);
  if (t.empty()) return false;
  char* end = nullptr;
  strtof(t.c_str(), &end);
  return *end == '\0';
}

// An event-list number: 0x and up to 8 hexadecimal digits, or an unsigned decimal.
bool ev_number(const std::string& text) {
  const std::string t = trim(text);
  if (t.compare(0, 2, "0x") == 0)
    return t.size() > 2 && t.size() <= 10 &&
           t.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
  if (t.empty() || t.size() > 10 || t.find_first_not_of("0123456789") != std::string::npos)
    return false;
  return strtoull(t.c_str(), nullptr, 10) <= 0xFFFFFFFFull;
}

float as_float(const std::string& text) {
  return strtof(text.c_str(), nullptr);
}

std::string fmt(float v) {
  char b[64];
  snprintf(b, sizeof b, "%g", static_cast<double>(v));
  return b;
}

using finding = xrq5_finding;

enum class kind { ev_list, xcd_tag, xcd_var, env_dict, triggers };

struct kind_info {
  const char* root;
  kind k;
  const char* schema;
};

const kind_info kinds_with_schema[] = {
    {"BMR", kind::ev_list, "ev_list.xsd"},
    {"CHANDESCRIPTIONS", kind::xcd_tag, "xcd_tag.xsd"},
    {"DAQvariables", kind::xcd_var, "xcd_var.xsd"},
    {"ENVINDEXDICT", kind::env_dict, "env_dict.xsd"},
    {"XRQ5USERTRIGGERLIST", kind::triggers, "triggers.xsd"},
};

// Fixed fields: element name -> (field, characters kept).
struct field {
  const char* field;
  size_t size;
};
const std::map<std::string, field> tag_fields = {
    {"SB_NAME", {"sb_name", 255}},   {"PROP", {"prop_name", 255}},
    {"NAME", {"daq_name", 255}},     {"SUBSYSTEM", {"subsystem", 63}},
    {"DESC", {"prop_desc", 255}},    {"UNITS", {"units", 15}},
    {"DIM_NAME", {"dim_name", 63}},  {"DIM_UNITS", {"units", 15}},
    {"DIM_DESCR", {"dim_desc", 79}}, {"STAT_NAME", {"stat_name", 63}},
    {"STAT_UNITS", {"units", 15}},   {"STAT_DESCR", {"stat_desc", 79}},
    {"BIT_NAME", {"bit_name", 63}},  {"BIT_DESCR", {"bit_desc", 79}},
};
const std::map<std::string, field> var_fields = {
    {"tarvo", {"prop_name", 255}},   {"daqName", {"daq_name", 255}},
    {"subSystem", {"subsystem", 63}}, {"description", {"prop_desc", 255}},
    {"units", {"units", 15}},        {"bitTitle", {"bit_name", 63}},
    {"name", {"dim_name", 63}},
};
const std::set<std::string> tag_scalars = {"STREAM", "EVTYPE", "DTYPE", "DB_KEY", "COUNT",
                                           "SB_NAME", "PROP", "NAME", "SETPOINT", "SUBSYSTEM",
                                           "UNITS", "DESC", "SIZE"};
const std::set<std::string> tag_known = {
    "CHANDESCRIPTIONS", "isodate", "CHANNEL", "STREAM", "EVTYPE", "DTYPE", "DB_KEY", "COUNT",
    "SB_NAME", "PROP", "NAME", "SETPOINT", "SUBSYSTEM", "UNITS", "DESC", "SIZE", "BIT",
    "BIT_NAME", "BIT_DESCR", "DIM", "DIM_NAME", "DIM_UNITS", "DIM_DESCR", "STAT", "STAT_NAME",
    "STAT_UNITS", "STAT_DESCR",
    // written with each dimension, not read back
    "DIM_START", "DIM_INC", "DIM_NDATA", "DIM_GROUPS", "DIM_GROUP_INC", "DIM_XSTART",
    "DIM_WIDTH", "DIM_XBIN", "DIM_YSTART", "DIM_HEIGHT", "DIM_YBIN", "DIM_BPP", "DIM_EBITPP",
    "DIM_UNSIGNED"};
const std::set<std::string> var_values = {"evType", "tarvo", "daqName", "DBKey", "setPoint",
                                          "sbName", "subSystem", "description", "units",
                                          "firstIndex", "lastIndex", "freq"};
const std::set<std::string> var_known = {
    "DAQvariables", "DaqFloat", "DaqBits", "DaqFloatMatrix", "evType", "tarvo", "daqName",
    "subSystem", "setPoint", "description", "units", "lastIndex", "bitTitle", "dimension", "name",
    // written, not read back
    "DBKey", "sbName", "firstIndex", "freq"};
const std::set<std::string> ev_known = {"BMR",        "EVENT",      "TYPE",     "TMASK",
                                        "MINTIMESEC", "MINTIMEUSEC", "PRIORITY", "SBLOCK",
                                        "CHLIST",     "CHAN"};
const std::set<std::string> env_known = {"ENVINDEXDICT", "isodate", "CHANNEL", "INDEX",
                                         "PROP",         "DABS",    "DREL"};
// Trigger elements and the attributes the reader (or, for Creation, the writer) uses.
const std::map<std::string, std::set<std::string>> trigger_attributes = {
    {"XRQ5USERTRIGGERLIST", {}},
    {"isodate", {}},
    {"USERTRIGGER", {}},
    {"Chan", {"name", "subchan"}},
    {"Function",
     {"name", "param0", "param1", "param2", "param3", "param4", "param5", "param6", "param7",
      "param8", "param9", "param10", "param11", "param12", "param13", "param14", "param15",
      "start", "x0", "position", "end", "y0", "incr", "halfwidthX", "a", "halfwidthY", "b",
      "form"}},
    {"Operation", {"name"}},
    {"LowLimit", {"value"}},
    {"UpperLimit", {"value"}},
    {"BitMask", {"mask"}},
    {"Creation", {"time"}},
    {"Description", {"text"}},
    {"PreMode", {"events"}},
    {"PostMode", {"events"}},
    {"Group", {"name"}},
};
// The names tried, in order, for the first five function parameters.
const std::vector<std::vector<std::string>> parameter_names = {
    {"param0", "start", "x0", "position"},
    {"param1", "end", "y0"},
    {"param2", "incr", "halfwidthX", "a"},
    {"param3", "halfwidthY", "b"},
    {"param4", "form"},
};

struct element {
  std::string name;
  int line, column;
  int end_line = 0, end_column = 0;
  std::string lead;  // text before the first child element
  std::string text;  // all direct text
  bool had_child = false;
};

struct place {
  int line = 0, column = 0;
};

// One pass over a document: schema findings from the validating parser, and the
// meaning checks of its kind from the elements as they arrive.
class checker : public xercesc::DefaultHandler {
 public:
  checker(kind k, const std::set<std::string>* channels) : kind_(k), channels_(channels) {}

  std::vector<finding> findings;
  size_t env_prop_size = 255;  // bytes of a dictionary's property field (79 classic)

  void setDocumentLocator(const xercesc::Locator* const l) override { locator_ = l; }

  void startElement(const XMLCh* const, const XMLCh* const, const XMLCh* const qname,
                    const xercesc::Attributes& attrs) override {
    if (!stack_.empty()) stack_.back().had_child = true;
    element e;
    e.name = utf8(qname);
    e.line = locator_ ? static_cast<int>(locator_->getLineNumber()) : 0;
    e.column = locator_ ? static_cast<int>(locator_->getColumnNumber()) : 0;
    std::map<std::string, std::string> a;
    for (XMLSize_t i = 0; i < attrs.getLength(); ++i)
      a[utf8(attrs.getQName(i))] = utf8(attrs.getValue(i));
    stack_.push_back(e);
    start(stack_.back(), a);
  }

  void characters(const XMLCh* const chars, const XMLSize_t length) override {
    if (stack_.empty()) return;
    const std::string s = utf8(chars, length);
    element& e = stack_.back();
    e.text += s;
    if (!e.had_child) e.lead += s;
  }

  void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length) override {
    characters(chars, length);
  }

  void endElement(const XMLCh* const, const XMLCh* const, const XMLCh* const) override {
    if (stack_.empty()) return;
    if (locator_ != nullptr) {
      stack_.back().end_line = static_cast<int>(locator_->getLineNumber());
      stack_.back().end_column = static_cast<int>(locator_->getColumnNumber());
    }
    end(stack_.back());
    stack_.pop_back();
  }

  void warning(const xercesc::SAXParseException& e) override { parser_finding(e, false); }
  void error(const xercesc::SAXParseException& e) override { parser_finding(e, true); }
  void fatalError(const xercesc::SAXParseException& e) override {
    parser_finding(e, true, "xml");
  }

 private:
  void parser_finding(const xercesc::SAXParseException& e, bool error,
                      const char* code = "schema") {
    finding f;
    f.line = static_cast<int>(e.getLineNumber());
    f.column = static_cast<int>(e.getColumnNumber());
    f.error = error;
    f.message = utf8(e.getMessage());
    f.code = code;
    // Xerces often gives several messages for one fault; the first says most.
    if (!findings.empty() && findings.back().code == f.code && findings.back().line == f.line &&
        findings.back().column == f.column)
      return;
    static const std::string too_long = "' which exceeds maxLength facet value '";
    const size_t at = f.message.find(too_long);
    if (at != std::string::npos && kind_ == kind::env_dict) {
      // Only PROP has a length in the schemas; the value itself would fill the line.
      const size_t n = f.message.rfind("'", at - 1);
      f.message = "text of 'PROP' has " + f.message.substr(n + 1, at - n - 1) +
                  " characters; field env_prop keeps " +
                  f.message.substr(at + too_long.size(),
                                   f.message.size() - at - too_long.size() - 1);
      f.code = "cut";
    }
    static const std::string undeclared = "no declaration found for element '";
    static const std::string not_allowed = "element '";
    if (f.message.compare(0, undeclared.size(), undeclared) == 0) {
      const std::string quoted = f.message.substr(undeclared.size() - 1);
      undeclared_.insert(quoted);
      // A name of this kind in the wrong place: the schema declares it elsewhere only.
      if (known(quoted.substr(1, quoted.size() - 2)))
        f.message = "element " + quoted + " does not belong here";
    } else if (f.message.compare(0, not_allowed.size(), not_allowed) == 0) {
      const size_t q = f.message.find('\'', not_allowed.size());
      if (q != std::string::npos &&
          undeclared_.count(f.message.substr(not_allowed.size() - 1, q - not_allowed.size() + 2)))
        return;  // the undeclared element, said again at the end of its parent
    }
    findings.push_back(f);
  }

  void add(const element& at, bool error, const std::string& code, const std::string& message) {
    add(at.line, at.column, error, code, message);
  }
  void add(int line, int column, bool error, const std::string& code,
           const std::string& message) {
    finding f;
    f.line = line;
    f.column = column;
    f.error = error;
    f.code = code;
    f.message = message;
    findings.push_back(f);
  }

  // A leaf value that is not a number, told at its end tag (where the schema tells it).
  void not_a_number(const element& e, const std::string& consequence) {
    add(e.end_line, e.end_column, true, "number",
        "'" + e.name + "' holds '" + trim(e.text) + "', not a number: " + consequence);
  }
  void int_value(const element& e) {
    long v;
    if (!whole_int(e.text, &v))
      not_a_number(e, blank(e.text) ? std::string("the reader ignores it")
                                    : "the reader takes " +
                                          std::to_string(strtol(e.text.c_str(), nullptr, 10)));
  }
  void attribute_not_a_number(const element& e, const std::string& attr, const std::string& v,
                              const std::string& consequence) {
    add(e, true, "number",
        "'" + attr + "' of '" + e.name + "' is '" + v + "', not a number: " + consequence);
  }

  bool known(const std::string& name) const {
    switch (kind_) {
      case kind::ev_list: return ev_known.count(name) != 0;
      case kind::xcd_tag: return tag_known.count(name) != 0;
      case kind::xcd_var: return var_known.count(name) != 0;
      case kind::env_dict: return env_known.count(name) != 0;
      case kind::triggers: return trigger_attributes.count(name) != 0;
    }
    return false;
  }

  const element* parent() const {
    return stack_.size() >= 2 ? &stack_[stack_.size() - 2] : nullptr;
  }

  void ignored_element(const element& e) {
    add(e, false, "ignored", "element '" + e.name + "' is not known: the reader ignores it");
  }
  void ignored_attributes(const element& e, const std::map<std::string, std::string>& a,
                          const std::set<std::string>& used) {
    for (const auto& kv : a) {
      if (kv.first.compare(0, 4, "xsi:") == 0 || kv.first.compare(0, 5, "xmlns") == 0) continue;
      if (used.count(kv.first) == 0)
        add(e, false, "ignored",
            "attribute '" + kv.first + "' of '" + e.name + "' is not known: the reader ignores it");
    }
  }

  void cut(const element& e, const std::string& text, const std::map<std::string, field>& fields,
           const std::string& name, bool in_dimension = false) {
    auto it = fields.find(name);
    if (it == fields.end()) return;
    field f = it->second;
    if (in_dimension && name == "description") f = {"dim_desc", 79};
    const size_t n = char_count(text);
    if (n > f.size)
      add(e, true, "cut",
          "text of '" + name + "' has " + std::to_string(n) + " characters; field " + f.field +
              " keeps " + std::to_string(f.size));
    else
      cut_in_bytes(e, "text of '" + name + "'", text, f.field, f.size);
  }

  // A text short enough in characters that its bytes still overflow the field: the
  // reader keeps the bytes that fit and drops the character cut by the end.
  void cut_in_bytes(const element& e, const std::string& what, const std::string& text,
                    const char* field, size_t size) {
    if (text.size() <= size) return;
    add(e, false, "cut-bytes",
        what + " has " + std::to_string(char_count(text)) + " characters in " +
            std::to_string(text.size()) + " bytes; field " + field + " keeps " +
            std::to_string(size) + " bytes: the reader drops what is past them");
  }

  void start(element& e, const std::map<std::string, std::string>& a) {
    switch (kind_) {
      case kind::ev_list: start_ev(e, a); break;
      case kind::xcd_tag: start_tag(e, a); break;
      case kind::xcd_var: start_var(e, a); break;
      case kind::env_dict: start_env(e, a); break;
      case kind::triggers: start_trigger(e, a); break;
    }
  }
  void end(element& e) {
    switch (kind_) {
      case kind::ev_list: end_ev(e); break;
      case kind::xcd_tag: end_tag(e); break;
      case kind::xcd_var: end_var(e); break;
      case kind::env_dict: end_env(e); break;
      case kind::triggers: end_trigger(e); break;
    }
  }

  // ---- event lists
  void start_ev(element& e, const std::map<std::string, std::string>& a) {
    if (ev_known.count(e.name) == 0) ignored_element(e);
    ignored_attributes(e, a, {});
    if (e.name == "EVENT") {
      ev_block_ = false;
      ev_type_ = false;
    } else if (e.name == "TYPE") {
      ev_type_ = true;
    } else if (ev_known.count(e.name) && e.name != "BMR" && e.name != "CHAN" && !ev_type_) {
      add(e, true, "ignored", "'" + e.name + "' before the TYPE of its EVENT: the reader ignores it");
    } else if (e.name == "CHLIST" && !ev_block_) {
      add(e, false, "ignored", "CHLIST before any SBLOCK of its EVENT: the reader ignores its channels");
    }
  }
  void end_ev(element& e) {
    if (e.name == "TYPE") {
      long v;
      if (!whole_int(e.text, &v)) {
        int_value(e);
      } else if (v < 0 || v > 32) {
        add(e.end_line, e.end_column, true, "range",
            "event type " + std::to_string(v) + " is outside 0 to 32: the reader ignores this EVENT");
      }
    } else if (e.name == "TMASK" || e.name == "MINTIMESEC" || e.name == "MINTIMEUSEC" ||
               e.name == "PRIORITY") {
      if (!ev_number(e.text))
        add(e.end_line, e.end_column, true, "number",
            "'" + e.name + "' holds '" + trim(e.text) +
                "', neither a decimal nor a 0x hexadecimal number of 32 bits: the reader does not "
                "take it as meant");
    } else if (e.name == "SBLOCK") {
      if (blank(e.text)) {
        add(e, true, "empty",
            "SBLOCK without a name: the reader ignores it and a CHLIST after it belongs to the "
            "block before");
        return;
      }
      ev_block_ = true;
      if (char_count(e.text) > 254)
        add(e, true, "cut",
            "text of 'SBLOCK' has " + std::to_string(char_count(e.text)) +
                " characters; field sb_list keeps 254");
      else
        cut_in_bytes(e, "text of 'SBLOCK'", e.text, "sb_list", 254);
      if (trim(e.text) != e.text)
        add(e, false, "blanks", "blanks around the SBLOCK name become part of it");
    } else if (e.name == "CHAN") {
      if (blank(e.text))
        add(e, false, "ignored", "CHAN without a name: the reader ignores it");
      else if (trim(e.text) != e.text)
        add(e, false, "blanks", "blanks around the CHAN name become part of it");
    }
  }

  // ---- channel descriptions, tag form
  void start_tag(element& e, const std::map<std::string, std::string>& a) {
    if (tag_known.count(e.name) == 0) ignored_element(e);
    ignored_attributes(e, a, {});
    if (e.name == "CHANNEL") {
      seen_.clear();
      props_in_channel_ = 0;
    }
  }
  void mixed_number(const element& e) {
    long v;
    if (blank(e.lead))
      add(e, true, "empty",
          "'" + e.name + "' has no number: the reader creates no record for it and ignores what it holds");
    else if (!whole_int(e.lead, &v))
      add(e, true, "number",
          "'" + e.name + "' holds '" + trim(e.lead) + "', not a number: the reader takes " +
              std::to_string(strtol(e.lead.c_str(), nullptr, 10)));
  }
  void repeated_in_channel(const element& e) {
    auto it = seen_.find(e.name);
    if (it != seen_.end() && e.name != "PROP" && e.name != "tarvo")
      add(e, false, "repeated",
          "'" + e.name + "' given again in this channel (first at line " +
              std::to_string(it->second.line) + "): the later value wins");
    if (it == seen_.end()) seen_[e.name] = {e.line, e.column};
  }
  void type_numbers(const element& e, bool data_type) {
    long v;
    if (!whole_int(e.text, &v)) return;  // the schema says so
    if (!data_type && (v < 0 || v > 31))
      add(e, false, "modulo",
          "event type " + std::to_string(v) +
              " is taken modulo 32 by readers that shift types into masks (a mask where a type "
              "number belongs?)");
    if (data_type && (v < 0 || v > 62))
      add(e, false, "modulo",
          "data type " + std::to_string(v) +
              " is outside 0 to 62 and gives no proper mask to readers that shift types (a mask "
              "where a type number belongs?)");
  }
  void property(const element& e, const std::string& name) {
    const std::string text = e.text;
    if (blank(text)) return;
    auto it = props_.find(text);
    if (it != props_.end())
      add(e, true, "duplicate",
          "property '" + text + "' was given before, at line " + std::to_string(it->second.line) +
              ": " + (name == "PROP" ? "readers that merge duplicates and the writers keep only the first"
                                     : "the reader merges it into the first"));
    else
      props_[text] = {e.line, e.column};
  }
  void end_tag(element& e) {
    const element* p = parent();
    if (e.name == "BIT" || e.name == "DIM" || e.name == "STAT") {
      mixed_number(e);
    } else if (tag_scalars.count(e.name) && p != nullptr && p->name == "CHANNEL") {
      repeated_in_channel(e);
      if (e.name == "PROP" && !blank(e.text)) {
        if (++props_in_channel_ == 2)
          add(e, true, "repeated",
              "second PROP in one CHANNEL: the reader adds the same record to the list again");
        else
          property(e, "PROP");
      }
      if (e.name != "SB_NAME" && e.name != "PROP" && e.name != "NAME" && e.name != "SUBSYSTEM" &&
          e.name != "UNITS" && e.name != "DESC")
        int_value(e);
      if (e.name == "EVTYPE") type_numbers(e, false);
      if (e.name == "DTYPE") type_numbers(e, true);
    } else if (e.name == "CHANNEL" && props_in_channel_ == 0) {
      add(e, true, "dropped", "CHANNEL without PROP: the reader drops it");
    }
    if (!e.had_child) cut(e, e.text, tag_fields, e.name);
  }

  // ---- channel descriptions, variable form
  bool var_channel(const std::string& n) const {
    return n == "DaqFloat" || n == "DaqBits" || n == "DaqFloatMatrix";
  }
  void start_var(element& e, const std::map<std::string, std::string>& a) {
    if (var_known.count(e.name) == 0) ignored_element(e);
    if (e.name == "bitTitle")
      ignored_attributes(e, a, {"bit"});
    else if (e.name == "dimension")
      ignored_attributes(e, a, {"id"});
    else
      ignored_attributes(e, a, {});
    if (var_channel(e.name)) {
      seen_.clear();
      props_in_channel_ = 0;
      var_dimension_ = -1;
    }
    const element* p = parent();
    if (p != nullptr && e.name == "bitTitle" && p->name != "DaqBits")
      add(e, false, "ignored", "bitTitle outside a DaqBits channel: the reader ignores it");
    if (p != nullptr && e.name == "dimension" && p->name != "DaqFloatMatrix")
      add(e, false, "ignored",
          "dimension outside a DaqFloatMatrix channel: the reader ignores it and what it holds");
    if (e.name == "dimension" || e.name == "bitTitle") {
      const char* attr = e.name == "dimension" ? "id" : "bit";
      auto it = a.find(attr);
      long v;
      if (it != a.end() && whole_int(it->second, &v)) {
        // Only a matrix channel has dimensions to route texts to.
        if (e.name == "dimension" && p != nullptr && p->name == "DaqFloatMatrix")
          var_dimension_ = v;
      } else if (it != a.end()) {
        attribute_not_a_number(e, attr, it->second,
                               "the reader takes " +
                                   std::to_string(strtol(it->second.c_str(), nullptr, 10)));
      }
    }
  }
  void end_var(element& e) {
    const element* p = parent();
    const bool in_dimension = p != nullptr && p->name == "dimension";
    if (var_values.count(e.name) && p != nullptr && var_channel(p->name)) {
      repeated_in_channel(e);
      if (e.name == "tarvo" && !blank(e.text)) {
        if (++props_in_channel_ == 2)
          add(e, true, "repeated",
              "second tarvo in one channel: the reader merges this channel into the one named "
              "first");
        else
          property(e, "tarvo");
      }
      if (e.name == "evType" || e.name == "setPoint" || e.name == "lastIndex") int_value(e);
      if (e.name == "evType") type_numbers(e, false);
      if ((e.name == "description" || e.name == "units") && p->name == "DaqFloatMatrix" &&
          var_dimension_ >= 0)
        add(e, false, "dimension",
            "'" + e.name + "' after a dimension goes to dimension " +
                std::to_string(var_dimension_) + ", not to the channel");
    } else if (var_channel(e.name) && props_in_channel_ == 0) {
      add(e, true, "dropped", "'" + e.name + "' without tarvo: the reader drops it");
    }
    if (!e.had_child) cut(e, e.text, var_fields, e.name, in_dimension || var_dimension_ >= 0);
  }

  // ---- environment index dictionaries
  void start_env(element& e, const std::map<std::string, std::string>& a) {
    if (env_known.count(e.name) == 0) ignored_element(e);
    ignored_attributes(e, a, {});
  }
  void end_env(element& e) {
    const element* p = parent();
    if (p == nullptr || p->name != "CHANNEL") return;
    if ((e.name == "DABS" || e.name == "DREL") && !whole_float(e.text)) {
      char* end = nullptr;
      const float v = strtof(e.text.c_str(), &end);
      not_a_number(e, end == e.text.c_str() ? std::string("the reader keeps 0")
                                            : "the reader takes " + fmt(v));
    }
    if (e.name == "INDEX") {
      long v;
      if (!whole_int(e.text, &v)) {
        int_value(e);
        return;
      }
      auto it = env_indices_.find(v);
      if (it != env_indices_.end())
        add(e, true, "duplicate",
            "index " + std::to_string(v) + " is given again (first at line " +
                std::to_string(it->second.line) + ")");
      else
        env_indices_[v] = {e.line, e.column};
    } else if (e.name == "PROP") {
      if (blank(e.text)) {
        add(e, true, "dropped", "empty PROP: the reader drops this channel");
        return;
      }
      // Longer in characters is the schema's finding.
      if (char_count(e.text) <= env_prop_size)
        cut_in_bytes(e, "text of 'PROP'", e.text, "env_prop", env_prop_size);
      auto it = props_.find(e.text);
      if (it != props_.end())
        add(e, true, "duplicate",
            "property '" + e.text + "' is given again (first at line " +
                std::to_string(it->second.line) + ")");
      else
        props_[e.text] = {e.line, e.column};
    }
  }

  // ---- trigger lists
  struct trigger {
    std::string operation = "GT";
    place operation_at;
    float low = 0, upper = 0;
    unsigned int mask = 0;
  };
  void start_trigger(element& e, const std::map<std::string, std::string>& a) {
    auto known = trigger_attributes.find(e.name);
    if (known == trigger_attributes.end()) {
      ignored_element(e);
      return;
    }
    ignored_attributes(e, a, known->second);
    auto get = [&a](const char* n, std::string* v) {
      auto it = a.find(n);
      if (it == a.end()) return false;
      *v = it->second;
      return true;
    };
    std::string v;
    for (const auto& kv : a) {
      const std::string& n = kv.first;
      if (known->second.count(n) == 0 || n == "name" || n == "text" || n == "mask") continue;
      long iv;
      if (n == "subchan" || n == "events" || n == "time") {
        if (!whole_int(kv.second, &iv) && !(n != "subchan" && ev_number(kv.second) &&
                                            kv.second.find('x') == std::string::npos))
          attribute_not_a_number(e, n, kv.second, "the reader leaves the field as it was");
      } else if (!whole_float(kv.second)) {
        attribute_not_a_number(e, n, kv.second, "the reader leaves the field as it was");
      }
    }
    if (e.name == "Function" && get("name", &v) && function_names().count(v) == 0)
      add(e, true, "name",
          "function '" + v + "' is not in the built-in registry (names are case-sensitive): the "
          "reader keeps the function it had (MEAN unless set before)");
    if (e.name == "Operation" && get("name", &v) && operation_names().count(v) == 0)
      add(e, true, "name",
          "operation '" + v + "' is not in the built-in registry (names are case-sensitive): the "
          "reader keeps the operation it had (GT unless set before)");
    if (e.name == "BitMask" && get("mask", &v)) {
      const bool hex = v.size() > 2 && v.size() <= 10 && v.compare(0, 2, "0x") == 0 &&
                       v.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
      if (!hex)
        add(e, true, "mask",
            "bit mask '" + v + "' is not 0x and up to 8 hexadecimal digits: the reader leaves the "
            "mask as it was");
    }
    if (e.name == "USERTRIGGER") {
      trigger_ = trigger();
      trigger_.operation_at = {e.line, e.column};
      return;
    }
    if (e.name == "Chan" && get("name", &v)) {
      if (char_count(v) > 255)
        add(e, true, "cut",
            "attribute 'name' of 'Chan' has " + std::to_string(char_count(v)) +
                " characters; field channel keeps 255");
      else
        cut_in_bytes(e, "attribute 'name' of 'Chan'", v, "channel", 255);
      if (blank(v)) add(e, true, "empty", "the trigger names no channel");
      else if (channels_ != nullptr && channels_->count(v.substr(0, 255)) == 0)
        add(e, true, "channel", "channel '" + v + "' is not in the channel descriptions given with --xcd");
    } else if (e.name == "Description" && get("text", &v)) {
      if (char_count(v) > 255)
        add(e, true, "cut",
            "attribute 'text' of 'Description' has " + std::to_string(char_count(v)) +
                " characters; field description keeps 255");
      else
        cut_in_bytes(e, "attribute 'text' of 'Description'", v, "description", 255);
    } else if (e.name == "Group" && get("name", &v)) {
      if (char_count(v) > 255)
        add(e, true, "cut",
            "attribute 'name' of 'Group' has " + std::to_string(char_count(v)) +
                " characters; field group keeps 255");
      else
        cut_in_bytes(e, "attribute 'name' of 'Group'", v, "group", 255);
    } else if (e.name == "Function") {
      for (size_t r = 0; r < parameter_names.size(); ++r) {
        std::string taken;
        for (const std::string& n : parameter_names[r]) {
          if (a.count(n) == 0) continue;
          if (taken.empty())
            taken = n;
          else
            add(e, false, "ignored",
                "attribute '" + n + "' of 'Function' is ignored: parameter " + std::to_string(r) +
                    " is read from '" + taken + "'");
        }
      }
    } else if (e.name == "Operation" && get("name", &v)) {
      trigger_.operation = v;
      trigger_.operation_at = {e.line, e.column};
    } else if (e.name == "LowLimit" && get("value", &v)) {
      trigger_.low = as_float(v);
    } else if (e.name == "UpperLimit" && get("value", &v)) {
      trigger_.upper = as_float(v);
    } else if (e.name == "BitMask" && get("mask", &v)) {
      unsigned int m;
      if (sscanf(v.c_str(), "0x%X", &m) == 1) trigger_.mask = m;
    }
  }
  void end_trigger(element& e) {
    if (e.name != "USERTRIGGER") return;
    const trigger& t = trigger_;
    const std::string& op = t.operation;
    const std::string limits =
        " with LowLimit " + fmt(t.low) + " and UpperLimit " + fmt(t.upper);
    std::string never, always;
    if (op == "INSIDE" && !(t.low < t.upper)) never = "INSIDE" + limits;
    if (op == "INSIDEWITHLIMITS" && t.low > t.upper) never = "INSIDEWITHLIMITS" + limits;
    if (op == "OUTSIDE" && t.low > t.upper) always = "OUTSIDE" + limits;
    if (op == "OUTSIDEWITHLIMITS" && t.low >= t.upper) always = "OUTSIDEWITHLIMITS" + limits;
    if (op == "BITS" && t.mask == 0) never = "BITS with an empty BitMask";
    if (op == "AND" && t.mask == 0) always = "AND with an empty BitMask";
    if (op == "FALSE") never = "FALSE";
    if (op == "TRUE") always = "TRUE";
    const place at = t.operation_at;
    if (!never.empty()) add(at.line, at.column, false, "never", "trigger never fires: " + never);
    if (!always.empty())
      add(at.line, at.column, false, "always", "trigger always fires: " + always);
  }

  static const std::set<std::string>& function_names() {
    static const std::set<std::string> names = {
        "MIN",     "MAX",     "MEAN",     "RMS",     "STD",     "SUM",     "VALUE",     "P2P",
        "DIFFMIN", "DIFFMAX", "DIFFMEAN", "DIFFRMS", "DIFFSTD", "DIFFSUM", "DIFFVALUE", "DIFFP2P"};
    return names;
  }
  static const std::set<std::string>& operation_names() {
    static const std::set<std::string> names = {
        "GT",      "GTE",               "EQ",  "LTE",  "LT",    "INSIDE", "INSIDEWITHLIMITS",
        "OUTSIDE", "OUTSIDEWITHLIMITS", "AND", "TRUE", "FALSE", "BITS"};
    return names;
  }

  kind kind_;
  const std::set<std::string>* channels_;
  const xercesc::Locator* locator_ = nullptr;
  std::set<std::string> undeclared_;  // 'NAME' of elements the schema did not know
  std::vector<element> stack_;
  bool ev_block_ = false;
  bool ev_type_ = false;
  std::map<std::string, place> seen_;
  std::map<std::string, place> props_;
  std::map<long, place> env_indices_;
  int props_in_channel_ = 0;
  long var_dimension_ = -1;
  trigger trigger_;
};

// Stops the progressive scan at the root element.
class root_sniffer : public xercesc::DefaultHandler {
 public:
  void startElement(const XMLCh* const, const XMLCh* const, const XMLCh* const qname,
                    const xercesc::Attributes&) override {
    if (!found) root = utf8(qname);
    found = true;
  }
  void fatalError(const xercesc::SAXParseException& e) override {
    failed = true;
    line = static_cast<int>(e.getLineNumber());
    column = static_cast<int>(e.getColumnNumber());
    message = utf8(e.getMessage());
  }
  bool found = false, failed = false;
  int line = 0, column = 0;
  std::string root, message;
};



// The reader of this pass over `memory`, which must outlive it: validating against the
// built-in schema `schema` only, or not validating when it is null.
xercesc::SAX2XMLReader* make_reader(xrq5_parser_memory* memory, size_t document_size,
                                    xercesc::DefaultHandler* handler, const char* schema) {
  std::unique_ptr<xercesc::SAX2XMLReader> r(
      xrq5_make_parser<xercesc::SAX2XMLReaderImpl>(memory, document_size));
  r->setContentHandler(handler);
  r->setErrorHandler(handler);
  r->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
  r->setFeature(XMLUni::fgXercesLoadSchema, false);
  if (schema == nullptr) {
    r->setFeature(XMLUni::fgSAX2CoreValidation, false);
    return r.release();
  }
  r->setFeature(XMLUni::fgSAX2CoreValidation, true);
  r->setFeature(XMLUni::fgXercesDynamic, false);
  r->setFeature(XMLUni::fgXercesSchema, true);
  r->setFeature(XMLUni::fgXercesSchemaFullChecking, true);
  r->setFeature(XMLUni::fgXercesUseCachedGrammarInParse, true);
  size_t size = 0;
  const char* text = xrq5_schema_text(schema, &size);
  if (text == nullptr) return nullptr;
  xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(text), size, schema);
  try {
    if (r->loadGrammar(source, xercesc::Grammar::SchemaGrammarType, true) == nullptr)
      return nullptr;
  } catch (...) {
    return nullptr;
  }
  return r.release();
}

// Holds the Xerces platform for one check.
struct platform {
  bool up = xrq5_sax::initialize_platform();
  ~platform() {
    if (up) xercesc::XMLPlatformUtils::Terminate();
  }
};

finding whole_file(const std::string& name, const std::string& code, const std::string& message) {
  finding f;
  f.file = name;
  f.code = code;
  f.message = message;
  return f;
}

// Gathers what a reader hands to the problem handler.
void collect(const xrq5_problem* p, void* context) {
  auto* out = static_cast<std::vector<finding>*>(context);
  finding f;
  f.file = p->file;
  f.line = static_cast<int>(p->line);
  f.column = static_cast<int>(p->column);
  f.error = p->severity != XRQ5_SEVERITY_WARNING;
  f.code = "read";
  f.message = p->message;
  out->push_back(f);
}

// The property and DAQ names of the channel descriptions `xcd`; false with a finding
// in *result when one cannot be read.
bool channels_of(const std::vector<std::string>& xcd, std::set<std::string>* channels,
                 xrq5_check_result* result) {
  for (const std::string& x : xcd) {
    std::vector<chan_descr_2010*> list;
    std::vector<finding> problems;
    int r;
    {
      xrq5_problem_scope scope(collect, &problems);
      r = parse_descr_list_readf(const_cast<char*>(x.c_str()), &list, false, false);
    }
    for (const chan_descr_2010* d : list) {
      channels->insert(d->prop_name);
      if (d->daq_name[0] != '\0') channels->insert(d->daq_name);
    }
    clean_chan_desr_list(&list);
    if (r != 0) {
      result->findings.push_back(whole_file(
          x, "xcd",
          "'" + x + "' is not a readable channel description (result " + std::to_string(r) + ")"));
      return false;
    }
  }
  return true;
}

// The kind names, as the tool shows them.
const char* kind_name(const std::string& root) {
  static const std::map<std::string, const char*> names = {
      {"BMR", "event list"},
      {"CHANDESCRIPTIONS", "channel descriptions, tag form"},
      {"DAQvariables", "channel descriptions, variable form"},
      {"XRQ5USERTRIGGERLIST", "trigger list"},
      {"ENVINDEXDICT", "environment index dictionary"},
      {"RegisterDescription", "camera feature description"},
  };
  auto it = names.find(root);
  return it == names.end() ? nullptr : it->second;
}

// Reads the document with the library's reader of its kind (from the file `path`, or
// from `text` when path is empty); the reader's result.
int read_with_library(const std::string& root, const std::string& text, const std::string& path,
                      bool classic) {
  std::vector<char> source(path.empty() ? text.begin() : path.begin(),
                           path.empty() ? text.end() : path.end());
  source.push_back('\0');
  char* s = source.data();
  const bool file = !path.empty();
  if (root == "BMR") {
    std::vector<xrq5_ev_entry*> list;
    const int r = file ? xrq5_parse_ev_list_readf(s, &list) : xrq5_parse_ev_list_read(s, &list);
    xrq5_clean_ev_list(&list);
    return r;
  }
  if (root == "CHANDESCRIPTIONS" || root == "DAQvariables") {
    std::vector<chan_descr_2010*> list;
    const int r = file ? parse_descr_list_readf(s, &list, false, false)
                       : parse_descr_list_read(s, &list, false, false);
    clean_chan_desr_list(&list);
    return r;
  }
  if (root == "XRQ5USERTRIGGERLIST") {
    xrq5_trigger_list list;
    return file ? list.readf(s) : list.read(s);
  }
  if (root == "ENVINDEXDICT") {
    if (classic) {
      std::vector<xrq5_env_index_dictionary_entry*> list;
      const int r = file ? parse_env_index_dict_readf(s, &list)
                         : parse_env_index_dict_list_read(s, &list);
      for (auto* e : list) free(e);
      return r;
    }
    std::vector<xrq5_env_index_dictionary_entry_2010*> list;
    const int r = file ? parse_env_index_dict_readf_2010(s, &list)
                       : parse_env_index_dict_list_read_2010(s, &list);
    for (auto* e : list) free(e);
    return r;
  }
  return -1;
}

// Checks the bytes `text` of the document `name`; `path` is the file they came from
// (empty for a text given in memory).
xrq5_check_result check_bytes(const std::string& text, const std::string& name,
                              const std::string& path, const xrq5_check_options& options) {
  xrq5_check_result result;
  platform up;
  if (!up.up) {
    result.findings.push_back(whole_file(name, "xml", "cannot initialise the XML parser"));
    return result;
  }
  const XMLByte* bytes = reinterpret_cast<const XMLByte*>(text.data());
  // The root element says the kind.
  root_sniffer sniff;
  {
    xrq5_parser_memory memory;  // outlives the reader
    std::unique_ptr<xercesc::SAX2XMLReader> r(make_reader(&memory, text.size(), &sniff, nullptr));
    xercesc::MemBufInputSource source(bytes, text.size(), name.c_str());
    xercesc::XMLPScanToken token;
    try {
      bool more = r->parseFirst(source, token);
      while (more && !sniff.found && !sniff.failed) more = r->parseNext(token);
      r->parseReset(token);
    } catch (...) {
      sniff.failed = true;
    }
  }
  if (!sniff.found) {
    finding f = whole_file(name, "xml",
                           sniff.message.empty() ? "no root element found" : sniff.message);
    f.line = sniff.line;
    f.column = sniff.column;
    result.findings.push_back(f);
    result.readable = true;  // read, and found not well-formed
    return result;
  }
  const char* kind = kind_name(sniff.root);
  if (kind == nullptr) {
    result.findings.push_back(whole_file(
        name, "kind", "'" + name + "': unknown kind of document (root element '" + sniff.root + "')"));
    return result;
  }
  result.kind = kind;
  const kind_info* info = nullptr;
  for (const kind_info& i : kinds_with_schema)
    if (sniff.root == i.root) info = &i;
  if (info == nullptr) {
    // Camera feature descriptions have no schema of ours: what their reader says.
    result.readable = true;
    std::vector<finding> problems;
    bool failed;
    std::vector<XRQ5GigEFeature*> list;
    {
      xrq5_problem_scope scope(collect, &problems);
      if (path.empty()) {
        failed = true;
        problems.push_back(whole_file(name, "read",
                                      "camera feature descriptions are read from files only"));
      } else {
        failed = xrq5_fill_gige_descr(const_cast<char*>(path.c_str()), &list);
      }
    }
    xrq5_clean_gige_descr(&list);
    if (failed && problems.empty())
      problems.push_back(whole_file(name, "read", "the camera feature reader failed"));
    for (finding& f : problems) f.file = name;
    result.findings = problems;
    return result;
  }

  if (!options.strict) {
    result.readable = true;
    std::vector<finding> problems;
    int r;
    {
      xrq5_problem_scope scope(collect, &problems);
      r = read_with_library(sniff.root, text, path, options.classic);
    }
    if (r != 0 && problems.empty())
      problems.push_back(whole_file(name, "read",
                                    "the reader did not read it cleanly (result " +
                                        std::to_string(r) + ")"));
    for (finding& f : problems) f.file = name;
    result.findings = problems;
    return result;
  }

  std::set<std::string> channels;
  if (!options.xcd.empty() && !channels_of(options.xcd, &channels, &result)) return result;
  result.readable = true;
  const char* schema = info->schema;
  if (info->k == kind::env_dict && options.classic) schema = "env_dict_classic.xsd";
  checker c(info->k, options.xcd.empty() ? nullptr : &channels);
  if (options.classic) c.env_prop_size = 79;
  xrq5_parser_memory memory;  // outlives the reader
  std::unique_ptr<xercesc::SAX2XMLReader> r(make_reader(&memory, text.size(), &c, schema));
  if (!r) {
    result.findings.push_back(
        whole_file(name, "schema", std::string("cannot load the built-in schema ") + schema));
    return result;
  }
  xercesc::MemBufInputSource source(bytes, text.size(), name.c_str());
  try {
    r->parse(source);
  } catch (const xercesc::SAXException& e) {
    finding f;
    f.message = utf8(e.getMessage());
    f.code = "xml";
    c.findings.push_back(f);
  } catch (const xercesc::XMLException& e) {
    finding f;
    f.message = utf8(e.getMessage());
    f.code = "xml";
    c.findings.push_back(f);
  } catch (const xercesc::OutOfMemoryException&) {
    // Past the bounds of the parser factory.
    finding f;
    if (xrq5_parse_too_deep(static_cast<xercesc::SAX2XMLReaderImpl*>(r.get()))) {
      f.message = "elements nested deeper than " + std::to_string(xrq5_max_depth) + " levels";
      f.code = "depth";
    } else {
      f.message = "the document needs more memory or expands to more text than its size allows";
      f.code = "bounds";
    }
    c.findings.push_back(f);
  }
  r.reset();
  std::stable_sort(c.findings.begin(), c.findings.end(), [](const finding& a, const finding& b) {
    return a.line != b.line ? a.line < b.line : a.column < b.column;
  });
  // Where our own check found something, it says better what the schema says there:
  // one finding per fault, as severe as the worse of the two.
  std::map<std::pair<int, int>, bool> ours;
  for (const finding& f : c.findings)
    if (f.code != "schema" && f.code != "xml") ours[{f.line, f.column}] |= f.error;
  std::set<std::pair<int, int>> schema_errors;
  for (const finding& f : c.findings) {
    if (f.code != "schema") continue;
    auto it = ours.find({f.line, f.column});
    if (it == ours.end()) continue;
    if (it->second) {
      schema_errors.insert(it->first);  // dropped in favour of our error
    } else if (f.message.compare(0, 34, "no declaration found for element '") == 0) {
      schema_errors.insert(it->first);  // the unknown element: ours, made an error
    }
  }
  std::vector<finding> kept;
  for (finding& f : c.findings) {
    const std::pair<int, int> at{f.line, f.column};
    if (f.code == "schema" && schema_errors.count(at)) continue;
    if (f.code == "ignored" && !f.error && schema_errors.count(at) &&
        f.message.compare(0, 9, "element '") == 0)
      f.error = true;
    f.file = name;
    kept.push_back(f);
  }
  result.findings = kept;
  return result;
}

}  // namespace

xrq5_check_result xrq5_check_text(const std::string& text, const xrq5_check_options& options,
                                  const std::string& name) {
  return check_bytes(text, name, std::string(), options);
}

xrq5_check_result xrq5_check_file(const std::string& path, const xrq5_check_options& options) {
  xrq5_check_result result;
  if (path.find('\0') != std::string::npos) {
    // The system would open the name only up to the NUL: another file.
    result.findings.push_back(
        whole_file(path, "unreadable", "cannot open a file whose name holds a NUL byte"));
    return result;
  }
  // Opened without blocking (a FIFO with no writer then reads as empty); a folder is
  // refused.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  struct stat st;
  int error = fd < 0 ? errno : 0;
  if (fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) error = EISDIR;
  if (error != 0) {
    if (fd >= 0) close(fd);
    result.findings.push_back(
        whole_file(path, "unreadable", "cannot open '" + path + "': " + strerror(error)));
    return result;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::string text;
  char buf[65536];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      text.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      error = errno;
      break;
    }
  }
  close(fd);
  if (error != 0) {
    result.findings.push_back(
        whole_file(path, "unreadable", "cannot read '" + path + "': " + strerror(error)));
    return result;
  }
  return check_bytes(text, path, path, options);
}
