// The list of renames the system works through when it next starts
// (MoveFileEx's delay until reboot): how a copy over a font in use waits for
// the restart, and how a later run takes it back.
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text.h"
#include "base/win32_handles.h"
#include "sync/files/file_ops.h"
#include "sync/files/file_ops_win32.h"

namespace quorvane {
namespace {

// The list of renames the system does when it next starts: pairs of paths in
// its own form ("\??\C:\..."), the second with "!" when it replaces and
// empty when the first is only deleted. Administrators may change it.
constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kRestartRenames[] = L"PendingFileRenameOperations";

// Nothing when the list cannot be read; an empty list when there is none.
std::optional<std::vector<RestartRename>> ReadRestartRenames(HKEY key) {
  std::vector<wchar_t> data(4096);
  DWORD bytes = 0, type = 0;
  for (;;) {
    bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    const LSTATUS status =
        RegQueryValueExW(key, kRestartRenames, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes);
    if (status == ERROR_FILE_NOT_FOUND) return std::vector<RestartRename>{};
    if (status == ERROR_SUCCESS) break;
    if (status != ERROR_MORE_DATA) return std::nullopt;
    data.resize(std::max<size_t>(data.size() * 2, bytes / sizeof(wchar_t) + 1));
  }
  if (type != REG_MULTI_SZ) return std::nullopt;
  // Split by length, not at the first empty string: a deletion's second path is one.
  std::vector<std::wstring> strings;
  const std::wstring_view all(data.data(), bytes / sizeof(wchar_t));
  for (size_t at = 0; at < all.size();) {
    const size_t end = std::min(all.find(L'\0', at), all.size());
    strings.emplace_back(all.substr(at, end - at));
    at = end + 1;
  }
  std::vector<RestartRename> renames;
  for (size_t i = 0; i + 1 < strings.size() && !strings[i].empty(); i += 2) {
    renames.push_back({std::move(strings[i]), std::move(strings[i + 1])});
  }
  return renames;
}

LSTATUS WriteRestartRenames(HKEY key, const std::vector<RestartRename>& renames) {
  if (renames.empty()) {
    const LSTATUS deleted = RegDeleteValueW(key, kRestartRenames);
    return deleted == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : deleted;
  }
  std::wstring data;
  for (const RestartRename& rename : renames) {
    data.append(rename.from).push_back(L'\0');
    data.append(rename.to).push_back(L'\0');
  }
  data.push_back(L'\0');
  return RegSetValueExW(key, kRestartRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

// The session manager's key, opened once: a run asks about every font it leaves.
HKEY SessionManagerKey(bool& writable) {
  static const auto opened = [] {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) ==
        ERROR_SUCCESS) {
      return std::pair{UniqueRegistryKey(key), true};
    }
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, &key);
    return std::pair{UniqueRegistryKey(key), false};
  }();
  writable = opened.second;
  return opened.first.Get();
}

// A path as a plain full Win32 path, whether written as the rename list
// writes it ("\??\", "!" before a replace), in the long form or relative.
std::wstring PlainPath(std::wstring_view path) {
  if (path.starts_with(L'!')) path.remove_prefix(1);
  for (const std::wstring_view unc : {L"\\??\\UNC\\", L"\\\\?\\UNC\\"}) {
    if (path.starts_with(unc)) return L"\\\\" + std::wstring(path.substr(unc.size()));
  }
  for (const std::wstring_view local : {L"\\??\\", L"\\\\?\\"}) {
    if (path.starts_with(local)) return std::wstring(path.substr(local.size()));
  }
  const std::wstring relative(path);
  const DWORD needed = GetFullPathNameW(relative.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return relative;
  std::wstring full(needed, L'\0');
  full.resize(GetFullPathNameW(relative.c_str(), needed, full.data(), nullptr));
  return full;
}

bool SamePath(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
             CSTR_EQUAL;
}

std::wstring_view NameOf(std::wstring_view path) { return path.substr(path.find_last_of(L"\\/") + 1); }

}  // namespace

bool IsWaitingName(std::wstring_view name) {
  constexpr std::wstring_view kWaiting = L".pending";
  if (!name.ends_with(kWaiting)) return false;
  name.remove_suffix(kWaiting.size());
  return IsTemporaryName(Narrow(name) + ".tmp");
}

// Takes back what earlier runs scheduled for `target`, all but `keep`: their
// renames leave the list and their waiting copies go. One whose entry cannot
// be taken out (no right to) still loses its copy: the system passes over a
// rename whose file is gone.
void WithdrawWaitingCopies(const std::wstring& target, std::wstring_view keep) {
  bool writable = false;
  const HKEY key = SessionManagerKey(writable);
  if (key == nullptr) return;
  auto renames = ReadRestartRenames(key);
  if (!renames || renames->empty()) return;
  const std::wstring plainTarget = PlainPath(target), plainKeep = keep.empty() ? L"" : PlainPath(keep);
  std::vector<std::wstring> withdrawn;
  std::erase_if(*renames, [&](const RestartRename& rename) {
    const std::wstring from = PlainPath(rename.from);
    const bool ours = rename.to.starts_with(L'!') && IsWaitingName(NameOf(from)) &&
                      SamePath(PlainPath(rename.to), plainTarget) && !SamePath(from, plainKeep);
    if (ours) withdrawn.push_back(from);
    return ours;
  });
  if (withdrawn.empty()) return;
  if (writable) WriteRestartRenames(key, *renames);
  for (const std::wstring& copy : withdrawn) DeleteFileW(SystemPath(Narrow(copy)).c_str());
}

// The new file waits under a name no clean-up takes while the list names it
// (".pending", not ".tmp") and takes the target's place when the system next
// starts; what earlier runs scheduled for the target is withdrawn. False, with
// nothing left behind, when the system will not schedule it (no right to).
bool ScheduleAtReboot(UniqueKernelHandle& file, const std::wstring& tempPath, const std::wstring& targetPath) {
  std::wstring pending = tempPath;
  pending.replace(pending.size() - 4, 4, L".pending");
  if (!MoveFileExW(tempPath.c_str(), pending.c_str(), MOVEFILE_WRITE_THROUGH)) return false;
  // Still held, so that no other run's clean-up takes it before the list names it.
  if (MoveFileExW(pending.c_str(), targetPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
    file.Reset();
    WithdrawWaitingCopies(targetPath, pending);
    return true;
  }
  const DWORD refused = GetLastError();
  if (!MoveFileExW(pending.c_str(), tempPath.c_str(), 0)) DeleteFileW(pending.c_str());
  SetLastError(refused);
  return false;
}

bool RestartRenameList::Moves(const std::wstring& path) {
  if (!read_) {
    bool writable = false;
    if (const HKEY key = SessionManagerKey(writable)) renames_ = ReadRestartRenames(key);
    read_ = true;
  }
  if (!renames_) return true;  // unknown: kept
  const std::wstring plain = PlainPath(path);
  return std::ranges::any_of(*renames_, [&](const RestartRename& r) { return SamePath(PlainPath(r.from), plain); });
}

}  // namespace quorvane
