// Why something the core or the command-line tool did failed: the step that
// failed and the system's own code, so every front end can say why (a full
// disk, access denied and a file in use all read differently). One shape for
// file, registry, font-loading, notification and record failures alike.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/system_error.h"

namespace quorvane {

enum class FileStep {
  Open,
  Read,
  Write,
  Flush,
  Close,
  Rename,
  Delete,
  Registry,    // a key or value of the registry: opened, read, written or deleted
  LoadFont,    // the running system was given a font (AddFontResourceExW)
  UnloadFont,  // the running system was asked to let one go (RemoveFontResourceExW)
  Notify,      // running programs or the font cache were told of the change
  Record,      // the record of what the tool installed
};

enum class FileErrorKind {
  System,        // `code` holds errno, GetLastError or a registry LSTATUS
  SameFile,      // source and target are one file (a hard link, or the same path)
  NoSystemCode,  // the system refused without saying why (AddFontResourceExW)
  ExitStatus,    // a helper program failed; `code` is its exit status
  Truncated,     // a file ended before the range asked of it: it changed while being read
  ControlCharacter,  // a font's name holds one, and no Fonts value is named from it
};

struct FileError {
  FileStep step = FileStep::Open;
  int code = 0;
  FileErrorKind kind = FileErrorKind::System;

  bool operator==(const FileError&) const = default;
  // Only a System failure has a code of the system's to report.
  bool HasSystemCode() const { return kind == FileErrorKind::System; }
};

// Success, or what failed.
struct [[nodiscard]] FileResult {
  std::optional<FileError> error;

  bool Succeeded() const { return !error.has_value(); }
  explicit operator bool() const { return Succeeded(); }
};

inline FileResult Failure(FileStep step, int code) { return {FileError{step, code}}; }

// "open", "read", "registry", …: a stable word for machine-readable reports.
std::string_view StepName(FileStep step);

// A short human text for the error, in the system's own words where the
// system has them: "拒绝访问。", "No space left on device".
std::string ReasonText(const FileError& error, Language language = Language::Chinese);

}  // namespace quorvane
