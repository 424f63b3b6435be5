#include "frame/startup.h"

#include <windows.h>
#include <ole2.h>

namespace quorvane {

bool RestrictDllSearch() {
  const bool restricted = SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
  // An empty string takes the current directory out of the search as well.
  return SetDllDirectoryW(L"") != FALSE && restricted;
}

std::wstring ExecutableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const auto cut = path.rfind(L'\\');
  return cut == std::wstring::npos ? std::wstring{} : path.substr(0, cut);
}

bool EnterExecutableFolder() {
  std::wstring folder = ExecutableFolder();
  // "C:" alone would mean the drive's current folder rather than its root.
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
  return !folder.empty() && SetCurrentDirectoryW(folder.c_str()) != FALSE;
}

OleSession::OleSession() : ready_(SUCCEEDED(OleInitialize(nullptr))) {}

OleSession::~OleSession() {
  if (ready_) OleUninitialize();
}

}  // namespace quorvane
