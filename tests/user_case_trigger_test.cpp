// Trigger evaluation over blocks built in the stand-in's layout, the operations at
// their edges, and the record calls. Registry changes have a test program of their own.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "event_builder.h"
#include "test_support.h"
#include "trigger_records.h"
#include "user_case_trigger.h"

namespace {

using xrq5_test::capture;
using xrq5_test::make_trigger;
using xrq5_test::trigger_ptr;

enum fn { MIN, MAX, MEAN, RMS, STD, SUM, VALUE, P2P, DIFFMIN, DIFFMAX, DIFFMEAN, DIFFRMS,
          DIFFSTD, DIFFSUM, DIFFVALUE, DIFFP2P };
enum op { GT, GTE, EQ, LTE, LT, INSIDE, INSIDE_INCL, OUTSIDE, OUTSIDE_INCL, AND, TRUE_, FALSE_,
          BITS };

const float nan_ = std::numeric_limits<float>::quiet_NaN();

xrq5_serv_block_subhead_2010* head(std::vector<char>& b) {
  return reinterpret_cast<xrq5_serv_block_subhead_2010*>(b.data());
}

// A spectrum of 10 samples equal to their index, dstart 0, dinc 1 (and a second
// sub-channel of ten 100s).
std::vector<char> ramp() {
  std::vector<char> b;
  xrq5_evb_spectrum s{0.0f, 1.0f, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}};
  xrq5_evb_spectrum t{0.0f, 1.0f, std::vector<float>(10, 100.0f)};
  xrq5_evb_add_spectrum(b, "SPECT", XRQ5_BLOCK_TOROID_2010, {s, t});
  return b;
}

// The function result of one evaluation, or NaN when it gave none.
float result_of(std::vector<char>& block, xrq5_user_case_trigger* t) {
  t->operation = TRUE_;
  return xrq5_is_trigger_on(head(block), t) == 1 ? *t->fresult : nan_;
}

TEST(trigger_range, rules_over_a_ramp) {
  std::vector<char> b = ramp();
  struct {
    int function;
    std::initializer_list<float> fparam;
    float expected;  // NaN: no result
  } cases[] = {
      {MEAN, {2, 6, 1}, 3.5f},   {MEAN, {2, 6, 2}, 3.0f},    {MEAN, {2, 6, -2}, 3.0f},
      {MEAN, {2, -1, 1}, 5.5f},  {MEAN, {2, 11, 1}, nan_},   {MEAN, {4, 4, 1}, nan_},
      {MEAN, {10, -1, 1}, nan_}, {MEAN, {-5, 2, 1}, 0.5f},   {MEAN, {2, 10, 0}, 5.5f},
      {MEAN, {2, 6, 0.9f}, 3.5f}, {MEAN, {nan_, 3, 1}, 1.0f}, {MEAN, {2, nan_, 1}, 5.5f},
      {MEAN, {2, 6, nan_}, 2.0f}, {MEAN, {2, 6, 3e9f}, 2.0f}, {MIN, {5, -1, 1}, 5.0f},
      {MAX, {5, -1, 1}, 9.0f},   {P2P, {5, -1, 1}, 4.0f},    {SUM, {0, -1, 1}, 45.0f},
      {VALUE, {3.7f}, 3.0f},     {VALUE, {-3}, 0.0f},        {VALUE, {10}, nan_},
      {RMS, {3, 5, 1}, std::sqrt(12.5f)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.function) + " " + std::to_string(*c.fparam.begin()));
    trigger_ptr t = make_trigger("SPECT", c.function, TRUE_, c.fparam);
    capture quiet;  // SUM prints its value
    const float got = result_of(b, t.get());
    quiet.stop();
    if (std::isnan(c.expected))
      EXPECT_TRUE(std::isnan(got)) << got;
    else
      EXPECT_FLOAT_EQ(got, c.expected);
  }
}

TEST(trigger_range, zero_step_of_samples_means_the_whole_spectrum) {
  std::vector<char> b;
  xrq5_evb_add_spectrum(b, "S", XRQ5_BLOCK_MCP_2010, {{0.0f, 0.0f, {2, 4, 4, 4, 5, 5, 7, 9}}});
  trigger_ptr t = make_trigger("S", STD, TRUE_, {3, 4, 1});
  EXPECT_FLOAT_EQ(result_of(b, t.get()), 2.0f) << "dinc 0: every quotient is negative";
}

