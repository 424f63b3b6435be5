// Drives the real quorvane-sync.exe from inside Windows (Wine) where a POSIX
// test cannot: a console control event in the middle of a copy, or source files
// held open without sharing while it runs.
//   tool_driver ctrl-c|ctrl-break TARGET PROGRAM ARGS...  waits for a copy's
//       temporary in TARGET, then sends the event
//   tool_driver hold FILE... -- PROGRAM ARGS...           holds every FILE
//   tool_driver console PROGRAM ARGS...                   standard error on a
//       console of its own, whose screen is watched and then printed
// Exits with the program's exit status; 3 when the driving itself failed, 4
// when the system cannot send that event.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/win32_handles.h"

namespace {

using quorvane::Narrow;
using quorvane::UniqueFindHandle;
using quorvane::UniqueKernelHandle;

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
  return static_cast<int>(status);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  if (args.size() < 2) {
    std::fprintf(stderr,
                 "usage: tool_driver ctrl-c|ctrl-break TARGET PROGRAM ARGS... | hold FILE... -- PROGRAM ARGS... |"
                 " console PROGRAM ARGS...\n");
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
