#include <windows.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>
#include <vector>

#include "base/text.h"
#include "base/win32_handles.h"
#include "cli/platform.h"
#include "sync/files/file_ops.h"
#include "sync/files/write_access.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace quorvane::cli {

const PathStyle kPathStyle = PathStyle::Windows;

namespace {

HANDLE HandleOf(Stream stream) { return GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE); }

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

bool WriteAll(HANDLE handle, std::string_view text) {
  while (!text.empty()) {
    DWORD put = 0;
    const DWORD size = static_cast<DWORD>(std::min<size_t>(text.size(), 1 << 30));
    if (!WriteFile(handle, text.data(), size, &put, nullptr) || put == 0) return false;
    text.remove_prefix(put);
  }
  return true;
}

std::atomic<int> interrupts{0};
// Set when the run has written its summary; a closing console waits for it.
HANDLE runEnded = nullptr;
char secondInterruptMessage[256];
DWORD secondInterruptMessageSize = 0;

// Runs on a thread of its own that the system starts for each event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (interrupts.fetch_add(1) > 0) {
    AbandonCopyInProgress();
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), secondInterruptMessage, secondInterruptMessageSize, &written, nullptr);
    TerminateProcess(GetCurrentProcess(), 130);
    return TRUE;
  }
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // The system ends the process as soon as this returns, and after 5 s at
    // the latest: give the run that long to stop and report.
    if (runEnded != nullptr) WaitForSingleObject(runEnded, 4000);
    AbandonCopyInProgress();
  }
  return TRUE;
}

}  // namespace

void Write(Stream stream, std::string_view text) {
  const HANDLE handle = HandleOf(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
  if (IsConsole(handle)) {
    const std::wstring wide = Widen(text);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  } else {
    WriteAll(handle, text);
  }
}

bool IsTerminal(Stream stream) { return IsConsole(HandleOf(stream)); }

std::int64_t CoarseMilliseconds() { return static_cast<std::int64_t>(GetTickCount64()); }

// Windows 10 consoles understand escape sequences once asked to; older ones,
// and Windows 10 with them turned off, refuse the mode and would show them as
// text. Some take the mode and show them all the same (Wine's): a sequence
// that prints nothing where it is understood tells, by whether the cursor moved.
ErrorTerminal::ErrorTerminal() {
  const HANDLE handle = HandleOf(Stream::Err);
  DWORD mode = 0;
  terminal_ = handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
  if (!terminal_) return;
  savedMode_ = mode;
  CONSOLE_SCREEN_BUFFER_INFO before, after;
  if (!SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
      !GetConsoleScreenBufferInfo(handle, &before)) {
    return;
  }
  constexpr wchar_t kProbe[] = L"\x1b[0m";
  constexpr DWORD kProbeSize = static_cast<DWORD>(std::size(kProbe) - 1);
  DWORD written = 0;
  WriteConsoleW(handle, kProbe, kProbeSize, &written, nullptr);
  escapes_ = GetConsoleScreenBufferInfo(handle, &after) && after.dwCursorPosition.X == before.dwCursorPosition.X &&
             after.dwCursorPosition.Y == before.dwCursorPosition.Y;
  if (!escapes_) {
    // Blank what the probe printed, and leave the console as it was.
    SetConsoleCursorPosition(handle, before.dwCursorPosition);
    WriteConsoleW(handle, L"    ", kProbeSize, &written, nullptr);
    SetConsoleCursorPosition(handle, before.dwCursorPosition);
    SetConsoleMode(handle, mode);
  }
}

ErrorTerminal::~ErrorTerminal() {
  if (terminal_) SetConsoleMode(HandleOf(Stream::Err), static_cast<DWORD>(savedMode_));
}

int ErrorTerminal::Columns() const {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(HandleOf(Stream::Err), &info)) return info.srWindow.Right - info.srWindow.Left + 1;
  return 80;
}

