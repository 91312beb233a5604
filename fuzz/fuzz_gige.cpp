// Camera feature files, through a temporary file (the reader takes a file name),
// read, dumped and freed.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_support.h"
#include "xrq5_gige_descr.h"

namespace {

// One file per process, rewritten for every input and removed at exit.
struct scratch_file {
  scratch_file() {
    const int fd = mkstemp(path);
    if (fd >= 0) close(fd);
  }
  ~scratch_file() { remove(path); }
  char path[32] = "/tmp/xrq5-fuzz-gige-XXXXXX";
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  xrq5_fuzz::setup();
  static scratch_file scratch;
  char* path = scratch.path;
  FILE* f = fopen(path, "wb");
  if (f == nullptr) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  std::vector<XRQ5GigEFeature*> list;
  xrq5_fill_gige_descr(path, &list);
  xrq5_dump_gige_descr(&list);
  xrq5_clean_gige_descr(&list);
  return 0;
}
