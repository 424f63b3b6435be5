// Reading back what skin_probe.dll recorded.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <optional>

namespace quorvane::skin::testing {

struct ProbeCall {
  std::uintptr_t address = 0;
  std::uint32_t length = 0, flags = 0, accent = 0, lightness = 0, interfaceVersion = 0;
};

inline std::optional<ProbeCall> LastProbeCall() {
  wchar_t text[200] = {};
  if (!GetEnvironmentVariableW(L"QUORVANE_PROBE_CALL", text, 200)) return std::nullopt;
  ProbeCall call;
  unsigned long long address = 0;
  if (std::swscanf(text, L"%llx %u %u %u %u %u", &address, &call.length, &call.flags, &call.accent, &call.lightness,
                   &call.interfaceVersion) != 6)
    return std::nullopt;
  call.address = static_cast<std::uintptr_t>(address);
  return call;
}

}  // namespace quorvane::skin::testing
