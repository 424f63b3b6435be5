#include "base/text.h"

#include <cstdint>

namespace quorvane {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The code point at `at` and how many bytes it takes; a bad sequence gives
// U+FFFD and the length of its maximal valid prefix (at least 1). `valid` is
// false for both a bad sequence and an encoded surrogate.
struct Decoded {
  char32_t value;
  std::size_t length;
  bool valid;
};

Decoded DecodeAt(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(at);
  if (lead < 0x80) return {lead, 1, true};
  std::size_t length = 0;
  char32_t value = 0;
  std::uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;  // no overlong forms; surrogates (ED A0-BF) are let through
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {kReplacement, 1, false};
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (at + i >= text.size()) return {kReplacement, i, false};
    const std::uint8_t next = byte(at + i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return {kReplacement, i, false};
    value = (value << 6) | (next & 0x3F);
  }
  // A surrogate decodes (so Windows names round-trip) but is not UTF-8.
  return {value, length, value < 0xD800 || value > 0xDFFF};
}

template <typename String>
void AppendUtf16(std::string_view utf8, String& out) {
  using Unit = typename String::value_type;
  out.reserve(out.size() + utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    // Runs of ASCII, the common case in paths, skip the decoder.
    const auto lead = static_cast<std::uint8_t>(utf8[at]);
    if (lead < 0x80) {
      out.push_back(static_cast<Unit>(lead));
      ++at;
      continue;
    }
    const Decoded decoded = DecodeAt(utf8, at);
    at += decoded.length;
    if (decoded.value >= 0x10000) {
      const char32_t v = decoded.value - 0x10000;
      out.push_back(static_cast<Unit>(0xD800 + (v >> 10)));
      out.push_back(static_cast<Unit>(0xDC00 + (v & 0x3FF)));
    } else {
      out.push_back(static_cast<Unit>(decoded.value));
    }
  }
}

void AppendUtf8(char32_t value, std::string& out) {
  if (value < 0x80) {
    out.push_back(static_cast<char>(value));
  } else if (value < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (value >> 6)));
    out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
  } else if (value < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (value >> 12)));
    out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (value >> 18)));
    out.push_back(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
  }
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::u16string Utf16FromUtf8(std::string_view utf8) {
  std::u16string out;
  AppendUtf16(utf8, out);
  return out;
}

std::string Utf8FromUtf16(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() + utf16.size() / 2);
  for (std::size_t at = 0; at < utf16.size(); ++at) {
    const char16_t unit = utf16[at];
    if (unit < 0x80) {
      out.push_back(static_cast<char>(unit));
    } else if (IsHighSurrogate(unit) && at + 1 < utf16.size() && IsLowSurrogate(utf16[at + 1])) {
      AppendUtf8(0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (utf16[at + 1] - 0xDC00), out);
      ++at;
    } else {
      AppendUtf8(unit, out);  // a lone surrogate keeps its own three bytes
    }
  }
  return out;
}

std::size_t Utf8SequenceAt(std::string_view text, std::size_t at) {
  const Decoded decoded = DecodeAt(text, at);
  return decoded.valid ? decoded.length : 0;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceAt(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

#ifdef _WIN32
std::wstring Widen(std::string_view utf8) {
  std::wstring out;
  AppendUtf16(utf8, out);
  return out;
}
#endif

}  // namespace quorvane
