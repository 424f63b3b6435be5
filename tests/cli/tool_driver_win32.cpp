// Drives the real quorvane-sync.exe from inside Windows (Wine) where a POSIX
// test cannot: a console control event in the middle of a copy, or source files
// held open without sharing while it runs.
//   tool_driver ctrl-c|ctrl-break TARGET PROGRAM ARGS...  waits for a copy's
//       temporary in TARGET, then sends the event
//   tool_driver hold FILE... -- PROGRAM ARGS...           holds every FILE
//   tool_driver console PROGRAM ARGS...                   standard error on a
//       console of its own, whose screen is watched and then printed
//   tool_driver family NAME [FULL NAME]                   exits 0 when this
//       process, started after the fonts were installed, finds the family (a
//       face of that full name); prints the faces it found
//   tool_driver values HKLM|HKCU KEY [set NAME DATA | delete NAME]...
//       changes the key's values, then prints them all, NAME<TAB>DATA (a value of
//       another type than REG_SZ: NAME<TAB>(N bytes))
//   tool_driver unload FILE...                            RemoveFontResourceExW
//   tool_driver wait                                      prints a line, then
//       lives until its standard input ends: keeps Wine's session, and so its
//       font list, going
//   tool_driver renames [forget FILE...]                  prints the renames
//       waiting for the next start, FROM<TAB>TO; forgets those from FILE
// Exits with the program's exit status; 3 when the driving itself failed, 4
// when the system cannot send that event.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/win32_handles.h"

namespace {

using quorvane::Narrow;
using quorvane::UniqueFindHandle;
using quorvane::UniqueKernelHandle;
using quorvane::UniqueRegistryKey;

constexpr int kDriverFailed = 3;
// This system cannot send the event (Wine 8 has no Ctrl+Break).
constexpr int kEventUnsupported = 4;

int Fail(const char* what) {
  std::fprintf(stderr, "tool_driver: %s failed (%lu)\n", what, GetLastError());
  return kDriverFailed;
}

// As the C runtime splits a command line back into arguments.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
  line += L'"';
  size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

BOOL WINAPI IgnoreEvents(DWORD) { return TRUE; }

// The console's text, row by row, down to the cursor's row.
std::vector<std::wstring> ScreenRows(HANDLE screen) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  std::vector<std::wstring> rows;
  if (!GetConsoleScreenBufferInfo(screen, &info)) return rows;
  for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
    std::wstring row(static_cast<size_t>(info.dwSize.X), L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(screen, row.data(), static_cast<DWORD>(row.size()), {0, y}, &read);
    row.resize(read);
    while (!row.empty() && row.back() == L' ') row.pop_back();
    rows.push_back(row);
  }
  return rows;
}

bool ShowsProgress(const std::wstring& row) { return row.find(L"]  ") != std::wstring::npos && row.find(L"B/") != std::wstring::npos; }

bool TemporaryExistsIn(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  const UniqueFindHandle find{FindFirstFileW((folder + L"\\.quorvane-*.tmp").c_str(), &data)};
  return find.Valid();
}

struct FacesFound {
  std::wstring fullName;  // empty: any face of the family
  int matching = 0;
  std::vector<std::wstring> seen;  // a face comes once per character set
};

int CALLBACK CountFaces(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM found) {
  auto& faces = *reinterpret_cast<FacesFound*>(found);
  const std::wstring fullName = reinterpret_cast<const ENUMLOGFONTEXW*>(font)->elfFullName;
  if (std::find(faces.seen.begin(), faces.seen.end(), fullName) == faces.seen.end()) {
    faces.seen.push_back(fullName);
    std::printf("face: %s\n", Narrow(fullName).c_str());
  }
  if (faces.fullName.empty() || _wcsicmp(fullName.c_str(), faces.fullName.c_str()) == 0) ++faces.matching;
  return 1;
}

