// Reading a skin: the text format the engine understands, without <windows.h>,
// so the same parser runs in the DLL, in the Linux tests and under the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::skin {

// Why a skin was rejected. The numbers are part of Skin_AttachRes's result
// (see skin_engine.h), so they are fixed once published.
enum class SkinError : std::uint32_t {
  kNone = 0,
  kEmpty = 1,
  kBadSignature = 2,
  kUnsupportedVersion = 3,
  kBadEntryCount = 4,
  kLineTooLong = 5,
  kBadCharacter = 6,
  kUnknownStatement = 7,
  kBadName = 8,
  kDuplicateName = 9,
  kBadColour = 10,
  kBadMetric = 11,
  kEntryCountMismatch = 12,
  kMissingEnd = 13,
  kDataAfterEnd = 14,
  kUnknownName = 15,
  kMissingName = 16,
  kMetricOutOfRange = 17,
};

std::string_view DescribeSkinError(SkinError error);

inline constexpr std::uint32_t kSkinFormatVersion = 1;
inline constexpr std::size_t kMaxSkinEntries = 256;
inline constexpr std::size_t kMaxSkinLineLength = 200;
inline constexpr std::size_t kMaxSkinNameLength = 48;
inline constexpr std::uint32_t kMaxSkinMetric = 10000;

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct NamedColour {
  std::string name;
  Rgb value;
};

struct NamedMetric {
  std::string name;
  std::uint32_t value = 0;
};

struct SkinDocument {
  std::vector<NamedColour> colours;
  std::vector<NamedMetric> metrics;
};

struct SkinParseResult {
  SkinError error = SkinError::kNone;
  std::size_t line = 0;  // 1-based line of the fault, 0 when not tied to a line
  SkinDocument document;

  bool ok() const { return error == SkinError::kNone; }
};

// Reads exactly `bytes`; never looks past its end and never throws for bad input.
SkinParseResult ParseSkin(std::span<const std::uint8_t> bytes);

}  // namespace quorvane::skin
