#include <windows.h>
#include <shlobj.h>

#include <cwctype>
#include <optional>
#include <vector>

#include "base/text.h"
#include "base/win32_handles.h"
#include "sync/file_ops.h"
#include "sync/font_folder.h"
#include "sync/font_registration.h"

namespace quorvane {
namespace {

constexpr wchar_t kFontsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

RegistrationOutcome Failed(FileError error) { return {RegistrationOutcome::Kind::Failed, {}, {}, error}; }

RegistrationOutcome RegistryFailed(LSTATUS code) { return Failed(FileError{FileStep::Registry, static_cast<int>(code)}); }

bool SameText(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
             CSTR_EQUAL;
}

// One value per font file: a value of another name for the same file (an
// earlier version named its face otherwise) goes, so a second run adds nothing.
void RemoveOtherNamesOf(HKEY key, std::wstring_view data, std::wstring_view keep) {
  std::vector<std::wstring> stale;
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD nameLength = static_cast<DWORD>(std::size(name));
    wchar_t value[1024];
    DWORD valueBytes = sizeof value;
    DWORD type = 0;
    const LSTATUS status = RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                         reinterpret_cast<BYTE*>(value), &valueBytes);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    std::wstring_view stored(value, valueBytes / sizeof(wchar_t));
    while (!stored.empty() && stored.back() == L'\0') stored.remove_suffix(1);
    const std::wstring_view valueName(name, nameLength);
    if (SameText(stored, data) && valueName != keep) stale.emplace_back(valueName);
  }
  for (const std::wstring& name : stale) RegDeleteValueW(key, name.c_str());
}

bool SameFolder(std::string_view a, std::string_view b) {
  const auto first = IdentityOf(a), second = IdentityOf(b);
  return first && second && *first == *second;
}

// Writes the Fonts value of the font at `path`, named from `info`; nothing on success.
std::optional<RegistrationOutcome> WriteFontsValue(const std::string& targetFolder, FontScope scope,
                                                   const FontFileInfo& info, const std::wstring& path) {
  const std::wstring valueName = Widen(RegistryValueName(info));
  // In the system's own font folder the Fonts panel writes the bare file name;
  // anywhere else, and for a user's fonts, the full path.
  std::wstring data = path;
  if (scope == FontScope::Machine && SameFolder(targetFolder, SystemFontFolder())) {
    data = path.substr(path.find_last_of(L"\\/") + 1);
  }

  HKEY raw = nullptr;
  // The 64-bit view: where Windows reads the fonts, even for the 32-bit tool.
  const LSTATUS opened = RegCreateKeyExW(scope == FontScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                                         kFontsKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY,
                                         nullptr, &raw, nullptr);
  if (opened != ERROR_SUCCESS) return RegistryFailed(opened);
  const UniqueRegistryKey key(raw);
  RemoveOtherNamesOf(key.Get(), data, valueName);
  const LSTATUS written =
      RegSetValueExW(key.Get(), valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  if (written != ERROR_SUCCESS) return RegistryFailed(written);
  return std::nullopt;
}

}  // namespace

FontRegistrar::FontRegistrar(std::string targetFolder, FontScope scope)
    : targetFolder_(std::move(targetFolder)), scope_(scope) {}

RegistrationOutcome FontRegistrar::Register(std::string_view fontPath) {
  const FontReadResult read = ReadFontFile(fontPath);
  if (auto refused = RefusalOf(read)) return std::move(*refused);
  const FontFileInfo& info = std::get<FontFileInfo>(read);
  const std::wstring path = Widen(fontPath);
  if (auto failed = WriteFontsValue(targetFolder_, scope_, info, path)) return std::move(*failed);
  // Usable now, in this session; the registry value makes it so after a restart.
  // It says no more than "no": there is no error code to give.
  if (AddFontResourceExW(path.c_str(), 0, nullptr) == 0) {
    return Failed(FileError{FileStep::LoadFont, 0, FileErrorKind::NoSystemCode});
  }
  registered_ = true;
  return {RegistrationOutcome::Kind::Registered, RegistryValueName(info), {}, std::nullopt};
}

// The file in use stays loaded until the restart replaces it; loading the
// waiting one now would hold it open and stop the rename.
RegistrationOutcome FontRegistrar::RegisterAtRestart(std::string_view fontPath, std::string_view newFont) {
  const FontReadResult read = ReadFontFile(newFont);
  if (auto refused = RefusalOf(read)) return std::move(*refused);
  const FontFileInfo& info = std::get<FontFileInfo>(read);
  if (auto failed = WriteFontsValue(targetFolder_, scope_, info, Widen(fontPath))) return std::move(*failed);
  return {RegistrationOutcome::Kind::Registered, RegistryValueName(info), {}, std::nullopt};
}

RegistrationFinish FontRegistrar::Finish() {
  if (!registered_) return {};
  // A hung window must not hang the run: each gets a second at most.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored);
  return {.notified = true, .error = std::nullopt};
}

std::string UserFontFolder() {
  PWSTR path = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path))) {
    folder = Narrow(path) + "\\Microsoft\\Windows\\Fonts";
  }
  CoTaskMemFree(path);
  return folder;
}

}  // namespace quorvane
