// One libFuzzer program per entry point, chosen by QUORVANE_FUZZ_ENTRY.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return quorvane::fuzz::QUORVANE_FUZZ_ENTRY(data, size);
}
