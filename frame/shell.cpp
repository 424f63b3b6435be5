#include "frame/shell.h"

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "base/text.h"
#include "frame/frame.h"

namespace quorvane {
namespace {

struct SavedState {
  HWND window;
  bool enabled;
};

BOOL CALLBACK DisableParentless(HWND window, LPARAM saved) {
  if (GetParent(window) == nullptr) {
    reinterpret_cast<std::vector<SavedState>*>(saved)->push_back({window, IsWindowEnabled(window) != FALSE});
    EnableWindow(window, FALSE);
  }
  return TRUE;
}

std::string PathOfItem(PIDLIST_ABSOLUTE item) {
  wchar_t path[MAX_PATH] = {};
  const bool converted = SHGetPathFromIDListW(item, path) != FALSE && path[0] != L'\0';
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(SHGetMalloc(&allocator))) {
    allocator->Free(item);
    allocator->Release();
  }
  return converted ? Narrow(path) : std::string{};
}

// The chooser tells when it is ready; only then does it take a selection.
// Asked once more from the queue: a first chooser of the process may still be
// filling its tree (Wine's then stops at the drive).
int CALLBACK SelectInitialFolder(HWND chooser, UINT message, LPARAM, LPARAM folder) {
  if (message == BFFM_INITIALIZED && folder != 0) {
    SendMessageW(chooser, BFFM_SETSELECTIONW, TRUE, folder);
    PostMessageW(chooser, BFFM_SETSELECTIONW, TRUE, folder);
  }
  return 0;
}

bool IsExistingFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

MessageButton MessageButtonOf(int result) {
  switch (result) {
    case IDCANCEL:
      return MessageButton::Cancel;
    case IDABORT:
      return MessageButton::Abort;
    case IDRETRY:
      return MessageButton::Retry;
    case IDIGNORE:
      return MessageButton::Ignore;
    case IDYES:
      return MessageButton::Yes;
    case IDNO:
      return MessageButton::No;
    default:
      return MessageButton::Ok;
  }
}

UINT MessageBoxStyle(UINT style) { return (style & MB_SYSTEMMODAL) != 0 ? style : style | MB_TASKMODAL; }

MessageButton ShowMessage(std::string_view message, UINT style, std::optional<std::string_view> title, HWND owner) {
  const std::wstring text = Widen(message);
  const std::wstring caption = Widen(title.value_or(kDefaultMessageTitle));
  return MessageButtonOf(MessageBoxW(owner, text.c_str(), caption.c_str(), MessageBoxStyle(style)));
}

std::string ChooseFolder(std::string_view title, std::string_view initialFolder, bool includeFiles) {
  const std::wstring titleText = Widen(title);
  const std::wstring initial = Widen(initialFolder);
  wchar_t displayName[MAX_PATH] = {};
  BROWSEINFOW browse{};
  browse.pszDisplayName = displayName;
  browse.lpszTitle = titleText.c_str();
  browse.ulFlags = BIF_EDITBOX | (includeFiles ? BIF_BROWSEINCLUDEFILES : 0);
  if (!initial.empty() && IsExistingFolder(initial)) {
    browse.lpfn = &SelectInitialFolder;
    browse.lParam = reinterpret_cast<LPARAM>(initial.c_str());
  }

  // While the chooser is open no window of the program may take input; each
  // gets back exactly the state it had.
  HWND active = GetActiveWindow();
  if (!IsWindow(active)) active = nullptr;
  HWND foreground = GetForegroundWindow();
  std::vector<SavedState> saved;
  EnumThreadWindows(GetCurrentThreadId(), &DisableParentless, reinterpret_cast<LPARAM>(&saved));
  browse.hwndOwner = active;

  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&browse);

  for (const SavedState& state : saved) {
    if (IsWindow(state.window)) EnableWindow(state.window, state.enabled ? TRUE : FALSE);
  }
  if (IsWindow(foreground)) SetForegroundWindow(foreground);
  if (IsWindow(active)) SetActiveWindow(active);
  return item == nullptr ? std::string{} : PathOfItem(item);
}

void OpenWebPage(std::string_view address) {
  HWND owner = FindWindowExW(nullptr, nullptr, nullptr, L"Microsoft Internet Explorer");
  ShellExecuteW(owner, L"open", Widen(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void ProcessPendingEvents() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE) && message.message != WM_QUIT) {
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) break;
    DispatchFrameMessage(message);
  }
}

void Delay(int milliseconds) { Sleep(static_cast<DWORD>(std::max(milliseconds, 0))); }

void DelayProcessingEvents(int milliseconds) {
  if (milliseconds <= 0) return;
  // 64 bits: a 32-bit tick count wraps after 49.7 days of uptime.
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
  for (;;) {
    ProcessPendingEvents();
    ProcessPendingEvents();
    if (GetTickCount64() > deadline) return;
    ProcessPendingEvents();
    ProcessPendingEvents();
  }
}

}  // namespace quorvane
