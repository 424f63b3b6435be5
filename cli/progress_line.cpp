#include "cli/progress_line.h"

#include <algorithm>
#include <cstdio>

#include "cli/platform.h"
#include "cli/texts.h"

namespace quorvane::cli {

std::string ProgressText(const ProgressFigures& figures, int columns) {
  constexpr int kBarWidth = 20;
  const double fraction =
      figures.bytesTotal > 0 ? static_cast<double>(figures.bytesDone) / static_cast<double>(figures.bytesTotal)
      : figures.filesTotal > 0 ? static_cast<double>(figures.filesDone) / static_cast<double>(figures.filesTotal)
                               : 0.0;
  const int filled = std::clamp(static_cast<int>(fraction * kBarWidth), 0, kBarWidth);
  std::string text(1, '[');
  text.append(static_cast<size_t>(filled), '#');
  text.append(static_cast<size_t>(kBarWidth - filled), '.');
  text += "]  ";
  text += std::to_string(figures.filesDone);
  text += '/';
  text += std::to_string(figures.filesTotal);
  if (figures.bytesTotal > 0) {
    text += "  " + ByteSize(figures.bytesDone) + "/" + ByteSize(figures.bytesTotal);
    // A rate needs a moment of history to mean anything.
    if (figures.seconds >= 0.5 && figures.bytesDone > 0) {
      const double rate = static_cast<double>(figures.bytesDone) / figures.seconds;
      text += "  " + ByteSize(static_cast<std::uint64_t>(rate)) + "/s";
      const auto left = static_cast<long long>(static_cast<double>(figures.bytesTotal - figures.bytesDone) / rate);
      char eta[32];
      std::snprintf(eta, sizeof eta, "  %lld:%02lld left", left / 60, left % 60);
      text += eta;
    }
  }
  const size_t room = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
  if (text.size() > room) text.resize(room);
  return text;
}

void ProgressLine::Show(const ProgressFigures& figures, bool now) {
  const auto time = std::chrono::steady_clock::now();
  if (!now && time - lastDrawn_ < kRedrawTime) return;
  lastDrawn_ = time;
  const std::string text = ProgressText(figures, terminal_.Columns());
  std::string out(1, '\r');
  out += text;
  if (terminal_.HasEscapes()) {
    out += "\x1b[K";
  } else if (text.size() < width_) {
    out.append(width_ - text.size(), ' ');  // the rest of a longer line before
    out += '\r';
    out += text;
  }
  // Without escapes the widest line drawn is what a clear must cover.
  width_ = terminal_.HasEscapes() ? text.size() : std::max(width_, text.size());
  Write(Stream::Err, out);
}

void ProgressLine::Clear() {
  if (!Shown()) return;
  std::string out(1, '\r');
  if (terminal_.HasEscapes()) {
    out += "\x1b[K";
  } else {
    out.append(width_, ' ');
    out += '\r';
  }
  Write(Stream::Err, out);
  width_ = 0;
}

}  // namespace quorvane::cli
