// The progress line on a terminal's standard error: files and bytes, rate and
// time left, redrawn in place and erased without a trace at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace quorvane::cli {

class ErrorTerminal;

struct ProgressFigures {
  std::int64_t filesDone = 0;
  std::int64_t filesTotal = 0;
  std::uint64_t bytesDone = 0;   // of files handled, and of the one being copied
  std::uint64_t bytesTotal = 0;  // 0: count files only (a dry run copies no bytes)
  double seconds = 0;            // since the run started
};

// "[#####.....]  312/800  245.1 MB/620.3 MB  48.2 MB/s  0:08 left", cut to
// `columns` - 1, so the terminal never wraps it.
std::string ProgressText(const ProgressFigures& figures, int columns);

class ProgressLine {
 public:
  static constexpr std::chrono::milliseconds kRedrawTime{100};

  explicit ProgressLine(const ErrorTerminal& terminal) : terminal_(terminal) {}

  // Draws `figures` when the last drawing is kRedrawTime old (or `now`).
  void Show(const ProgressFigures& figures, bool now = false);
  void Clear();
  bool Shown() const { return width_ > 0; }

 private:
  const ErrorTerminal& terminal_;
  size_t width_ = 0;  // columns the line on screen takes
  std::chrono::steady_clock::time_point lastDrawn_{};
};

}  // namespace quorvane::cli
