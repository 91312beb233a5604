// A whole trigger list against the blocks of one event, and the owning trigger list.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "event_builder.h"
#include "parse_env_index_dictionary.h"
#include "trigger_records.h"
#include "user_case_trigger.h"

namespace {

using xrq5_test::make_trigger;

enum fn { MIN, MAX, MEAN, RMS, STD, SUM, VALUE, P2P, DIFFMIN, DIFFMAX, DIFFMEAN };
enum op { GT, GTE, EQ, LTE, LT, INSIDE, INSIDE_INCL, OUTSIDE, OUTSIDE_INCL, AND, TRUE_, FALSE_ };

// One event: two name/value blocks of the same name (the first must win), an update
// block, an environment block and a dictionary resolving index 7 to ENV.TEMP.
struct event {
  std::vector<char> data;
  std::vector<char> dict;
  std::vector<xrq5_serv_block_subhead_2010*> blocks;
  event() {
    xrq5_evb_add_namval(data, "BPM.1", XRQ5_BLOCK_BPM_2010, {0.5f, 2.5f});
    xrq5_evb_add_namval(data, "BPM.1", XRQ5_BLOCK_BPM_2010, {9.0f, 9.0f});
    xrq5_evb_add_updates(data, "UPDATES", XRQ5_UPD_BLOCK_2010,
                         {xrq5_evb_update("VAC.P", 3e-9f), xrq5_evb_update("VAC.Q", 8e-9f)});
    xrq5_evb_add_envs(data, "ENVS", XRQ5_ENV_BLOCK_2010, {xrq5_evb_env(7, 21.5f)});
    xrq5_evb_add_env_dict(dict, {{7, "ENV.TEMP"}});
    size_t off = 0;
    while (xrq5_serv_block_subhead_2010* b = xrq5_evb_next_block(data.data(), data.size(), &off))
      blocks.push_back(b);
  }
};

TEST(trigger_list_eval, each_trigger_meets_the_block_of_its_channel) {
  event ev;
  std::vector<xrq5_test::trigger_ptr> owned;
  owned.push_back(make_trigger("BPM.1", VALUE, GT, {1}, 0, 2));       // sub-channel 1: 2.5
  owned.push_back(make_trigger("BPM.1", VALUE, GT, {0}, 0, 2));       // 0.5, does not fire
  owned.push_back(make_trigger("VAC.Q", MEAN, GT, {}, 0, 5e-9f));     // through the updates
  owned.push_back(make_trigger("ENV.TEMP", MEAN, INSIDE, {}, 20, 22));  // through the dict
  owned.push_back(make_trigger("NOWHERE", MEAN, TRUE_));
  owned.push_back(make_trigger("BPM.1", 40, TRUE_));                  // function out of range
  owned.push_back(make_trigger("BPM.1", VALUE, TRUE_));  // no such sub-channel (below)
  owned[0]->subchannel = 1;
  owned[6]->subchannel = 5;
  std::vector<xrq5_user_case_trigger*> list;
  for (auto& t : owned) list.push_back(t.get());

  std::vector<xrq5_trigger_outcome> out(2);  // replaced, not appended to
  EXPECT_EQ(xrq5_eval_trigger_list(&list, &ev.blocks, ev.dict.data(), &out), 3);
  ASSERT_EQ(out.size(), list.size());
  struct {
    int on;
    bool missing, has_result;
    float result;
  } expected[] = {{1, false, true, 2.5f},  {0, false, true, 0.5f}, {1, false, true, 8e-9f},
                  {1, false, true, 21.5f}, {0, true, false, NAN},  {-1, false, false, NAN},
                  {0, false, false, NAN}};
  for (size_t i = 0; i < list.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(out[i].on, expected[i].on);
    EXPECT_EQ(out[i].missing, expected[i].missing);
    EXPECT_EQ(out[i].has_result, expected[i].has_result);
    if (expected[i].has_result)
      EXPECT_FLOAT_EQ(out[i].result, expected[i].result);
    else
      EXPECT_TRUE(std::isnan(out[i].result));
  }
}

TEST(trigger_list_eval, environment_channel_needs_the_given_dictionary) {
  event ev;
  auto t = make_trigger("ENV.TEMP", MEAN, TRUE_);
  std::vector<xrq5_user_case_trigger*> list{t.get()};
  std::vector<xrq5_trigger_outcome> out;
  // A stored dictionary is not what the call uses, and it is there again afterwards.
  xrq5_user_trigger_set_ext_env_dictionary(ev.dict.data());
  EXPECT_EQ(xrq5_eval_trigger_list(&list, &ev.blocks, nullptr, &out), 0);
  EXPECT_TRUE(out[0].missing);
  EXPECT_EQ(xrq5_is_trigger_on(ev.blocks[3], t.get()), 1);  // stored one still in place
  xrq5_user_trigger_set_ext_env_dictionary(nullptr);

  EXPECT_EQ(xrq5_eval_trigger_list(&list, &ev.blocks, ev.dict.data(), &out), 1);
  EXPECT_FLOAT_EQ(out[0].result, 21.5f);
}

TEST(trigger_list_eval, diff_functions_carry_over_between_events) {
  std::vector<float> values{1.0f, 4.0f, 2.5f};
  auto t = make_trigger("S", DIFFMEAN, TRUE_);
  std::vector<xrq5_user_case_trigger*> list{t.get()};
  std::vector<xrq5_trigger_outcome> out;
  std::vector<int> fired;
  std::vector<float> results;
  for (float v : values) {
    std::vector<char> data;
    xrq5_evb_add_namval(data, "S", XRQ5_BLOCK_1CHAN_2010, {v});
    std::vector<xrq5_serv_block_subhead_2010*> blocks{
        reinterpret_cast<xrq5_serv_block_subhead_2010*>(data.data())};
    fired.push_back(xrq5_eval_trigger_list(&list, &blocks, nullptr, &out));
    results.push_back(out[0].has_result ? out[0].result : -100.0f);
  }
  EXPECT_EQ(fired, (std::vector<int>{0, 1, 1}));  // the first event only primes it
  EXPECT_EQ(results, (std::vector<float>{-100.0f, 3.0f, -1.5f}));
}

TEST(trigger_list_eval, null_arguments_and_entries) {
  event ev;
  auto t = make_trigger("BPM.1", VALUE, TRUE_);
  std::vector<xrq5_user_case_trigger*> list{nullptr, t.get()};
  std::vector<xrq5_trigger_outcome> out;
  EXPECT_EQ(xrq5_eval_trigger_list(nullptr, &ev.blocks, nullptr, &out), -1);
  EXPECT_EQ(xrq5_eval_trigger_list(&list, nullptr, nullptr, &out), -1);
  EXPECT_EQ(xrq5_eval_trigger_list(&list, &ev.blocks, nullptr, nullptr), -1);
  EXPECT_TRUE(out.empty());

  std::vector<xrq5_serv_block_subhead_2010*> blocks{nullptr, ev.blocks[0]};
  EXPECT_EQ(xrq5_eval_trigger_list(&list, &blocks, nullptr, &out), 1);
  EXPECT_EQ(out[0].on, -1);
  EXPECT_FALSE(out[0].missing);
  EXPECT_EQ(out[1].on, 1);

  std::vector<xrq5_serv_block_subhead_2010*> none;
  EXPECT_EQ(xrq5_eval_trigger_list(&list, &none, nullptr, &out), 0);
  EXPECT_TRUE(out[1].missing);
}

TEST(trigger_list_eval, names_compare_within_the_field) {
  // A channel name of 255 characters and a block name differing only after that.
  std::string name(255, 'N');
  std::vector<char> data;
  xrq5_evb_add_namval(data, (name + "X").c_str(), XRQ5_BLOCK_1CHAN_2010, {6.0f});
  std::vector<xrq5_serv_block_subhead_2010*> blocks{
      reinterpret_cast<xrq5_serv_block_subhead_2010*>(data.data())};
  auto hit = make_trigger(name.c_str(), VALUE, TRUE_);
  auto miss = make_trigger(name.substr(0, 254).c_str(), VALUE, TRUE_);
  std::vector<xrq5_user_case_trigger*> list{hit.get(), miss.get()};
  std::vector<xrq5_trigger_outcome> out;
  EXPECT_EQ(xrq5_eval_trigger_list(&list, &blocks, nullptr, &out), 1);
  EXPECT_EQ(out[0].on, 1);
  EXPECT_TRUE(out[1].missing);
}

const char* const two_triggers =
    "<XRQ5USERTRIGGERLIST><USERTRIGGER><Chan name=\"A\"/></USERTRIGGER>"
    "<USERTRIGGER><Chan name=\"B\"/></USERTRIGGER></XRQ5USERTRIGGERLIST>";

TEST(trigger_list_owner, reads_moves_and_releases) {
  std::string xml = two_triggers;
  xrq5_trigger_list a;
  EXPECT_FALSE(a.read(&xml[0]));
  ASSERT_EQ(a.size(), 2u);
  EXPECT_STREQ(a[1]->channel, "B");
  a[0]->fresult = static_cast<float*>(malloc(sizeof(float)));  // freed with the record

  xrq5_trigger_list b(std::move(a));
  EXPECT_TRUE(a.empty());
  EXPECT_EQ(b.size(), 2u);
  xrq5_trigger_list c;
  EXPECT_FALSE(c.read(&xml[0]));
  c = std::move(b);  // c's own two records are freed here
  EXPECT_EQ(c.size(), 2u);
  EXPECT_EQ(c.get()->size(), 2u);

  std::vector<xrq5_user_case_trigger*> mine = c.release();
  EXPECT_TRUE(c.empty());
  EXPECT_EQ(mine.size(), 2u);
  for (xrq5_user_case_trigger* t : mine) XRQ5_FREE_USER(t);

  std::string bad = "<WRONG/>";
  std::string file = std::string(XRQ5_SOURCE_DIR) + "/examples/triggers.xml";
  EXPECT_TRUE(c.read(&bad[0]));
  EXPECT_FALSE(c.readf(&file[0]));
  EXPECT_EQ(c.size(), 9u);
  size_t n = 0;
  for (xrq5_user_case_trigger* t : c) n += t != nullptr;
  EXPECT_EQ(n, 9u);
  c.clear();
  EXPECT_TRUE(c.empty());
}

}  // namespace
