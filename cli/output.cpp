#include "cli/output.h"

namespace quorvane::cli {

namespace {
// A batch this large goes out at once: larger ones save no time and cost fresh pages.
constexpr size_t kLarge = 256 << 10;
}  // namespace

// Room for a full batch from the start: growing it would copy it again and again.
Output::Output(AppendFile* log, bool logLinesDiffer)
    : log_(log), logLinesDiffer_(log != nullptr && logLinesDiffer), lastWrite_(CoarseMilliseconds()) {
  buffer_.reserve(kLarge + (4 << 10));
}

bool Output::Due() const {
  return Pending() && (buffer_.size() >= kLarge || CoarseMilliseconds() - lastWrite_ >= kBatchTime.count());
}

void Output::Flush() {
  if (buffer_.empty() && logBuffer_.empty()) return;
  if (!buffer_.empty()) Write(Stream::Out, buffer_);
  if (log_ != nullptr) log_->Append(logLinesDiffer_ ? logBuffer_ : buffer_);
  buffer_.clear();
  logBuffer_.clear();
  lastWrite_ = CoarseMilliseconds();
}

void Output::ToLogOnly(std::string_view text) {
  if (log_ != nullptr) log_->Append(text);
}

}  // namespace quorvane::cli
