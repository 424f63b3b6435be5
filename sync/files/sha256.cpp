#include "sync/files/sha256.h"

#include <algorithm>
#include <vector>

#include "sync/files/file_ops.h"

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

std::optional<Sha256::Digest> Sha256OfFile(std::string_view path) {
  ReadableFile file;
  if (!file.Open(path) || file.Kind() != EntryKind::File) return std::nullopt;
  // As large as a copy's pieces: few calls, and the cache's pages in order.
  std::vector<std::byte> buffer(1 << 20);
  Sha256 hash;
  for (std::uint64_t at = 0; at < file.Size();) {
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), file.Size() - at));
    const std::span<std::byte> piece = std::span(buffer).first(length);
    if (!file.ReadAt(at, piece)) return std::nullopt;
    hash.Add(piece);
    at += piece.size();
  }
  return hash.Finish();
}

}  // namespace quorvane
