// A stand-in skin library: records what Skin_AttachRes was given in the
// environment variable QUORVANE_PROBE_CALL and returns the number held in
// QUORVANE_PROBE_RESULT (0 when unset), so tests see exactly what was passed.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>

extern "C" __declspec(dllexport) std::uint32_t WINAPI Skin_AttachRes(const void* skin, std::uint32_t length,
                                                                    std::uint32_t flags, std::uint32_t accent,
                                                                    std::uint32_t lightness,
                                                                    std::uint32_t interfaceVersion) {
  wchar_t call[200];
  std::swprintf(call, 200, L"%llx %u %u %u %u %u",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(skin)), length, flags, accent,
                lightness, interfaceVersion);
  SetEnvironmentVariableW(L"QUORVANE_PROBE_CALL", call);
  wchar_t result[16] = {};
  if (!GetEnvironmentVariableW(L"QUORVANE_PROBE_RESULT", result, 16)) return 0;
  return static_cast<std::uint32_t>(std::wcstoul(result, nullptr, 10));
}
