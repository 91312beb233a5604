// A main for the fuzz targets where libFuzzer is not at hand (GCC builds): runs every
// file named on the command line, and every file below a named folder, through the
// target once. Used by the tests to replay the seed corpora and the regression inputs.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void run(const std::filesystem::path& p, int* count) {
  std::ifstream in(p, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  ++*count;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path p = argv[i];
    if (std::filesystem::is_directory(p)) {
      for (const auto& e : std::filesystem::recursive_directory_iterator(p))
        if (e.is_regular_file()) run(e.path(), &count);
    } else if (std::filesystem::exists(p)) {
      run(p, &count);
    } else {
      fprintf(stderr, "replay: no such input '%s'\n", argv[i]);
      return 2;
    }
  }
  fprintf(stderr, "replay: %d inputs\n", count);
  return 0;
}
