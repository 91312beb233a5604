#include "parse_ev_list.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string_view>

#include "event_util.h"
#include "parse_chan_descr.h"
#include "xrq5_output.h"
#include "xrq5_reader.h"
#include "xrq5_text.h"

namespace {

enum ev_element : int { EV_EVENT, EV_TYPE, EV_SBLOCK, EV_CHLIST, EV_CHAN, EV_TMASK,
                        EV_MINTIMESEC, EV_MINTIMEUSEC, EV_PRIORITY };

const xrq5_read::element_table ev_elements = {
    {"EVENT", EV_EVENT},           {"TYPE", EV_TYPE},         {"SBLOCK", EV_SBLOCK},
    {"CHLIST", EV_CHLIST},         {"CHAN", EV_CHAN},         {"TMASK", EV_TMASK},
    {"MINTIMESEC", EV_MINTIMESEC}, {"MINTIMEUSEC", EV_MINTIMEUSEC}, {"PRIORITY", EV_PRIORITY}};

// The numbers of TMASK and friends: hexadecimal when a lowercase x appears anywhere.
void read_number(const char* text, u_int* field) {
  xrq5_internal::read_number(text, xrq5_internal::number_form::unsigned_or_hex, field);
}

// State of one read, named after the flags of the element walk.
class ev_list_reader {
 public:
  explicit ev_list_reader(std::vector<xrq5_ev_entry*>* list) : list_(list) {}

  void step(const xrq5_read::step& s) {
    if (s.tag == nullptr) return;
    if (s.element == EV_EVENT) {
      f_ev_ = true;
      f_tp_ = f_sb_ = f_ch_ = false;
      ent_ = nullptr;
      return;
    }
    if (s.element == EV_TYPE) {
      on_type(s.value);
      return;
    }
    if (!f_ev_ || !f_tp_ || ent_ == nullptr) return;
    if (s.value != nullptr) on_value(s.element, s.value);
    if (s.element == EV_CHLIST && f_sb_) f_ch_ = true;
  }

 private:
  void on_type(const char* val) {
    if (!f_ev_) return;
    if (!f_tp_) {  // the step of the start tag
      f_tp_ = true;
      return;
    }
    if (val == nullptr) return;
    const int t = xrq5_internal::int_of(val);
    if (t < 0 || t > XRQ5_EV_EVMAX) {
      f_tp_ = false;
      return;
    }
    std::unique_ptr<xrq5_ev_entry> e(new xrq5_ev_entry());
    std::unique_ptr<std::vector<xrq5_ev_sb_list*>> blocks(new std::vector<xrq5_ev_sb_list*>());
    e->evtype = static_cast<XRQ5_EVTYPE>(t);
    list_->push_back(e.get());
    e->sb_list = blocks.release();
    ent_ = e.release();
  }

  void on_value(int element, const char* val) {
    switch (element) {
      case EV_SBLOCK: {
        std::unique_ptr<xrq5_ev_sb_list> sb(new xrq5_ev_sb_list());
        std::unique_ptr<std::vector<char*>> chans(new std::vector<char*>());
        // At most 254 characters, never cut inside one.
        xrq5_internal::copy_field(sb->sb_list, sizeof sb->sb_list, val, 254);
        ent_->sb_list->push_back(sb.get());
        sb->ch_list = chans.release();
        ev_ent_ = sb.release();
        f_sb_ = true;
        f_ch_ = false;
        break;
      }
      case EV_CHAN: {
        if (!f_ch_) return;
        const size_t n = strlen(val);
        std::unique_ptr<char[]> chan(new char[n + 1]);
        memcpy(chan.get(), val, n + 1);
        ev_ent_->ch_list->push_back(chan.get());
        chan.release();
        break;
      }
      case EV_TMASK: read_number(val, &ent_->tmask); break;
      case EV_MINTIMESEC: read_number(val, &ent_->min_ev_time.timeup); break;
      case EV_MINTIMEUSEC: read_number(val, &ent_->min_ev_time.timelow); break;
      case EV_PRIORITY: read_number(val, &ent_->priority); break;
      default: break;
    }
  }

  std::vector<xrq5_ev_entry*>* list_;
  xrq5_ev_entry* ent_ = nullptr;
  xrq5_ev_sb_list* ev_ent_ = nullptr;
  bool f_ev_ = false, f_tp_ = false, f_sb_ = false, f_ch_ = false;
};

bool is_bmr_root(const char* tag) {
  if (tag != nullptr && strcmp(tag, "BMR") == 0) return true;
  const std::string m = std::string("WRONG root tag: ") + (tag ? tag : "") + " must be 'BMR'";
  if (!xrq5_sax::tell(XRQ5_SEVERITY_ERROR, m)) std::cerr << m << "\n";
  return false;
}

template <class Parser>
int read_ev_list(char* source, std::vector<xrq5_ev_entry*>* list) {
  if (source == nullptr || list == nullptr) return XRQ5_EV_LIST_FAILED;
  ev_list_reader reader(list);
  const xrq5_read::outcome r = xrq5_read::read<Parser>(
      source, ev_elements, is_bmr_root, [&reader](const xrq5_read::step& s) { reader.step(s); });
  return (r.at == xrq5_read::read_done ? 0 : XRQ5_EV_LIST_FAILED) + r.errors;
}

}  // namespace

