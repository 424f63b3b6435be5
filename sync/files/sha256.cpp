#include "sync/files/sha256.h"

namespace quorvane {

std::string HexOf(const Sha256::Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::byte b : digest) {
    const auto value = std::to_integer<unsigned>(b);
    text.push_back(kDigits[value >> 4]);
    text.push_back(kDigits[value & 0xF]);
  }
  return text;
}

}  // namespace quorvane
