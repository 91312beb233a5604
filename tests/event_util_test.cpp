// The event-utility stand-in over blocks made with the builder, including blocks whose
// declared sizes lie.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "event_builder.h"
#include "event_util.h"

namespace {

// A trigger record as the stand-in sees it: only the leading channel name.
struct fake_trigger {
  char channel[256];
};

fake_trigger trigger(const char* name) {
  fake_trigger t{};
  strncpy(t.channel, name, sizeof t.channel - 1);
  return t;
}

xrq5_user_case_trigger* as_trigger(fake_trigger& t) {
  return reinterpret_cast<xrq5_user_case_trigger*>(&t);
}

xrq5_serv_block_subhead_2010* block(std::vector<char>& buf, size_t at = 0) {
  return reinterpret_cast<xrq5_serv_block_subhead_2010*>(buf.data() + at);
}

TEST(event_util_names, every_type_has_a_name) {
  for (int t = -1; t <= XRQ5_EV_EVMAX + 1; ++t) ASSERT_NE(event_name_itoa(t), nullptr);
  for (int t = -1; t <= XRQ5_BLOCK_MAX_2010 + 1; ++t) ASSERT_NE(block_name_itoa(t), nullptr);
  EXPECT_STREQ(event_name_itoa(XRQ5_EV_NORMAL), "NORMAL");
  EXPECT_STREQ(event_name_itoa(XRQ5_EV_TOROID_ML), "TOROID_ML");
  EXPECT_STREQ(event_name_itoa(XRQ5_EV_EVMAX), "EVMAX");
  EXPECT_STREQ(event_name_itoa(33), "UNKNOWN");
  EXPECT_STREQ(block_name_itoa(XRQ5_BLOCK_GENERIC_SPECT), "BLOCK_GENERIC_SPECT");
  EXPECT_STREQ(block_name_itoa(XRQ5_BLOCK_3CHAN_2010), "BLOCK_3CHAN_2010");
  EXPECT_STREQ(block_name_itoa(XRQ5_BLOCK_MAX_2010), "BLOCK_MAX_2010");
  EXPECT_STREQ(block_name_itoa(55), "UNUSED_55");
  EXPECT_STREQ(block_name_itoa(64), "UNKNOWN");
}

TEST(event_util_tables, structure_types) {
  EXPECT_EQ(get_event_struct_type(XRQ5_EV_NORMAL), XRQ5_EV_STRUCT_GLOBAL);
  EXPECT_EQ(get_event_struct_type(XRQ5_EV_UPD), XRQ5_EV_STRUCT_GLOBAL);
  EXPECT_EQ(get_event_struct_type(XRQ5_EV_IMAGE), XRQ5_EV_STRUCT_LOCAL);
  EXPECT_EQ(get_event_struct_type(XRQ5_EV_SPECTR_5), XRQ5_EV_STRUCT_LOCAL);
  EXPECT_EQ(get_event_struct_type(XRQ5_EV_LLRF_ML), XRQ5_EV_STRUCT_ML);
  EXPECT_EQ(get_event_struct_type(XRQ5_EV_TOROID_ML), XRQ5_EV_STRUCT_ML);
  EXPECT_EQ(get_event_struct_type(XRQ5_EV_31), XRQ5_EV_STRUCT_UNDEF);
  EXPECT_EQ(get_event_struct_type(XRQ5_EV_EVMAX), XRQ5_EV_STRUCT_UNKNOWN);
  EXPECT_EQ(get_event_struct_type(-1), XRQ5_EV_STRUCT_UNKNOWN);

  EXPECT_EQ(get_data_structure_type(XRQ5_UPD_BLOCK_2010), XRQ5_DATA_SLOW);
  EXPECT_EQ(get_data_structure_type(XRQ5_ENV_BLOCK), XRQ5_DATA_SLOW);
  EXPECT_EQ(get_data_structure_type(XRQ5_BLOCK_7CHAN_2010), XRQ5_DATA_NAMVAL);
  EXPECT_EQ(get_data_structure_type(XRQ5_BLOCK_NAME_VALUE), XRQ5_DATA_NAMVAL);
  EXPECT_EQ(get_data_structure_type(XRQ5_BLOCK_TOROID_2010), XRQ5_DATA_SPECTRUM);
  EXPECT_EQ(get_data_structure_type(XRQ5_BLOCK_WSS_RAW), XRQ5_DATA_GSPECTRUM);
  EXPECT_EQ(get_data_structure_type(XRQ5_BLOCK_IMAGE_EXT), XRQ5_DATA_IMAGE);
  EXPECT_EQ(get_data_structure_type(XRQ5_ENV_DICT_BLOCK_2010), XRQ5_DATA_EQDATA);
  EXPECT_EQ(get_data_structure_type(57), XRQ5_DATA_EQDATA);
  EXPECT_EQ(get_data_structure_type(-5), XRQ5_DATA_EQDATA);
}

TEST(event_util_namval, subchannels_within_ldata) {
  std::vector<char> buf;
  xrq5_evb_add_namval(buf, "BPM.X", XRQ5_BLOCK_3CHAN_2010, {1.5f, 2.5f, 3.5f});
  float* v = get_pointer_to_data_2010(block(buf), 2);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(*v, 3.5f);
  EXPECT_EQ(get_pointer_to_data_2010(block(buf), 3), nullptr);
  EXPECT_EQ(get_pointer_to_data_2010(block(buf), -1), nullptr);
  block(buf)->ldata = 11;  // only two whole floats declared
  EXPECT_EQ(get_pointer_to_data_2010(block(buf), 2), nullptr);
  block(buf)->ldata = -4;
  EXPECT_EQ(get_pointer_to_data_2010(block(buf), 0), nullptr);
  EXPECT_EQ(get_pointer_to_data_2010(nullptr, 0), nullptr);
  float start;
  EXPECT_TRUE(get_spect_params_for_data_type_2010(block(buf), &start, nullptr, nullptr, nullptr,
                                                  nullptr, nullptr, nullptr, 0));
}

TEST(event_util_spectrum, subchannels_are_walked_and_checked) {
  std::vector<char> buf;
  xrq5_evb_add_spectrum(buf, "TOR", XRQ5_BLOCK_TOROID_2010,
                        {{0.0f, 1.0f, {0, 1, 2, 3}}, {10.0f, 0.5f, {7, 8, 9, 10, 11, 12}, 2, 3.0f}});
  float start = -1, inc = -1, ginc = -1;
  int ndata = -1, groups = -1;
  xrq5_spect_statistics_2010* stat = reinterpret_cast<xrq5_spect_statistics_2010*>(1);
  ASSERT_FALSE(get_spect_params_for_data_type_2010(block(buf), &start, &inc, nullptr, &ndata,
                                                   &groups, &ginc, &stat, 1));
  EXPECT_EQ(start, 10.0f);
  EXPECT_EQ(inc, 0.5f);
  EXPECT_EQ(ndata, 3);
  EXPECT_EQ(groups, 2);
  EXPECT_EQ(ginc, 3.0f);
  EXPECT_EQ(stat, nullptr);
  const float* s1 = get_pointer_to_data_2010(block(buf), 1);
  ASSERT_NE(s1, nullptr);
  EXPECT_EQ(s1[0], 7.0f);
  EXPECT_EQ(s1[5], 12.0f);
  EXPECT_EQ(*get_pointer_to_data_2010(block(buf), 0), 0.0f);
  EXPECT_EQ(get_pointer_to_data_2010(block(buf), 2), nullptr);

  // A header that declares more samples than the block holds gives no data.
  xrq5_spect_header_2010* h1 =
      reinterpret_cast<xrq5_spect_header_2010*>(buf.data() + sizeof(xrq5_serv_block_subhead_2010) +
                                                sizeof(xrq5_spect_header_2010) + 4 * sizeof(float));
  h1->ndata = 0x40000000;
  EXPECT_EQ(get_pointer_to_data_2010(block(buf), 1), nullptr);
  EXPECT_TRUE(get_spect_params_for_data_type_2010(block(buf), &start, &inc, nullptr, &ndata,
                                                  &groups, &ginc, &stat, 1));
  h1->ndata = 3;
  h1->groups = 0;
  EXPECT_EQ(get_pointer_to_data_2010(block(buf), 1), nullptr);
  h1->groups = 2;
  block(buf)->ldata -= 4;  // the last sample is cut off
  EXPECT_EQ(get_pointer_to_data_2010(block(buf), 1), nullptr);
  EXPECT_NE(get_pointer_to_data_2010(block(buf), 0), nullptr);
}

TEST(event_util_slow, update_records_by_name) {
  std::vector<char> buf;
  xrq5_evb_add_updates(buf, "UPD", XRQ5_UPD_BLOCK_2010,
                       {xrq5_evb_update("A.B", 1.0f), xrq5_evb_update("C.D", 2.0f),
                        xrq5_evb_update("C.D", 3.0f)});
  fake_trigger t = trigger("C.D");
  xrq5_upd_data_block_2010* upd = nullptr;
  ASSERT_FALSE(find_upd_channel_2010(block(buf), as_trigger(t), &upd));
  EXPECT_EQ(upd->upd_ch_data, 2.0f) << "the first record of that name";
  fake_trigger other = trigger("C.DX");
  EXPECT_TRUE(find_upd_channel_2010(block(buf), as_trigger(other), &upd));
  block(buf)->ldata = 2 * 272 - 1;  // the second record is no longer whole
  EXPECT_TRUE(find_upd_channel_2010(block(buf), as_trigger(t), &upd));

  // A name that fills its whole field without a terminator is still compared safely.
  std::vector<char> full;
  xrq5_upd_data_block_2010 r = xrq5_evb_update("", 4.0f);
  memset(r.upd_prop, 'N', sizeof r.upd_prop);
  xrq5_evb_add_updates(full, "UPD", XRQ5_UPD_BLOCK_2010, {r});
  fake_trigger n = trigger(std::string(255, 'N').c_str());
  EXPECT_TRUE(find_upd_channel_2010(block(full), as_trigger(n), &upd));

  std::vector<char> env;
  xrq5_evb_add_envs(env, "ENV", XRQ5_ENV_BLOCK_2010, {xrq5_evb_env(1, 5.0f)});
  EXPECT_TRUE(find_upd_channel_2010(block(env), as_trigger(t), &upd)) << "not an update block";
}

TEST(event_util_slow, environment_records_through_the_dictionary) {
  std::vector<char> dict, dict_classic, env;
  xrq5_evb_add_env_dict(dict, {{3, "TEMP.1"}, {7, "TEMP.2"}, {9, "TEMP.2"}});
  xrq5_evb_add_env_dict(dict_classic, {{7, "TEMP.2"}}, true);
  xrq5_evb_add_envs(env, "ENV", XRQ5_ENV_BLOCK_2010,
                    {xrq5_evb_env(3, 20.5f), xrq5_evb_env(7, 21.5f), xrq5_evb_env(9, 22.5f)});
  fake_trigger t = trigger("TEMP.2");
  xrq5_env_data_block_2010* rec = nullptr;
  ASSERT_FALSE(find_slow_channel_2010(block(env), dict.data(), as_trigger(t), &rec));
  EXPECT_EQ(rec->env_ch_data, 21.5f);
  rec = nullptr;
  ASSERT_FALSE(find_slow_channel_2010(block(env), dict_classic.data(), as_trigger(t), &rec));
  EXPECT_EQ(rec->env_ch_data, 21.5f);
  EXPECT_TRUE(find_slow_channel_2010(block(env), nullptr, as_trigger(t), &rec));
  fake_trigger u = trigger("TEMP.9");
  EXPECT_TRUE(find_slow_channel_2010(block(env), dict.data(), as_trigger(u), &rec));
  // A dictionary whose length cuts its second entry short does not know TEMP.2.
  block(dict)->ldata = 268 + 100;
  EXPECT_TRUE(find_slow_channel_2010(block(env), dict.data(), as_trigger(t), &rec));
  block(dict)->dtype = XRQ5_BLOCK_NAME_VALUE;
  EXPECT_TRUE(find_slow_channel_2010(block(env), dict.data(), as_trigger(t), &rec));
}

TEST(event_util_image, frame_parameters_within_the_block) {
  std::vector<char> buf;
  xrq5_image_ext_frame_head head{};
  head.width = 4;
  head.height = 2;
  head.bpp = 1;
  head.event = 77;
  head.length = 8;
  const unsigned char pixels[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  xrq5_evb_add_image(buf, "CAM", XRQ5_BLOCK_IMAGE_EXT, head, pixels);
  int x = 0, y = 0, bpp = 0, ev = 0;
  unsigned char* chd = nullptr;
  get_image_params_2010(block(buf), &x, &y, &bpp, &ev, &chd);
  EXPECT_EQ(x, 4);
  EXPECT_EQ(y, 2);
  EXPECT_EQ(bpp, 1);
  EXPECT_EQ(ev, 77);
  ASSERT_NE(chd, nullptr);
  EXPECT_EQ(chd[7], 8);
  reinterpret_cast<xrq5_image_ext_frame_head*>(block(buf) + 1)->length = 9;
  get_image_params_2010(block(buf), &x, &y, &bpp, &ev, &chd);
  EXPECT_EQ(chd, nullptr);
  EXPECT_EQ(x, 0);
  get_image_params_2010(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

// A header whose width x height x bytes per pixel exceeds its pixel length is refused,
// also when the product wraps 32 or 64 bits.
TEST(event_util_image, frame_larger_than_its_length_is_refused) {
  struct {
    int32_t width, height, bpp;
    bool accepted;
  } cases[] = {
      {4, 2, 1, true},
      {2, 2, 2, true},
      {0, 5, 3, true},
      {4, 2, 2, false},
      {3, 3, 1, false},
      {65536, 65536, 1, false},                      // 2^32 wraps 32 bits to 0
      {0x7fffffff, 0x7fffffff, 0x7fffffff, false},  // wraps 64 bits
      {-4, -2, 1, false},
      {4, 2, -1, false},
  };
  const unsigned char pixels[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + "x" +
                 std::to_string(c.bpp));
    std::vector<char> buf;
    xrq5_image_ext_frame_head head{};
    head.width = c.width;
    head.height = c.height;
    head.bpp = c.bpp;
    head.length = 8;
    xrq5_evb_add_image(buf, "CAM", XRQ5_BLOCK_IMAGE_EXT, head, pixels);
    int x = -1, y = -1, bpp = -1, ev = -1;
    unsigned char* chd = nullptr;
    get_image_params_2010(block(buf), &x, &y, &bpp, &ev, &chd);
    EXPECT_EQ(chd != nullptr, c.accepted);
    EXPECT_EQ(x, c.accepted ? c.width : 0);
    EXPECT_EQ(bpp, c.accepted ? c.bpp : 0);
  }
}

}  // namespace
