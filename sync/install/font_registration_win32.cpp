#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cwctype>
#include <optional>
#include <vector>

#include "base/text.h"
#include "base/win32_handles.h"
#include "sync/files/file_ops.h"
#include "sync/install/font_folder.h"
#include "sync/install/font_registration.h"

namespace quorvane {
namespace {

constexpr wchar_t kFontsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

RegistrationOutcome RegistryFailed(LSTATUS code) {
  return RegistrationOutcome::Failure(FileError{FileStep::Registry, static_cast<int>(code)});
}

bool SameText(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
             CSTR_EQUAL;
}

// The Fonts key of a scope, in the 64-bit view: where Windows reads the
// fonts, even for the 32-bit tool.
LSTATUS OpenFontsKey(FontScope scope, REGSAM access, UniqueRegistryKey& key) {
  HKEY raw = nullptr;
  const HKEY root = scope == FontScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  const LSTATUS opened =
      RegCreateKeyExW(root, kFontsKey, 0, nullptr, 0, access | KEY_WOW64_64KEY, nullptr, &raw, nullptr);
  if (opened == ERROR_SUCCESS) key = UniqueRegistryKey(raw);
  return opened;
}

// A string value's data without its terminating nulls.
std::wstring_view Trimmed(const std::vector<wchar_t>& data, DWORD bytes) {
  std::wstring_view stored(data.data(), bytes / sizeof(wchar_t));
  while (!stored.empty() && stored.back() == L'\0') stored.remove_suffix(1);
  return stored;
}

// Each string value of the key: its name and its data, however long (a user's
// font deep in a profile has a path far past MAX_PATH).
template <typename Visit>
void ForEachValue(HKEY key, Visit visit) {
  std::vector<wchar_t> name(16384), data(1024);
  for (DWORD index = 0;;) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataBytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    DWORD type = 0;
    const LSTATUS status = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                         reinterpret_cast<BYTE*>(data.data()), &dataBytes);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_MORE_DATA) {  // the same value again, with room for it all
      data.resize(std::max<size_t>(data.size() * 2, dataBytes / sizeof(wchar_t) + 1));
      continue;
    }
    ++index;
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) continue;
    visit(std::wstring_view(name.data(), nameLength), Trimmed(data, dataBytes));
  }
}

// The string data of one value, however long; nothing when there is no such value.
std::optional<std::wstring> ReadValue(HKEY key, const std::wstring& name) {
  std::vector<wchar_t> data(1024);
  for (;;) {
    DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    const LSTATUS status = RegGetValueW(key, nullptr, name.c_str(), RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                                        nullptr, data.data(), &bytes);
    if (status == ERROR_SUCCESS) return std::wstring(Trimmed(data, bytes));
    if (status != ERROR_MORE_DATA) return std::nullopt;
    data.resize(std::max<size_t>(data.size() * 2, bytes / sizeof(wchar_t) + 1));
  }
}

// A value's data as a full path: a bare file name is in the system font folder.
std::wstring FileNamedBy(std::wstring_view data, const std::string& systemFolder) {
  if (data.find_first_of(L"\\/:") != std::wstring_view::npos) return std::wstring(data);
  return Widen(JoinPath(systemFolder, Narrow(data)));
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
  if (SameText(a, b)) return true;
  const auto first = IdentityOf(Narrow(a)), second = IdentityOf(Narrow(b));
  return first && second && *first == *second;
}

// One value per font file: a value of another name for the same file (an
// earlier version named its face otherwise) goes, so a second run adds nothing.
void RemoveOtherNamesOf(HKEY key, std::wstring_view data, std::wstring_view keep) {
  std::vector<std::wstring> stale;
  ForEachValue(key, [&](std::wstring_view name, std::wstring_view stored) {
    if (SameText(stored, data) && name != keep) stale.emplace_back(name);
  });
  for (const std::wstring& name : stale) RegDeleteValueW(key, name.c_str());
}

