// What a caller passes to Skin_AttachRes and what it gets back. No <windows.h>
// here: the attach step, the engine and the tests share these numbers.
//
//   uint32_t WINAPI Skin_AttachRes(const void* skin, uint32_t length,
//                                  uint32_t flags, uint32_t accent,
//                                  uint32_t lightness, uint32_t interfaceVersion);
//
//   skin, length      the skin bytes (skin/format/skin_format.cpp) and their exact
//                     count; the engine copies what it needs and keeps no pointer.
//   flags             kSkinFlag* bits; default 0. Unknown bits are refused.
//   accent            0 keeps the skin's accent; 0x01RRGGBB replaces it (focus
//                     ring, radio mark, progress fill, focused edit border)
//                     with RRGGBB. Default 0.
//   lightness         a signed percent, -100 to 100, stored in 32 bits: moves
//                     the skin's surfaces towards black or white; text and
//                     accents stay. Default 0.
//   interfaceVersion  kSkinInterfaceVersion, so a caller built for another
//                     meaning of these values is refused. Default 1.
//
// The result is 0 when the calling thread's windows are skinned, else one of
// kSkinResult* or kSkinResultSkinRejected plus the parser's SkinError.
#pragma once

#include <cstdint>

namespace quorvane::skin {

inline constexpr char kAttachExportName[] = "Skin_AttachRes";

inline constexpr std::uint32_t kSkinFlagKeepInHighContrast = 0x1;  // skin even in high-contrast mode
inline constexpr std::uint32_t kSkinFlagNoHotTracking = 0x2;       // buttons do not light up under the pointer
inline constexpr std::uint32_t kSkinKnownFlags = kSkinFlagKeepInHighContrast | kSkinFlagNoHotTracking;

inline constexpr std::uint32_t kSkinAccentOverride = 0x01000000;
inline constexpr std::int32_t kSkinMaxLightness = 100;
inline constexpr std::uint32_t kSkinInterfaceVersion = 1;

// The values the program passes.
inline constexpr std::uint32_t kDefaultSkinFlags = 0;
inline constexpr std::uint32_t kDefaultSkinAccent = 0;
inline constexpr std::uint32_t kDefaultSkinLightness = 0;

inline constexpr std::uint32_t kSkinResultAttached = 0;
inline constexpr std::uint32_t kSkinResultNoSkin = 1;           // null address or zero length
inline constexpr std::uint32_t kSkinResultBadFlags = 2;
inline constexpr std::uint32_t kSkinResultBadAccent = 3;
inline constexpr std::uint32_t kSkinResultBadLightness = 4;
inline constexpr std::uint32_t kSkinResultBadInterface = 5;
inline constexpr std::uint32_t kSkinResultAlreadyAttached = 6;  // this thread already has a skin
inline constexpr std::uint32_t kSkinResultHookFailed = 7;
inline constexpr std::uint32_t kSkinResultOutOfMemory = 8;
inline constexpr std::uint32_t kSkinResultSkinRejected = 0x100;  // + SkinError

}  // namespace quorvane::skin
