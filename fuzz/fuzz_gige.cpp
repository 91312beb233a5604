// Camera feature files, through a temporary file (the reader takes a file name),
// read, dumped and freed.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "xrq5_gige_descr.h"

namespace {

// One file per process, rewritten for every input.
const std::string& scratch() {
  static const std::string path = [] {
    char templ[] = "/tmp/xrq5-fuzz-gige-XXXXXX";
    const int fd = mkstemp(templ);
    if (fd >= 0) close(fd);
    std::string p = templ;
    atexit([] { remove(scratch().c_str()); });
    return p;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  xrq5_fuzz::setup();
  std::string path = scratch();
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  std::vector<XRQ5GigEFeature*> list;
  xrq5_fill_gige_descr(&path[0], &list);
  xrq5_dump_gige_descr(&list);
  xrq5_clean_gige_descr(&list);
  return 0;
}
