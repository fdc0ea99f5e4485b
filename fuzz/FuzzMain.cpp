// The libFuzzer entry of one target; FUZZ_TARGET names its function
// (FuzzTargets.h) and is set per binary by the build.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return vesk::legacy::fuzz::FUZZ_TARGET(data, size);
}
