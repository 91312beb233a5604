#include "parse_env_index_dictionary.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "attr_tags_functions.h"
#include "parse_chan_descr.h"
#include "xrq5_output.h"
#include "xrq5_reader.h"
#include "xrq5_text.h"

namespace {

const char* const tags[] = {"ENVINDEXDICT", "CHANNEL", "INDEX", "PROP", "DABS", "DREL"};

// What differs between the two layouts: the record (and with it the name field) and
// the texts of the messages.
template <class Entry>
struct layout;

template <>
struct layout<xrq5_env_index_dictionary_entry> {
  static constexpr const char* alloc_failed =
      "Failed to allocate memory for xrq5_env_index_dictionary_entry";
  static constexpr const char* no_list = "dump_env_index_dict() invalid argument: '";
  static constexpr const char* open_failed = "dump_env_index_dict() failed to open file: '";
  static constexpr const char* file = "dump_env_index_dict()  file: '";
  static constexpr const char* write_failed = "dump_env_index_dict() failed to write ";
  static constexpr const char* file_write_failed = "dump_env_index_dict() failed to write file: '";
  static constexpr int dict_dtype = XRQ5_ENV_DICT_BLOCK;
  static constexpr xrq5_output::messages texts = {open_failed, file, write_failed,
                                                  file_write_failed};
};

template <>
struct layout<xrq5_env_index_dictionary_entry_2010> {
  static constexpr const char* alloc_failed =
      "Failed to allocate memory for xrq5_env_index_dictionary_entry_2010";
  static constexpr const char* no_list = "dump_env_index_dict_2010() invalid argument: '";
  static constexpr const char* open_failed = "dump_env_index_dict_2010() failed to open file: '";
  static constexpr const char* file = "dump_env_index_dict_2010()  file: '";
  static constexpr const char* write_failed = "dump_env_index_dict_2010()  failed to write";
  static constexpr const char* file_write_failed =
      "dump_env_index_dict_2010() failed to write file: '";
  static constexpr int dict_dtype = XRQ5_ENV_DICT_BLOCK_2010;
  static constexpr xrq5_output::messages texts = {open_failed, file, write_failed,
                                                  file_write_failed};
};

template <class Entry>
constexpr size_t name_field() {
  return sizeof(Entry::data.env_prop);
}

const xrq5_read::element_table dict_elements = {{tags[ENV_INDX_CHAN], ENV_INDX_CHAN},
                                                {tags[ENV_INDX_INDX], ENV_INDX_INDX},
                                                {tags[ENV_INDX_PROP], ENV_INDX_PROP},
                                                {tags[ENV_INDX_DABS], ENV_INDX_DABS},
                                                {tags[ENV_INDX_DREL], ENV_INDX_DREL}};

// One read of a dictionary; the current record is the reader's until it is listed.
template <class Entry>
class dict_reader {
 public:
  explicit dict_reader(std::vector<Entry*>* list) : list_(list) {}
  ~dict_reader() {
    if (!appended_) free(ent_);  // a CHANNEL without INDEX and PROP
  }

  static bool is_root(const char* tag) {
    if (tag != nullptr && strcmp(tag, tags[ENV_INDX_ROOT]) == 0) return true;
    const std::string m = std::string("WRONG root tag: '") + (tag ? tag : "") + "' must be '" +
                          tags[ENV_INDX_ROOT] + "'";
    if (!xrq5_sax::tell(XRQ5_SEVERITY_ERROR, m)) std::cerr << m << "\n";
    return false;
  }

  void step(const xrq5_read::step& s) {
    if (s.element == ENV_INDX_CHAN) {
      channel();
      return;
    }
    const char* val = s.value;
    if (!in_channel_ || val == nullptr) return;
    Entry& e = *ent_;
    switch (s.element) {
      case ENV_INDX_INDX:
        e.index = xrq5_internal::int_of(val);
        have_index_ = true;
        append_when_complete();
        break;
      case ENV_INDX_PROP:
        // Cut to the field and zero-filled, so the name is always terminated.
        xrq5_internal::copy_field(e.data.env_prop, val);
        have_prop_ = true;
        append_when_complete();
        break;
      case ENV_INDX_DABS: sscanf(val, "%f", &e.data.env_ch_abs_delta); break;
      case ENV_INDX_DREL: sscanf(val, "%f", &e.data.env_ch_rel_delta); break;
      default: break;
    }
  }

