#include "attr_tags_functions.h"

#include <cstdio>
#include <ctime>

#include "parse_chan_descr.h"

namespace {

void tag(std::string& a, const char* open, const char* b, const char* close) {
  a += open;
  if (b) a += b;
  a += close;
}

void tag_with_attributes(std::string& a, const char* b, std::vector<char*>* at,
                         std::vector<char*>* v, const char* ending) {
  a += '<';
  if (b) a += b;
  a += ' ';
  if (at != nullptr) {
    static std::vector<char*> none;
    const std::vector<char*>& values = v ? *v : none;
    for (size_t i = 0; i < at->size(); ++i) {
      if (i) a += ' ';
      if ((*at)[i]) a += (*at)[i];
      a += "=\"";
      const char* value = values.at(i);
      if (value) a += value;
      a += '"';
    }
  }
  a += ending;
}

}  // namespace

void START_TAG(std::string& a, const char* b) { tag(a, "<", b, ">"); }
void START_TAGN(std::string& a, const char* b) { tag(a, "<", b, ">\n"); }
void END_TAG(std::string& a, const char* b) { tag(a, "</", b, ">"); }
void END_TAGN(std::string& a, const char* b) { tag(a, "</", b, ">\n"); }

void START_TAG_ATTR(std::string& a, const char* b, std::vector<char*>* at, std::vector<char*>* v) {
  tag_with_attributes(a, b, at, v, "/>");
}
void START_TAG_ATTRN(std::string& a, const char* b, std::vector<char*>* at, std::vector<char*>* v) {
  tag_with_attributes(a, b, at, v, "/>\n");
}
void START_TAG_ATTRNS(std::string& a, const char* b, std::vector<char*>* at,
                      std::vector<char*>* v) {
  tag_with_attributes(a, b, at, v, ">");
}
void START_TAG_ATTRNNS(std::string& a, const char* b, std::vector<char*>* at,
                       std::vector<char*>* v) {
  tag_with_attributes(a, b, at, v, ">\n");
}

// ---- document helpers (declared with the channel-description calls) -----------------

void set_xml_header(std::string& str) {
  str = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n";
}

void create_isodate(char* isodate_str, time_t* t) {
  if (isodate_str == nullptr) return;
  struct tm local;
  // A time that has no local calendar date gives an empty text, not garbage.
  if (t == nullptr || localtime_r(t, &local) == nullptr ||
      strftime(isodate_str, 40, "%FT%T", &local) == 0)
    isodate_str[0] = '\0';
}

void create_isodate(char* isodate_str) {
  if (isodate_str == nullptr) return;
  time_t now = time(nullptr);
  create_isodate(isodate_str, &now);
}

void add_iso_date(std::string& str) {
  char date[64];
  char line[80];
  create_isodate(date);
  snprintf(line, sizeof line, "\t<isodate>%.*s</isodate>\n", 58, date);
  str += line;
}
