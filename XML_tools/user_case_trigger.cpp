#include "user_case_trigger.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "attr_tags_functions.h"
#include "event_util.h"
#include "parse_chan_descr.h"
#include "xrq5_output.h"
#include "xrq5_reader.h"
#include "xrq5_keyed_hash.h"
#include "xrq5_text.h"

namespace {

// ---- conversions that the evaluation defines for every float ------------------------

// Truncation toward zero; NaN and values outside int give the most negative int.
int to_int(float q) {
  if (!(q >= -2147483648.0f && q < 2147483648.0f)) return INT_MIN;
  return static_cast<int>(q);
}

// A range quotient (x - start) / inc; with inc 0 it is not a number.
int quotient(float x, float start, float inc) {
  if (inc == 0.0f) return INT_MIN;
  return to_int((x - start) / inc);
}

// R of AND and BITS: the result truncated to a 64-bit integer, its low 32 bits; NaN and
// values beyond the 64-bit range give 0.
u_int result_bits(float r) {
  if (!(r >= -9223372036854775808.0f && r < 9223372036854775808.0f)) return 0;
  return static_cast<u_int>(static_cast<uint64_t>(static_cast<int64_t>(r)));
}

// ---- the operations -------------------------------------------------------------------

bool oper_gt(float r, float, float upper, u_int) { return r > upper; }
bool oper_gte(float r, float, float upper, u_int) { return r >= upper; }
bool oper_eq(float r, float low, float, u_int) { return r == low; }
bool oper_lte(float r, float low, float, u_int) { return r <= low; }
bool oper_lt(float r, float low, float, u_int) { return r < low; }
bool oper_inside(float r, float low, float upper, u_int) { return low < r && r < upper; }
bool oper_inside_incl(float r, float low, float upper, u_int) { return low <= r && r <= upper; }
bool oper_outside(float r, float low, float upper, u_int) { return r < low || r > upper; }
bool oper_outside_incl(float r, float low, float upper, u_int) { return r <= low || r >= upper; }
bool oper_and_mask(float r, float, float, u_int mask) { return (result_bits(r) & mask) == mask; }
bool oper_true(float, float, float, u_int) { return true; }
bool oper_false(float, float, float, u_int) { return false; }
bool oper_bits(float r, float, float, u_int mask) { return (result_bits(r) & mask) != 0; }
bool oper_undefined(float, float, float, u_int) { return false; }

// ---- the statistics -------------------------------------------------------------------

enum statistic { S_MIN, S_MAX, S_MEAN, S_RMS, S_STD, S_SUM, S_VALUE, S_P2P };

const char* const stat_names[] = {"func_min", "func_max", "func_mean", "func_rms",
                                  "func_std", "func_sum", "func_value", "func_p2p"};

char* ext_dict_copy = nullptr;

bool store(xrq5_user_case_trigger* usert, float value) {
  if (usert->fresult == nullptr) {
    usert->fresult = static_cast<float*>(malloc(sizeof(float)));
    if (usert->fresult == nullptr) return true;
  }
  *usert->fresult = value;
  return false;
}

// The smallest (or largest) of the samples, starting from the first; a later sample
// wins only when strictly smaller (larger), so a tie keeps the earlier one.
template <bool smallest>
float extreme(const float* x, long long from, long long end, long long inc) {
  // Written as a selection, which maps to the minss/maxss instructions (a NaN sample
  // never wins, as with the comparison).
  float e = x[from];
  if (inc == 1) {
    for (long long i = from + 1; i < end; ++i) e = (smallest ? x[i] < e : x[i] > e) ? x[i] : e;
  } else {
    for (long long i = from + inc; i < end; i += inc)
      e = (smallest ? x[i] < e : x[i] > e) ? x[i] : e;
  }
  return e;
}

template <class F>
void each(const float* x, long long from, long long end, long long inc, F f) {
  if (inc == 1)
    for (long long i = from; i < end; ++i) f(x[i]);
  else
    for (long long i = from; i < end; i += inc) f(x[i]);
}

// One statistic over the selected samples of a spectrum; true when the range is empty.
bool spectrum_statistic(statistic s, const float* x, int ndata, float dstart, float dinc,
                        const xrq5_user_case_trigger* usert, float* value) {
  if (s == S_VALUE) {
    int index = quotient(usert->fparam[0], dstart, dinc);
    if (index < 0) index = 0;
    if (index >= ndata) return true;
    *value = x[index];
    return false;
  }
  // The step: 0 becomes 1, a negative step its absolute value (in 64 bits, so that
  // the most negative int is a step past any spectrum).
  long long inc = to_int(usert->fparam[2]);
  if (inc == 0) inc = 1;
  if (inc < 0) inc = -inc;
  int start = quotient(usert->fparam[0], dstart, dinc);
  if (start < 0) start = 0;
  if (start >= ndata) return true;
  const int last = quotient(usert->fparam[1], dstart, dinc);
  long long end = ndata;
  if (last >= 0) {
    if (last > ndata || start >= last) return true;
    end = last;
  }
  const long long n = (end - start + inc - 1) / inc;
  switch (s) {
    case S_MIN:
      *value = extreme<true>(x, start, end, inc);
      return false;
    case S_MAX:
      *value = extreme<false>(x, start, end, inc);
      return false;
    case S_P2P:
      *value = std::fabs(extreme<false>(x, start, end, inc) - extreme<true>(x, start, end, inc));
      return false;
    case S_SUM: case S_MEAN: {
      double sum = 0;
      each(x, start, end, inc, [&sum](float v) { sum += v; });
      *value = s == S_SUM ? static_cast<float>(sum) : static_cast<float>(sum) / n;
      return false;
    }
    case S_RMS: {
      double sq = 0;
      each(x, start, end, inc, [&sq](float v) { sq += static_cast<double>(v) * v; });
      *value = static_cast<float>(std::sqrt(sq / n));
      return false;
    }
    case S_STD: {
      double sum = 0;
      each(x, start, end, inc, [&sum](float v) { sum += v; });
      const double m = sum / n;
      double dev = 0;
      each(x, start, end, inc, [&dev, m](float v) { dev += (v - m) * (v - m); });
      *value = static_cast<float>(std::sqrt(dev / n));
      return false;
    }
    default:
      return true;
  }
}

// The frame shared by the eight statistics: find the value or the samples through the
// event-utility calls, reduce, store.
bool statistic_of(statistic s, void* block, xrq5_user_case_trigger* usert) {
  if (block == nullptr || usert == nullptr) return true;
  xrq5_serv_block_subhead_2010* data = static_cast<xrq5_serv_block_subhead_2010*>(block);
  const int t = get_data_structure_type(data->dtype);
  float value = 0.0f;
  if (t == XRQ5_DATA_SLOW) {
    xrq5_upd_data_block_2010* upd = nullptr;
    if (!find_upd_channel_2010(data, usert, &upd)) {
      value = upd->upd_ch_data;
    } else {
      if ((s == S_MIN || s == S_MAX) && ext_dict_copy == nullptr) {
        printf("%s: No ext env dictionary set\n", stat_names[s]);
        return true;
      }
      xrq5_env_data_block_2010* env = nullptr;
      if (find_slow_channel_2010(data, ext_dict_copy, usert, &env)) return true;
      value = env->env_ch_data;
    }
  } else if ((t & ~2) == XRQ5_DATA_SPECTRUM) {
    const float* x = get_pointer_to_data_2010(data, usert->subchannel);
    if (x == nullptr) return true;
    float dstart = 0.0f, dinc = 0.0f, groups_inc = 1.0f;
    int ndata = 0, groups = 1;
    xrq5_spect_statistics_2010* stat = nullptr;
    if (get_spect_params_for_data_type_2010(data, &dstart, &dinc, nullptr, &ndata, &groups,
                                            &groups_inc, &stat, usert->subchannel))
      return true;
    if (spectrum_statistic(s, x, ndata, dstart, dinc, usert, &value)) return true;
  } else if (t == XRQ5_DATA_NAMVAL) {
    const float* x = get_pointer_to_data_2010(data, usert->subchannel);
    if (x == nullptr) return true;
    value = *x;
  } else if (t == XRQ5_DATA_IMAGE) {
    int x = 0, y = 0, bpp = 0, ev = 0;
    unsigned char* pixels = nullptr;
    get_image_params_2010(data, &x, &y, &bpp, &ev, &pixels);
    return true;  // images give no result
  } else {
    if (s == S_MIN || s == S_MAX) {
      printf("%s: unknown data structure type\n", stat_names[s]);
      std::cout.flush();
      fflush(nullptr);
    }
    return true;
  }
  if (s == S_SUM) printf(" HERE DATA %f \n", static_cast<double>(value));
  return store(usert, value);
}

// A DIFF function: the change of its statistic since the previous result of this
// record (DIFFSUM: previous minus current); the first result only primes it.
bool difference_of(statistic s, void* block, xrq5_user_case_trigger* usert) {
  if (block == nullptr || usert == nullptr) return true;
  if (statistic_of(s, block, usert)) return true;
  const float current = *usert->fresult;
  if (usert->fprevresult == nullptr) {
    usert->fprevresult = static_cast<float*>(malloc(sizeof(float)));
    if (usert->fprevresult != nullptr) *usert->fprevresult = current;
    return true;
  }
  const float diff = s == S_SUM ? *usert->fprevresult - current : current - *usert->fprevresult;
  *usert->fprevresult = current;
  *usert->fresult = diff;
  return false;
}

template <statistic s>
bool func_stat(void* data, xrq5_user_case_trigger* usert) {
  return statistic_of(s, data, usert);
}

template <statistic s>
bool func_diff(void* data, xrq5_user_case_trigger* usert) {
  return difference_of(s, data, usert);
}

bool func_undefined(void*, xrq5_user_case_trigger*) { return true; }

// ---- the registries -------------------------------------------------------------------

const int rows = 32;
char undefined_help[] = "undefined";

#define RANGE_HELP                                                                         \
  "0:start(usec)[x0] 1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form " \
  "of ROI]"

char* functions[rows][2] = {
    {const_cast<char*>("MIN"), const_cast<char*>("minimum value  in a spectrum/image  parameters " RANGE_HELP)},
    {const_cast<char*>("MAX"), const_cast<char*>("maximum value  in a spectrum/image  parameters " RANGE_HELP)},
    {const_cast<char*>("MEAN"), const_cast<char*>("mean value    in a spectrum/image   parameters " RANGE_HELP)},
    {const_cast<char*>("RMS"), const_cast<char*>("root mean square  in a spectrum/image  parameters " RANGE_HELP)},
    {const_cast<char*>("STD"), const_cast<char*>("standard deviation in a spectrum/image parameters " RANGE_HELP)},
    {const_cast<char*>("SUM"), const_cast<char*>("sum of values  in a spectrum/image  parameters " RANGE_HELP)},
    {const_cast<char*>("VALUE"), const_cast<char*>("value in a selected position parameters 0:position(usec)[x0]  1:[y0]  none in case of slow channel")},
    {const_cast<char*>("P2P"), const_cast<char*>("peak to peak difference in a spectrum/image parameters " RANGE_HELP)},
    {const_cast<char*>("DIFFMIN"), const_cast<char*>("difference of minimum value with previous event in a spectrum/image  parameters " RANGE_HELP)},
    {const_cast<char*>("DIFFMAX"), const_cast<char*>("difference maximum value with previous event in a spectrum/image  parameters " RANGE_HELP)},
    {const_cast<char*>("DIFFMEAN"), const_cast<char*>("difference of mean value with previous event in a spectrum/image   parameters " RANGE_HELP)},
    {const_cast<char*>("DIFFRMS"), const_cast<char*>("difference of root mean square with previous event in a spectrum/image  parameters " RANGE_HELP)},
    {const_cast<char*>("DIFFSTD"), const_cast<char*>("difference of root standard deviation with previous event in a spectrum/image parameters " RANGE_HELP)},
    {const_cast<char*>("DIFFSUM"), const_cast<char*>("difference of sum of values with previous event in a spectrum/image  parameters " RANGE_HELP)},
    {const_cast<char*>("DIFFVALUE"), const_cast<char*>("difference of value in a selected position  with previous event parameters 0:position(usec)[x0]  1:[y0]  none in case of slow channel")},
    {const_cast<char*>("DIFFP2P"), const_cast<char*>("difference of peak to peak with previous event in a spectrum/image parameters " RANGE_HELP)},
    {const_cast<char*>("FUNC16"), undefined_help}, {const_cast<char*>("FUNC17"), undefined_help},
    {const_cast<char*>("FUNC18"), undefined_help}, {const_cast<char*>("FUNC19"), undefined_help},
    {const_cast<char*>("FUNC20"), undefined_help}, {const_cast<char*>("FUNC21"), undefined_help},
    {const_cast<char*>("FUNC22"), undefined_help}, {const_cast<char*>("FUNC23"), undefined_help},
    {const_cast<char*>("FUNC24"), undefined_help}, {const_cast<char*>("FUNC25"), undefined_help},
    {const_cast<char*>("FUNC26"), undefined_help}, {const_cast<char*>("FUNC27"), undefined_help},
    {const_cast<char*>("FUNC28"), undefined_help}, {const_cast<char*>("FUNC29"), undefined_help},
    {const_cast<char*>("FUNC30"), undefined_help}, {const_cast<char*>("FUNC31"), undefined_help},
};

pt2Fun pfunctions[rows] = {
    func_stat<S_MIN>,   func_stat<S_MAX>,   func_stat<S_MEAN>,   func_stat<S_RMS>,
    func_stat<S_STD>,   func_stat<S_SUM>,   func_stat<S_VALUE>,  func_stat<S_P2P>,
    func_diff<S_MIN>,   func_diff<S_MAX>,   func_diff<S_MEAN>,   func_diff<S_RMS>,
    func_diff<S_STD>,   func_diff<S_SUM>,   func_diff<S_VALUE>,  func_diff<S_P2P>,
    func_undefined, func_undefined, func_undefined, func_undefined, func_undefined,
    func_undefined, func_undefined, func_undefined, func_undefined, func_undefined,
    func_undefined, func_undefined, func_undefined, func_undefined, func_undefined,
    func_undefined};

char* operations[rows][2] = {
    {const_cast<char*>("GT"), const_cast<char*>("result >  Upper Limit (UL)")},
    {const_cast<char*>("GTE"), const_cast<char*>("result >=  Upper Limit (UL)")},
    {const_cast<char*>("EQ"), const_cast<char*>("result == Low Limit (LL)")},
    {const_cast<char*>("LTE"), const_cast<char*>("result <= Low Limit (LL)")},
    {const_cast<char*>("LT"), const_cast<char*>("result <   Low Limit (LL)")},
    {const_cast<char*>("INSIDE"), const_cast<char*>("Low Limit (LL) < result < Upper Limit (UL)")},
    {const_cast<char*>("INSIDEWITHLIMITS"), const_cast<char*>("Low Limit (LL) <= result <= Upper Limit (UL)")},
    {const_cast<char*>("OUTSIDE"), const_cast<char*>("Low Limit (LL) > result  OR result > Upper Limit (UL)")},
    {const_cast<char*>("OUTSIDEWITHLIMITS"), const_cast<char*>("Low Limit (LL) >= result OR >= Upper Limit (UL)")},
    {const_cast<char*>("AND"), const_cast<char*>("((result & bitmask) == bitmask) - all bits present")},
    {const_cast<char*>("TRUE"), const_cast<char*>("always TRUE")},
    {const_cast<char*>("FALSE"), const_cast<char*>("always FALSE")},
    {const_cast<char*>("BITS"), const_cast<char*>("(result & bitmask) - at least one bit present")},
    {const_cast<char*>("OP13"), undefined_help}, {const_cast<char*>("OP14"), undefined_help},
    {const_cast<char*>("OP15"), undefined_help}, {const_cast<char*>("OP16"), undefined_help},
    {const_cast<char*>("OP17"), undefined_help}, {const_cast<char*>("OP18"), undefined_help},
    {const_cast<char*>("OP19"), undefined_help}, {const_cast<char*>("OP20"), undefined_help},
    {const_cast<char*>("OP21"), undefined_help}, {const_cast<char*>("OP22"), undefined_help},
    {const_cast<char*>("OP23"), undefined_help}, {const_cast<char*>("OP24"), undefined_help},
    {const_cast<char*>("OP25"), undefined_help}, {const_cast<char*>("OP26"), undefined_help},
    {const_cast<char*>("OP27"), undefined_help}, {const_cast<char*>("OP28"), undefined_help},
    {const_cast<char*>("OP29"), undefined_help}, {const_cast<char*>("OP30"), undefined_help},
    {const_cast<char*>("OP31"), undefined_help},
};

pt2Op poperations[rows] = {
    oper_gt,        oper_gte,       oper_eq,        oper_lte,       oper_lt,
    oper_inside,    oper_inside_incl, oper_outside, oper_outside_incl, oper_and_mask,
    oper_true,      oper_false,     oper_bits,      oper_undefined, oper_undefined,
    oper_undefined, oper_undefined, oper_undefined, oper_undefined, oper_undefined,
    oper_undefined, oper_undefined, oper_undefined, oper_undefined, oper_undefined,
    oper_undefined, oper_undefined, oper_undefined, oper_undefined, oper_undefined,
    oper_undefined, oper_undefined};

char unknown[] = "UNKNOWN";

bool in_range(int index) { return static_cast<unsigned int>(index) < rows; }

char* help_of(char* (&table)[rows][2], int index, std::string& text) {
  if (!in_range(index)) return unknown;
  text = std::string(table[index][0] ? table[index][0] : "") + " : " +
         (table[index][1] ? table[index][1] : "");
  return &text[0];
}

int index_of(char* (&table)[rows][2], const char* name) {
  if (name == nullptr) return -1;
  for (int i = 0; i < rows; ++i)
    if (table[i][0] && strcmp(table[i][0], name) == 0) return i;
  return -1;
}

template <class Code>
int add_row(char* (&table)[rows][2], Code (&code)[rows], Code pt, char* name, char* help) {
  for (int i = 0; i < rows; ++i) {
    if (table[i][1] && strcmp(table[i][1], undefined_help) == 0) {
      table[i][0] = name;
      table[i][1] = help;
      code[i] = pt;
      return i;
    }
  }
  return -1;
}

template <class Code>
int change_row(char* (&table)[rows][2], Code (&code)[rows], Code pt, int indx, char* name,
               char* help) {
  if (!in_range(indx)) return -1;
  table[indx][0] = name;
  table[indx][1] = help;
  code[indx] = pt;
  return indx;
}

// Copies a text field up to and including its NUL, never past the field.
template <size_t N>
void copy_field(char (&to)[N], const char (&from)[N]) {
  const size_t n = strnlen(from, N - 1);
  memcpy(to, from, n);
  to[n] = '\0';
}

template <size_t N>
bool same_field(const char (&a)[N], const char (&b)[N]) {
  return strncmp(a, b, N) == 0;
}

}  // namespace

