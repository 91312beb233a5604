// The extension xrq5._xrq5 of the Python package xrq5: the documents, the trigger
// registry and evaluation, and the channel selector, as Python objects over the library
// records. Conversion only: every reading, writing and evaluating is the libraries' own.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "chan_selector.h"
#include "event_builder.h"
#include "event_util.h"
#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "user_case_trigger.h"
#include "xrq5_check.h"
#include "xrq5_gige_descr.h"
#include "xrq5_text.h"
#include "xrq5_messages.h"

namespace py = pybind11;

namespace {

// ---- errors ---------------------------------------------------------------------------

PyObject* error_type = nullptr;
PyObject* warning_type = nullptr;

// The problems the libraries report while one call of the module runs: set as this
// thread's problem handler, so nothing reaches standard error; the innermost one is
// the thread's current, whose problems an error raised meanwhile carries.
struct problems {
  struct one {
    xrq5_severity severity;
    std::string file, message;
    unsigned long line, column;
  };
  std::vector<one> list;
  problems* outer;
  xrq5_problem_scope scope;

  problems() : outer(current()), scope(&problems::take, this) { current() = this; }
  ~problems() { current() = outer; }
  problems(const problems&) = delete;
  problems& operator=(const problems&) = delete;

  static problems*& current() {
    thread_local problems* p = nullptr;
    return p;
  }
  static void take(const xrq5_problem* p, void* self) {
    if (p->severity == XRQ5_SEVERITY_NOTE) return;  // progress lines: the module is silent
    static_cast<problems*>(self)->list.push_back(
        {p->severity, p->file, p->message, p->line, p->column});
  }
  static std::string line_of(const one& p) {
    const std::string place =
        p.line == 0 ? std::string() : ":" + std::to_string(p.line) + ":" + std::to_string(p.column);
    return p.file + place + ": " + (p.severity == XRQ5_SEVERITY_WARNING ? "warning" : "error") +
           ": " + p.message;
  }
  // A call that succeeded: its warnings go to Python's warnings (as xrq5.Warning).
  void done() const {
    for (const one& p : list)
      if (p.severity == XRQ5_SEVERITY_WARNING &&
          PyErr_WarnEx(warning_type, line_of(p).c_str(), 1) != 0)
        throw py::error_already_set();
  }
};

// Raises xrq5.Error(message) carrying the library result as its attribute `code`, and
// what the libraries reported meanwhile: `messages` (FILE:LINE:COLUMN: lines), and
// `file`, `line`, `column` of the first error (None when there is none).
[[noreturn]] void fail(const std::string& what, int code) {
  std::string message = what;
  py::list messages;
  py::object file = py::none(), line = py::none(), column = py::none();
  if (const problems* p = problems::current()) {
    for (const problems::one& o : p->list) {
      const std::string l = problems::line_of(o);
      messages.append(py::reinterpret_steal<py::str>(
          PyUnicode_DecodeUTF8(l.data(), static_cast<Py_ssize_t>(l.size()), "surrogateescape")));
      message += "\n  " + l;
      if (file.is_none() && o.severity != XRQ5_SEVERITY_WARNING) {
        file = py::module_::import("os").attr("fsdecode")(py::bytes(o.file));
        if (o.line != 0) {
          line = py::int_(o.line);
          column = py::int_(o.column);
        }
      }
    }
  }
  py::object e = py::reinterpret_borrow<py::object>(error_type)(
      py::reinterpret_steal<py::str>(PyUnicode_DecodeUTF8(
          message.data(), static_cast<Py_ssize_t>(message.size()), "surrogateescape")));
  e.attr("code") = code;
  e.attr("messages") = messages;
  e.attr("file") = file;
  e.attr("line") = line;
  e.attr("column") = column;
  PyErr_SetObject(error_type, e.ptr());
  throw py::error_already_set();
}

// ---- paths and documents --------------------------------------------------------------

// A path as the bytes the system takes: str, bytes or any os.PathLike (os.fsencode).
std::string path_bytes(const py::object& path) {
  std::string bytes = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
  // The system would take the name only up to the NUL: another file.
  if (bytes.find('\0') != std::string::npos) throw py::value_error("embedded null byte in path");
  return bytes;
}

// The file `path` (given as `given`) opens for reading, or OSError of its kind
// (FileNotFoundError, PermissionError, IsADirectoryError, ...) with the name.
void must_open(const py::object& given, const std::string& path) {
  // Non-blocking, so that a FIFO with no writer does not hold the interpreter here.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    fd = -1;
    errno = EISDIR;
  }
  if (fd < 0) {
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, given.ptr());
    throw py::error_already_set();
  }
  close(fd);
}

// The encoding a document's XML declaration names, or UTF-8 (the XML default).
std::string declared_encoding(const std::string& head) {
  const size_t end = head.find("?>");
  const size_t at = head.compare(0, 5, "<?xml") == 0 ? head.find("encoding", 5) : std::string::npos;
  if (at == std::string::npos || at > end) return "utf-8";
  const size_t q = head.find_first_of("\"'", at);
  if (q == std::string::npos || q > end) return "utf-8";
  const size_t e = head.find(head[q], q + 1);
  if (e == std::string::npos || e > end) return "utf-8";
  return head.substr(q + 1, e - q - 1);
}

// A document for the readers: bytes as they are; a str encoded as its declaration says
// (characters the encoding lacks become character references), so that what the
// *_to_xml calls return reads back with every character kept.
std::string document_bytes(const py::object& xml) {
  if (py::isinstance<py::bytes>(xml)) return xml.cast<std::string>();
  if (!py::isinstance<py::str>(xml)) throw py::type_error("a document is given as str or bytes");
  const py::str s = xml;
  const std::string head = py::str(s.attr("__getitem__")(py::slice(0, 200, 1)))
                               .attr("encode")("ascii", "replace")
                               .cast<std::string>();
  std::string encoding = declared_encoding(head);
  py::object codec;
  try {
    codec = py::module_::import("codecs").attr("lookup")(encoding).attr("name");
  } catch (py::error_already_set&) {
    codec = py::str("utf-8");  // an encoding Python does not know: the readers say so
  }
  const bool utf8 = codec.cast<std::string>() == "utf-8";
  return s.attr("encode")(codec, utf8 ? "surrogateescape" : "xmlcharrefreplace")
      .cast<std::string>();
}