InterruptHandlers::InterruptHandlers(std::string_view message) {
  secondInterruptMessageSize = static_cast<DWORD>(std::min(message.size(), sizeof secondInterruptMessage));
  std::copy_n(message.data(), secondInterruptMessageSize, secondInterruptMessage);
  interrupts = 0;
  runEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // A process started in a new process group ignores Ctrl+C until it asks for it.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

InterruptHandlers::~InterruptHandlers() {
  RunEnded();
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  // The handler may still be waiting on the event; the process's end closes it.
}

void InterruptHandlers::RunEnded() {
  if (runEnded != nullptr) SetEvent(runEnded);
}

bool InterruptRequested() { return interrupts.load() != 0; }

struct AppendFile::Handle {
  UniqueKernelHandle file;
};

AppendFile::AppendFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
AppendFile::AppendFile(AppendFile&& other) noexcept = default;
AppendFile& AppendFile::operator=(AppendFile&& other) noexcept = default;
AppendFile::~AppendFile() = default;

namespace {

// The SID of this process's account, in `buffer`.
PSID AccountSid(std::vector<BYTE>& buffer) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  const UniqueKernelHandle owned{token};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  buffer.resize(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return nullptr;
  return reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
}

// The folder the log is in: what precedes its name, "." for a bare name.
std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return path.size() >= 2 && path[1] == L':' ? path.substr(0, 2) : L".";
  // "C:\fonts.log" is in "C:\", not in the drive's current folder.
  return path.substr(0, slash == 2 && path[1] == L':' ? 3 : std::max<size_t>(slash, 1));
}

}  // namespace

bool RunsAsSystemAccount() {
  std::vector<BYTE> buffer;
  const PSID self = AccountSid(buffer);
  return self != nullptr && IsWellKnownSid(self, WinLocalSystemSid);
}

// FILE_FLAG_OPEN_REPARSE_POINT opens a link itself rather than what it names,
// and its attributes tell it apart; the folder is checked before the file is made in it.
std::optional<AppendFile> AppendFile::Open(std::string_view path, bool ownOnly, FileError& error, LogRefusal& refusal) {
  refusal = LogRefusal::None;
  const std::wstring wide = Widen(path);
  std::vector<BYTE> buffer;
  const PSID self = ownOnly ? AccountSid(buffer) : nullptr;
  if (ownOnly) {
    const UniqueKernelHandle folder{CreateFileW(FolderOf(wide).c_str(), READ_CONTROL,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    if (!folder) {
      error = {FileStep::Open, static_cast<int>(GetLastError())};
      return std::nullopt;
    }
    if (!OnlyTrustedMayWrite(folder.Get(), self, TrustedSet::AdministrationAndSystem)) {
      refusal = LogRefusal::NotOwn;
      return std::nullopt;
    }
  }
  const DWORD access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | (ownOnly ? READ_CONTROL : 0);
  UniqueKernelHandle file{CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
  if (!file) {
    error = {FileStep::Open, static_cast<int>(GetLastError())};
    return std::nullopt;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.Get(), &info)) {
    error = {FileStep::Open, static_cast<int>(GetLastError())};
    return std::nullopt;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    refusal = LogRefusal::Link;
    return std::nullopt;
  }
  if (ownOnly && ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || info.nNumberOfLinks != 1 ||
                  !OnlyTrustedMayWrite(file.Get(), self, TrustedSet::AdministrationAndSystem))) {
    refusal = LogRefusal::NotOwn;
    return std::nullopt;
  }
  return AppendFile(std::make_unique<Handle>(Handle{std::move(file)}));
}

bool AppendFile::Append(std::string_view text) { return WriteAll(handle_->file.Get(), text); }

FileResult MakeFolders(std::string_view path) {
  std::wstring full = Widen(path);
  std::replace(full.begin(), full.end(), L'/', L'\\');
  // The root (C:\ or \\server\share\) is never made.
  size_t root = 0;
  if (full.starts_with(L"\\\\")) {
    root = full.find(L'\\', 2);
    if (root != std::wstring::npos) root = full.find(L'\\', root + 1);
  } else if (full.size() >= 2 && full[1] == L':') {
    root = 2;
  }
  for (size_t end = root == std::wstring::npos ? root : full.find(L'\\', root + 1);; end = full.find(L'\\', end + 1)) {
    const std::wstring prefix = full.substr(0, end);
    if (!CreateDirectoryW(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return Failure(FileStep::Open, static_cast<int>(GetLastError()));
    }
    if (end == std::wstring::npos) break;
  }
  return IsFolder(path) ? FileResult{} : Failure(FileStep::Open, ERROR_DIRECTORY);
}

std::string HostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = static_cast<DWORD>(std::size(name));
  return GetComputerNameW(name, &size) ? Narrow(std::wstring_view(name, size)) : "?";
}

std::string UserName() {
  wchar_t name[257];
  DWORD size = static_cast<DWORD>(std::size(name));
  if (!GetUserNameW(name, &size) || size == 0) return "?";
  return Narrow(std::wstring_view(name, size - 1));  // the size counts the terminating null
}

}  // namespace quorvane::cli
