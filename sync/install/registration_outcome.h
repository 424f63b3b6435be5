// What registering fonts comes to, apart from the registrar that does it: what
// the run's summary, its rows and its record carry, without the font reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sync/files/file_error.h"

namespace quorvane {

// Whose fonts: every user's (HKLM; needs administrator rights) or the
// current user's alone (HKCU and the per-user font folder, Windows 10 1809 on).
enum class FontScope { Machine, User };

struct RegistrationOutcome {
  enum class Kind {
    Registered,
    NotAFont,
    Failed,
    Conflict,  // a value of that name names another file, which exists: left as it was
  };
  Kind kind = Kind::Failed;
  std::string valueName;           // the registry value written, or in conflict (Windows)
  std::string notAFont;            // why the file is no font, for NotAFont
  std::optional<FileError> error;  // for Failed
  std::string other;               // for Conflict: the file the value names
  std::string replaced;            // Registered over a stale value: the file it named, which is gone

  static RegistrationOutcome Success(std::string valueName, std::string replaced = {});
  static RegistrationOutcome NoFont(std::string why);
  static RegistrationOutcome Failure(FileError error);
  static RegistrationOutcome InConflict(std::string valueName, std::string other);
};

struct RegistrationFinish {
  // Windows: the running programs were told (WM_FONTCHANGE); elsewhere: the
  // font cache of the folder was refreshed.
  bool notified = false;
  // What kept the cache from being refreshed, at FileStep::Notify: fc-cache
  // could not be started (the system's code), or ended with another status
  // than 0 (FileErrorKind::ExitStatus).
  std::optional<FileError> error;
};

// What the registrations of one run came to.
struct RegistrationTally {
  std::int64_t registered = 0;
  std::int64_t notAFont = 0;
  std::int64_t failed = 0;
  std::int64_t conflict = 0;
  RegistrationFinish finish;
};

}  // namespace quorvane