TEST(trigger_range, subchannel_selects_its_spectrum) {
  std::vector<char> b = ramp();
  trigger_ptr t = make_trigger("SPECT", MEAN, TRUE_, {0, -1, 1});
  t->subchannel = 1;
  EXPECT_FLOAT_EQ(result_of(b, t.get()), 100.0f);
  t->subchannel = 2;
  EXPECT_TRUE(std::isnan(result_of(b, t.get())));
}

TEST(trigger_sum, prints_its_value_for_every_result) {
  std::vector<char> b = ramp();
  trigger_ptr t = make_trigger("SPECT", SUM, TRUE_, {1, 3, 1});
  capture cap;
  xrq5_is_trigger_on(head(b), t.get());
  cap.stop();
  EXPECT_EQ(cap.out(), " HERE DATA 3.000000 \n");
}

// Each operation on a name/value block whose value is the result.
TEST(trigger_operations, conditions_at_their_edges) {
  struct {
    int operation;
    float result, low, upper;
    u_int mask;
    int fires;
  } cases[] = {
      {GT, 2, 0, 2, 0, 0},          {GT, 2.5f, 0, 2, 0, 1},      {GTE, 2, 9, 2, 0, 1},
      {EQ, 1.0f, 1.0000001f, 0, 0, 0}, {EQ, 1.0f, 1.0f, 7, 0, 1}, {LTE, 1, 1, 0, 0, 1},
      {LT, 1, 1, 0, 0, 0},          {INSIDE, 1, 1, 2, 0, 0},     {INSIDE_INCL, 1, 1, 2, 0, 1},
      {OUTSIDE, 1, 1, 2, 0, 0},     {OUTSIDE_INCL, 2, 1, 2, 0, 1}, {OUTSIDE, 3, 1, 2, 0, 1},
      {AND, 7.9f, 0, 0, 6, 1},      {AND, 5.0f, 0, 0, 6, 0},     {BITS, 5.0f, 0, 0, 6, 1},
      {BITS, 8.0f, 0, 0, 6, 0},     {AND, -1.0f, 0, 0, 0xFFFFFFFF, 1},
      {AND, -2.9f, 0, 0, 0xFFFFFFFE, 1}, {AND, 4294967296.0f, 0, 0, 1, 0},
      {AND, 1e30f, 0, 0, 0, 1},     {BITS, 1e30f, 0, 0, 0xFFFFFFFF, 0},
      {BITS, nan_, 0, 0, 0xFFFFFFFF, 0}, {GT, nan_, 0, -1, 0, 0}, {OUTSIDE, nan_, 0, 0, 0, 0},
      {LTE, nan_, nan_, 0, 0, 0},   {TRUE_, nan_, 0, 0, 0, 1},   {FALSE_, 1, 0, 0, 0, 0},
      {13, 1, 0, 0, 0, 0},          {31, 1, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.operation) + " " + std::to_string(c.result));
    std::vector<char> b;
    xrq5_evb_add_namval(b, "NV", XRQ5_BLOCK_1CHAN_2010, {c.result});
    trigger_ptr t = make_trigger("NV", VALUE, c.operation, {}, c.low, c.upper, c.mask);
    EXPECT_EQ(xrq5_is_trigger_on(head(b), t.get()), c.fires);
  }
}

TEST(trigger_evaluation, argument_and_index_checks) {
  std::vector<char> b;
  xrq5_evb_add_namval(b, "NV", XRQ5_BLOCK_1CHAN_2010, {1.0f});
  trigger_ptr t = make_trigger("NV", 16, TRUE_);
  EXPECT_EQ(xrq5_is_trigger_on(head(b), t.get()), 0) << "a free row gives no result";
  t->function = 32;
  EXPECT_EQ(xrq5_is_trigger_on(head(b), t.get()), -1);
  t->function = VALUE;
  t->operation = -1;
  EXPECT_EQ(xrq5_is_trigger_on(head(b), t.get()), -1);
  EXPECT_EQ(xrq5_is_trigger_on(nullptr, t.get()), -1);
  EXPECT_EQ(xrq5_is_trigger_on(head(b), nullptr), -1);
}

