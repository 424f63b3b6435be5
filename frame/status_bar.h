// The status bar control and the panels a window adds to it at run time.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/win32_handles.h"
#include "frame/controls.h"

namespace quorvane {

enum class PanelBorder { Sunken, None, Raised };

struct StatusPanel {
  // Pixels at 96 DPI; -1 and below reach the right end of the bar.
  int width = 50;
  PanelBorder border = PanelBorder::Sunken;
  // Index into the bar's image list; -1 for none.
  int image = -1;
  std::string text{};
  std::string tip{};
};

// The panels added to a status bar at run time.
class StatusBarState {
 public:
  void Attach(HWND bar, int dpi) {
    bar_ = bar;
    dpi_ = dpi;
  }
  void Detach();
  HWND Handle() const { return bar_; }
  int AddPanel(StatusPanel panel);
  bool SetPanelText(int index, std::string_view text);
  int PanelCount() const { return static_cast<int>(panels_.size()); }
  void SetImages(HIMAGELIST images);

 private:
  void Apply();

  HWND bar_ = nullptr;
  int dpi_ = 96;
  std::vector<StatusPanel> panels_;
  HIMAGELIST images_ = nullptr;
  std::vector<UniqueIcon> panelIcons_;
};

// The docked status bar and the panels added to it at run time.
class StatusBarControl : public Control {
 public:
  StatusBarControl() = default;
  explicit StatusBarControl(StatusBarState* state)
      : Control(state != nullptr ? state->Handle() : nullptr), state_(state) {}

  // Adds a panel to the right of the last; its index, or -1.
  int AddPanel(StatusPanel panel) const;
  bool SetPanelText(int index, std::string_view text) const;
  int PanelCount() const;
  std::string PanelText(int index) const;
  // Images for the panels' image indexes; the caller keeps the list alive.
  void SetImages(HIMAGELIST images) const;

 private:
  StatusBarState* Usable() const { return state_ != nullptr && hwnd_ != nullptr ? state_ : nullptr; }

  StatusBarState* state_ = nullptr;
};

}  // namespace quorvane
