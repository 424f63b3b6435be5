// Standard output and the log, written in batches: one write per 100 ms of
// rows rather than one per row, and at once whenever something slow comes
// next, so a line is never held back by a copy.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "cli/platform.h"

namespace quorvane::cli {

class Output {
 public:
  static constexpr std::chrono::milliseconds kBatchTime{100};

  // `logLinesDiffer`: the log gets lines of its own (LogBuffer), not the same.
  Output(AppendFile* log, bool logLinesDiffer);
  ~Output() { Flush(); }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // Where the report writers append their lines.
  std::string& Buffer() { return buffer_; }
  // Where the log's own lines go, when it has them; otherwise it gets Buffer's.
  std::string* LogBuffer() { return logLinesDiffer_ ? &logBuffer_ : nullptr; }
  bool Pending() const { return !buffer_.empty() || !logBuffer_.empty(); }
  // True when what is pending should be written now: the last write is
  // kBatchTime old, or much is pending.
  bool Due() const;
  void Flush();
  bool Logs() const { return log_ != nullptr; }
  // Lines for the log alone (its start line, what standard error said).
  void ToLogOnly(std::string_view text);

 private:
  AppendFile* log_;
  bool logLinesDiffer_;
  std::string buffer_;
  std::string logBuffer_;
  std::int64_t lastWrite_;  // CoarseMilliseconds()
};

}  // namespace quorvane::cli
