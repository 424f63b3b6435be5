#include <algorithm>
#include <span>

#include "fuzz_targets.h"
#include "sync/fonts/font_structure.h"

namespace quorvane::fuzz {

namespace {
void Check(bool condition) {
  if (!condition) __builtin_trap();
}
}  // namespace

int FuzzFontStructure(const std::uint8_t* data, std::size_t size) {
  const std::span bytes(reinterpret_cast<const std::byte*>(data), size);
  const auto whole = CheckFontStructure(bytes);
  Check(!whole || !whole->empty());
  // However a copy's reads cut the file, the answer is the same: pieces whose
  // sizes follow the file's own bytes, so they split words and headers anywhere.
  FontStructureCheck check;
  for (std::size_t at = 0, i = 0; at < size; ++i) {
    const std::size_t piece = std::min<std::size_t>(size - at, 1 + std::to_integer<std::size_t>(bytes[i % size]) % 61);
    check.Feed(bytes.subspan(at, piece));
    at += piece;
  }
  Check(check.Finish() == whole);
  return 0;
}

}  // namespace quorvane::fuzz