 private:
  void channel() {
    if (ent_ == nullptr || appended_) {
      ent_ = static_cast<Entry*>(malloc(sizeof(Entry)));
      appended_ = false;
      if (ent_ == nullptr) {
        printf("%s\n", layout<Entry>::alloc_failed);
        in_channel_ = have_index_ = have_prop_ = false;
        return;
      }
    }
    ent_->index = -1;
    memset(ent_->data.env_prop, 0, name_field<Entry>());
    ent_->data.env_ch_abs_delta = 0.0f;
    ent_->data.env_ch_rel_delta = 0.0f;
    in_channel_ = true;
    have_index_ = have_prop_ = false;
  }

  void append_when_complete() {
    if (!have_index_ || !have_prop_ || appended_) return;
    list_->push_back(ent_);
    appended_ = true;
  }

  std::vector<Entry*>* list_;
  Entry* ent_ = nullptr;
  bool in_channel_ = false, have_index_ = false, have_prop_ = false, appended_ = false;
};

template <class Parser, class Entry>
int read_dict(char* source, std::vector<Entry*>* list) {
  if (source == nullptr || list == nullptr) return 1;
  dict_reader<Entry> reader(list);
  const xrq5_read::outcome r = xrq5_read::read<Parser>(
      source, dict_elements, dict_reader<Entry>::is_root,
      [&reader](const xrq5_read::step& s) { reader.step(s); });
  return (r.at == xrq5_read::read_done ? 0 : 1) + r.errors;
}

template <class Entry>
std::string name_of(const Entry& e) {
  return std::string(e.data.env_prop, strnlen(e.data.env_prop, name_field<Entry>()));
}

template <class Entry>
std::string_view name_view(const Entry& e) {
  return std::string_view(e.data.env_prop, strnlen(e.data.env_prop, name_field<Entry>()));
}

template <class Entry>
void element(std::string& body, const Entry& e) {
  char num[64];
  auto text = [&body](int tag, std::string_view value) {
    START_TAG(body, tags[tag]);
    xrq5_output::append_text(body, value);
    END_TAGN(body, tags[tag]);
  };
  START_TAGN(body, tags[ENV_INDX_CHAN]);
  START_TAG(body, tags[ENV_INDX_INDX]);
  xrq5_output::append_int(body, e.index);
  END_TAGN(body, tags[ENV_INDX_INDX]);
  text(ENV_INDX_PROP, name_view(e));
  text(ENV_INDX_DABS, std::string_view(num, xrq5_output::format_float(num, e.data.env_ch_abs_delta)));
  text(ENV_INDX_DREL, std::string_view(num, xrq5_output::format_float(num, e.data.env_ch_rel_delta)));
  END_TAGN(body, tags[ENV_INDX_CHAN]);
}

template <class Entry>
int dump_dict(std::vector<Entry*>* list, char* file_name, int mode, int fd, std::string* xml_str) {
  using L = layout<Entry>;
  if (list == nullptr) {
    printf("%s\n", L::no_list);
    return ENV_INDX_FAILED;
  }
  xrq5_output::output out(L::texts);
  if (!out.open(file_name)) return ENV_INDX_OPEN_FAILED;
  FILE* f = out.file();
  // The document is built in one string, declaration first.
  std::string body;
  const bool xml = mode == ENV_INDX_DUMP_XML_FILE || mode == ENV_INDX_DUMP_XML_STRING;
  if (xml) {
    set_xml_header(body);
    body.reserve(body.size() + 128 + 160 * list->size());
  }
  START_TAGN(body, tags[ENV_INDX_ROOT]);
  add_iso_date(body);
  const bool screen = out.screen(xml_str, fd);
  int n = 0;
  for (const Entry* e : *list) {
    ++n;
    if (screen) {
      std::cout << "-------------- " << n << " -----------------" << std::endl
                << " Index : " << e->index << std::endl
                << " Channel: " << name_of(*e) << " DABS " << e->data.env_ch_abs_delta << " DREL "
                << e->data.env_ch_rel_delta << std::endl;
    } else if (mode == ENV_INDX_DUMP_TXT_FILE) {
      if (f != nullptr) {
        const std::string name = name_of(*e);
        fprintf(f, "%d\t%s\t%f\t%f\n", e->index, name.empty() ? "!!!UNDEFINED!!!" : name.c_str(),
                static_cast<double>(e->data.env_ch_abs_delta),
                static_cast<double>(e->data.env_ch_rel_delta));
      }
    } else if (xml) {
      element(body, *e);
    }
  }
  int result = 0;
  if (xml) {
    END_TAGN(body, tags[ENV_INDX_ROOT]);
    body += '\n';
    if (mode == ENV_INDX_DUMP_XML_FILE) {
      if (!out.put(body, fd)) result = ENV_INDX_FAILED;
    } else if (xml_str != nullptr) {
      xml_str->swap(body);
    }
  }
  if (!out.close(result == 0)) result = ENV_INDX_FAILED;
  std::cout.flush();
  return result;
}

template <class Entry>
int dump_dict_from_xml(char* xml, char* file_name, int mode, int fd) {
  std::vector<Entry*> list;
  int r = read_dict<SAX_Memory_Parser>(xml, &list);
  if (r != 0) {
    printf("Failed to parse ENV INDEX DICT list\n");
    r = ENV_INDX_READ_FAILED;
  } else {
    r = dump_dict(&list, file_name, mode, fd, nullptr);
  }
  for (Entry* e : list) free(e);
  return r;
}

template <class Entry>
bool make_block(std::vector<Entry*>* list, std::vector<char>* block) {
  if (list == nullptr || block == nullptr) return true;
  const size_t bytes = list->size() * sizeof(Entry);
  if (bytes > static_cast<size_t>(INT32_MAX)) return true;
  xrq5_serv_block_subhead_2010 head;
  memset(&head, 0, sizeof head);
  strcpy(head.chname, "ENV_DICT");
  head.dtype = layout<Entry>::dict_dtype;
  head.ldata = static_cast<int32_t>(bytes);
  block->assign(sizeof head + bytes, 0);
  memcpy(block->data(), &head, sizeof head);
  char* p = block->data() + sizeof head;
  for (const Entry* e : *list) {
    memcpy(p, e, sizeof(Entry));
    p += sizeof(Entry);
  }
  return false;
}

}  // namespace