bool SameFolder(std::string_view a, std::string_view b) {
  const auto first = IdentityOf(a), second = IdentityOf(b);
  return first && second && *first == *second;
}

// In the system's own font folder the Fonts panel writes the bare file name;
// anywhere else, and for a user's fonts, the full path.
std::wstring DataFor(const std::string& targetFolder, FontScope scope, const std::wstring& path) {
  if (scope == FontScope::Machine && SameFolder(targetFolder, SystemFontFolder())) {
    return path.substr(path.find_last_of(L"\\/") + 1);
  }
  return path;
}

LSTATUS SetValue(HKEY key, const std::wstring& name, const std::wstring& data) {
  return RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

enum class LoadNow { No, Yes };

// Writes the Fonts value of the font at `path`, named from `info`. A value of
// that name that names another file is never overwritten while that file
// exists; one whose file is gone is stale, and replaced. With LoadNow::Yes the
// font is loaded first: a font the system refuses leaves the key as it was.
RegistrationOutcome WriteFontsValue(const std::string& targetFolder, FontScope scope, const FontFileInfo& info,
                                    const std::wstring& path, LoadNow load) {
  const std::string name = RegistryValueName(info);
  const std::wstring valueName = Widen(name), data = DataFor(targetFolder, scope, path);
  UniqueRegistryKey key;
  if (const LSTATUS opened = OpenFontsKey(scope, KEY_QUERY_VALUE | KEY_SET_VALUE, key); opened != ERROR_SUCCESS) {
    return RegistryFailed(opened);
  }
  std::string replaced;
  if (const std::optional<std::wstring> held = ReadValue(key.Get(), valueName)) {
    const std::wstring other = FileNamedBy(*held, SystemFontFolder());
    if (!SameFile(other, path)) {
      // Only a file known to be gone frees its value: one behind a path that is
      // down or denied to this account is still somebody's font.
      bool exists = false;
      if (FileResult checked = CheckEntry(Narrow(other), exists); !checked) {
        return RegistrationOutcome::Failure(*checked.error);
      }
      if (exists) return RegistrationOutcome::InConflict(name, Narrow(other));
      replaced = Narrow(*held);
    }
  }
  // It says no more than "no": there is no error code to give.
  if (load == LoadNow::Yes && AddFontResourceExW(path.c_str(), 0, nullptr) == 0) {
    return RegistrationOutcome::Failure(FileError{FileStep::LoadFont, 0, FileErrorKind::NoSystemCode});
  }
  if (const LSTATUS written = SetValue(key.Get(), valueName, data); written != ERROR_SUCCESS) {
    if (load == LoadNow::Yes) RemoveFontResourceExW(path.c_str(), 0, nullptr);
    return RegistryFailed(written);
  }
  RemoveOtherNamesOf(key.Get(), data, valueName);
  return RegistrationOutcome::Success(name, std::move(replaced));
}

}  // namespace

FontRegistrar::FontRegistrar(std::string targetFolder, FontScope scope)
    : targetFolder_(std::move(targetFolder)), scope_(scope) {}

RegistrationOutcome FontRegistrar::Register(std::string_view fontPath, const FontReadResult& read) {
  if (auto refused = RefusalOf(read)) return std::move(*refused);
  const FontFileInfo& info = std::get<FontFileInfo>(read);
  const std::wstring path = Widen(fontPath);
  // Usable now, in this session; the registry value makes it so after a restart.
  RegistrationOutcome outcome = WriteFontsValue(targetFolder_, scope_, info, path, LoadNow::Yes);
  if (outcome.kind == RegistrationOutcome::Kind::Registered) registered_ = true;
  return outcome;
}

// The file in use stays loaded until the restart replaces it; loading the
// waiting one now would hold it open and stop the rename.
RegistrationOutcome FontRegistrar::RegisterAtRestart(std::string_view fontPath, const FontReadResult& read) {
  if (auto refused = RefusalOf(read)) return std::move(*refused);
  return WriteFontsValue(targetFolder_, scope_, std::get<FontFileInfo>(read), Widen(fontPath), LoadNow::No);
}

