// What the fuzz targets share: the input as an exact-size, NUL-terminated heap buffer
// (so a read one byte past the text is caught), and standard output sent to /dev/null
// (the libraries print listings there; parser messages on standard error are silenced
// by the run script's -close_fd_mask=2, which keeps libFuzzer's own reports).
#ifndef XRQ5_FUZZ_SUPPORT_H
#define XRQ5_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include <xercesc/util/PlatformUtils.hpp>

namespace xrq5_fuzz {

// One platform initialisation held for the whole run, so that each parser's own
// initialisation and termination only count: a parse costs the parse, not the start
// of the transcoding service. Terminated at exit, before the leak check.
struct platform {
  platform() { xercesc::XMLPlatformUtils::Initialize(); }
  ~platform() { xercesc::XMLPlatformUtils::Terminate(); }
};

inline std::unique_ptr<char[]> text(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> t(new char[size + 1]);
  if (size) memcpy(t.get(), data, size);
  t[size] = '\0';
  return t;
}

inline void setup() {
  static const bool done = freopen("/dev/null", "w", stdout) != nullptr;
  static platform held;
  (void)done;
}

}  // namespace xrq5_fuzz

#endif  // XRQ5_FUZZ_SUPPORT_H
