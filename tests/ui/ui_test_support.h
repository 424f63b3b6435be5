// The program's windows built for real, with stand-ins for the modal dialogs.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/frame/window_test_support.h"
#include "ui/program_windows.h"

namespace quorvane::testing_support {

class FakeDialogs : public Dialogs {
 public:
  struct Message {
    std::string text;
    std::string title;
    UINT style;
    HWND owner;
  };

  std::string ChooseFolder(std::string_view title, std::string_view initialFolder) override {
    chooserTitles.emplace_back(title);
    chooserFolders.emplace_back(initialFolder);
    if (folders.empty()) return {};
    std::string folder = folders.front();
    folders.pop_front();
    return folder;
  }
  MessageButton ShowMessage(std::string_view text, std::string_view title, UINT style, HWND owner) override {
    messages.push_back({std::string(text), std::string(title), style, owner});
    if (onMessage) onMessage();
    return MessageButton::Ok;
  }
  void OpenWebPage(std::string_view address) override { pages.emplace_back(address); }

  std::deque<std::string> folders;  // answers of the chooser, in turn; then cancel
  std::vector<std::string> chooserTitles;
  std::vector<std::string> chooserFolders;  // the folder each chooser was to open at
  std::vector<Message> messages;
  std::vector<std::string> pages;
  std::function<void()> onMessage;
};

// The tool window as the program builds it, on a system whose fonts are in C:\windows\Fonts.
class ToolWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    windows_ = std::make_unique<ProgramWindows>(frame_, dialogs_, "C:\\windows\\Fonts");
    ASSERT_FALSE(windows_->Register());
    window_ = frame_.Show(kMainWindowName);
    ASSERT_NE(window_, nullptr);
    Pump();
  }
  void TearDown() override {
    if (window_->IsOpen()) DestroyWindow(window_->Handle());
    TakeQuit();
  }

  void Click(std::string_view button) {
    SendMessageW(window_->Get(button).Handle(), BM_CLICK, 0, 0);
    Pump();
  }
  std::string Text(std::string_view name) { return window_->Get(name).Text(); }
  ListControl List() { return window_->List("超级列表框1"); }

  Frame frame_;
  FakeDialogs dialogs_;
  std::unique_ptr<ProgramWindows> windows_;
  Window* window_ = nullptr;
};

}  // namespace quorvane::testing_support