char* xrq5_get_function_string(int function) {
  return in_range(function) && functions[function][0] ? functions[function][0] : unknown;
}

char* xrq5_get_operation_string(int operation) {
  return in_range(operation) && operations[operation][0] ? operations[operation][0] : unknown;
}

char* xrq5_get_function_help(int function) {
  static std::string text;
  return help_of(functions, function, text);
}

char* xrq5_get_operation_help(int operation) {
  static std::string text;
  return help_of(operations, operation, text);
}

int xrq5_get_function_index(char* fun) { return index_of(functions, fun); }

int xrq5_get_operation_index(char* op) { return index_of(operations, op); }

int xrq5_add_user_function(pt2Fun pt, char* name, char* description) {
  return add_row(functions, pfunctions, pt, name, description);
}

int xrq5_add_user_operation(pt2Op pt, char* name, char* description) {
  return add_row(operations, poperations, pt, name, description);
}

int xrq5_change_user_function(pt2Fun pt, int indx, char* name, char* description) {
  return change_row(functions, pfunctions, pt, indx, name, description);
}

int xrq5_change_user_operation(pt2Op pt, int indx, char* name, char* description) {
  return change_row(operations, poperations, pt, indx, name, description);
}

void XRQ5_FREE_USER(xrq5_user_case_trigger* inp) {
  if (inp == nullptr) return;
  free(inp->fprevresult);
  free(inp->fresult);
  free(inp->iresult);
  free(inp);
}

