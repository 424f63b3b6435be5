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
  // The chosen folder, or empty when cancelled; the chooser opens at
  // `initialFolder` when that exists.
  virtual std::string ChooseFolder(std::string_view title, std::string_view initialFolder) = 0;
  virtual MessageButton ShowMessage(std::string_view text, std::string_view title, UINT style, HWND owner) = 0;
  virtual void OpenWebPage(std::string_view address) = 0;
};

// The real ones: the shell's folder chooser, the message box and the browser.
class ShellDialogs final : public Dialogs {
 public:
  std::string ChooseFolder(std::string_view title, std::string_view initialFolder) override {
    return quorvane::ChooseFolder(title, initialFolder);
  }
  MessageButton ShowMessage(std::string_view text, std::string_view title, UINT style, HWND owner) override {
    return quorvane::ShowMessage(text, style, title, owner);
  }
  void OpenWebPage(std::string_view address) override { quorvane::OpenWebPage(address); }
};

}  // namespace quorvane
