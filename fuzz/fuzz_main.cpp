// libFuzzer's entry for one target, chosen when this file is compiled (HOPSHOT_FUZZ_TARGET).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return hopshot::fuzz::HOPSHOT_FUZZ_TARGET(data, size);
}