bool XRQ5_USER_COPY(xrq5_user_case_trigger* inp, xrq5_user_case_trigger* outp) {
  if (inp == nullptr || outp == nullptr) return true;
  outp->function = inp->function;
  outp->low = inp->low;
  outp->operation = inp->operation;
  outp->upper = inp->upper;
  outp->bitmask = inp->bitmask;
  copy_field(outp->channel, inp->channel);
  copy_field(outp->description, inp->description);
  copy_field(outp->group, inp->group);
  outp->valid = inp->valid;
  outp->pre_mode = inp->pre_mode;
  outp->post_mode = inp->post_mode;
  outp->subchannel = inp->subchannel;
  memcpy(outp->fparam, inp->fparam, sizeof outp->fparam);
  outp->time = inp->time;
  if (inp->fresult != nullptr && outp->fresult == nullptr) {
    outp->fresult = static_cast<float*>(malloc(sizeof(float)));
    if (outp->fresult == nullptr) return true;
    *outp->fresult = *inp->fresult;
  } else if (inp->fresult == nullptr && outp->fresult != nullptr) {
    free(outp->fresult);
    outp->fresult = nullptr;
  }
  return false;
}

bool XRQ5_USER_THESAME(xrq5_user_case_trigger* inp, xrq5_user_case_trigger* outp) {
  if (inp == nullptr || outp == nullptr) return false;
  if (!same_field(inp->channel, outp->channel) || !same_field(inp->description, outp->description) ||
      !same_field(inp->group, outp->group))
    return false;
  if (inp->subchannel != outp->subchannel || inp->function != outp->function ||
      inp->operation != outp->operation || !(inp->low == outp->low) ||
      !(inp->upper == outp->upper) || inp->bitmask != outp->bitmask)
    return false;
  for (int i = 0; i < 16; ++i)
    if (!(inp->fparam[i] == outp->fparam[i])) return false;
  return true;
}

