// The program's entry: start-up in its fixed order, the tool window, the message
// loop, and the way back out.
#include <windows.h>

#include "frame/fatal_error.h"
#include "frame/frame.h"
#include "frame/startup.h"
#include "skin/attach/skin_attachment.h"
#include "ui/program_windows.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Before anything can load a DLL: the folder we are about to enter must not be
  // one that DLLs come from.
  quorvane::RestrictDllSearch();
  // The skin's files are written, checked and loaded while the frame is built.
  quorvane::PrepareSkinAttachment();
  quorvane::EnterExecutableFolder();

  quorvane::Frame frame;
  if (!frame.Ready()) {
    quorvane::PresentFatalError(
        {.code = static_cast<long>(GetLastError()), .text = std::string(quorvane::kStartWindowFailed)});
    return quorvane::kFatalExitCode;
  }
  quorvane::ShellDialogs dialogs;
  quorvane::ProgramWindows windows(frame, dialogs);
  if (const auto error = windows.Register()) {
    quorvane::PresentFatalError(*error);
    return quorvane::kFatalExitCode;
  }
  // The look is a nicety: a skin that cannot attach leaves the system look.
  quorvane::SkinAttachment();
  if (frame.Show(quorvane::kMainWindowName) == nullptr) {
    quorvane::PresentFatalError({.code = std::nullopt, .text = std::string(quorvane::kStartWindowFailed)});
    return quorvane::kFatalExitCode;
  }
  // OLE is first needed by the folder chooser, which only a click can open.
  quorvane::OleSession ole;
  return frame.Run();
}