RegistrationFinish FontRegistrar::Finish() {
  if (!registered_) return {};
  return NotifyFontChange(targetFolder_);
}

RegistrationFinish NotifyFontChange(std::string_view) {
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

FileResult DeleteFontsValues(FontScope scope, std::string_view file, std::vector<FontsEntry>& deleted) {
  UniqueRegistryKey key;
  if (const LSTATUS opened = OpenFontsKey(scope, KEY_QUERY_VALUE | KEY_SET_VALUE, key); opened != ERROR_SUCCESS) {
    return Failure(FileStep::Registry, opened);
  }
  const std::string systemFolder = SystemFontFolder();
  const std::wstring target = Widen(file);
  std::vector<std::pair<std::wstring, std::wstring>> naming;
  ForEachValue(key.Get(), [&](std::wstring_view name, std::wstring_view data) {
    if (SameText(FileNamedBy(data, systemFolder), target)) naming.emplace_back(name, data);
  });
  for (const auto& [name, data] : naming) {
    if (const LSTATUS removed = RegDeleteValueW(key.Get(), name.c_str()); removed != ERROR_SUCCESS) {
      return Failure(FileStep::Registry, removed);
    }
    deleted.push_back({Narrow(name), Narrow(data)});
  }
  return {};
}

void RestoreFontsValues(FontScope scope, const std::vector<FontsEntry>& values) {
  UniqueRegistryKey key;
  if (OpenFontsKey(scope, KEY_SET_VALUE, key) != ERROR_SUCCESS) return;
  for (const FontsEntry& value : values) SetValue(key.Get(), Widen(value.name), Widen(value.file));
}

bool UnloadFont(std::string_view path) {
  // Once for every time it was added; a font never loaded here just fails.
  const std::wstring file = Widen(path);
  int times = 0;
  while (times < 16 && RemoveFontResourceExW(file.c_str(), 0, nullptr)) ++times;
  return times > 0;
}

void ReloadFont(std::string_view path) { AddFontResourceExW(Widen(path).c_str(), 0, nullptr); }

bool HasFontsValues() { return true; }

std::vector<FontsEntry> ReadFontsValues(FontScope scope) {
  std::vector<FontsEntry> values;
  UniqueRegistryKey key;
  if (OpenFontsKey(scope, KEY_QUERY_VALUE, key) != ERROR_SUCCESS) return values;
  const std::string systemFolder = SystemFontFolder();
  ForEachValue(key.Get(), [&](std::wstring_view name, std::wstring_view data) {
    values.push_back({Narrow(name), Narrow(FileNamedBy(data, systemFolder))});
  });
  return values;
}

FileResult MoveFontsValues(std::string_view targetFolder, FontScope scope, std::string_view from, std::string_view to,
                           std::vector<std::string>& moved) {
  UniqueRegistryKey key;
  if (const LSTATUS opened = OpenFontsKey(scope, KEY_QUERY_VALUE | KEY_SET_VALUE, key); opened != ERROR_SUCCESS) {
    return Failure(FileStep::Registry, opened);
  }
  const std::wstring old = Widen(from);
  const std::string systemFolder = SystemFontFolder();
  std::vector<std::wstring> naming;
  ForEachValue(key.Get(), [&](std::wstring_view name, std::wstring_view data) {
    if (SameText(FileNamedBy(data, systemFolder), old)) naming.emplace_back(name);
  });
  const std::wstring data = DataFor(std::string(targetFolder), scope, Widen(to));
  for (const std::wstring& name : naming) {
    if (const LSTATUS written = SetValue(key.Get(), name, data); written != ERROR_SUCCESS) {
      return Failure(FileStep::Registry, written);
    }
    moved.push_back(Narrow(name));
  }
  return {};
}

}  // namespace quorvane
