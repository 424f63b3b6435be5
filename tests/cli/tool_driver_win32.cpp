// Drives the real quorvane-sync.exe from inside Windows (Wine) where a POSIX
// test cannot: a console control event in the middle of a copy, or source files
// held open without sharing while it runs.
//   tool_driver ctrl-c|ctrl-break TARGET PROGRAM ARGS...  waits for a copy's
//       temporary in TARGET, then sends the event
//   tool_driver hold FILE... -- PROGRAM ARGS...           holds every FILE
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
  if (WaitForSingleObject(child.Get(), 120'000) != WAIT_OBJECT_0) return Fail("waiting for the program");
  DWORD status = 0;
  GetExitCodeProcess(child.Get(), &status);
  return static_cast<int>(status);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: tool_driver ctrl-c|ctrl-break TARGET PROGRAM ARGS... | hold FILE... -- PROGRAM ARGS...\n");
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
