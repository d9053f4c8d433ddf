// Raw bytes as a file given to `qk2 verify`: an updater when they start with
// "MZ", else a package. Verify must answer for any input within its budget
// (libFuzzer's -timeout and -rss_limit_mb make a bomb a finding), and a file
// it passes has been opened by the updater's own reader, which verify asks
// last.
#include <cstdint>
#include <vector>

#include "tools/qk2_verify.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Verification v;
  const std::vector<uint8_t> bytes(data, data + size);
  if (size >= 2 && data[0] == 'M' && data[1] == 'Z')
    VerifyExecutable(bytes, &v);
  else
    VerifyPackage(bytes.data(), bytes.size(), &v);
  return 0;
}
