#include <windows.h>

#include <cwctype>

#include "base/text.h"
#include "base/win32_handles.h"
#include "sync/install_record.h"

namespace quorvane {
namespace {

constexpr wchar_t kRecordsKey[] = L"SOFTWARE\\Quorvane\\Records";

// Every user's fonts keep their record where only administrators write, as
// they alone may write the system's font folder; a user's own, in the user's.
HKEY RootOf(FontScope scope) { return scope == FontScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// Windows' names ignore case: one folder, one value, however it was spelt.
std::wstring ValueName(std::string_view folder) {
  std::wstring name = Widen(folder);
  CharLowerBuffW(name.data(), static_cast<DWORD>(name.size()));
  return name;
}

LSTATUS OpenRecords(FontScope scope, REGSAM access, UniqueRegistryKey& key) {
  HKEY raw = nullptr;
  const LSTATUS opened =
      RegCreateKeyExW(RootOf(scope), kRecordsKey, 0, nullptr, 0, access | KEY_WOW64_64KEY, nullptr, &raw, nullptr);
  if (opened == ERROR_SUCCESS) key = UniqueRegistryKey(raw);
  return opened;
}

}  // namespace

// Only administrators may write under HKLM\SOFTWARE, and only the user (and
// they) under the user's own key: the registry needs no check of its own.
std::optional<UntrustedRecords> CheckRecordsFolder(FontScope, bool) { return std::nullopt; }

std::string CanonicalFolder(std::string_view folder) {
  const std::wstring path = Widen(folder);
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::string(folder);
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return std::string(folder);
  full.resize(length);
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  return Narrow(full);
}

void RecordLock::Release() {
  if (native_ == -1) return;
  const HANDLE mutex = reinterpret_cast<HANDLE>(native_);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  native_ = -1;
}

// A named mutex of the whole machine; one that a run which died held is
// handed on abandoned, which is as good as free: the record is only ever
// replaced whole.
FileResult RecordLock::Take(std::string_view folder, FontScope) {
  Release();
  const std::wstring name = L"Global\\quorvane-record-" + Widen(Hex(RecordChecksum(Narrow(ValueName(folder)))));
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return Failure(FileStep::Record, static_cast<int>(GetLastError()));
  const DWORD waited = WaitForSingleObject(mutex, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    const DWORD error = GetLastError();
    CloseHandle(mutex);
    return Failure(FileStep::Record, static_cast<int>(error));
  }
  native_ = reinterpret_cast<std::intptr_t>(mutex);
  return {};
}

std::variant<RecordText, FileError> LoadRecord(std::string_view folder, FontScope scope) {
  UniqueRegistryKey key;
  HKEY raw = nullptr;
  const LSTATUS opened = RegOpenKeyExW(RootOf(scope), kRecordsKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &raw);
  if (opened == ERROR_FILE_NOT_FOUND) return RecordText{};
  if (opened != ERROR_SUCCESS) return FileError{FileStep::Record, static_cast<int>(opened)};
  key = UniqueRegistryKey(raw);
  const std::wstring name = ValueName(folder);
  DWORD bytes = 0;
  LSTATUS read = RegGetValueW(key.Get(), nullptr, name.c_str(), RRF_RT_REG_BINARY, nullptr, nullptr, &bytes);
  if (read == ERROR_FILE_NOT_FOUND) return RecordText{};
  RecordText record{true, std::string(bytes, '\0')};
  if (read == ERROR_SUCCESS) {
    read = RegGetValueW(key.Get(), nullptr, name.c_str(), RRF_RT_REG_BINARY, nullptr, record.text.data(), &bytes);
  }
  if (read != ERROR_SUCCESS) return FileError{FileStep::Record, static_cast<int>(read)};
  record.text.resize(bytes);
  return record;
}

// One value, set in one call: the registry keeps the old data or the new,
// and the flush puts the new on the disk before the run says it is done.
FileResult SaveRecord(std::string_view folder, FontScope scope, std::string_view text) {
  UniqueRegistryKey key;
  if (const LSTATUS opened = OpenRecords(scope, KEY_SET_VALUE, key); opened != ERROR_SUCCESS) {
    return Failure(FileStep::Record, static_cast<int>(opened));
  }
  const LSTATUS written = RegSetValueExW(key.Get(), ValueName(folder).c_str(), 0, REG_BINARY,
                                         reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size()));
  if (written != ERROR_SUCCESS) return Failure(FileStep::Record, static_cast<int>(written));
  if (const LSTATUS flushed = RegFlushKey(key.Get()); flushed != ERROR_SUCCESS) {
    return Failure(FileStep::Record, static_cast<int>(flushed));
  }
  return {};
}

std::string RecordLocation(std::string_view folder, FontScope scope) {
  return std::string(scope == FontScope::Machine ? "HKLM\\" : "HKCU\\") + Narrow(kRecordsKey) + "\\" +
         Narrow(ValueName(folder));
}

}  // namespace quorvane