void xrq5_user_trigger_set_ext_env_dictionary(char* ptr) { ext_dict_copy = ptr; }

int xrq5_is_trigger_on(xrq5_serv_block_subhead_2010* data, xrq5_user_case_trigger* usert) {
  if (data == nullptr || usert == nullptr || !in_range(usert->function) ||
      !in_range(usert->operation))
    return -1;
  const pt2Fun f = pfunctions[usert->function];
  if (f == nullptr || f(data, usert) || usert->fresult == nullptr) return 0;
  const pt2Op op = poperations[usert->operation];
  return op != nullptr && op(*usert->fresult, usert->low, usert->upper, usert->bitmask) ? 1 : 0;
}

// ---- one event, a whole trigger list ------------------------------------------------

namespace {

std::string_view field_name(const char* s) { return std::string_view(s, strnlen(s, 256)); }

// Puts the stored dictionary back however the evaluation is left.
struct dictionary_scope {
  char* saved;
  explicit dictionary_scope(char* dict) : saved(ext_dict_copy) { ext_dict_copy = dict; }
  ~dictionary_scope() { ext_dict_copy = saved; }
  dictionary_scope(const dictionary_scope&) = delete;
  dictionary_scope& operator=(const dictionary_scope&) = delete;
};

}  // namespace

