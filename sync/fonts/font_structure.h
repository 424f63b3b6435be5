// Whether a font file is whole, judged on its bytes as a copy reads them, so
// that a damaged font is caught without reading it a second time. It checks
// what Windows relies on when it loads one:
//   TrueType and OpenType: the table directory, every table inside the file,
//     none over the directory, each table's checksum as the directory gives
//     it (`head` summed with its checkSumAdjustment as zero);
//   collections: the header, each face's offset and directory, and the same
//     for each face's tables;
//   .fon: the MZ and NE headers, the resource table, and each FONT resource
//     inside the file with a font header Windows knows.
// Tables need not start on a 4-byte boundary: Windows loads such fonts.
//
// Only the start of the file is kept (up to the last directory or resource
// table, at most kMaxStructureBytes); the tables are summed as they pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "sync/files/file_ops.h"

namespace quorvane {

class FontStructureCheck {
 public:
  // Real fonts keep their directories in their first kilobytes; a structure
  // that reaches further is refused rather than held in memory.
  static constexpr std::uint64_t kMaxStructureBytes = 1 << 20;

  FontStructureCheck();
  ~FontStructureCheck();
  FontStructureCheck(const FontStructureCheck&) = delete;
  FontStructureCheck& operator=(const FontStructureCheck&) = delete;

  // The file's next bytes, in order, in pieces of any size.
  void Feed(std::span<const std::byte> bytes);
  // After the last piece: nothing when the font is whole, else what is wrong
  // ("table 'glyf': checksum 0x1A2B3C4D, the directory gives 0x1A2B3C4E").
  std::optional<std::string> Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The check as a copy runs it on the bytes it writes (CopyOptions::check): a
// damaged font never takes the target's name.
class FontCopyCheck final : public CopyCheck {
 public:
  void Feed(std::span<const std::byte> bytes) override { check_.Feed(bytes); }
  std::optional<std::string> Finish(const PendingSha256&) override { return check_.Finish(); }

 private:
  FontStructureCheck check_;
};

// A whole file's bytes at once: for tests and fuzzing.
std::optional<std::string> CheckFontStructure(std::span<const std::byte> bytes);

}  // namespace quorvane