int xrq5_parse_ev_list_read(char* xml, std::vector<xrq5_ev_entry*>* list) {
  return read_ev_list<SAX_Memory_Parser>(xml, list);
}

int xrq5_parse_ev_list_readf(char* file, std::vector<xrq5_ev_entry*>* list) {
  return read_ev_list<SAX_File_Parser>(file, list);
}

void xrq5_print_ev_list(std::vector<xrq5_ev_entry*>* list) {
  if (list == nullptr) return;
  int i = 0;
  for (const xrq5_ev_entry* e : *list) {
    printf("Entry[%d]\n", i++);
    printf("EVENT TYPE:\t%s\n", event_name_itoa(e->evtype));
    printf("Trigger mask:\t0x%x (%u)\n", e->tmask, e->tmask);
    printf("Min event time:\t%d sec %d usec\n", static_cast<int>(e->min_ev_time.timeup),
           static_cast<int>(e->min_ev_time.timelow));
    printf("Priority:\t0x%x (%u)\n", e->priority, e->priority);
    if (e->sb_list == nullptr) {
      printf("No server block list -> Full event\n");
      continue;
    }
    printf("Server Blocks: %d\n", static_cast<int>(e->sb_list->size()));
    int j = 0;
    for (const xrq5_ev_sb_list* sb : *e->sb_list) {
      printf("Server block[%d]: '%s'\n", j++, sb->sb_list);
      if (sb->ch_list == nullptr || sb->ch_list->empty()) {
        printf("No channel list -> ALL channels\n");
        continue;
      }
      printf("Channels: %d\n", static_cast<int>(sb->ch_list->size()));
      int k = 0;
      for (const char* ch : *sb->ch_list) printf("Channel[%d]:\t'%s'\n", k++, ch);
    }
  }
}

void xrq5_clean_ev_list(std::vector<xrq5_ev_entry*>* list) {
  if (list == nullptr) return;
  for (xrq5_ev_entry* e : *list) {
    if (e->sb_list) {
      for (xrq5_ev_sb_list* sb : *e->sb_list) {
        if (sb->ch_list) {
          for (char* ch : *sb->ch_list) delete[] ch;
          delete sb->ch_list;
        }
        delete sb;
      }
      delete e->sb_list;
    }
    delete e;
  }
  list->clear();
}

namespace {

void append_element(std::string& out, const char* tag, std::string_view text) {
  out += '<';
  out += tag;
  out += '>';
  xrq5_output::append_text(out, text);
  out += "</";
  out += tag;
  out += ">\n";
}

const xrq5_output::messages ev_list_messages = {
    "xrq5_write_ev_list() failed to open file: '", nullptr, "xrq5_write_ev_list() write failed",
    "xrq5_write_ev_list() failed to write file: '"};

}  // namespace

int xrq5_write_ev_list(std::vector<xrq5_ev_entry*>* list, char* file_name, int fd,
                       std::string* xml_str) {
  if (list == nullptr) {
    printf("xrq5_write_ev_list() invalid argument\n");
    return XRQ5_EV_LIST_WRITE_FAILED;
  }
  std::string doc;
  set_xml_header(doc);
  doc += "<BMR>\n";
  add_iso_date(doc);
  char number[32];
  for (const xrq5_ev_entry* e : *list) {
    if (e == nullptr) continue;
    doc += "<EVENT>\n";
    snprintf(number, sizeof number, "%d", static_cast<int>(e->evtype));
    append_element(doc, "TYPE", number);
    snprintf(number, sizeof number, "0x%X", e->tmask);
    append_element(doc, "TMASK", number);
    snprintf(number, sizeof number, "%u", e->min_ev_time.timeup);
    append_element(doc, "MINTIMESEC", number);
    snprintf(number, sizeof number, "%u", e->min_ev_time.timelow);
    append_element(doc, "MINTIMEUSEC", number);
    snprintf(number, sizeof number, "%u", e->priority);
    append_element(doc, "PRIORITY", number);
    if (e->sb_list != nullptr) {
      for (const xrq5_ev_sb_list* sb : *e->sb_list) {
        // The name field need not be terminated when a caller filled it.
        append_element(doc, "SBLOCK",
                       std::string_view(sb->sb_list, strnlen(sb->sb_list, sizeof sb->sb_list)));
        doc += "<CHLIST>\n";
        if (sb->ch_list != nullptr)
          for (const char* ch : *sb->ch_list)
            if (ch != nullptr) append_element(doc, "CHAN", ch);
        doc += "</CHLIST>\n";
      }
    }
    doc += "</EVENT>\n";
  }
  doc += "</BMR>\n";

  xrq5_output::output out(ev_list_messages);
  if (!out.open(file_name)) return XRQ5_EV_LIST_OPEN_FAILED;
  int result = out.put(doc, fd) ? 0 : XRQ5_EV_LIST_WRITE_FAILED;
  if (!out.close(false)) result = XRQ5_EV_LIST_WRITE_FAILED;
  if (xml_str != nullptr) *xml_str = doc;
  return result;
}
