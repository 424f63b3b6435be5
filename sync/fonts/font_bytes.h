#pragma once

// Reading a font's fields: big-endian in OpenType, little-endian in the
// executable headers a .fon is made of. Callers check the range first.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace quorvane::font_bytes {

constexpr std::uint32_t Tag(const char (&text)[5]) {
  return std::uint32_t{static_cast<unsigned char>(text[0])} << 24 |
         std::uint32_t{static_cast<unsigned char>(text[1])} << 16 |
         std::uint32_t{static_cast<unsigned char>(text[2])} << 8 | std::uint32_t{static_cast<unsigned char>(text[3])};
}

inline std::uint32_t Byte(std::span<const std::byte> bytes, std::uint64_t at) {
  return std::to_integer<std::uint32_t>(bytes[static_cast<std::size_t>(at)]);
}
inline std::uint16_t U16Be(std::span<const std::byte> bytes, std::uint64_t at) {
  return static_cast<std::uint16_t>(Byte(bytes, at) << 8 | Byte(bytes, at + 1));
}
inline std::uint32_t U32Be(std::span<const std::byte> bytes, std::uint64_t at) {
  return std::uint32_t{U16Be(bytes, at)} << 16 | U16Be(bytes, at + 2);
}
inline std::uint16_t U16Le(std::span<const std::byte> bytes, std::uint64_t at) {
  return static_cast<std::uint16_t>(Byte(bytes, at) | Byte(bytes, at + 1) << 8);
}
inline std::uint32_t U32Le(std::span<const std::byte> bytes, std::uint64_t at) {
  return U16Le(bytes, at) | std::uint32_t{U16Le(bytes, at + 2)} << 16;
}

// A table tag as text for a message: what is not printable shows as '?'.
inline std::string TagText(std::uint32_t tag) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>(tag >> shift & 0xFF);
    text.push_back(c >= 0x20 && c < 0x7F ? c : '?');
  }
  return text;
}

}  // namespace quorvane::font_bytes
