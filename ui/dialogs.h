// The modal dialogs the commands open, behind one small interface so tests can
// stand in for them.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "frame/shell.h"

namespace quorvane {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // The chosen folder, or empty when cancelled.
  virtual std::string ChooseFolder(std::string_view title) = 0;
  virtual MessageButton ShowMessage(std::string_view text, std::string_view title, UINT style, HWND owner) = 0;
  virtual void OpenWebPage(std::string_view address) = 0;
};

// The real ones: the shell's folder chooser, the message box and the browser.
class ShellDialogs final : public Dialogs {
 public:
  std::string ChooseFolder(std::string_view title) override { return quorvane::ChooseFolder(title); }
  MessageButton ShowMessage(std::string_view text, std::string_view title, UINT style, HWND owner) override {
    return quorvane::ShowMessage(text, style, title, owner);
  }
  void OpenWebPage(std::string_view address) override { quorvane::OpenWebPage(address); }
};

}  // namespace quorvane
