// Reads an event list and says which event types it asks for, and names the default
// trigger function of a trigger list. Both include forms work: the header's own name
// (with the XRQ5 folder on the include path) and <XRQ5/...>.
#include <cstdio>
#include <vector>

#include <XRQ5/user_case_trigger.h>
#include <XRQ5/xrq5_version.h>

#include "event_util.h"
#include "parse_ev_list.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: consumer EVENT_LIST.xml\n");
    return 2;
  }
  std::vector<xrq5_ev_entry*> list;
  const int r = xrq5_parse_ev_list_readf(argv[1], &list);
  printf("%zu event types:", list.size());
  for (const xrq5_ev_entry* e : list) printf(" %s", event_name_itoa(e->evtype));
  printf("\ndefault trigger function: %s\n", xrq5_get_function_string(2));
  printf("built with %s, running with %s\n", XRQ5_VERSION_STRING, xrq5_library_version());
  xrq5_clean_ev_list(&list);
  return r == 0 ? 0 : 1;
}
