// A library that loads fine but lacks Skin_AttachRes.
#include <windows.h>

#include <cstdint>

extern "C" __declspec(dllexport) std::uint32_t WINAPI Skin_DetachRes() { return 0; }