int FindFamily(const std::wstring& family, const std::wstring& fullName) {
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  if (family.size() >= std::size(wanted.lfFaceName)) return kDriverFailed;
  wcscpy_s(wanted.lfFaceName, family.c_str());
  FacesFound found{.fullName = fullName, .matching = 0, .seen = {}};
  const HDC screen = GetDC(nullptr);
  if (screen == nullptr) return Fail("GetDC");
  EnumFontFamiliesExW(screen, &wanted, CountFaces, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  return found.matching > 0 ? 0 : 1;
}

// Sets and deletes the REG_SZ values of KEY as the words say, then prints
// every value NAME<TAB>DATA: one process for what a test reads and changes.
int Values(const std::vector<std::wstring>& args) {
  if (args.size() < 2 || (args[0] != L"HKLM" && args[0] != L"HKCU")) return kDriverFailed;
  HKEY raw = nullptr;
  if (RegCreateKeyExW(args[0] == L"HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, args[1].c_str(), 0, nullptr, 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
    return Fail("opening the key");
  }
  const UniqueRegistryKey key(raw);
  for (size_t i = 2; i < args.size();) {
    if (args[i] == L"set" && i + 2 < args.size()) {
      const std::wstring& data = args[i + 2];
      if (RegSetValueExW(key.Get(), args[i + 1].c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                         static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS) {
        return Fail("RegSetValueExW");
      }
      i += 3;
    } else if (args[i] == L"delete" && i + 1 < args.size()) {
      const LSTATUS status = RegDeleteValueW(key.Get(), args[i + 1].c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return Fail("RegDeleteValueW");
      i += 2;
    } else {
      return kDriverFailed;
    }
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD nameLength = static_cast<DWORD>(std::size(name));
    wchar_t value[2048] = {};
    DWORD bytes = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    const LSTATUS status =
        RegEnumValueW(key.Get(), index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) continue;
    // Other types (the records' binary values) by name and size.
    const std::string shown = Narrow(std::wstring_view(name, nameLength));
    if (type == REG_SZ) std::printf("%s\t%s\n", shown.c_str(), Narrow(value).c_str());
    else std::printf("%s\t(%lu bytes)\n", shown.c_str(), static_cast<unsigned long>(bytes));
  }
  return 0;
}

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

// Pairs of paths as the system keeps them (\??\C:\...; a target of "" deletes,
// one starting with ! replaces).
int Renames(const std::vector<std::wstring>& forget) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &raw) != ERROR_SUCCESS) {
    return Fail("opening the Session Manager key");
  }
  const UniqueRegistryKey key(raw);
  DWORD bytes = 0;
  if (RegQueryValueExW(key.Get(), kPendingRenames, nullptr, nullptr, nullptr, &bytes) != ERROR_SUCCESS) return 0;
  std::wstring data(bytes / sizeof(wchar_t) + 2, L'\0');
  if (RegQueryValueExW(key.Get(), kPendingRenames, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &bytes) !=
      ERROR_SUCCESS) {
    return Fail("reading the renames");
  }
  std::vector<std::wstring> strings;
  for (size_t at = 0; at < bytes / sizeof(wchar_t);) {
    const size_t end = data.find(L'\0', at);
    strings.push_back(data.substr(at, end - at));
    at = end + 1;
  }
  // The list ends with an empty string; a pair's target may be empty too.
  while (strings.size() % 2 != 0 && strings.back().empty()) strings.pop_back();
  std::wstring kept;
  bool changed = false;
  for (size_t i = 0; i + 1 < strings.size(); i += 2) {
    const std::wstring& from = strings[i];
    const bool forgotten = std::any_of(forget.begin(), forget.end(), [&](const std::wstring& file) {
      return from.size() >= file.size() && _wcsicmp(from.c_str() + from.size() - file.size(), file.c_str()) == 0;
    });
    if (forgotten) {
      changed = true;
      continue;
    }
    std::printf("%s\t%s\n", Narrow(from).c_str(), Narrow(strings[i + 1]).c_str());
    kept.append(from).append(1, L'\0').append(strings[i + 1]).append(1, L'\0');
  }
  if (!changed) return 0;
  if (kept.empty()) return RegDeleteValueW(key.Get(), kPendingRenames) == ERROR_SUCCESS ? 0 : Fail("RegDeleteValueW");
  kept.append(1, L'\0');
  return RegSetValueExW(key.Get(), kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                        static_cast<DWORD>(kept.size() * sizeof(wchar_t))) == ERROR_SUCCESS
             ? 0
             : Fail("RegSetValueExW");
}

int Run(std::vector<std::wstring> command, const std::wstring& mode, const std::wstring& target) {
  std::wstring line;
  for (const std::wstring& arg : command) {
    if (!line.empty()) line += L' ';
    AppendQuoted(line, arg);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  for (const HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  PROCESS_INFORMATION process{};
  // A new group, as a service or scheduler starts a tool: Ctrl+C is off there
  // until the program turns it back on.
  if (!CreateProcessW(command[0].c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr,
                      nullptr, &startup, &process)) {
    return Fail("CreateProcessW");
  }
  const UniqueKernelHandle child{process.hProcess}, thread{process.hThread};

  if (mode == L"ctrl-c" || mode == L"ctrl-break") {
    const ULONGLONG deadline = GetTickCount64() + 60'000;
    while (!TemporaryExistsIn(target)) {
      if (WaitForSingleObject(child.Get(), 1) == WAIT_OBJECT_0 || GetTickCount64() > deadline) {
        std::fprintf(stderr, "tool_driver: no copy began in the target\n");
        TerminateProcess(child.Get(), kDriverFailed);
        return kDriverFailed;
      }
    }
    // Windows gives Ctrl+C to every process of the console (group 0) and
    // never to a group named; Wine 8 gives it only to the group named, the
    // caller's for 0. Sent both ways, the program gets it once on either.
    bool sent = false;
    if (mode == L"ctrl-c") {
      sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
      sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, process.dwProcessId) || sent;
    } else {
      sent = GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process.dwProcessId);
    }
    if (!sent) {
      const int failed = Fail("GenerateConsoleCtrlEvent");
      TerminateProcess(child.Get(), kDriverFailed);
      return failed == kDriverFailed && mode == L"ctrl-break" ? kEventUnsupported : failed;
    }
    std::fprintf(stderr, "tool_driver: event sent\n");
  }
  if (mode == L"console") {
    // What a person would have seen while it ran, and what is left at the end.
    int progressSeen = 0;
    bool escapeSeen = false;
    const ULONGLONG deadline = GetTickCount64() + 120'000;
    while (WaitForSingleObject(child.Get(), 20) == WAIT_TIMEOUT) {
      if (GetTickCount64() > deadline) return Fail("waiting for the program");
      for (const std::wstring& row : ScreenRows(startup.hStdError)) {
        progressSeen += ShowsProgress(row) ? 1 : 0;
        escapeSeen = escapeSeen || row.find(L"[K") != std::wstring::npos;
      }
    }
    std::printf("progress seen %d times\nescape seen: %s\n", progressSeen, escapeSeen ? "yes" : "no");
    for (const std::wstring& row : ScreenRows(startup.hStdError)) std::printf("screen: %s\n", Narrow(row).c_str());
    std::fflush(stdout);
  } else if (WaitForSingleObject(child.Get(), 120'000) != WAIT_OBJECT_0) {
    return Fail("waiting for the program");
  }
  DWORD status = 0;
  GetExitCodeProcess(child.Get(), &status);
  // Wine passes only the low 8 bits on to its own caller: 3010 arrives as 194.
  std::fprintf(stderr, "tool_driver: exit status %lu\n", status);
  return static_cast<int>(status);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == L"renames") {
    if (args.size() > 1 && args[1] != L"forget") return kDriverFailed;
    return Renames(args.size() > 2 ? std::vector<std::wstring>(args.begin() + 2, args.end()) : std::vector<std::wstring>{});
  }
  if ((args.size() == 2 || args.size() == 3) && args[0] == L"family") {
    return FindFamily(args[1], args.size() == 3 ? args[2] : std::wstring());
  }
  if (args.size() == 1 && args[0] == L"wait") {
    // The caller starts the next program once the session is up: two
    // programs starting one session at once can leave the second hanging.
    // Wine starts the desktop's process for the first program that needs it,
    // and that process keeps the program's output open as long as it lives.
    GetDesktopWindow();
    std::printf("waiting\n");
    std::fflush(stdout);
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    }
    return 0;
  }
  if (!args.empty() && args[0] == L"values") return Values({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == L"unload") {
    for (size_t i = 1; i < args.size(); ++i) {
      // Loaded once by each registration; removed until none is left.
      int removed = 0;
      while (RemoveFontResourceExW(args[i].c_str(), 0, nullptr) && removed < 16) ++removed;
      std::printf("%s: unloaded %d times\n", Narrow(args[i]).c_str(), removed);
    }
    return 0;
  }
  if (args.size() < 2) {
    std::fprintf(stderr,
                 "usage: tool_driver ctrl-c|ctrl-break TARGET PROGRAM ARGS... | hold FILE... -- PROGRAM ARGS... |"
                 " console PROGRAM ARGS... | family NAME [FULL NAME] | values HKLM|HKCU KEY [set|delete ...]... |"
                 " unload FILE... | wait | renames [forget FILE...]\n");
    return kDriverFailed;
  }
  const std::wstring mode = args[0];
  if (mode == L"hold") {
    std::vector<UniqueKernelHandle> held;
    size_t i = 1;
    for (; i < args.size() && args[i] != L"--"; ++i) {
      held.emplace_back(CreateFileW(args[i].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      if (!held.back()) return Fail(("holding " + Narrow(args[i])).c_str());
    }
    if (i + 1 >= args.size()) return kDriverFailed;
    return Run({args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end()}, mode, L"");
  }
  if (mode == L"console") {
    FreeConsole();
    if (!AllocConsole()) return Fail("AllocConsole");
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    const UniqueKernelHandle screen{CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, nullptr)};
    if (!screen) return Fail("opening CONOUT$");
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_ERROR_HANDLE, screen.Get());
    const int status = Run({args.begin() + 1, args.end()}, mode, L"");
    SetStdHandle(STD_ERROR_HANDLE, err);
    return status;
  }
  if (args.size() < 3) return kDriverFailed;
  // The event goes to every process of the console, this one too.
  SetConsoleCtrlHandler(IgnoreEvents, TRUE);
  // Started from a pipe, Wine gives a console that carries no events: a
  // console of our own does, and the program shares it. The standard handles
  // stay the pipes the test reads.
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE), out = GetStdHandle(STD_OUTPUT_HANDLE),
               err = GetStdHandle(STD_ERROR_HANDLE);
  FreeConsole();
  if (!AllocConsole()) return Fail("AllocConsole");
  SetStdHandle(STD_INPUT_HANDLE, in);
  SetStdHandle(STD_OUTPUT_HANDLE, out);
  SetStdHandle(STD_ERROR_HANDLE, err);
  return Run({args.begin() + 2, args.end()}, mode, args[1]);
}
