// Camera feature files from memory, read through the camera reader's core with the
// platform held for the whole run, dumped and freed.
#include <vector>

#include <xercesc/framework/MemBufInputSource.hpp>

#include "fuzz_support.h"
#include "xrq5_gige_descr.h"
#include "xrq5_gige_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  xrq5_fuzz::setup();
  std::vector<XRQ5GigEFeature*> list;
  {
    // Exactly the input's bytes: a read past them is caught.
    xercesc::MemBufInputSource source(data, size, "fuzz");
    xrq5_gige_fill("fuzz", &source, size, &list);
  }
  xrq5_dump_gige_descr(&list);
  xrq5_clean_gige_descr(&list);
  return 0;
}