int xrq5_eval_trigger_list(std::vector<xrq5_user_case_trigger*>* list,
                           std::vector<xrq5_serv_block_subhead_2010*>* blocks, char* env_dict,
                           std::vector<xrq5_trigger_outcome>* out) {
  if (list == nullptr || blocks == nullptr || out == nullptr) return -1;
  const dictionary_scope scope(env_dict);
  // One pass over the event: the first block of each name, and the slow blocks, so that
  // a trigger costs a look-up rather than a walk of every block.
  std::unordered_map<std::string_view, xrq5_serv_block_subhead_2010*, xrq5_keyed_hasher> by_name;
  std::vector<xrq5_serv_block_subhead_2010*> slow;
  by_name.reserve(blocks->size());
  for (xrq5_serv_block_subhead_2010* b : *blocks) {
    if (b == nullptr) continue;
    by_name.emplace(field_name(b->chname), b);
    if (get_data_structure_type(b->dtype) == XRQ5_DATA_SLOW) slow.push_back(b);
  }
  out->assign(list->size(), xrq5_trigger_outcome{-1, false, false, NAN});
  int fired = 0;
  for (size_t i = 0; i < list->size(); ++i) {
    xrq5_user_case_trigger* t = (*list)[i];
    xrq5_trigger_outcome& o = (*out)[i];
    if (t == nullptr) continue;
    xrq5_serv_block_subhead_2010* b = nullptr;
    const auto named = by_name.find(field_name(t->channel));
    if (named != by_name.end()) b = named->second;
    for (size_t k = 0; b == nullptr && k < slow.size(); ++k) {
      xrq5_upd_data_block_2010* upd = nullptr;
      xrq5_env_data_block_2010* env = nullptr;
      if (!find_upd_channel_2010(slow[k], t, &upd) ||
          !find_slow_channel_2010(slow[k], env_dict, t, &env))
        b = slow[k];
    }
    if (b == nullptr) {
      o.on = 0;
      o.missing = true;
      continue;
    }
    // xrq5_is_trigger_on, keeping apart "no result" from "did not fire".
    if (!in_range(t->function) || !in_range(t->operation)) continue;
    o.on = 0;
    const pt2Fun f = pfunctions[t->function];
    if (f == nullptr || f(b, t) || t->fresult == nullptr) continue;
    o.has_result = true;
    o.result = *t->fresult;
    const pt2Op op = poperations[t->operation];
    if (op != nullptr && op(o.result, t->low, t->upper, t->bitmask)) {
      o.on = 1;
      ++fired;
    }
  }
  return fired;
}

