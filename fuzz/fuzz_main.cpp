// The libFuzzer entry of one harness; TESS_FUZZ_TARGET names its body.
#include <cstddef>
#include <cstdint>

#include "fuzz/targets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzSetUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return TESS_FUZZ_TARGET(data, size); }
