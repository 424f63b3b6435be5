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

std::variant<FileHash, FileError> HashFile(std::string_view path) {
  ReadableFile file;
  if (FileResult opened = file.Open(path); !opened) return *opened.error;
  // As large as a copy's pieces: few calls, and the cache's pages in order.
  std::vector<std::byte> buffer(1 << 20);
  Sha256 hash;
  for (std::uint64_t at = 0; at < file.Size();) {
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), file.Size() - at));
    const std::span<std::byte> piece = std::span(buffer).first(length);
    if (FileResult read = file.ReadAt(at, piece); !read) return *read.error;
    hash.Add(piece);
    at += piece.size();
  }
  if (const auto digest = hash.Finish()) return FileHash{*digest, file.Size()};
  return FileError{FileStep::Read, hash.Error()};
}

}  // namespace quorvane