TEST(trigger_diff, differences_over_three_events) {
  trigger_ptr mean = make_trigger("NV", DIFFMEAN, GT, {}, 0, 0.5f);
  trigger_ptr sum = make_trigger("NV", DIFFSUM, GT, {}, 0, 0.5f);
  const float values[] = {1.0f, 3.0f, 2.0f};
  int mean_fires[3], sum_fires[3];
  float mean_results[3], sum_results[3];
  capture quiet;
  for (int e = 0; e < 3; ++e) {
    std::vector<char> b;
    xrq5_evb_add_namval(b, "NV", XRQ5_BLOCK_1CHAN_2010, {values[e]});
    mean_fires[e] = xrq5_is_trigger_on(head(b), mean.get());
    mean_results[e] = *mean->fresult;
    sum_fires[e] = xrq5_is_trigger_on(head(b), sum.get());
    sum_results[e] = *sum->fresult;
  }
  quiet.stop();
  EXPECT_EQ(mean_fires[0], 0) << "the first event never fires";
  EXPECT_EQ(mean_results[0], 1.0f) << "and leaves the plain value";
  EXPECT_EQ(mean_fires[1], 1);
  EXPECT_EQ(mean_results[1], 2.0f);
  EXPECT_EQ(mean_fires[2], 0);
  EXPECT_EQ(mean_results[2], -1.0f);
  EXPECT_EQ(sum_results[1], -2.0f) << "DIFFSUM is previous minus current";
  EXPECT_EQ(sum_fires[2], 1);
  EXPECT_EQ(sum_results[2], 1.0f);
  EXPECT_EQ(*sum->fprevresult, 2.0f);
}

TEST(trigger_slow, update_records_and_the_dictionary) {
  std::vector<char> upd, env, dict;
  xrq5_evb_add_updates(upd, "UPD", XRQ5_UPD_BLOCK_2010,
                       {xrq5_evb_update("VAC.P1", 3e-9f), xrq5_evb_update("VAC.P2", 5e-9f)});
  xrq5_evb_add_envs(env, "ENV", XRQ5_ENV_BLOCK_2010, {xrq5_evb_env(4, 21.5f)});
  xrq5_evb_add_env_dict(dict, {{4, "TEMP.HALL"}});
  trigger_ptr p2 = make_trigger("VAC.P2", MEAN, GT, {}, 0, 4e-9f);
  EXPECT_EQ(xrq5_is_trigger_on(head(upd), p2.get()), 1);
  EXPECT_EQ(*p2->fresult, 5e-9f);

  trigger_ptr temp = make_trigger("TEMP.HALL", MIN, GT, {}, 0, 20.0f);
  xrq5_user_trigger_set_ext_env_dictionary(nullptr);
  capture cap;
  EXPECT_EQ(xrq5_is_trigger_on(head(env), temp.get()), 0);
  temp->function = MAX;
  EXPECT_EQ(xrq5_is_trigger_on(head(env), temp.get()), 0);
  temp->function = MEAN;
  EXPECT_EQ(xrq5_is_trigger_on(head(env), temp.get()), 0) << "no dictionary, no value";
  cap.stop();
  EXPECT_EQ(cap.out(), "func_min: No ext env dictionary set\nfunc_max: No ext env dictionary set\n");

  xrq5_user_trigger_set_ext_env_dictionary(dict.data());
  temp->function = MIN;
  EXPECT_EQ(xrq5_is_trigger_on(head(env), temp.get()), 1);
  EXPECT_EQ(*temp->fresult, 21.5f);
  trigger_ptr unknown = make_trigger("TEMP.ELSEWHERE", MEAN, TRUE_);
  EXPECT_EQ(xrq5_is_trigger_on(head(env), unknown.get()), 0);
  EXPECT_EQ(xrq5_is_trigger_on(head(upd), unknown.get()), 0);
  xrq5_user_trigger_set_ext_env_dictionary(nullptr);
}

TEST(trigger_blocks, images_and_unknown_structures_give_no_result) {
  std::vector<char> image, opaque;
  xrq5_image_ext_frame_head h{};
  h.width = 2;
  h.height = 2;
  h.length = 4;
  const unsigned char px[4] = {1, 2, 3, 4};
  xrq5_evb_add_image(image, "CAM", XRQ5_BLOCK_IMAGE_EXT, h, px);
  xrq5_evb_add_block(opaque, "EQ", XRQ5_BLOCK_EQDATA, "xxxx", 4);
  trigger_ptr t = make_trigger("CAM", MIN, TRUE_);
  capture cap;
  EXPECT_EQ(xrq5_is_trigger_on(head(image), t.get()), 0);
  EXPECT_EQ(xrq5_is_trigger_on(head(opaque), t.get()), 0);
  t->function = MAX;
  EXPECT_EQ(xrq5_is_trigger_on(head(opaque), t.get()), 0);
  t->function = MEAN;
  EXPECT_EQ(xrq5_is_trigger_on(head(opaque), t.get()), 0);
  cap.stop();
  EXPECT_EQ(cap.out(), "func_min: unknown data structure type\nfunc_max: unknown data structure type\n");
  EXPECT_EQ(t->fresult, nullptr);
}