// A document the writers made, as str decoded from the encoding it declares.
py::str document_text(const std::string& xml) {
  const std::string encoding = declared_encoding(xml.substr(0, 200));
  PyObject* o = PyUnicode_Decode(xml.data(), static_cast<Py_ssize_t>(xml.size()),
                                 encoding.c_str(), "surrogateescape");
  if (o == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(o);
}

// ---- fixed character fields ---------------------------------------------------------

// Texts come from documents and event data: bytes that are not UTF-8 come through as
// surrogates (surrogateescape) instead of failing the access.
py::str text(const char* p, size_t n) {
  PyObject* o = PyUnicode_DecodeUTF8(p, static_cast<Py_ssize_t>(n), "surrogateescape");
  if (o == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(o);
}
py::str text(const std::string& s) { return text(s.data(), s.size()); }

template <size_t N>
std::string raw_of(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

template <size_t N>
py::str text_of(const char (&field)[N]) {
  return text(field, strnlen(field, N));
}

// Longer text is cut to fit, as the readers cut it: never inside a UTF-8 character.
template <size_t N>
void set_text(char (&field)[N], const std::string& s) {
  const size_t n = xrq5_internal::cut_length(s.c_str(), N - 1);
  memcpy(field, s.data(), n);
  memset(field + n, 0, N - n);
}

#define TEXT_FIELD(cls, T, f, doc) \
  cls.def_property(#f, [](const T& r) { return text_of(r.f); }, \
                   [](T& r, const std::string& s) { set_text(r.f, s); }, doc)

std::vector<char> c_string(const std::string& s) {
  std::vector<char> v(s.begin(), s.end());
  v.push_back('\0');
  return v;
}

// The record behind `h`; TypeError for None or any other type (a null record would
// reach the library).
template <class T>
T* record_of(py::handle h) {
  if (h.is_none() || !py::isinstance<T>(h))
    throw py::type_error("expected " + py::str(py::type::of<T>().attr("__name__")).cast<std::string>() +
                         " records, got " + py::str(h.get_type().attr("__name__")).cast<std::string>());
  return h.cast<T*>();
}

// `h` as a T; TypeError (not the RuntimeError of a failed cast) when it is none.
template <class T>
T cast_or_type_error(py::handle h, const char* expected) {
  try {
    return h.cast<T>();
  } catch (const py::cast_error&) {
    throw py::type_error(std::string("expected ") + expected + ", got " +
                         py::str(h.get_type().attr("__name__")).cast<std::string>());
  }
}

// A Python iterable of records as the library's vector of pointers, borrowed: `keep`
// holds the objects (a generator's would die at once) while the pointers are used.
template <class T>
struct borrowed {
  py::list keep;
  std::vector<T*> ptrs;
  explicit borrowed(const py::iterable& records) {
    for (py::handle h : records) {
      ptrs.push_back(record_of<T>(h));
      keep.append(h);
    }
  }
};

// Hands the records to Python objects that free them; the vector is emptied.
template <class T, class Holder>
py::list to_python(std::vector<T*>& records) {
  std::vector<Holder> owned;
  owned.reserve(records.size());
  for (T* r : records) owned.emplace_back(r);
  records.clear();
  py::list out;
  for (Holder& h : owned) out.append(py::cast(std::move(h)));
  return out;
}

py::dict dict_of(py::handle self, std::initializer_list<const char*> names) {
  py::dict d;
  for (const char* n : names) d[n] = self.attr(n);
  return d;
}

// Records of one class are equal when their to_dict() are, leaving out the names in
// `state` (what an evaluation leaves in a record, not what it holds).
template <class Class>
void equality(Class& c, std::vector<std::string> state = {}) {
  c.def("__eq__", [state](py::handle a, py::handle b) -> py::object {
    if (!py::type::of(a).is(py::type::of(b))) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
    py::dict x = a.attr("to_dict")(), y = b.attr("to_dict")();
    for (const std::string& n : state) {
      if (x.contains(n)) PyDict_DelItemString(x.ptr(), n.c_str());
      if (y.contains(n)) PyDict_DelItemString(y.ptr(), n.c_str());
    }
    return py::bool_(x.equal(y));
  });
  c.attr("__hash__") = py::none();  // records change
}

// ---- holders: each record is freed with its own kind's call ------------------------------

struct trigger_free {
  void operator()(xrq5_user_case_trigger* t) const { XRQ5_FREE_USER(t); }
};
struct malloc_free {
  void operator()(void* p) const { free(p); }
};
struct ev_entry_free {
  void operator()(xrq5_ev_entry* e) const {
    std::vector<xrq5_ev_entry*> one{e};
    xrq5_clean_ev_list(&one);
  }
};
struct channel_free {
  void operator()(chan_descr_2010* c) const {
    std::vector<chan_descr_2010*> one{c};
    clean_chan_desr_list(&one);
  }
};
using trigger_holder = std::unique_ptr<xrq5_user_case_trigger, trigger_free>;
using env_holder = std::unique_ptr<xrq5_env_index_dictionary_entry_2010, malloc_free>;
using classic_env_holder = std::unique_ptr<xrq5_env_index_dictionary_entry, malloc_free>;
using ev_entry_holder = std::unique_ptr<xrq5_ev_entry, ev_entry_free>;
using channel_holder = std::unique_ptr<chan_descr_2010, channel_free>;
using feature_holder = std::unique_ptr<XRQ5GigEFeature>;

template <class T>
T* zeroed() {
  T* p = static_cast<T*>(calloc(1, sizeof(T)));
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

// ---- triggers ---------------------------------------------------------------------------

py::list read_triggers(const py::object& xml) {
  std::vector<char> text = c_string(document_bytes(xml));
  problems p;
  xrq5_trigger_list list;
  if (list.read(text.data())) fail("the trigger list did not read cleanly", 1);
  p.done();
  std::vector<xrq5_user_case_trigger*> records = list.release();
  return to_python<xrq5_user_case_trigger, trigger_holder>(records);
}

py::list read_triggers_file(const py::object& path) {
  const std::string bytes = path_bytes(path);
  must_open(path, bytes);
  std::vector<char> name = c_string(bytes);
  problems p;
  xrq5_trigger_list list;
  if (list.readf(name.data())) fail("'" + bytes + "' did not read cleanly as a trigger list", 1);
  p.done();
  std::vector<xrq5_user_case_trigger*> records = list.release();
  return to_python<xrq5_user_case_trigger, trigger_holder>(records);
}

py::str triggers_to_xml(const py::iterable& triggers) {
  borrowed<xrq5_user_case_trigger> held(triggers);
    std::vector<xrq5_user_case_trigger*>& list = held.ptrs;
  std::string xml;
  problems p;
  const int r = dump_user_trigger_list(&list, nullptr, USER_TRIG_DUMP_XML_STRING, -1, &xml);
  if (r != 0) fail("the trigger list could not be written", r);
  p.done();
  return document_text(xml);
}

void write_triggers(const py::iterable& triggers, const py::object& path, bool text) {
  borrowed<xrq5_user_case_trigger> held(triggers);
    std::vector<xrq5_user_case_trigger*>& list = held.ptrs;
  const std::string bytes = path_bytes(path);
  std::vector<char> name = c_string(bytes);
  problems p;
  const int r = dump_user_trigger_list(
      &list, name.data(), text ? USER_TRIG_DUMP_TXT_FILE : USER_TRIG_DUMP_XML_FILE, -1, nullptr);
  if (r != 0) fail("'" + bytes + "' could not be written", r);
  p.done();
}

py::object optional_cell(const float* cell) {
  return cell == nullptr ? py::object(py::none()) : py::object(py::float_(*cell));
}

void bind_triggers(py::module_& m) {
  py::class_<xrq5_user_case_trigger, trigger_holder> c(m, "Trigger",
      "One user-case trigger: a function of a channel's data compared by an operation.");
  // As a list reader starts a record: MEAN, GT, the current time.
  c.def(py::init([] {
    xrq5_user_case_trigger* t = zeroed<xrq5_user_case_trigger>();
    t->function = xrq5_get_function_index(const_cast<char*>("MEAN"));
    t->operation = xrq5_get_operation_index(const_cast<char*>("GT"));
    t->time = time(nullptr);
    return trigger_holder(t);
  }), "A trigger as a list reader starts one: MEAN, GT, made now, everything else zero.");
  using T = xrq5_user_case_trigger;
  TEXT_FIELD(c, T, channel, "The channel (property) whose data the trigger examines.");
  TEXT_FIELD(c, T, description, "Free text.");
  TEXT_FIELD(c, T, group, "Name of the group the trigger belongs to.");
  c.def_readwrite("subchannel", &T::subchannel, "Sub-channel inside the channel's block.")
      .def_readwrite("function", &T::function, "Function registry row, 0..31.")
      .def_readwrite("operation", &T::operation, "Operation registry row, 0..31.")
      .def_readwrite("low", &T::low, "Low limit of the operation.")
      .def_readwrite("upper", &T::upper, "Upper limit of the operation.")
      .def_readwrite("bitmask", &T::bitmask, "Mask of the AND and BITS operations.")
      .def_readwrite("time", &T::time, "Creation time, seconds since the epoch.")
      .def_readwrite("pre_mode", &T::pre_mode, "Carried for the caller, never interpreted.")
      .def_readwrite("post_mode", &T::post_mode, "Carried for the caller, never interpreted.")
      .def_readwrite("valid", &T::valid, "For the caller; 0 in triggers read from XML.")
      .def_property(
          "fparam", [](const T& t) { return std::vector<float>(t.fparam, t.fparam + 16); },
          [](T& t, const std::vector<float>& v) {
            if (v.size() > 16) throw py::value_error("at most 16 function parameters");
            std::fill(t.fparam, t.fparam + 16, 0.0f);
            std::copy(v.begin(), v.end(), t.fparam);
          },
          "The 16 function parameters ([0] start, [1] end, [2] step of a range); set at "
          "most 16, the rest become 0.")
      .def_property(
          "function_name", [](const T& t) { return std::string(xrq5_get_function_string(t.function)); },
          [](T& t, const std::string& name) {
            std::vector<char> n = c_string(name);
            const int i = xrq5_get_function_index(n.data());
            if (i < 0) throw py::value_error("no trigger function named '" + name + "'");
            t.function = i;
          },
          "Name of the function's registry row; setting an unknown name raises ValueError.")
      .def_property(
          "operation_name",
          [](const T& t) { return std::string(xrq5_get_operation_string(t.operation)); },
          [](T& t, const std::string& name) {
            std::vector<char> n = c_string(name);
            const int i = xrq5_get_operation_index(n.data());
            if (i < 0) throw py::value_error("no trigger operation named '" + name + "'");
            t.operation = i;
          },
          "Name of the operation's registry row; setting an unknown name raises ValueError.")
      .def_property_readonly("result", [](const T& t) { return optional_cell(t.fresult); },
                             "The latest function result, None before the first evaluation.")
      .def_property_readonly("previous_result",
                             [](const T& t) { return optional_cell(t.fprevresult); },
                             "The previous plain result (DIFF functions only), or None.")
      .def("same_as", [](T& a, T& b) { return XRQ5_USER_THESAME(&a, &b); },
           "True when both triggers have the same settings (times, modes and results aside).")
      .def("to_dict", [](py::handle self) {
        return dict_of(self, {"channel", "subchannel", "function", "function_name", "fparam",
                              "low", "upper", "bitmask", "operation", "operation_name", "time",
                              "description", "pre_mode", "group", "post_mode", "valid",
                              "result"});
      }, "The trigger's settings and latest result as a dict.")
      .def("__repr__", [](const T& t) {
        return text("<Trigger " + raw_of(t.channel) + " " + xrq5_get_function_string(t.function) +
                    " " + xrq5_get_operation_string(t.operation) + ">");
      });
  equality(c, {"result"});
  m.def("read_triggers", &read_triggers, py::arg("xml"),
        "The triggers of a trigger list document given as text (str or bytes).");
  m.def("read_triggers_file", &read_triggers_file, py::arg("path"),
        "The triggers of a trigger list file.");
  m.def("triggers_to_xml", &triggers_to_xml, py::arg("triggers"),
        "A trigger list document holding the triggers.");
  m.def("write_triggers", &write_triggers, py::arg("triggers"), py::arg("path"),
        py::arg("text") = false, "Writes the triggers as XML (or as text lines) to a file.");

  m.def("functions", [] {
    py::list rows;
    for (int i = 0; i < 32; ++i)
      if (strcmp(xrq5_get_function_string(i), "UNKNOWN") != 0)
        rows.append(py::make_tuple(i, xrq5_get_function_string(i), xrq5_get_function_help(i)));
    return rows;
  }, "The trigger function registry: (index, name, help) of every named row.");
  m.def("operations", [] {
    py::list rows;
    for (int i = 0; i < 32; ++i)
      if (strcmp(xrq5_get_operation_string(i), "UNKNOWN") != 0)
        rows.append(py::make_tuple(i, xrq5_get_operation_string(i), xrq5_get_operation_help(i)));
    return rows;
  }, "The trigger operation registry: (index, name, help) of every named row.");
  m.def("function_index", [](const std::string& name) {
    std::vector<char> n = c_string(name);
    return xrq5_get_function_index(n.data());
  }, py::arg("name"), "Registry row of a function name; -1 when there is none.");
  m.def("operation_index", [](const std::string& name) {
    std::vector<char> n = c_string(name);
    return xrq5_get_operation_index(n.data());
  }, py::arg("name"), "Registry row of an operation name; -1 when there is none.");
}

// ---- environment index dictionaries -------------------------------------------------------

// The two layouts share everything but the record type and the library calls.
template <class E, class Holder>
struct env_layout {
  int (*read)(char*, std::vector<E*>*);
  int (*readf)(char*, std::vector<E*>*);
  int (*dump)(std::vector<E*>*, char*, int, int, std::string*);

  py::list from_text(const py::object& xml) const {
    std::vector<char> text = c_string(document_bytes(xml));
    std::vector<E*> list;
    problems p;
    return take(read(text.data(), &list), list, "the environment index dictionary", p);
  }
  py::list from_file(const py::object& path) const {
    const std::string bytes = path_bytes(path);
    must_open(path, bytes);
    std::vector<char> name = c_string(bytes);
    std::vector<E*> list;
    problems p;
    return take(readf(name.data(), &list), list, "'" + bytes + "'", p);
  }
  py::str to_xml(const py::iterable& entries) const {
    borrowed<E> held(entries);
    std::vector<E*>& list = held.ptrs;
    std::string xml;
    problems p;
    const int r = dump(&list, nullptr, ENV_INDX_DUMP_XML_STRING, -1, &xml);
    if (r != 0) fail("the environment index dictionary could not be written", r);
    p.done();
    return document_text(xml);
  }
  void write(const py::iterable& entries, const py::object& path, bool text) const {
    borrowed<E> held(entries);
    std::vector<E*>& list = held.ptrs;
    const std::string bytes = path_bytes(path);
    std::vector<char> name = c_string(bytes);
    problems p;
    const int r = dump(&list, name.data(), text ? ENV_INDX_DUMP_TXT_FILE : ENV_INDX_DUMP_XML_FILE,
                       -1, nullptr);
    if (r != 0) fail("'" + bytes + "' could not be written", r);
    p.done();
  }

 private:
  static py::list take(int r, std::vector<E*>& list, const std::string& what, const problems& p) {
    if (r != 0) {
      for (E* e : list) free(e);
      list.clear();
      fail(what + " did not read cleanly", r);
    }
    p.done();
    return to_python<E, Holder>(list);
  }
};

const env_layout<xrq5_env_index_dictionary_entry_2010, env_holder> env_2010{
    parse_env_index_dict_list_read_2010, parse_env_index_dict_readf_2010, dump_env_index_dict_2010};
const env_layout<xrq5_env_index_dictionary_entry, classic_env_holder> env_classic{
    parse_env_index_dict_list_read, parse_env_index_dict_readf, dump_env_index_dict};

template <class E, class Holder>
void bind_env_entry(py::module_& m, const char* name, const char* doc) {
  py::class_<E, Holder> c(m, name, doc);
  c.def(py::init([] {
     E* e = zeroed<E>();
     e->index = -1;
     return Holder(e);
   }), "An entry with index -1 and everything else zero.")
      .def_readwrite("index", &E::index, "Position of the channel in the dictionary block; -1 when none.")
      .def_property("prop", [](const E& e) { return text_of(e.data.env_prop); },
                    [](E& e, const std::string& s) { set_text(e.data.env_prop, s); },
                    "The channel's control-system property.")
      .def_property("abs_delta", [](const E& e) { return e.data.env_ch_abs_delta; },
                    [](E& e, float v) { e.data.env_ch_abs_delta = v; },
                    "Absolute change of the value that is recorded.")
      .def_property("rel_delta", [](const E& e) { return e.data.env_ch_rel_delta; },
                    [](E& e, float v) { e.data.env_ch_rel_delta = v; },
                    "Relative change of the value that is recorded.")
      .def("to_dict", [](py::handle self) {
        return dict_of(self, {"index", "prop", "abs_delta", "rel_delta"});
      }, "The entry as a dict.")
      .def("__repr__", [name](const E& e) {
        return text(std::string("<") + name + " " + std::to_string(e.index) + " " +
               raw_of(e.data.env_prop) + ">");
      });
  equality(c);
}

void bind_env(py::module_& m) {
  bind_env_entry<xrq5_env_index_dictionary_entry_2010, env_holder>(
      m, "EnvEntry", "One channel of an environment index dictionary (2010 layout).");
  bind_env_entry<xrq5_env_index_dictionary_entry, classic_env_holder>(
      m, "ClassicEnvEntry", "One channel of an environment index dictionary (classic layout).");
  m.def("read_env_dict", [](const py::object& xml, bool classic) {
    return classic ? env_classic.from_text(xml) : env_2010.from_text(xml);
  }, py::arg("xml"), py::arg("classic") = false,
        "The entries of a dictionary document given as text (ClassicEnvEntry with classic).");
  m.def("read_env_dict_file", [](const py::object& path, bool classic) {
    return classic ? env_classic.from_file(path) : env_2010.from_file(path);
  }, py::arg("path"), py::arg("classic") = false, "The entries of a dictionary file.");
  m.def("env_dict_to_xml", [](const py::list& entries) {
    if (!entries.empty() && py::isinstance<xrq5_env_index_dictionary_entry>(entries[0]))
      return env_classic.to_xml(entries);
    return env_2010.to_xml(entries);
  }, py::arg("entries"), "A dictionary document holding the entries (of one layout).");
  m.def("write_env_dict", [](const py::list& entries, const py::object& path, bool text) {
    if (!entries.empty() && py::isinstance<xrq5_env_index_dictionary_entry>(entries[0]))
      env_classic.write(entries, path, text);
    else
      env_2010.write(entries, path, text);
  }, py::arg("entries"), py::arg("path"), py::arg("text") = false,
        "Writes the entries as XML (or as text lines) to a file.");
}

// ---- event lists ----------------------------------------------------------------------

py::object blocks_of(const xrq5_ev_entry& e) {
  if (e.sb_list == nullptr) return py::none();
  py::list blocks;
  for (const xrq5_ev_sb_list* sb : *e.sb_list) {
    py::list channels;
    if (sb->ch_list != nullptr)
      for (const char* ch : *sb->ch_list) channels.append(text(ch, strlen(ch)));
    blocks.append(py::make_tuple(text_of(sb->sb_list), channels));
  }
  return std::move(blocks);
}

// Replaces the blocks with (name, [channel, ...]) pairs, or None for the full event.
void set_blocks(xrq5_ev_entry& e, const py::object& blocks) {
  std::unique_ptr<std::vector<xrq5_ev_sb_list*>> fresh;
  xrq5_ev_entry scratch{};
  if (!blocks.is_none()) {
    // Every item is taken before anything is built: a wrong one changes nothing.
    std::vector<std::pair<std::string, std::vector<std::string>>> pairs;
    for (py::handle b : blocks)
      pairs.push_back(cast_or_type_error<std::pair<std::string, std::vector<std::string>>>(
          b, "(name, [channel, ...]) pairs"));
    scratch.sb_list = new std::vector<xrq5_ev_sb_list*>();
    for (const auto& pair : pairs) {
      auto* sb = new xrq5_ev_sb_list();
      scratch.sb_list->push_back(sb);
      // The reader keeps at most 254 characters of a block name.
      set_text(sb->sb_list, pair.first.substr(0, 254));
      sb->ch_list = new std::vector<char*>();
      for (const std::string& ch : pair.second) {
        char* c = new char[ch.size() + 1];
        memcpy(c, ch.c_str(), ch.size() + 1);
        sb->ch_list->push_back(c);
      }
    }
  }
  std::swap(scratch.sb_list, e.sb_list);
  // The old blocks go with a scratch record through the library's clean call.
  xrq5_ev_entry* old = new xrq5_ev_entry(scratch);
  ev_entry_free()(old);
}

py::list take_ev_list(int r, std::vector<xrq5_ev_entry*>& list, const std::string& what,
                      const problems& p) {
  if (r != 0) {
    xrq5_clean_ev_list(&list);
    fail(what + " did not read cleanly", r);
  }
  p.done();
  return to_python<xrq5_ev_entry, ev_entry_holder>(list);
}

void bind_ev_list(py::module_& m) {
  using E = xrq5_ev_entry;
  py::class_<E, ev_entry_holder> entry(m, "EventEntry",
                                       "One wanted event type of an event list.");
  entry.def(py::init([] { return ev_entry_holder(new xrq5_ev_entry()); }),
            "An entry of event type 0 for the full event, everything else zero.")
      .def_property("evtype", [](const E& e) { return static_cast<int>(e.evtype); },
                    [](E& e, int t) { e.evtype = static_cast<XRQ5_EVTYPE>(t); },
                    "The event type number.")
      .def_property_readonly("evtype_name",
                             [](const E& e) { return std::string(event_name_itoa(e.evtype)); },
                             "Name of the event type.")
      .def_property("min_time_sec", [](const E& e) { return e.min_ev_time.timeup; },
                    [](E& e, uint32_t v) { e.min_ev_time.timeup = v; },
                    "Seconds of the least time between two wanted events.")
      .def_property("min_time_usec", [](const E& e) { return e.min_ev_time.timelow; },
                    [](E& e, uint32_t v) { e.min_ev_time.timelow = v; },
                    "Microseconds of the least time between two wanted events.")
      .def_readwrite("tmask", &E::tmask, "Trigger mask; 0 by default.")
      .def_readwrite("priority", &E::priority, "Priority; 0 by default.")
      .def_property("blocks", &blocks_of, &set_blocks,
                    "None for the full event, else [(block name, [channel, ...]), ...]")
      .def("to_dict", [](py::handle self) {
        return dict_of(self, {"evtype", "evtype_name", "min_time_sec", "min_time_usec", "tmask",
                              "priority", "blocks"});
      }, "The entry as a dict.")
      .def("__repr__", [](const E& e) {
        return std::string("<EventEntry ") + event_name_itoa(e.evtype) + ">";
      });
  equality(entry);

  m.def("read_ev_list", [](const py::object& xml) {
    std::vector<char> text = c_string(document_bytes(xml));
    std::vector<xrq5_ev_entry*> list;
    problems p;
    return take_ev_list(xrq5_parse_ev_list_read(text.data(), &list), list, "the event list", p);
  }, py::arg("xml"), "The entries of an event list document given as text.");
  m.def("read_ev_list_file", [](const py::object& path) {
    const std::string bytes = path_bytes(path);
    must_open(path, bytes);
    std::vector<char> name = c_string(bytes);
    std::vector<xrq5_ev_entry*> list;
    problems p;
    return take_ev_list(xrq5_parse_ev_list_readf(name.data(), &list), list, "'" + bytes + "'", p);
  }, py::arg("path"), "The entries of an event list file.");
  m.def("ev_list_to_xml", [](const py::iterable& entries) {
    borrowed<xrq5_ev_entry> held(entries);
    std::vector<xrq5_ev_entry*>& list = held.ptrs;
    std::string xml;
    problems p;
    const int r = xrq5_write_ev_list(&list, nullptr, -1, &xml);
    if (r != 0) fail("the event list could not be written", r);
    p.done();
    return document_text(xml);
  }, py::arg("entries"), "An event list document holding the entries.");
  m.def("write_ev_list", [](const py::iterable& entries, const py::object& path) {
    borrowed<xrq5_ev_entry> held(entries);
    std::vector<xrq5_ev_entry*>& list = held.ptrs;
    const std::string bytes = path_bytes(path);
    std::vector<char> name = c_string(bytes);
    problems p;
    const int r = xrq5_write_ev_list(&list, name.data(), -1, nullptr);
    if (r != 0) fail("'" + bytes + "' could not be written", r);
    p.done();
  }, py::arg("entries"), py::arg("path"), "Writes the entries as an event list file.");
}

// ---- channel descriptions ---------------------------------------------------------------

// Replaces the records a parent owns with copies of the given ones (the parent's count
// follows), freeing the old ones.
template <class R>
void replace_owned(std::vector<R*>& owned, int& count, const py::iterable& records,
                   R* (*clone)(R*), void (*drop)(R*)) {
  std::vector<R*> fresh;
  try {
    for (py::handle h : records) fresh.push_back(clone(record_of<R>(h)));
  } catch (...) {
    for (R* r : fresh) drop(r);
    throw;
  }
  for (R* r : owned) drop(r);
  owned = fresh;
  count = static_cast<int>(owned.size());
}

// Copies of the records a parent owns, so that no Python object points into a parent
// whose list may be replaced.
template <class R, class Holder>
py::list copies(std::vector<R*>& owned, R* (*clone)(R*)) {
  py::list out;
  for (R* r : owned) out.append(py::cast(Holder(clone(r))));
  return out;
}

void drop_bit(bit_descr* b) { delete b; }
void drop_stat(stat_descr* s) { delete s; }
void drop_dim(dim_descr* d) {
  for (stat_descr* s : d->stats) delete s;
  delete d;
}

struct dim_free {
  void operator()(dim_descr* d) const { drop_dim(d); }
};
using dim_holder = std::unique_ptr<dim_descr, dim_free>;

int form_of(const std::string& form) {
  if (form == "tag") return XRQ5_FORMAT;
  if (form == "var") return VESK_FORMAT;
  throw py::value_error("form is 'tag' or 'var', not '" + form + "'");
}

py::list take_channels(int r, std::vector<chan_descr_2010*>& list, const std::string& what,
                       const problems& p) {
  if (r != 0) {
    clean_chan_desr_list(&list);
    fail(what + " did not read cleanly", r);
  }
  p.done();
  return to_python<chan_descr_2010, channel_holder>(list);
}

void bind_channels(py::module_& m) {
  py::class_<bit_descr, std::unique_ptr<bit_descr>> bit(m, "Bit", "A named bit of a channel.");
  bit.def(py::init([] { return std::unique_ptr<bit_descr>(new bit_descr()); }),
          "Bit 0 with no name.")
      .def_readwrite("bit", &bit_descr::bit, "Bit number.");
  TEXT_FIELD(bit, bit_descr, bit_name, "Name (at most 63 bytes).");
  TEXT_FIELD(bit, bit_descr, bit_desc, "Description (at most 79 bytes).");
  bit.def("to_dict", [](py::handle self) { return dict_of(self, {"bit", "bit_name", "bit_desc"}); },
          "The bit as a dict.")
      .def("__repr__", [](const bit_descr& b) {
        return text("<Bit " + std::to_string(b.bit) + " " + raw_of(b.bit_name) + ">");
      });
  equality(bit);

  py::class_<stat_descr, std::unique_ptr<stat_descr>> stat(m, "Statistic",
                                                           "A statistic of a dimension.");
  stat.def(py::init([] { return std::unique_ptr<stat_descr>(new stat_descr()); }),
           "Statistic 0 with no name.")
      .def_readwrite("stat", &stat_descr::stat, "Statistic id.");
  TEXT_FIELD(stat, stat_descr, stat_name, "Name (at most 63 bytes).");
  TEXT_FIELD(stat, stat_descr, stat_desc, "Description (at most 79 bytes).");
  TEXT_FIELD(stat, stat_descr, units, "Units (at most 15 bytes).");
  stat.def("to_dict", [](py::handle self) {
        return dict_of(self, {"stat", "stat_name", "stat_desc", "units"});
      }, "The statistic as a dict.")
      .def("__repr__", [](const stat_descr& x) {
        return text("<Statistic " + std::to_string(x.stat) + " " + raw_of(x.stat_name) + ">");
      });
  equality(stat);

  py::class_<dim_descr, dim_holder> dim(m, "Dimension",
                                                                  "A dimension of a channel.");
  dim.def(py::init([] { return dim_holder(new dim_descr()); }),
          "Dimension 0 with no name and no statistics.")
      .def_readwrite("dim", &dim_descr::dim, "Dimension id.");
  TEXT_FIELD(dim, dim_descr, dim_name, "Name (at most 63 bytes).");
  TEXT_FIELD(dim, dim_descr, dim_desc, "Description (at most 79 bytes).");
  TEXT_FIELD(dim, dim_descr, units, "Units (at most 15 bytes).");
  dim.def_property(
         "stats",
         [](dim_descr& d) {
           return copies<stat_descr, std::unique_ptr<stat_descr>>(d.stats, xrq5_clone_stat_descr);
         },
         [](dim_descr& d, const py::iterable& v) {
           replace_owned(d.stats, d.nstats, v, xrq5_clone_stat_descr, drop_stat);
         },
         "Copies of the statistics; set the whole list to change them.")
      .def("to_dict", [](py::handle self) {
        py::dict d = dict_of(self, {"dim", "dim_name", "dim_desc", "units"});
        py::list stats;
        for (py::handle s : self.attr("stats")) stats.append(s.attr("to_dict")());
        d["stats"] = stats;
        return d;
      }, "The dimension and its statistics as a dict.")
      .def("__repr__", [](const dim_descr& x) {
        return text("<Dimension " + std::to_string(x.dim) + " " + raw_of(x.dim_name) + ">");
      });
  equality(dim);

  using C = chan_descr_2010;
  py::class_<C, channel_holder> c(m, "ChannelDescription", "One channel of an XCD document.");
  c.def(py::init([] {
    C* ch = new C();
    ch->db_key = -1;
    ch->max_size = 1;
    return channel_holder(ch);
  }), "A channel as a reader starts one: db_key -1, max_size 1, everything else zero.");
  c.def_readwrite("stream", &C::stream, "Mask of the DAQ streams.")
      .def_readwrite("ev_type", &C::ev_type,
                     "Event type number, or a mask of types when read with shift.")
      .def_readwrite("count", &C::count, "Number of sub-channels.")
      .def_readwrite("dtype", &C::dtype,
                     "Sub-block type number, or a mask of types when read with shift.")
      .def_readwrite("db_key", &C::db_key, "Database key; -1 when none.")
      .def_readwrite("max_size", &C::max_size, "Number of values; 1 for a scalar.")
      .def_readwrite("set_point", &C::set_point, "Non-zero for a set point.");
  TEXT_FIELD(c, C, prop_name, "Control-system property (address); the key of a list.");
  TEXT_FIELD(c, C, daq_name, "Name of the channel in the DAQ.");
  TEXT_FIELD(c, C, prop_desc, "Description.");
  TEXT_FIELD(c, C, units, "Units (at most 15 bytes).");
  TEXT_FIELD(c, C, sb_name, "Server block that carries the channel.");
  TEXT_FIELD(c, C, subsystem, "Subsystem name (at most 63 bytes).");
  c.def_property(
       "bits",
       [](C& ch) { return copies<bit_descr, std::unique_ptr<bit_descr>>(ch.bits, xrq5_clone_bit_descr); },
       [](C& ch, const py::iterable& v) {
         replace_owned(ch.bits, ch.nbits, v, xrq5_clone_bit_descr, drop_bit);
       },
       "Copies of the named bits; set the whole list to change them.")
      .def_property(
          "dims", [](C& ch) { return copies<dim_descr, dim_holder>(ch.dims, xrq5_clone_dim_descr); },
          [](C& ch, const py::iterable& v) {
            replace_owned(ch.dims, ch.ndims, v, xrq5_clone_dim_descr, drop_dim);
          },
          "Copies of the dimensions; set the whole list to change them.")
      .def("to_dict", [](py::handle self) {
        py::dict d = dict_of(self, {"stream", "ev_type", "count", "dtype", "db_key", "prop_name",
                                    "daq_name", "prop_desc", "units", "max_size", "sb_name",
                                    "set_point", "subsystem"});
        py::list bits, dims;
        for (py::handle b : self.attr("bits")) bits.append(b.attr("to_dict")());
        for (py::handle x : self.attr("dims")) dims.append(x.attr("to_dict")());
        d["bits"] = bits;
        d["dims"] = dims;
        return d;
      }, "The channel with its bits and dimensions as a dict.")
      .def("__repr__", [](const C& ch) {
        return text("<ChannelDescription " + raw_of(ch.prop_name) + ">");
      });
  equality(c);

  m.def("read_channels", [](const py::object& xml, bool shift, bool merge) {
    std::vector<char> text = c_string(document_bytes(xml));
    std::vector<chan_descr_2010*> list;
    problems p;
    return take_channels(parse_descr_list_read(text.data(), &list, shift, merge), list,
                         "the channel descriptions", p);
  }, py::arg("xml"), py::arg("shift") = false, py::arg("merge") = false,
        "The channels of an XCD document (either form) given as text; with shift, event "
        "and data types become masks; with merge, repeated properties are merged.");
  m.def("read_channels_file", [](const py::object& path, bool shift, bool merge) {
    const std::string bytes = path_bytes(path);
    must_open(path, bytes);
    std::vector<char> name = c_string(bytes);
    std::vector<chan_descr_2010*> list;
    problems p;
    return take_channels(parse_descr_list_readf(name.data(), &list, shift, merge), list,
                         "'" + bytes + "'", p);
  }, py::arg("path"), py::arg("shift") = false, py::arg("merge") = false,
        "The channels of an XCD file (either form).");
  m.def("channels_to_xml", [](const py::iterable& channels, const std::string& form) {
    borrowed<chan_descr_2010> held(channels);
    std::vector<chan_descr_2010*>& list = held.ptrs;
    std::string xml;
    problems p;
    const int r = dump_chan_desr(&list, nullptr, DUMP_XML_FILE, form_of(form), -1, &xml, nullptr);
    if (r != 0) fail("the channel descriptions could not be written", r);
    p.done();
    return document_text(xml);
  }, py::arg("channels"), py::arg("form") = "tag",
        "An XCD document ('tag' or 'var' form) holding the channels.");
  m.def("write_channels", [](const py::iterable& channels, const py::object& path,
                             const std::string& form, const std::string& as) {
    borrowed<chan_descr_2010> held(channels);
    std::vector<chan_descr_2010*>& list = held.ptrs;
    const std::string bytes = path_bytes(path);
    std::vector<char> name = c_string(bytes);
    int mode;
    if (as == "xml")
      mode = DUMP_XML_FILE;
    else if (as == "text")
      mode = DUMP_TXT_FILE;
    else if (as == "short")
      mode = DUMP_TXT_FILE_SHORT;
    else
      throw py::value_error("as is 'xml', 'text' or 'short', not '" + as + "'");
    problems p;
    const int r = dump_chan_desr(&list, name.data(), mode, form_of(form), -1, nullptr, nullptr);
    if (r != 0) fail("'" + bytes + "' could not be written", r);
    p.done();
  }, py::arg("channels"), py::arg("path"), py::arg("form") = "tag", py::arg("as_") = "xml",
        "Writes the channels to a file as XCD ('tag' or 'var' form), or as the 'text' or "
        "'short' listing.");
}

// ---- camera features ----------------------------------------------------------------------

void bind_camera(py::module_& m) {
  using F = XRQ5GigEFeature;
  py::class_<F, feature_holder> feature(m, "CameraFeature", "One feature of a GigE camera.");
  feature.def(py::init([] { return feature_holder(new F{}); }), "A feature of type 0 with no texts.")
      .def_readwrite("type", &F::type, "Feature type (the row of its tag).")
      .def_property_readonly("type_name", [](const F& f) {
        return f.type >= 0 && f.type < FEATURE_TYPE_MAX ? std::string(FeatureTags[f.type])
                                                        : std::string("UNKNOWN");
      }, "Tag of the feature type; UNKNOWN outside the table.")
      .def_property("name", [](const F& x) { return text(x.name); },
                    [](F& x, const std::string& v) { x.name = v; }, "The feature's Name.")
      .def_property("extension", [](const F& x) { return text(x.extension); },
                    [](F& x, const std::string& v) { x.extension = v; },
                    "From Extension or PvRename.")
      .def_property("tooltip", [](const F& x) { return text(x.tooltip); },
                    [](F& x, const std::string& v) { x.tooltip = v; }, "From ToolTip.")
      .def_property("description", [](const F& x) { return text(x.description); },
                    [](F& x, const std::string& v) { x.description = v; }, "From Description.")
      .def("to_dict", [](py::handle self) {
        return dict_of(self, {"type", "type_name", "name", "extension", "tooltip",
                              "description"});
      }, "The feature as a dict.")
      .def("__repr__", [](const F& f) { return text("<CameraFeature " + f.name + ">"); });
  equality(feature);
  m.def("read_camera_features", [](const py::object& path) {
    const std::string bytes = path_bytes(path);
    must_open(path, bytes);
    std::vector<char> name = c_string(bytes);
    std::vector<XRQ5GigEFeature*> list;
    problems p;
    if (xrq5_fill_gige_descr(name.data(), &list)) {
      xrq5_clean_gige_descr(&list);
      fail("'" + bytes + "' did not read cleanly as a camera feature file", 1);
    }
    p.done();
    return to_python<XRQ5GigEFeature, feature_holder>(list);
  }, py::arg("path"), "The features of a camera feature file.");
}

// ---- channel selector ---------------------------------------------------------------------

void bind_selector(py::module_& m) {
  py::class_<chan_selector>(m, "ChannelSelector",
                            "The channels a DAQ client wants, loaded from XCD files or texts.")
      .def(py::init([](const py::iterable& sources, bool from_xml, bool shift) {
             auto s = std::make_unique<chan_selector>();
             s->set_shift(shift);
             s->change_mode(from_xml ? EXTR_FROM_XML : EXTR_FROM_FILE);
             std::vector<std::vector<char>> texts;
             std::vector<char*> names;
             for (py::handle h : sources) {
               const py::object src = py::reinterpret_borrow<py::object>(h);
               if (from_xml) {
                 texts.push_back(c_string(document_bytes(src)));
               } else {
                 const std::string bytes = path_bytes(src);
                 must_open(src, bytes);
                 texts.push_back(c_string(bytes));
               }
             }
             for (std::vector<char>& t : texts) names.push_back(t.data());
             int total = 0;
             problems p;
             if (!names.empty() && s->set_descriptions(names, &total))
               fail("the channel descriptions did not read cleanly", 1);
             p.done();
             return s;
           }),
           py::arg("sources") = py::list(), py::arg("from_xml") = false,
           py::arg("shift") = true,
           "sources are XCD file names, or XCD texts with from_xml.")
      .def("__len__", &chan_selector::size)
      .def("find_channel", [](chan_selector& s, int ev_type, std::string chan) {
        return s.find_channel(ev_type, &chan[0]);
      }, py::arg("ev_type"), py::arg("channel"),
      "True when some held description carries the channel (DAQ name, or property for "
      "event types other than LOCAL and ML) and one is recorded in ev_type (0..31); an "
      "empty selector wants everything.")
      .def("get_event_type", [](chan_selector& s, std::string chan) {
        return s.get_event_type(&chan[0]);
      }, py::arg("channel"), "Event-type mask of the first description of the channel; 0 when none is held.")
      .def("get_data_type", [](chan_selector& s, std::string chan) {
        return s.get_data_type(&chan[0]);
      }, py::arg("channel"), "Sub-block type of the first description of the channel; 0 when none is held.")
      .def("get_channel", [](chan_selector& s, int num) -> py::object {
        const char* c = s.get_channel(num);
        return c ? py::object(text(c, strlen(c))) : py::object(py::none());
      }, py::arg("num"), "DAQ name of the num-th description; None outside the list.")
      .def("get_prop", [](chan_selector& s, int num) -> py::object {
        const char* c = s.get_prop(num);
        return c ? py::object(text(c, strlen(c))) : py::object(py::none());
      }, py::arg("num"), "Property of the num-th description; None outside the list.")
      .def("is_channel_slow", &chan_selector::is_channel_slow, py::arg("num"),
           "1 when the num-th channel is recorded in BOR, EOR, ENV or UPD events, 0 when not, "
           "-1 outside the list or for an empty mask.")
      .def("is_channel_ml", &chan_selector::is_channel_ml, py::arg("num"),
           "1 when the num-th channel's DAQ name holds .ML or a type of it has the ML "
           "structure, 0 when not, -1 as is_channel_slow.")
      .def("get_subchannels", &chan_selector::get_subchannels, py::arg("num"),
           "1 for a slow channel, else the number of its dimensions; 0 outside the list.");
}

// ---- events and evaluation ---------------------------------------------------------------

std::vector<xrq5_serv_block_subhead_2010*> blocks_in(xrq5_evb_event& ev) {
  std::vector<xrq5_serv_block_subhead_2010*> blocks;
  size_t off = 0;
  while (xrq5_serv_block_subhead_2010* b =
             xrq5_evb_next_block(ev.blocks.data(), ev.blocks.size(), &off))
    blocks.push_back(b);
  return blocks;
}

std::vector<xrq5_evb_event> read_events(const py::object& path_arg) {
  const std::string path = path_bytes(path_arg);
  must_open(path_arg, path);
  std::vector<xrq5_evb_event> events;
  std::string error;
  const int r = xrq5_evb_read_file(c_string(path).data(), &events, &error);
  if (r != XRQ5_EVB_OK) fail(error, r);
  return events;
}

// The dictionary block of a list of entries of either layout.
std::vector<char> dictionary_block(const py::list& entries) {
  std::vector<char> block;
  bool failed;
  if (!entries.empty() && py::isinstance<xrq5_env_index_dictionary_entry>(entries[0])) {
    borrowed<xrq5_env_index_dictionary_entry> held(entries);
    std::vector<xrq5_env_index_dictionary_entry*>& list = held.ptrs;
    failed = xrq5_make_env_dict_block(&list, &block);
  } else {
    borrowed<xrq5_env_index_dictionary_entry_2010> held(entries);
    std::vector<xrq5_env_index_dictionary_entry_2010*>& list = held.ptrs;
    failed = xrq5_make_env_dict_block_2010(&list, &block);
  }
  if (failed) fail("the environment dictionary could not be made into a block", 1);
  return block;
}

bool is_dictionary(const xrq5_serv_block_subhead_2010* b) {
  return b->dtype == XRQ5_ENV_DICT_BLOCK_2010 || b->dtype == XRQ5_ENV_DICT_BLOCK;
}

// A path argument: str, bytes or os.PathLike (as os.fspath takes it).
bool is_path(const py::handle& h) {
  return py::isinstance<py::str>(h) || py::isinstance<py::bytes>(h) || py::hasattr(h, "__fspath__");
}

// The path as the system takes it; OSError of its kind when it does not open.
std::string path_of(const py::handle& h) {
  const py::object given = py::reinterpret_borrow<py::object>(h);
  const std::string bytes = path_bytes(given);
  must_open(given, bytes);
  return bytes;
}

// The events of a recorded-event file, one at a time (iter_events).
class event_stream {
 public:
  explicit event_stream(const std::string& path) : path_(path) {
    if (!reader_.open(path.c_str())) fail(reader_.error(), reader_.status());
  }
  xrq5_evb_event next() {
    xrq5_evb_event ev;
    bool got;
    {
      py::gil_scoped_release unlocked;
      got = reader_.next(&ev);
    }
    if (got) return ev;
    if (reader_.status() != XRQ5_EVB_OK) fail(reader_.error(), reader_.status());
    reader_.close();
    throw py::stop_iteration();
  }

 private:
  std::string path_;
  xrq5_evb_reader reader_;
};

// What evaluate gathers per trigger over all events, growing as they are read.
struct evaluation {
  std::vector<std::vector<float>> results;
  std::vector<std::vector<long>> fired, missing, invalid;
  std::vector<xrq5_trigger_outcome> out;
  long n = 0;
  explicit evaluation(size_t triggers)
      : results(triggers), fired(triggers), missing(triggers), invalid(triggers) {}

  void event(std::vector<xrq5_user_case_trigger*>* list,
             std::vector<xrq5_serv_block_subhead_2010*>* blocks, char* dict) {
    xrq5_eval_trigger_list(list, blocks, dict, &out);
    for (size_t i = 0; i < list->size(); ++i) {
      results[i].push_back(out[i].has_result ? out[i].result : NAN);
      if (out[i].missing) missing[i].push_back(n);
      if (out[i].on == 1) fired[i].push_back(n);
      if (out[i].on < 0 && !out[i].missing) invalid[i].push_back(n);
    }
    ++n;
  }

  py::list to_python() const {
    py::list per_trigger;
    auto array = [](const auto& v) {
      using T = typename std::decay_t<decltype(v)>::value_type;
      return py::array_t<T>(static_cast<py::ssize_t>(v.size()), v.data());
    };
    for (size_t i = 0; i < results.size(); ++i) {
      py::dict d;
      d["results"] = array(results[i]);
      d["fired"] = array(fired[i]);
      d["missing"] = array(missing[i]);
      d["invalid"] = array(invalid[i]);
      per_trigger.append(d);
    }
    return per_trigger;
  }
};

// The state a trigger carries from event to event, dropped before each file.
void reset_state(std::vector<xrq5_user_case_trigger*>& list) {
  for (xrq5_user_case_trigger* t : list) {
    free(t->fprevresult);
    free(t->fresult);
    free(t->iresult);
    t->fprevresult = t->fresult = nullptr;
    t->iresult = nullptr;
  }
}

py::list evaluate(const py::iterable& triggers, const py::object& events_arg,
                  const py::object& env_dict) {
  borrowed<xrq5_user_case_trigger> held(triggers);
  std::vector<xrq5_user_case_trigger*>& list = held.ptrs;
  std::vector<char> given;
  if (!env_dict.is_none())
    given = dictionary_block(cast_or_type_error<py::list>(env_dict, "a list of dictionary entries"));
  evaluation ev_all(list.size());

  // Paths: one, or a list of them; each file streamed from a fresh trigger state.
  std::vector<std::string> paths;
  if (is_path(events_arg)) {
    paths.push_back(path_of(events_arg));
  } else if (py::isinstance<py::sequence>(events_arg) && py::len(events_arg) > 0 &&
             is_path(events_arg[py::int_(0)])) {
    for (py::handle h : events_arg) paths.push_back(path_of(h));
  }
  if (!paths.empty()) {
    for (const std::string& path : paths) {
      xrq5_evb_reader reader;
      if (!reader.open(path.c_str())) fail(reader.error(), reader.status());
      reset_state(list);
      xrq5_evb_event ev;
      std::vector<char> recorded_dict;  // a copy: the event's buffer is reused
      std::vector<xrq5_serv_block_subhead_2010*> blocks;
      while (reader.next(&ev)) {
        // As the tool: a dictionary recorded in an event serves it and the events after it.
        blocks.clear();
        size_t off = 0;
        while (xrq5_serv_block_subhead_2010* b =
                   xrq5_evb_next_block(ev.blocks.data(), ev.blocks.size(), &off)) {
          blocks.push_back(b);
          if (is_dictionary(b) && given.empty())
            recorded_dict.assign(reinterpret_cast<char*>(b), ev.blocks.data() + off);
        }
        char* dict = !given.empty() ? given.data()
                     : recorded_dict.empty() ? nullptr : recorded_dict.data();
        ev_all.event(&list, &blocks, dict);
      }
      xrq5_user_trigger_set_ext_env_dictionary(nullptr);
      if (reader.status() != XRQ5_EVB_OK) fail(reader.error(), reader.status());
    }
    return ev_all.to_python();
  }

  // Event records held by Python: the triggers keep their state across calls.
  borrowed<xrq5_evb_event> given_events(events_arg);
  char* dict = nullptr;
  for (xrq5_evb_event* e : given_events.ptrs) {
    std::vector<xrq5_serv_block_subhead_2010*> blocks = blocks_in(*e);
    for (xrq5_serv_block_subhead_2010* b : blocks)
      if (is_dictionary(b)) dict = reinterpret_cast<char*>(b);
    if (!given.empty()) dict = given.data();
    ev_all.event(&list, &blocks, dict);
  }
  return ev_all.to_python();
}

void bind_events(py::module_& m) {
  using E = xrq5_evb_event;
  py::class_<E> event(m, "Event", "One recorded event: its type, number, time and data blocks.");
  event.def_readonly("ev_type", &E::ev_type, "The event type number.")
      .def_property_readonly("ev_type_name", [](const E& e) { return std::string(event_name_itoa(e.ev_type)); },
                             "Name of the event type.")
      .def_readonly("ev_number", &E::ev_number, "The event number.")
      .def_property_readonly("time_sec", [](const E& e) { return e.time.timeup; },
                             "Seconds of the event time.")
      .def_property_readonly("time_usec", [](const E& e) { return e.time.timelow; },
                             "Microseconds of the event time.")
      .def_property_readonly("data", [](const E& e) {
        return py::bytes(e.blocks.data(), e.blocks.size());
      }, "The event's data blocks as they were recorded.")
      .def_property_readonly("blocks", [](E& e) {
        py::list out;
        for (xrq5_serv_block_subhead_2010* b : blocks_in(e))
          out.append(py::make_tuple(text_of(b->chname), b->dtype, b->error, b->ldata));
        return out;
      }, "[(channel name, sub-block type, error, data length), ...]")
      .def("to_dict", [](py::handle self) {
        return dict_of(self, {"ev_type", "ev_type_name", "ev_number", "time_sec", "time_usec",
                              "blocks"});
      }, "The event (without its data) as a dict.")
      .def("__repr__", [](const E& e) {
        return "<Event " + std::to_string(e.ev_number) + " " + event_name_itoa(e.ev_type) + ">";
      });
  event.def("__eq__", [](py::handle a, py::handle b) -> py::object {
    if (!py::type::of(a).is(py::type::of(b))) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
    return py::bool_(a.attr("to_dict")().equal(b.attr("to_dict")()) &&
                     a.attr("data").equal(b.attr("data")));
  });
  event.attr("__hash__") = py::none();
  m.def("read_events", &read_events, py::arg("path"),
        "The events of a recorded-event file (all of them in memory).");
  py::class_<event_stream>(m, "EventStream", "The events of a recorded-event file, one at a time.")
      .def("__iter__", [](event_stream& s) -> event_stream& { return s; })
      .def("__next__", &event_stream::next);
  m.def("iter_events",
        [](const py::object& path) { return std::make_unique<event_stream>(path_of(path)); },
        py::arg("path"),
        "Yields the events of a recorded-event file one at a time, holding one in memory; a "
        "damaged file raises xrq5.Error when the iteration reaches the damage.");
  m.def("evaluate", &evaluate, py::arg("triggers"), py::arg("events"),
        py::arg("env_dict") = py::none(),
        "Evaluates every trigger on every event (a recorded-event file path, a list of paths, "
        "or a list of Event), as xrq5xml eval does; per trigger a dict with 'results' (the "
        "function result per event, NaN where none), and the indices of the events where it "
        "'fired', its channel was 'missing', or it was 'invalid'. Files are streamed, one "
        "event in memory, each evaluated from a fresh trigger state as if alone; the arrays "
        "run over the events of all files in order. With Event records the triggers keep "
        "their results (and DIFF state).");
}

// ---- the check of documents --------------------------------------------------------------

py::object name_of(const std::string& file) {
  return py::module_::import("os").attr("fsdecode")(py::bytes(file));
}

py::list check(const py::object& what, bool strict, const py::object& xcd, bool classic) {
  xrq5_check_options options;
  options.strict = strict;
  options.classic = classic;
  if (!xcd.is_none()) {
    if (py::isinstance<py::str>(xcd) || py::isinstance<py::bytes>(xcd) ||
        py::hasattr(xcd, "__fspath__"))
      throw py::type_error("xcd is a list of channel-description files");
    for (py::handle h : xcd) {
      const py::object x = py::reinterpret_borrow<py::object>(h);
      const std::string bytes = path_bytes(x);
      must_open(x, bytes);
      options.xcd.push_back(bytes);
    }
  }
  // A str that starts with '<' is a document; any other str, bytes or os.PathLike a path.
  bool text = false;
  if (py::isinstance<py::str>(what)) {
    const std::string lead = py::str(what.attr("lstrip")(" \t\r\n\ufeff"))
                                 .attr("__getitem__")(py::slice(0, 1, 1))
                                 .attr("encode")("utf-8", "surrogateescape")
                                 .cast<std::string>();
    text = lead == "<";
  }
  xrq5_check_result r;
  {
    problems p;  // the readers' reports are in the findings
    if (text) {
      r = xrq5_check_text(document_bytes(what), options);
    } else {
      const std::string bytes = path_bytes(what);
      must_open(what, bytes);
      r = xrq5_check_file(bytes, options);
    }
  }
  py::list out;
  for (xrq5_finding& f : r.findings) out.append(py::cast(std::move(f)));
  return out;
}

void bind_check(py::module_& m) {
  using F = xrq5_finding;
  py::class_<F> c(m, "Finding", "One finding of xrq5.check: where, how bad, a stable code, what.");
  c.def_property_readonly("file", [](const F& f) { return name_of(f.file); },
                          "The document's name as given (decoded as the file system does).")
      .def_readonly("line", &F::line, "Line of the finding, from 1; 0 for the whole document.")
      .def_readonly("column", &F::column, "Column of the finding, from 1; 0 when none.")
      .def_property_readonly("severity", [](const F& f) { return std::string(f.severity()); },
                             "'error' or 'warning'.")
      .def_readonly("error", &F::error, "True for an error, False for a warning.")
      .def_property_readonly("code", [](const F& f) { return text(f.code); },
                             "A stable short name of the kind of finding.")
      .def_property_readonly("message", [](const F& f) { return text(f.message); },
                             "What was found.")
      .def("to_dict", [](py::handle self) {
        return dict_of(self, {"file", "line", "column", "severity", "code", "message"});
      }, "The finding as a dict.")
      .def("__str__", [](py::handle self) {
        return py::str("{}:{}:{}: {}: {}")
            .format(self.attr("file"), self.attr("line"), self.attr("column"),
                    self.attr("severity"), self.attr("message"));
      })
      .def("__repr__", [](py::handle self) {
        return py::str("<Finding {}:{}:{} {} {}>")
            .format(self.attr("file"), self.attr("line"), self.attr("column"),
                    self.attr("severity"), self.attr("code"));
      });
  equality(c);
  m.def("check", &check, py::arg("document"), py::arg("strict") = true,
        py::arg("xcd") = py::none(), py::arg("classic") = false,
        "Checks a document (a path as str, bytes or os.PathLike, or the text itself as a str "
        "starting with '<') as `xrq5xml check --strict` does (without strict: only read with "
        "the library's reader of its kind); the channels of triggers are looked up in the "
        "channel-description files xcd. A list of Finding, in document order; empty when "
        "clean.");
}

}  // namespace

PYBIND11_MODULE(_xrq5, m) {
  m.doc() = "Documents, triggers and channel selection of the XRQ5 DAQ libraries.";
  error_type = PyErr_NewExceptionWithDoc(
      "xrq5.Error",
      "A document could not be read or written; `code` is the library's result, `messages` "
      "what the libraries reported (FILE:LINE:COLUMN: lines), `file`, `line` and `column` "
      "the place of the first error (None when not known).",
      PyExc_RuntimeError, nullptr);
  m.add_object("Error", py::handle(error_type));
  warning_type = PyErr_NewExceptionWithDoc(
      "xrq5.Warning", "A document read, with a warning of the libraries.", PyExc_UserWarning,
      nullptr);
  m.add_object("Warning", py::handle(warning_type));
  bind_triggers(m);
  bind_env(m);
  bind_ev_list(m);
  bind_channels(m);
  bind_camera(m);
  bind_selector(m);
  bind_events(m);
  bind_check(m);
}
