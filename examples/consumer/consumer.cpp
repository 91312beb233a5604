// Reads an event list and says which event types it asks for, and names the default
// trigger function of a trigger list.
#include <cstdio>
#include <vector>

#include "event_util.h"
#include "parse_ev_list.h"
#include "user_case_trigger.h"

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
  xrq5_clean_ev_list(&list);
  return r == 0 ? 0 : 1;
}
