// The shell and message operations the commands stand on: the folder chooser,
// the message box, the browser, pending-event processing and the two delays.
// Texts are UTF-8; every Windows call is the wide one.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// The button that closed a message box.
enum class MessageButton : int { Ok = 0, Cancel = 1, Abort = 2, Retry = 3, Ignore = 4, Yes = 5, No = 6 };

// The MessageBoxW result as a MessageButton; anything unlisted counts as Ok.
MessageButton MessageButtonOf(int result);

// The style passed on: task-modal added unless the caller asked for system-modal.
UINT MessageBoxStyle(UINT style);

inline constexpr std::string_view kDefaultMessageTitle = "信息：";

// A modal message box; the title defaults to kDefaultMessageTitle.
MessageButton ShowMessage(std::string_view message, UINT style = 0, std::optional<std::string_view> title = {},
                          HWND owner = nullptr);

// The folder chooser, modal to every window of the program, open at
// `initialFolder` when that is a folder. The chosen folder's path (a drive root
// keeps its trailing "\"), or empty when cancelled or when the choice has no
// file-system path.
std::string ChooseFolder(std::string_view title, std::string_view initialFolder = {}, bool includeFiles = false);

// Opens `address` in the default browser; a failure passes silently.
void OpenWebPage(std::string_view address);

// Dispatches what is queued, through the frame's keys, until the queue is empty
// or the quit request is next; the quit request stays for the main loop.
void ProcessPendingEvents();

// Blocks the thread for `milliseconds` (a negative count is 0).
void Delay(int milliseconds);

// Waits `milliseconds` while processing events the whole time; returns at once
// for 0 or less.
void DelayProcessingEvents(int milliseconds);

}  // namespace quorvane
