#include "cli/output.h"

namespace quorvane::cli {

namespace {
constexpr size_t kLarge = 1 << 20;
}  // namespace

// Room for a full batch from the start: growing it would copy it again and again.
Output::Output(AppendFile* log) : log_(log), lastWrite_(std::chrono::steady_clock::now()) {
  buffer_.reserve(kLarge + (64 << 10));
}

bool Output::Due() const {
  return !buffer_.empty() &&
         (buffer_.size() >= kLarge || std::chrono::steady_clock::now() - lastWrite_ >= kBatchTime);
}

void Output::Flush() {
  if (buffer_.empty()) return;
  Write(Stream::Out, buffer_);
  if (log_ != nullptr) log_->Append(buffer_);
  buffer_.clear();
  lastWrite_ = std::chrono::steady_clock::now();
}

void Output::ToLogOnly(std::string_view text) {
  if (log_ != nullptr) log_->Append(text);
}

}  // namespace quorvane::cli
