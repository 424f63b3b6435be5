// Installing copied fonts with the running system, as its own Fonts folder
// does: on Windows the Fonts registry value, AddFontResourceExW and one
// WM_FONTCHANGE at the end; elsewhere fontconfig's cache for the folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sync/file_error.h"
#include "sync/font_file.h"

namespace quorvane {

// Whose fonts: every user's (HKLM; needs administrator rights) or the
// current user's alone (HKCU and the per-user font folder, Windows 10 1809 on).
enum class FontScope { Machine, User };

struct RegistrationOutcome {
  enum class Kind { Registered, NotAFont, Failed };
  Kind kind = Kind::Failed;
  std::string valueName;           // the registry value written (Windows)
  std::string notAFont;            // why the file is no font, for NotAFont
  std::optional<FileError> error;  // for Failed
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
  RegistrationFinish finish;
};

class FontRegistrar {
 public:
  FontRegistrar(std::string targetFolder, FontScope scope);

  // After a font was copied or replaced in the target folder.
  RegistrationOutcome Register(std::string_view fontPath);
  // A font in use that `newFont` replaces at the next start: the value is
  // named after the new version and written now, and the running system keeps
  // the old one until then (nothing is loaded, nothing to tell at Finish).
  RegistrationOutcome RegisterAtRestart(std::string_view fontPath, std::string_view newFont);
  // Once, after the run; does nothing when nothing was registered.
  RegistrationFinish Finish();

 private:
  std::string targetFolder_;
  FontScope scope_;
  bool registered_ = false;
};

// What becomes of a file that cannot be registered (no font, or unreadable);
// nothing for a font.
std::optional<RegistrationOutcome> RefusalOf(const FontReadResult& read);

// The value name the Fonts control panel gives a font: "<full name> (TrueType)"
// or "(OpenType)" for CFF outlines; a collection's faces joined with " & "; a
// bitmap font's own description ("MS Sans Serif 8,10,12,14,18,24").
std::string RegistryValueName(const FontFileInfo& info);

// The current user's own font folder: %LOCALAPPDATA%\Microsoft\Windows\Fonts;
// elsewhere the same as SystemFontFolder().
std::string UserFontFolder();

}  // namespace quorvane
