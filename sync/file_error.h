// Why a file operation failed: the step that failed and the system's own
// error code, so every front end can say why (a full disk, access denied and a
// file in use all read differently).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/system_error.h"

namespace quorvane {

enum class FileStep { Open, Read, Write, Flush, Close, Rename, Delete };

enum class FileErrorKind {
  System,    // `code` holds errno or GetLastError
  SameFile,  // source and target are one file (a hard link, or the same path)
};

struct FileError {
  FileStep step = FileStep::Open;
  int code = 0;
  FileErrorKind kind = FileErrorKind::System;

  bool operator==(const FileError&) const = default;
};

// Success, or what failed.
struct [[nodiscard]] FileResult {
  std::optional<FileError> error;

  bool Succeeded() const { return !error.has_value(); }
  explicit operator bool() const { return Succeeded(); }
};

inline FileResult Failure(FileStep step, int code) { return {FileError{step, code}}; }

// "open", "read", …: a stable word for machine-readable reports.
std::string_view StepName(FileStep step);

// A short human text for the error, in the system's own words where the
// system has them: "拒绝访问。", "No space left on device".
std::string ReasonText(const FileError& error, Language language = Language::Chinese);

}  // namespace quorvane
