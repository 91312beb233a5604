// A program that defines an event-utility function itself takes the place of
// libXRQ5evutl's, as the framework's own library would: the libraries reach these
// functions only through ordinary dynamic linking.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "event_util.h"
#include "parse_ev_list.h"
#include "test_support.h"

extern "C" const char* event_name_itoa(int ev_type) {
  static char name[32];
  snprintf(name, sizeof name, "FRAMEWORK_%d", ev_type);
  return name;
}

TEST(evutl_interpose, program_definition_replaces_the_library) {
  std::vector<char> doc(std::begin("<BMR><EVENT><TYPE>5</TYPE></EVENT></BMR>"),
                        std::end("<BMR><EVENT><TYPE>5</TYPE></EVENT></BMR>"));
  std::vector<xrq5_ev_entry*> list;
  ASSERT_EQ(xrq5_parse_ev_list_read(doc.data(), &list), 0);
  xrq5_test::capture cap;
  xrq5_print_ev_list(&list);
  cap.stop();
  xrq5_clean_ev_list(&list);
  EXPECT_NE(cap.out().find("EVENT TYPE:\tFRAMEWORK_5\n"), std::string::npos) << cap.out();
}
