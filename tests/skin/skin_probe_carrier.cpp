// Carries skin_probe.dll and a skin of odd length; passes (exit 0) when the
// library got exactly the stored bytes: the resource's own address and length,
// the length of the file on disk, and the documented default arguments.
#include <cstdio>

#include "skin/attach/carried_skin.h"
#include "skin/attach/skin_attachment.h"
#include "skin/engine/skin_engine_api.h"
#include "skin_probe_call.h"

int main() {
  using namespace quorvane::skin;
  if (!quorvane::SkinAttachment()) {
    std::puts("SkinAttachment failed");
    return 1;
  }
  const auto stored = CarriedResource(L"CarriedSkin");
  const auto call = testing::LastProbeCall();
  if (!call) {
    std::puts("the probe was not called");
    return 1;
  }
  std::printf("passed %u bytes at %llx; stored %u bytes at %llx; file has %u\n", call->length,
              static_cast<unsigned long long>(call->address), static_cast<unsigned>(stored.size()),
              static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(stored.data())),
              static_cast<unsigned>(QUORVANE_PROBE_SKIN_SIZE));
  const bool exact = call->length == stored.size() && call->length == QUORVANE_PROBE_SKIN_SIZE &&
                     call->address == reinterpret_cast<std::uintptr_t>(stored.data());
  const bool defaults = call->flags == kDefaultSkinFlags && call->accent == kDefaultSkinAccent &&
                        call->lightness == kDefaultSkinLightness && call->interfaceVersion == kSkinInterfaceVersion;
  return exact && defaults ? 0 : 1;
}
