// UTF-8 inside, UTF-16 at the Windows call: the one pair of conversions, for
// every layer. Portable, so the core can read UTF-16 text (font names) too.
//
// A Windows file name may hold a lone surrogate, which UTF-8 cannot spell; it
// travels as its three-byte form (as WTF-8 does), so every name that Windows
// gives comes back to Windows unchanged. Bytes that are not UTF-8 at all
// become U+FFFD, one for each maximal bad sequence.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane {

std::u16string Utf16FromUtf8(std::string_view utf8);
std::string Utf8FromUtf16(std::u16string_view utf16);

// True when `text` is strict UTF-8: no bad byte and no encoded surrogate.
// Text for other programs (a terminal, a JSON reader) must be.
bool IsValidUtf8(std::string_view text);

// The length of the strict UTF-8 sequence at text[at]; 0 when none starts there
// (a bad byte, or an encoded surrogate).
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at);

#ifdef _WIN32
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring Widen(std::string_view utf8);

inline std::string Narrow(std::wstring_view utf16) {
  return Utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(utf16.data()), utf16.size()));
}
#endif

}  // namespace quorvane