// ---- trigger lists in XML -----------------------------------------------------------

namespace {

const char* const trig_tags[] = {"XRQ5USERTRIGGERLIST", "USERTRIGGER", "Chan", "Function",
                                 "Operation", "LowLimit", "UpperLimit", "BitMask", "Creation",
                                 "Description", "PreMode", "Group", "PostMode"};

// Names of fparam element r, tried left to right (null entries never match).
const char* const tags_aliasses[16][5] = {
    {"param0", "start", "x0", "position", nullptr},
    {"param1", "end", "y0", nullptr, nullptr},
    {"param2", "incr", "halfwidthX", "a", nullptr},
    {"param3", "halfwidthY", "b", nullptr, nullptr},
    {"param4", "form", nullptr, nullptr, nullptr},
    {"param5", nullptr, nullptr, nullptr, nullptr},
    {"param6", nullptr, nullptr, nullptr, nullptr},
    {"param7", nullptr, nullptr, nullptr, nullptr},
    {"param8", nullptr, nullptr, nullptr, nullptr},
    {"param9", nullptr, nullptr, nullptr, nullptr},
    {"param10", nullptr, nullptr, nullptr, nullptr},
    {"param11", nullptr, nullptr, nullptr, nullptr},
    {"param12", nullptr, nullptr, nullptr, nullptr},
    {"param13", nullptr, nullptr, nullptr, nullptr},
    {"param14", nullptr, nullptr, nullptr, nullptr},
    {"param15", nullptr, nullptr, nullptr, nullptr},
};

// Number conversions that leave the field as it is when the text holds no number.
void read_int(const char* text, int* field) {
  xrq5_internal::read_number(text, xrq5_internal::number_form::int_saturated, field);
}

// PreMode is written with "%u", so a negative number comes back above INT_MAX: the
// 32-bit pattern is the number.
void read_events(const char* text, int* field) {
  xrq5_internal::read_number(text, xrq5_internal::number_form::int_or_u32_pattern, field);
}

void read_float(const char* text, float* field) {
  if (text == nullptr) return;
  char* end = nullptr;
  const float v = strtof(text, &end);
  if (end != text) *field = v;
}

const xrq5_read::element_table trigger_elements = {
    {trig_tags[USER_TRIG_TRIGGER], USER_TRIG_TRIGGER}, {trig_tags[USER_TRIG_CHANNEL], USER_TRIG_CHANNEL},
    {trig_tags[USER_TRIG_FUNC], USER_TRIG_FUNC},       {trig_tags[USER_TRIG_OP], USER_TRIG_OP},
    {trig_tags[USER_TRIG_LL], USER_TRIG_LL},           {trig_tags[USER_TRIG_UL], USER_TRIG_UL},
    {trig_tags[USER_TRIG_BIT_MASK], USER_TRIG_BIT_MASK}, {trig_tags[USER_TRIG_DESCR], USER_TRIG_DESCR},
    {trig_tags[USER_TRIG_PREMODE], USER_TRIG_PREMODE}, {trig_tags[USER_TRIG_GROUP], USER_TRIG_GROUP},
    {trig_tags[USER_TRIG_POSTMODE], USER_TRIG_POSTMODE}};

// One read of a trigger list into a list of records.
class trigger_reader {
 public:
  explicit trigger_reader(std::vector<xrq5_user_case_trigger*>* list) : list_(list) {}
  ~trigger_reader() { XRQ5_FREE_USER(ent_); }

  static bool is_root(const char* tag) {
    if (tag != nullptr && strcmp(tag, trig_tags[USER_TRIG_ROOT]) == 0) return true;
    const std::string m = std::string("WRONG root tag: '") + (tag ? tag : "") + "' must be '" +
                          trig_tags[USER_TRIG_ROOT] + "'";
    if (!xrq5_sax::tell(XRQ5_SEVERITY_ERROR, m)) std::cerr << m << "\n";
    return false;
  }

