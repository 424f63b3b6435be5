#include <windows.h>
#include <shlobj.h>

#include "base/text.h"
#include "sync/install/font_folder.h"

namespace quorvane {

std::string SystemFontFolder() {
  PWSTR path = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Fonts, 0, nullptr, &path))) folder = Narrow(path);
  CoTaskMemFree(path);  // owed even when the call fails
  return folder;
}

}  // namespace quorvane
