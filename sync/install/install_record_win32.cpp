#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <cwctype>
#include <memory>

#include "base/text.h"
#include "base/win32_handles.h"
#include "sync/files/fault_injection.h"
#include "sync/files/write_access.h"
#include "sync/install/install_record.h"

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

std::wstring& LocksFolderOverride() {
  static std::wstring folder;
  return folder;
}

// The locks' folder: ProgramData's for every user's fonts, the user's own
// local application data for theirs.
std::wstring LocksFolder(FontScope scope) {
  if (!LocksFolderOverride().empty()) return LocksFolderOverride();
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(scope == FontScope::Machine ? FOLDERID_ProgramData : FOLDERID_LocalAppData, 0,
                                     nullptr, &path))) {
    folder = std::wstring(path) + L"\\Quorvane\\Records";
  }
  CoTaskMemFree(path);
  return folder;
}

struct LocalFreeDeleter {
  void operator()(void* memory) const { LocalFree(memory); }
};

// The SID the process runs as, in SDDL's text.
std::wstring OwnSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  const UniqueKernelHandle held(token);
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) return {};
  PWSTR text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) return {};
  const std::unique_ptr<wchar_t, LocalFreeDeleter> freed(text);
  return text;
}

// A folder that is no reparse point, owned by one of those who may write the
// record (administrators, SYSTEM and the account itself: the user of a user's
// scope; for every user's, an administrator), whose every ACE that lets anyone
// add, change or take a file is for one of them.
bool Trusted(HANDLE folder, PSID own) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(folder, &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  return OnlyTrustedMayWrite(folder, own, TrustedSet::Administration);
}

// The locks' folder, made where missing with only administrators, SYSTEM and
// the account itself admitted, and checked: no one else can make a lock in it,
// so no one else can take one first and hold it.
std::variant<UniqueKernelHandle, DWORD> OpenLocksFolder(FontScope scope) {
  const std::wstring folder = LocksFolder(scope), own = OwnSid();
  if (folder.empty() || own.empty()) return static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
  const std::wstring sddl = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FA;;;" + own + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return GetLastError();
  }
  const std::unique_ptr<void, LocalFreeDeleter> freed(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  for (size_t at = folder.find(L'\\', 3); at != std::wstring::npos || !folder.empty();) {
    const std::wstring level = at == std::wstring::npos ? folder : folder.substr(0, at);
    if (!CreateDirectoryW(level.c_str(), &attributes) && GetLastError() != ERROR_ALREADY_EXISTS) return GetLastError();
    if (at == std::wstring::npos) break;
    at = folder.find(L'\\', at + 1);
  }
  UniqueKernelHandle opened{CreateFileW(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
  if (!opened) return GetLastError();
  PSID ownSid = nullptr;
  if (!ConvertStringSidToSidW(own.c_str(), &ownSid)) return GetLastError();
  const std::unique_ptr<void, LocalFreeDeleter> freedSid(ownSid);
  if (!Trusted(opened.Get(), ownSid)) return static_cast<DWORD>(ERROR_ACCESS_DENIED);
  return opened;
}

std::chrono::milliseconds& LockWait() {
  static std::chrono::milliseconds wait = std::chrono::minutes(2);
  return wait;
}

}  // namespace

void SetSystemRecordsFolder(std::string_view folder) { LocksFolderOverride() = Widen(folder); }
void SetRecordLockWait(std::chrono::milliseconds wait) { LockWait() = wait; }

// Only administrators may write under HKLM\SOFTWARE, and only the user (and
// they) under the user's own key: the registry needs no check of its own.
std::optional<UntrustedRecords> CheckRecordsFolder(FontScope, bool) { return std::nullopt; }

// One spelling whatever the one given: 8.3 names, junctions and links
// resolved, the case as on the disk; the full path where the folder cannot be opened.
std::string CanonicalFolder(std::string_view folder) {
  const std::wstring path = Widen(folder);
  const UniqueKernelHandle opened{CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
  if (opened) {
    std::wstring final(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(opened.Get(), final.data(), static_cast<DWORD>(final.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= final.size()) {
      final.resize(length);
      length = GetFinalPathNameByHandleW(opened.Get(), final.data(), static_cast<DWORD>(final.size()),
                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    if (length > 0 && length < final.size()) {
      final.resize(length);
      if (final.starts_with(L"\\\\?\\UNC\\")) {
        final = L"\\" + final.substr(7);
      } else if (final.starts_with(L"\\\\?\\")) {
        final = final.substr(4);
      }
      while (final.size() > 3 && final.back() == L'\\') final.pop_back();
      return Narrow(final);
    }
  }
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
  CloseHandle(reinterpret_cast<HANDLE>(native_));  // the lock goes with it
  native_ = -1;
}

// A file of the locks' folder, opened for no one else to open meanwhile; one
// a run that died left behind is free again. Waited for as long as a run may
// take, and then a failure that says so rather than a hang.
FileResult RecordLock::Take(std::string_view folder, FontScope scope) {
  Release();
  auto opened = OpenLocksFolder(scope);
  if (const DWORD* error = std::get_if<DWORD>(&opened)) return Failure(FileStep::Record, static_cast<int>(*error));
  const std::wstring path =
      LocksFolder(scope) + L"\\" + Widen(Hex(RecordChecksum(Narrow(ValueName(folder))))) + L".lock";
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(LockWait().count());
  for (;;) {
    const HANDLE lock = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (lock != INVALID_HANDLE_VALUE) {
      BY_HANDLE_FILE_INFORMATION information;
      if (!GetFileInformationByHandle(lock, &information) ||
          (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        CloseHandle(lock);
        return Failure(FileStep::Record, ERROR_ACCESS_DENIED);
      }
      native_ = reinterpret_cast<std::intptr_t>(lock);
      return {};
    }
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION) return Failure(FileStep::Record, static_cast<int>(error));
    // A run held back here is what tests of two runs at once wait to see.
    if (const int fault = InjectedFault(FileStep::Record)) return Failure(FileStep::Record, fault);
    if (GetTickCount64() >= deadline) return Failure(FileStep::Record, ERROR_TIMEOUT);
    Sleep(50);
  }
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
  if (const int fault = InjectedFault(FileStep::Record)) return Failure(FileStep::Record, fault);
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
