#include "frame/status_bar.h"

#include "base/text.h"

namespace quorvane {
namespace {

WPARAM BorderFlags(PanelBorder border) {
  switch (border) {
    case PanelBorder::None:
      return SBT_NOBORDERS;
    case PanelBorder::Raised:
      return SBT_POPOUT;
    case PanelBorder::Sunken:
      break;
  }
  return 0;
}

}  // namespace

// Panel edges are cumulative widths; a width of -1 or less ends the row at the
// bar's right end.
void StatusBarState::Apply() {
  if (bar_ == nullptr) return;
  std::vector<int> rightEdges;
  int right = 0;
  for (const StatusPanel& panel : panels_) {
    if (panel.width <= -1 || right < 0) {
      right = -1;
    } else {
      right += ScalePixels(panel.width, dpi_);
    }
    rightEdges.push_back(right);
  }
  SendMessageW(bar_, SB_SETPARTS, rightEdges.size(), reinterpret_cast<LPARAM>(rightEdges.data()));
  panelIcons_.clear();
  for (std::size_t i = 0; i < panels_.size(); ++i) {
    const StatusPanel& panel = panels_[i];
    SendMessageW(bar_, SB_SETTEXTW, i | BorderFlags(panel.border), reinterpret_cast<LPARAM>(Widen(panel.text).c_str()));
    SendMessageW(bar_, SB_SETTIPTEXTW, i, reinterpret_cast<LPARAM>(Widen(panel.tip).c_str()));
    HICON icon = nullptr;
    if (images_ != nullptr && panel.image >= 0) {
      icon = ImageList_GetIcon(images_, panel.image, ILD_NORMAL);
      panelIcons_.emplace_back(icon);
    }
    SendMessageW(bar_, SB_SETICON, i, reinterpret_cast<LPARAM>(icon));
  }
}

void StatusBarState::Detach() {
  bar_ = nullptr;
  panelIcons_.clear();
}

int StatusBarState::AddPanel(StatusPanel panel) {
  panels_.push_back(std::move(panel));
  Apply();
  return PanelCount() - 1;
}

bool StatusBarState::SetPanelText(int index, std::string_view text) {
  if (index < 0 || index >= PanelCount()) return false;
  StatusPanel& panel = panels_[static_cast<std::size_t>(index)];
  if (panel.text == text) return true;
  panel.text = text;
  return SendMessageW(bar_, SB_SETTEXTW, static_cast<WPARAM>(index) | BorderFlags(panel.border),
                      reinterpret_cast<LPARAM>(Widen(text).c_str())) != 0;
}

void StatusBarState::SetImages(HIMAGELIST images) {
  images_ = images;
  Apply();
}
int StatusBarControl::AddPanel(StatusPanel panel) const {
  StatusBarState* state = Usable();
  return state == nullptr ? -1 : state->AddPanel(std::move(panel));
}

bool StatusBarControl::SetPanelText(int index, std::string_view text) const {
  StatusBarState* state = Usable();
  return state != nullptr && state->SetPanelText(index, text);
}

int StatusBarControl::PanelCount() const {
  return state_ == nullptr ? 0 : state_->PanelCount();
}

std::string StatusBarControl::PanelText(int index) const {
  if (hwnd_ == nullptr || index < 0 || index >= PanelCount()) return {};
  const auto length = LOWORD(SendMessageW(hwnd_, SB_GETTEXTLENGTHW, index, 0));
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(hwnd_, SB_GETTEXTW, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(length);
  return Narrow(text);
}

void StatusBarControl::SetImages(HIMAGELIST images) const {
  if (StatusBarState* state = Usable()) state->SetImages(images);
}

}  // namespace quorvane