  void step(const xrq5_read::step& s) {
    if (s.tag == nullptr || failed_) return;
    if (s.element == USER_TRIG_TRIGGER) {
      // <USERTRIGGER></USERTRIGGER> arrives in two steps of one element: one record.
      if (s.new_element) new_record();
      return;
    }
    if (ent_ == nullptr) return;  // before the first USERTRIGGER
    auto attr = [&s](const char* name) { return s.attr(name); };
    xrq5_user_case_trigger& t = *ent_;
    switch (s.element) {
      case USER_TRIG_CHANNEL:
        xrq5_internal::copy_field(t.channel, attr("name"));
        read_int(attr("subchan"), &t.subchannel);
        break;
      case USER_TRIG_DESCR: xrq5_internal::copy_field(t.description, attr("text")); break;
      case USER_TRIG_GROUP: xrq5_internal::copy_field(t.group, attr("name")); break;
      case USER_TRIG_PREMODE: read_events(attr("events"), &t.pre_mode); break;
      case USER_TRIG_FUNC: {
        for (int r = 0; r < 16; ++r) {
          for (const char* alias : tags_aliasses[r]) {
            const char* v = alias ? attr(alias) : nullptr;
            if (v != nullptr) {
              read_float(v, &t.fparam[r]);
              break;
            }
          }
        }
        const char* name = attr("name");
        const int f = name ? xrq5_get_function_index(const_cast<char*>(name)) : -1;
        if (f >= 0) t.function = f;
        break;
      }
      case USER_TRIG_OP: {
        const char* name = attr("name");
        const int o = name ? xrq5_get_operation_index(const_cast<char*>(name)) : -1;
        if (o >= 0) t.operation = o;
        break;
      }
      case USER_TRIG_LL: read_float(attr("value"), &t.low); break;
      case USER_TRIG_UL: read_float(attr("value"), &t.upper); break;
      case USER_TRIG_BIT_MASK: {
        const char* v = attr("mask");
        u_int mask;
        if (v != nullptr && sscanf(v, "0x%X", &mask) == 1) t.bitmask = mask;
        break;
      }
      case USER_TRIG_POSTMODE: read_int(attr("events"), &t.post_mode); break;
      default: break;
    }
  }

  // After the last step: the record under construction joins the list.
  void finish() { append(); }

  bool failed() const { return failed_; }

 private:
  void append() {
    if (ent_ == nullptr) return;
    list_->push_back(ent_);
    ent_ = nullptr;
  }

  void new_record() {
    append();
    ent_ = static_cast<xrq5_user_case_trigger*>(calloc(1, sizeof(xrq5_user_case_trigger)));
    if (ent_ == nullptr) {
      printf("Failed to allocate memory for xrq5_user_case_trigger\n");
      failed_ = true;
      return;
    }
    ent_->function = 2;  // MEAN
    ent_->time = time(nullptr);
  }

  std::vector<xrq5_user_case_trigger*>* list_;
  xrq5_user_case_trigger* ent_ = nullptr;
  bool failed_ = false;
};

template <class Parser>
bool read_trigger_list(char* source, std::vector<xrq5_user_case_trigger*>* list) {
  if (source == nullptr || list == nullptr) return true;
  trigger_reader reader(list);
  const xrq5_read::outcome r = xrq5_read::read<Parser>(
      source, trigger_elements, trigger_reader::is_root,
      [&reader](const xrq5_read::step& s) { reader.step(s); });
  reader.finish();
  return r.at != xrq5_read::read_done || r.errors != 0 || reader.failed();
}

const xrq5_output::messages trigger_messages = {
    "dump_user_trigger_list() failed to open file: '", "dump_user_trigger_list()  file: '",
    "dump_user_trigger_list()  write failed", "dump_user_trigger_list() failed to write file: '"};

// The XML group of one trigger. Texts are escaped and encoded for the declaration.
void trigger_xml(std::string& body, const xrq5_user_case_trigger& t) {
  std::vector<std::string> texts;  // the values of one element
  std::vector<char*> names, values;
  texts.reserve(17);
  auto attr = [&](const char* name, std::string value) {
    names.push_back(const_cast<char*>(name));
    texts.push_back(std::move(value));
  };
  auto text = [&](const char* name, const char* value, size_t cap) {
    attr(name, xrq5_output::attribute(std::string_view(value, strnlen(value, cap))));
  };
  auto number = [&](const char* name, const char* format, auto v) {
    char num[64];
    snprintf(num, sizeof num, format, v);
    attr(name, num);
  };
  auto real = [&](const char* name, float v) {
    char num[64];
    attr(name, std::string(num, static_cast<size_t>(xrq5_output::format_float(num, v))));
  };
  auto element = [&](int tag) {
    for (std::string& v : texts) values.push_back(&v[0]);
    START_TAG_ATTRN(body, trig_tags[tag], &names, &values);
    names.clear();
    values.clear();
    texts.clear();
  };
  START_TAGN(body, trig_tags[USER_TRIG_TRIGGER]);
  text("name", t.channel, sizeof t.channel);
  number("subchan", "%d", t.subchannel);
  element(USER_TRIG_CHANNEL);
  text("name", xrq5_get_function_string(t.function), 256);
  static const char* const params[16] = {"param0",  "param1",  "param2",  "param3",
                                         "param4",  "param5",  "param6",  "param7",
                                         "param8",  "param9",  "param10", "param11",
                                         "param12", "param13", "param14", "param15"};
  for (int k = 0; k < 16; ++k) real(params[k], t.fparam[k]);
  element(USER_TRIG_FUNC);
  text("name", xrq5_get_operation_string(t.operation), 256);
  element(USER_TRIG_OP);
  real("value", t.low);
  element(USER_TRIG_LL);
  real("value", t.upper);
  element(USER_TRIG_UL);
  number("mask", "0x%X", t.bitmask);
  element(USER_TRIG_BIT_MASK);
  number("time", "%u", static_cast<unsigned int>(t.time));
  element(USER_TRIG_TIME);
  text("text", t.description, sizeof t.description);
  element(USER_TRIG_DESCR);
  number("events", "%u", static_cast<unsigned int>(t.pre_mode));
  element(USER_TRIG_PREMODE);
  number("events", "%d", t.post_mode);
  element(USER_TRIG_POSTMODE);
  text("name", t.group, sizeof t.group);
  element(USER_TRIG_GROUP);
  END_TAGN(body, trig_tags[USER_TRIG_TRIGGER]);
}

void trigger_screen(int i, const xrq5_user_case_trigger& t) {
  char k_text[64];
  std::cout << "-------------- " << i << " -----------------" << std::endl;
  std::cout << " Channel: " << std::string(t.channel, strnlen(t.channel, sizeof t.channel))
            << "\tsubchannel: " << t.subchannel << std::endl;
  std::cout << " Function: " << xrq5_get_function_string(t.function) << std::endl;
  std::cout << " Parameters: " << std::endl;
  for (int k = 0; k < 16; ++k) {
    snprintf(k_text, sizeof k_text, "[%d]:%f\t", k, static_cast<double>(t.fparam[k]));
    std::cout << k_text;
  }
  std::cout << std::endl;
  std::cout << " Operation: " << xrq5_get_operation_string(t.operation) << std::endl;
  std::cout << " Limits: " << std::endl;
  std::cout << " Low: " << t.low << "\t" << "Upper: " << t.upper << std::endl;
  snprintf(k_text, sizeof k_text, "BitMask: 0x%X\n", t.bitmask);
  std::cout << k_text;
}

void trigger_text(FILE* f, const xrq5_user_case_trigger& t) {
  fprintf(f, "%.*s\t%d\t%s\n", static_cast<int>(strnlen(t.channel, sizeof t.channel)),
          t.channel, t.subchannel, xrq5_get_function_string(t.function));
  for (int k = 0; k < 16; ++k) fprintf(f, "[%d]:%f\t", k, static_cast<double>(t.fparam[k]));
  fprintf(f, "\n%s\n", xrq5_get_operation_string(t.operation));
  fprintf(f, "%f\t%f\t0x%X\n", static_cast<double>(t.low), static_cast<double>(t.upper),
          t.bitmask);
}

}  // namespace