int parse_env_index_dict_list_read(char* xml, std::vector<xrq5_env_index_dictionary_entry*>* list) {
  return read_dict<SAX_Memory_Parser>(xml, list);
}

int parse_env_index_dict_list_read_2010(char* xml,
                                        std::vector<xrq5_env_index_dictionary_entry_2010*>* list) {
  return read_dict<SAX_Memory_Parser>(xml, list);
}

int parse_env_index_dict_readf(char* file, std::vector<xrq5_env_index_dictionary_entry*>* list) {
  return read_dict<SAX_File_Parser>(file, list);
}

int parse_env_index_dict_readf_2010(char* file,
                                    std::vector<xrq5_env_index_dictionary_entry_2010*>* list) {
  return read_dict<SAX_File_Parser>(file, list);
}

int dump_env_index_dict(std::vector<xrq5_env_index_dictionary_entry*>* list, char* file_name,
                        int mode, int fd, std::string* xml_str) {
  return dump_dict(list, file_name, mode, fd, xml_str);
}

int dump_env_index_dict_2010(std::vector<xrq5_env_index_dictionary_entry_2010*>* list,
                             char* file_name, int mode, int fd, std::string* xml_str) {
  return dump_dict(list, file_name, mode, fd, xml_str);
}

int dump_env_index_dict(char* xml, char* file_name, int mode, int fd) {
  return dump_dict_from_xml<xrq5_env_index_dictionary_entry>(xml, file_name, mode, fd);
}

int dump_env_index_dict_2010(char* xml, char* file_name, int mode, int fd) {
  return dump_dict_from_xml<xrq5_env_index_dictionary_entry_2010>(xml, file_name, mode, fd);
}

bool xrq5_make_env_dict_block(std::vector<xrq5_env_index_dictionary_entry*>* list,
                              std::vector<char>* block) {
  return make_block(list, block);
}

bool xrq5_make_env_dict_block_2010(std::vector<xrq5_env_index_dictionary_entry_2010*>* list,
                                   std::vector<char>* block) {
  return make_block(list, block);
}
