// Writes examples/events.xrq5ev, the recorded events that examples/triggers.xml is
// tried on (xrq5xml eval). Six NORMAL events, each with a toroid spectrum block (two
// sub-channels) and a BPM name/value block; events 1, 3 and 5 also carry an update
// block of slow values, events 0, 2 and 4 an environment block (indexes resolved by
// examples/env_dict.xml), event 2 a camera image. Everything is computed, so the file
// is the same on every run:
//
//   event             0     1     2     3     4     5
//   toroid level      1.00  1.20  1.60  1.10  1.70  0.90   (sub-channel 0, 50 samples
//                                                           of level + 0.01 * (k % 5))
//   BPM x             0.1  -1.3   0.4   0.2  -1.6   0.0    (sub-channel 0 of 3)
//   vacuum pressure   -     3e-9  -     8e-9  -     2e-9   (update record)
//   gun interlock     -     0     -     5     -     4      (update record, status bits)
//   hall 2 air (12)   21.0  -     23.5  -     22.0  -      (environment record)
//   water return (7)  30    -     31    -     35    -      (environment record)
//
// Usage: xrq5-example-events OUT
#include <cstdio>
#include <string>
#include <vector>

#include "event_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: xrq5-example-events OUT\n");
    return 2;
  }
  const float level[6] = {1.00f, 1.20f, 1.60f, 1.10f, 1.70f, 0.90f};
  const float bpm_x[6] = {0.1f, -1.3f, 0.4f, 0.2f, -1.6f, 0.0f};
  const float pressure[6] = {0, 3e-9f, 0, 8e-9f, 0, 2e-9f};
  const float interlock[6] = {0, 0, 0, 5, 0, 4};
  const float hall_air[6] = {21.0f, 0, 23.5f, 0, 22.0f, 0};
  const float water[6] = {30.0f, 0, 31.0f, 0, 35.0f, 0};

  std::vector<xrq5_evb_event> events(6);
  for (int e = 0; e < 6; ++e) {
    xrq5_evb_event& ev = events[e];
    ev.ev_type = XRQ5_EV_NORMAL;
    ev.ev_number = 1000 + static_cast<unsigned int>(e);
    ev.time = {1764583200u + static_cast<unsigned int>(e), 250000u};

    xrq5_evb_spectrum bunches{0.0f, 0.1f, {}};  // one sample per 0.1 us
    for (int k = 0; k < 50; ++k) bunches.samples.push_back(level[e] + 0.01f * (k % 5));
    xrq5_evb_spectrum flat{0.0f, 1.0f, std::vector<float>(20, level[e] * 0.5f)};
    xrq5_evb_add_spectrum(ev.blocks, "LINAC/TOROID/INJ.1/CHARGE.TD", XRQ5_BLOCK_TOROID_2010,
                          {bunches, flat});
    xrq5_evb_add_namval(ev.blocks, "BPM.ARC1.1", XRQ5_BLOCK_3CHAN_2010,
                        {bpm_x[e], 0.05f * e, 0.8f + 0.01f * e});
    if (e % 2 == 1)
      xrq5_evb_add_updates(ev.blocks, "SLOW.UPDATES", XRQ5_UPD_BLOCK_2010,
                           {xrq5_evb_update("LINAC/VAC/PUMP.7/PRESSURE", pressure[e]),
                            xrq5_evb_update("LINAC/RF/GUN/INTERLOCK", interlock[e])});
    if (e % 2 == 0)
      xrq5_evb_add_envs(ev.blocks, "ENV", XRQ5_ENV_BLOCK_2010,
                        {xrq5_evb_env(7, water[e]), xrq5_evb_env(12, hall_air[e])});
    if (e == 2) {
      xrq5_image_ext_frame_head head{};
      head.width = head.aoi_width = 4;
      head.height = head.aoi_height = 2;
      head.bpp = 1;
      head.event = ev.ev_number;
      head.length = 8;
      const unsigned char pixels[8] = {10, 20, 30, 40, 50, 60, 70, 80};
      xrq5_evb_add_image(ev.blocks, "LINAC/CAM/SCREEN.3/IMAGE", XRQ5_BLOCK_IMAGE_EXT, head, pixels);
    }
  }
  std::string error;
  if (xrq5_evb_write_file(argv[1], events, &error) != XRQ5_EVB_OK) {
    fprintf(stderr, "xrq5-example-events: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
