// User-case triggers (libXRQ5USERTRIG): a condition on the data of one channel in one
// event. A function reduces the channel's data (a slow value, a spectrum range, a
// name/value entry) to one float, and an operation compares it with the record's
// limits or bit mask. Functions and operations live in two process-wide registries of
// 32 rows each, which callers may extend or change before they evaluate triggers;
// nothing here is locked.
#ifndef XRQ5_USER_CASE_TRIGGER_H
#define XRQ5_USER_CASE_TRIGGER_H

#include <sys/types.h>

#include <ctime>

#include "event.h"

// One trigger. Records are heap blocks from calloc (the list readers make them so) and
// are released with XRQ5_FREE_USER, which also frees the three result cells; texts
// are NUL-terminated, longer ones cut to 255 characters.
struct xrq5_user_case_trigger {
  char channel[256];   // the channel (property) whose data the trigger examines
  int subchannel;      // sub-channel inside the channel's block
  int function;        // function registry row, 0..31
  float fparam[16];    // function parameters: [0] start, [1] end, [2] step of a range
  float low;           // low limit (LL)
  float upper;         // upper limit (UL)
  u_int bitmask;       // mask of AND and BITS
  int operation;       // operation registry row, 0..31
  time_t time;         // creation time
  char description[256];
  int pre_mode;        // carried for the caller, never interpreted
  char group[256];
  int post_mode;       // carried for the caller, never interpreted
  int valid;           // for the caller; 0 in records read from XML
  float* fprevresult;  // one float: the previous plain result (DIFF functions only)
  float* fresult;      // one float: the latest result, made by the first evaluation
  u_int* iresult;      // one int, reserved
};

// A function: false after storing its result in *usert->fresult (making the cell when
// it is null), true when it produced no result. `data` is the channel's
// xrq5_serv_block_subhead_2010 in the current event.
typedef bool (*pt2Fun)(void* data, xrq5_user_case_trigger* usert);

// An operation: true when the condition holds.
typedef bool (*pt2Op)(float result, float low, float upper, u_int bitmask);

// Row names and "name : help" texts; "UNKNOWN" outside 0..31. The help text stays valid
// until the next call of the same function.
char* xrq5_get_function_string(int function);
char* xrq5_get_operation_string(int operation);
char* xrq5_get_function_help(int function);
char* xrq5_get_operation_help(int operation);

// Lowest row whose name equals the argument exactly; -1 when none does.
int xrq5_get_function_index(char* fun);
int xrq5_get_operation_index(char* op);

// Stores pt, name and description (not copied: they must outlive their use) in the
// free row (help text "undefined") of lowest index; returns it, or -1 when none is free.
int xrq5_add_user_function(pt2Fun pt, char* name, char* description);
int xrq5_add_user_operation(pt2Op pt, char* name, char* description);

// Stores pt, name and description in row indx, built-in rows included; returns indx,
// or -1 with nothing changed when indx is outside 0..31.
int xrq5_change_user_function(pt2Fun pt, int indx, char* name, char* description);
int xrq5_change_user_operation(pt2Op pt, int indx, char* name, char* description);

// Frees the result cells and the record; nothing for null.
void XRQ5_FREE_USER(xrq5_user_case_trigger* inp);

// Copies the settings of inp into outp (limits, mask, texts, modes, valid, sub-channel,
// parameters, time). outp gets a result cell holding inp's value when it had none;
// a cell it has keeps its value; its cell is freed when inp has none. fprevresult and
// iresult of outp are not touched. False when done; true for a null record or when a
// cell cannot be allocated.
bool XRQ5_USER_COPY(xrq5_user_case_trigger* inp, xrq5_user_case_trigger* outp);

// True when both records have the same channel, description, group, sub-channel,
// function, operation, limits (exact; NaN never equals), mask and parameters; time,
// modes, valid and result cells are not compared. False for null.
bool XRQ5_USER_THESAME(xrq5_user_case_trigger* inp, xrq5_user_case_trigger* outp);

// The environment dictionary handed to the slow-channel look-up (its form is described
// in event_util.h). Stored, not copied; null clears it.
void xrq5_user_trigger_set_ext_env_dictionary(char* ptr);

// Evaluates one trigger against the block of its channel: 1 when it fires, 0 when it
// does not or its function gave no result, -1 for a null argument or a function or
// operation outside 0..31. Allocates only the record's result cells, once.
int xrq5_is_trigger_on(xrq5_serv_block_subhead_2010* data, xrq5_user_case_trigger* usert);

#endif  // XRQ5_USER_CASE_TRIGGER_H