TEST(trigger_records, copy_and_compare_rules) {
  trigger_ptr a = make_trigger("CH", MEAN, GT, {1, 2, 3}, 0.5f, 1.5f, 6);
  strcpy(a->description, "desc");
  strcpy(a->group, "grp");
  trigger_ptr b = make_trigger("", 0, 0);
  a->time = 123;
  a->pre_mode = 4;
  a->valid = 1;
  ASSERT_FALSE(XRQ5_USER_COPY(a.get(), b.get()));
  EXPECT_TRUE(XRQ5_USER_THESAME(a.get(), b.get()));
  EXPECT_EQ(b->time, 123);
  EXPECT_EQ(b->valid, 1);
  EXPECT_EQ(b->fresult, nullptr);
  b->time = 9;
  b->pre_mode = 0;
  b->post_mode = 7;
  b->valid = 0;
  EXPECT_TRUE(XRQ5_USER_THESAME(a.get(), b.get())) << "time, modes and valid are not compared";
  b->fparam[15] = 1;
  EXPECT_FALSE(XRQ5_USER_THESAME(a.get(), b.get()));
  b->fparam[15] = 0;
  a->low = b->low = nan_;
  EXPECT_FALSE(XRQ5_USER_THESAME(a.get(), b.get())) << "NaN never equals";

  a->fresult = static_cast<float*>(malloc(sizeof(float)));
  *a->fresult = 5.0f;
  ASSERT_FALSE(XRQ5_USER_COPY(a.get(), b.get()));
  ASSERT_NE(b->fresult, nullptr);
  EXPECT_EQ(*b->fresult, 5.0f);
  *a->fresult = 6.0f;
  ASSERT_FALSE(XRQ5_USER_COPY(a.get(), b.get()));
  EXPECT_EQ(*b->fresult, 5.0f) << "a cell that exists keeps its value";
  free(a->fresult);
  a->fresult = nullptr;
  ASSERT_FALSE(XRQ5_USER_COPY(a.get(), b.get()));
  EXPECT_EQ(b->fresult, nullptr);
  EXPECT_TRUE(XRQ5_USER_COPY(nullptr, b.get()));
  EXPECT_FALSE(XRQ5_USER_THESAME(a.get(), nullptr));
  XRQ5_FREE_USER(nullptr);
}

TEST(trigger_registry, names_and_help) {
  EXPECT_STREQ(xrq5_get_function_string(-1), "UNKNOWN");
  EXPECT_STREQ(xrq5_get_function_string(32), "UNKNOWN");
  EXPECT_STREQ(xrq5_get_function_string(16), "FUNC16");
  EXPECT_STREQ(xrq5_get_operation_string(12), "BITS");
  EXPECT_STREQ(xrq5_get_operation_help(10), "TRUE : always TRUE");
  EXPECT_STREQ(xrq5_get_function_help(6),
               "VALUE : value in a selected position parameters 0:position(usec)[x0]  1:[y0]  "
               "none in case of slow channel");
  EXPECT_STREQ(xrq5_get_function_help(0),
               "MIN : minimum value  in a spectrum/image  parameters 0:start(usec)[x0] "
               "1:end(usec)[y0] 2:incr(samples)[x half size] 3:[y half size] 4:[form of ROI]");
  EXPECT_STREQ(xrq5_get_operation_help(40), "UNKNOWN");
  EXPECT_EQ(xrq5_get_operation_index(const_cast<char*>("TRUE")), 10);
  EXPECT_EQ(xrq5_get_operation_index(const_cast<char*>("true")), -1);
  EXPECT_EQ(xrq5_get_function_index(const_cast<char*>("DIFFP2P")), 15);
  EXPECT_EQ(xrq5_get_function_index(nullptr), -1);
}

}  // namespace
