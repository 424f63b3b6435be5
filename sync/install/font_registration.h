// Installing copied fonts with the running system, as its own Fonts folder
// does: on Windows the Fonts registry value, AddFontResourceExW and one
// WM_FONTCHANGE at the end; elsewhere fontconfig's cache for the folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sync/files/file_error.h"
#include "sync/fonts/font_file.h"
#include "sync/install/registration_outcome.h"

namespace quorvane {

// A value of the Fonts registry key.
struct FontsEntry {
  std::string name;
  std::string file;  // a full path: a bare file name is in the system font folder
};

// Whether the system installs fonts by a list of values (Windows' Fonts key)
// rather than by the folder they are in (fontconfig).
bool HasFontsValues();

// The Fonts values of `scope` (Windows); none elsewhere, which has no such list.
std::vector<FontsEntry> ReadFontsValues(FontScope scope);

// Every Fonts value of `scope` that names `from` names `to` instead, written
// as the registrar writes its values for `targetFolder`; their names go into
// `moved`. Nothing to do elsewhere.
FileResult MoveFontsValues(std::string_view targetFolder, FontScope scope, std::string_view from, std::string_view to,
                           std::vector<std::string>& moved);

class FontRegistrar {
 public:
  FontRegistrar(std::string targetFolder, FontScope scope);

  FontScope Scope() const { return scope_; }

  // After a font was copied or replaced in the target folder; `font` is what
  // it holds, as a run read it already.
  RegistrationOutcome Register(std::string_view fontPath, const FontReadResult& font);
  RegistrationOutcome Register(std::string_view fontPath) { return Register(fontPath, ReadFontFile(fontPath)); }
  // A font in use that `newFont` replaces at the next start: the value is
  // named after the new version and written now, and the running system keeps
  // the old one until then (nothing is loaded, nothing to tell at Finish).
  RegistrationOutcome RegisterAtRestart(std::string_view fontPath, const FontReadResult& newFont);
  RegistrationOutcome RegisterAtRestart(std::string_view fontPath, std::string_view newFont) {
    return RegisterAtRestart(fontPath, ReadFontFile(newFont));
  }
  // Something else changed the fonts (a font removed): Finish tells the
  // system of it too, in the same one notification.
  void NoteChange() { registered_ = true; }
  // Once, after the run; does nothing when nothing was registered or changed.
  RegistrationFinish Finish();

 private:
  std::string targetFolder_;
  FontScope scope_;
  bool registered_ = false;
};

// What becomes of a file that cannot be registered (no font, unreadable, or
// named with a control character); nothing for a font.
std::optional<RegistrationOutcome> RefusalOf(const FontReadResult& read);

// The value name the Fonts control panel gives a font: "<full name> (TrueType)"
// or "(OpenType)" for CFF outlines; a collection's faces joined with " & "; a
// bitmap font's own description ("MS Sans Serif 8,10,12,14,18,24").
std::string RegistryValueName(const FontFileInfo& info);

// Tells the running system that fonts changed: Windows broadcasts
// WM_FONTCHANGE (a hung window is given a second), elsewhere fontconfig's
// cache of the folder is refreshed.
RegistrationFinish NotifyFontChange(std::string_view targetFolder);

// Deletes every Fonts value of `scope` that names `file`, putting each (its
// name and the data it held) into `deleted`, for RestoreFontsValues to put
// back. Nothing to do elsewhere.
FileResult DeleteFontsValues(FontScope scope, std::string_view file, std::vector<FontsEntry>& deleted);
void RestoreFontsValues(FontScope scope, const std::vector<FontsEntry>& values);

// Lets the running session forget a font it loaded from `path` (Windows:
// RemoveFontResourceExW), before the file goes; nothing to do elsewhere, nor
// for a font the session never loaded. True when it had been loaded.
bool UnloadFont(std::string_view path);
// Loads it again, when the file could not go after all.
void ReloadFont(std::string_view path);

// The current user's own font folder: %LOCALAPPDATA%\Microsoft\Windows\Fonts;
// elsewhere the same as SystemFontFolder().
std::string UserFontFolder();

}  // namespace quorvane