bool parse_trigger_list_read(char* xml, std::vector<xrq5_user_case_trigger*>* list) {
  return read_trigger_list<SAX_Memory_Parser>(xml, list);
}

bool parse_trigger_list_readf(char* file, std::vector<xrq5_user_case_trigger*>* list) {
  return read_trigger_list<SAX_File_Parser>(file, list);
}

int dump_user_trigger_list(std::vector<xrq5_user_case_trigger*>* list, char* file_name, int mode,
                           int fd, std::string* xml_str) {
  if (list == nullptr) {
    printf("dump_user_trigger_list() invalid argument: '\n");
    return USER_TRIG_FAILED;
  }
  xrq5_output::output out(trigger_messages);
  if (!out.open(file_name)) return USER_TRIG_OPEN_FAILED;
  FILE* f = out.file();
  // The document is built in one string, declaration first.
  std::string body;
  const bool xml = mode == USER_TRIG_DUMP_XML_FILE || mode == USER_TRIG_DUMP_XML_STRING;
  if (xml) {
    set_xml_header(body);
    body.reserve(body.size() + 128 + 1024 * list->size());
  }
  START_TAGN(body, trig_tags[USER_TRIG_ROOT]);
  add_iso_date(body);
  const bool screen = out.screen(xml_str, fd);
  int i = 0;
  for (const xrq5_user_case_trigger* t : *list) {
    ++i;
    if (screen)
      trigger_screen(i, *t);
    else if (mode == USER_TRIG_DUMP_TXT_FILE && f != nullptr)
      trigger_text(f, *t);
    else if (xml)
      trigger_xml(body, *t);
  }
  std::cout.flush();
  int result = 0;
  if (xml) {
    END_TAGN(body, trig_tags[USER_TRIG_ROOT]);
    if (mode == USER_TRIG_DUMP_XML_FILE) {
      if (!out.put(body, fd)) result = USER_TRIG_FAILED;
    } else if (xml_str != nullptr) {
      xml_str->swap(body);
    }
  }
  if (!out.close(result == 0)) result = USER_TRIG_FAILED;
  return result;
}

int dump_user_triggers(char* xml, char* file_name, int mode, int fd) {
  std::vector<xrq5_user_case_trigger*> list;
  int r;
  if (parse_trigger_list_read(xml, &list)) {
    printf("Failed to parse USER TRIGGER list\n");
    r = USER_TRIG_READ_FAILED;
  } else {
    r = dump_user_trigger_list(&list, file_name, mode, fd, nullptr);
  }
  for (xrq5_user_case_trigger* t : list) XRQ5_FREE_USER(t);
  return r;
}

int get_user_trigger_empty_header(std::string* xml_str) {
  if (xml_str == nullptr) {
    printf("get_user_trigger_empty_header() invalid argument: '\n");
    return USER_TRIG_FAILED;
  }
  std::string body;
  START_TAGN(body, trig_tags[USER_TRIG_ROOT]);
  add_iso_date(body);
  END_TAGN(body, trig_tags[USER_TRIG_ROOT]);
  set_xml_header(*xml_str);
  *xml_str += body;
  return 0;
}
