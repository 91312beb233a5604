// Adding and changing registry rows. The registries are process-wide, so these tests
// run in a program of their own and each leaves the rows as it found them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "event_builder.h"
#include "trigger_records.h"
#include "user_case_trigger.h"

namespace {

bool never(void*, xrq5_user_case_trigger*) { return true; }
bool forty_two(void*, xrq5_user_case_trigger* t) {
  if (t->fresult == nullptr) t->fresult = static_cast<float*>(malloc(sizeof(float)));
  *t->fresult = 42.0f;
  return false;
}
bool op_never(float, float, float, u_int) { return false; }
bool op_always(float, float, float, u_int) { return true; }
bool op_gt(float r, float, float upper, u_int) { return r > upper; }

char undefined[] = "undefined";

TEST(trigger_registry, add_takes_the_lowest_free_row_until_full) {
  std::vector<std::string> names;
  for (int i = 0; i < 17; ++i) names.push_back("MYF" + std::to_string(i));
  EXPECT_EQ(xrq5_add_user_function(forty_two, &names[0][0], const_cast<char*>("mine")), 16);
  // A row given the help text "undefined" stays free.
  EXPECT_EQ(xrq5_change_user_function(forty_two, 16, &names[0][0], undefined), 16);
  EXPECT_EQ(xrq5_add_user_function(forty_two, &names[1][0], const_cast<char*>("mine")), 16);
  for (int i = 2; i < 17; ++i)
    EXPECT_EQ(xrq5_add_user_function(forty_two, &names[i][0], const_cast<char*>("mine")), 15 + i);
  EXPECT_EQ(xrq5_add_user_function(forty_two, &names[16][0], const_cast<char*>("mine")), -1);
  EXPECT_EQ(xrq5_get_function_index(&names[1][0]), 16);

  std::vector<char> b;
  xrq5_evb_add_namval(b, "NV", XRQ5_BLOCK_1CHAN_2010, {1.0f});
  auto t = xrq5_test::make_trigger("NV", 20, 10);
  EXPECT_EQ(xrq5_is_trigger_on(reinterpret_cast<xrq5_serv_block_subhead_2010*>(b.data()), t.get()), 1);
  EXPECT_EQ(*t->fresult, 42.0f);

  static std::vector<std::string> restore;
  for (int i = 16; i < 32; ++i) restore.push_back("FUNC" + std::to_string(i));
  for (int i = 16; i < 32; ++i)
    xrq5_change_user_function(never, i, &restore[i - 16][0], undefined);
}

TEST(trigger_registry, operations_add_from_13_and_change_any_row) {
  EXPECT_EQ(xrq5_add_user_operation(op_always, const_cast<char*>("ALWAYS"), const_cast<char*>("a")), 13);
  int last = 13;
  for (int i = 0; i < 18; ++i) last = xrq5_add_user_operation(op_always, const_cast<char*>("X"), const_cast<char*>("x"));
  EXPECT_EQ(last, 31);
  EXPECT_EQ(xrq5_add_user_operation(op_always, const_cast<char*>("X"), const_cast<char*>("x")), -1);

  EXPECT_EQ(xrq5_change_user_operation(op_never, 0, const_cast<char*>("NEVER"), const_cast<char*>("n")), 0);
  EXPECT_STREQ(xrq5_get_operation_string(0), "NEVER");
  EXPECT_EQ(xrq5_change_user_operation(op_never, 32, const_cast<char*>("NO"), const_cast<char*>("n")), -1);
  EXPECT_EQ(xrq5_change_user_operation(op_never, -1, const_cast<char*>("NO"), const_cast<char*>("n")), -1);
  EXPECT_EQ(xrq5_get_operation_index(const_cast<char*>("NO")), -1);
  // A user row named like a built-in one is never found by name.
  EXPECT_EQ(xrq5_get_operation_index(const_cast<char*>("TRUE")), 10);

  static std::vector<std::string> restore;
  for (int i = 13; i < 32; ++i) restore.push_back("OP" + std::to_string(i));
  for (int i = 13; i < 32; ++i) xrq5_change_user_operation(op_never, i, &restore[i - 13][0], undefined);
  xrq5_change_user_operation(op_gt, 0, const_cast<char*>("GT"),
                             const_cast<char*>("result >  Upper Limit (UL)"));
}

}  // namespace
