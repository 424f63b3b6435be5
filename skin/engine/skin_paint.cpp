#include "skin/engine/skin_paint.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <string>

#include "base/win32_handles.h"

namespace quorvane::skin {
namespace {

// Skin sizes are given at 96 DPI; a non-zero size never rounds away.
int Px(HDC dc, std::uint32_t size) {
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  const int scaled = MulDiv(static_cast<int>(size), dpi > 0 ? dpi : 96, 96);
  return size > 0 ? std::max(scaled, 1) : 0;
}

HFONT ControlFont(HWND window) {
  auto font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  return font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

UINT HiddenCues(HWND window) { return static_cast<UINT>(SendMessageW(window, WM_QUERYUISTATE, 0, 0)); }

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(std::max(GetWindowTextLengthW(window), 0)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

void Fill(HDC dc, const RECT& rect, Rgb colour) {
  SetDCBrushColor(dc, ToColorRef(colour));
  FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void FrameBox(HDC dc, const RECT& rect, Rgb colour, int width) {
  if (width <= 0) return;
  Fill(dc, {rect.left, rect.top, rect.right, rect.top + width}, colour);
  Fill(dc, {rect.left, rect.bottom - width, rect.right, rect.bottom}, colour);
  Fill(dc, {rect.left, rect.top, rect.left + width, rect.bottom}, colour);
  Fill(dc, {rect.right - width, rect.top, rect.right, rect.bottom}, colour);
}

// A rounded box; without a fill colour only its outline is drawn.
void RoundBox(HDC dc, const RECT& rect, const Rgb* fill, Rgb border, int width, int radius) {
  if (radius <= 0) {
    if (fill) Fill(dc, rect, *fill);
    FrameBox(dc, rect, border, width);
    return;
  }
  const UniquePen pen(width > 0 ? CreatePen(PS_INSIDEFRAME, width, ToColorRef(border)) : nullptr);
  const UniqueBrush brush(fill ? CreateSolidBrush(ToColorRef(*fill)) : nullptr);
  const ScopedSelection usePen = SelectInto(dc, pen ? pen.Get() : GetStockObject(NULL_PEN));
  const ScopedSelection useBrush = SelectInto(dc, brush ? brush.Get() : GetStockObject(NULL_BRUSH));
  // Without a pen GDI leaves the right and bottom edge unpainted.
  const int grow = pen ? 0 : 1;
  RoundRect(dc, rect.left, rect.top, rect.right + grow, rect.bottom + grow, radius * 2, radius * 2);
}

void Line(HDC dc, int x0, int y0, int x1, int y1, Rgb colour) {
  // A one-pixel rectangle avoids pen end-point rules.
  Fill(dc, {x0, y0, std::max(x1, x0 + 1), std::max(y1, y0 + 1)}, colour);
}

int TextHeight(HDC dc) {
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  return metrics.tmHeight;
}

// Draws text vertically centred in `box`; wrapped text is measured first.
void CentredText(HDC dc, const std::wstring& text, RECT box, UINT align, bool wrap, bool hidePrefix, Rgb colour,
                 RECT* drawn = nullptr) {
  UINT flags = align | (hidePrefix ? DT_HIDEPREFIX : 0);
  RECT measure = box;
  if (wrap) {
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measure, flags | DT_WORDBREAK | DT_CALCRECT);
  } else {
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measure, flags | DT_SINGLELINE | DT_CALCRECT);
  }
  const int height = std::min<int>(measure.bottom - measure.top, box.bottom - box.top);
  RECT target = box;
  target.top = box.top + (box.bottom - box.top - height) / 2;
  target.bottom = target.top + height;
  SetTextColor(dc, ToColorRef(colour));
  SetBkMode(dc, TRANSPARENT);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &target,
            flags | (wrap ? DT_WORDBREAK : DT_SINGLELINE | DT_END_ELLIPSIS));
  if (drawn) {
    const int width = std::min<int>(measure.right - measure.left, box.right - box.left);
    *drawn = target;
    if (align == DT_CENTER) drawn->left = box.left + (box.right - box.left - width) / 2;
    if (align == DT_RIGHT) drawn->left = box.right - width;
    drawn->right = drawn->left + width;
  }
}

UINT ButtonAlignment(LONG style, UINT fallback) {
  switch (style & (BS_LEFT | BS_RIGHT)) {
    case BS_LEFT: return DT_LEFT;
    case BS_RIGHT: return DT_RIGHT;
    case BS_CENTER: return DT_CENTER;
    default: return fallback;
  }
}

}  // namespace

void PaintBackground(HWND window, HDC dc, const SkinTheme& theme) {
  RECT client;
  GetClientRect(window, &client);
  Fill(dc, client, theme.colours.windowBackground);
}

void PaintPushButton(HWND button, HDC dc, const SkinTheme& theme, ButtonLook look) {
  const SkinColours& c = theme.colours;
  RECT rect;
  GetClientRect(button, &rect);
  const LONG style = GetWindowLongW(button, GWL_STYLE);
  const bool enabled = IsWindowEnabled(button);
  const bool pressed = (SendMessageW(button, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0;
  const UINT cues = HiddenCues(button);
  const bool showFocus = enabled && GetFocus() == button && !(cues & UISF_HIDEFOCUS);
  const bool isDefault = (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;

  Fill(dc, rect, c.windowBackground);
  const Rgb face = !enabled ? c.buttonFaceDisabled : pressed ? c.buttonFacePressed : look.hot ? c.buttonFaceHot : c.buttonFace;
  const Rgb border = enabled && (pressed || look.hot || isDefault) ? c.buttonBorderHot : c.buttonBorder;
  const int radius = Px(dc, theme.metrics.cornerRadius);
  RoundBox(dc, rect, &face, border, Px(dc, theme.metrics.borderWidth), radius);
  if (showFocus) RoundBox(dc, rect, nullptr, c.focusRing, Px(dc, theme.metrics.focusWidth), radius);

  const ScopedSelection font = SelectInto(dc, ControlFont(button));
  RECT textBox = rect;
  InflateRect(&textBox, -Px(dc, 6), -Px(dc, 2));
  CentredText(dc, WindowText(button), textBox, ButtonAlignment(style, DT_CENTER), (style & BS_MULTILINE) != 0,
              (cues & UISF_HIDEACCEL) != 0, enabled ? c.buttonText : c.textDisabled);
}

void PaintRadioButton(HWND button, HDC dc, const SkinTheme& theme, ButtonLook look) {
  const SkinColours& c = theme.colours;
  RECT rect;
  GetClientRect(button, &rect);
  const LONG style = GetWindowLongW(button, GWL_STYLE);
  const bool enabled = IsWindowEnabled(button);
  const LRESULT state = SendMessageW(button, BM_GETSTATE, 0, 0);
  const bool checked = (state & BST_CHECKED) != 0;
  const bool pressed = (state & BST_PUSHED) != 0;
  const UINT cues = HiddenCues(button);
  const bool textLeft = (style & BS_LEFTTEXT) != 0;

  Fill(dc, rect, c.windowBackground);
  const int size = std::min<int>(Px(dc, theme.metrics.radioSize), rect.bottom - rect.top);
  RECT circle;
  circle.top = rect.top + (rect.bottom - rect.top - size) / 2;
  circle.bottom = circle.top + size;
  circle.left = textLeft ? rect.right - size : rect.left;
  circle.right = circle.left + size;

  const Rgb face = !enabled ? c.buttonFaceDisabled : pressed ? c.buttonFacePressed : c.radioFace;
  const Rgb ring = !enabled ? c.textDisabled : (look.hot || pressed) ? c.buttonBorderHot : c.radioBorder;
  {
    const UniquePen pen(
        CreatePen(PS_INSIDEFRAME, Px(dc, std::max<std::uint32_t>(theme.metrics.borderWidth, 1)), ToColorRef(ring)));
    const UniqueBrush brush(CreateSolidBrush(ToColorRef(face)));
    const ScopedSelection usePen = SelectInto(dc, pen.Get());
    const ScopedSelection useBrush = SelectInto(dc, brush.Get());
    Ellipse(dc, circle.left, circle.top, circle.right, circle.bottom);
  }
  if (checked) {
    RECT dot = circle;
    const int inset = size * 3 / 10;
    InflateRect(&dot, -inset, -inset);
    const UniqueBrush brush(CreateSolidBrush(ToColorRef(enabled ? c.radioMark : c.textDisabled)));
    const ScopedSelection usePen = SelectInto(dc, GetStockObject(NULL_PEN));
    const ScopedSelection useBrush = SelectInto(dc, brush.Get());
    Ellipse(dc, dot.left, dot.top, dot.right + 1, dot.bottom + 1);
  }

  const ScopedSelection font = SelectInto(dc, ControlFont(button));
  const int gap = Px(dc, 6);
  RECT textBox = rect;
  if (textLeft) {
    textBox.right = circle.left - gap;
  } else {
    textBox.left = circle.right + gap;
  }
  RECT drawn{};
  CentredText(dc, WindowText(button), textBox, ButtonAlignment(style, textLeft ? DT_RIGHT : DT_LEFT),
              (style & BS_MULTILINE) != 0, (cues & UISF_HIDEACCEL) != 0, enabled ? c.text : c.textDisabled, &drawn);
  if (enabled && GetFocus() == button && !(cues & UISF_HIDEFOCUS)) {
    InflateRect(&drawn, Px(dc, 2), Px(dc, 1));
    drawn.left = std::max(drawn.left, rect.left);
    drawn.right = std::min(drawn.right, rect.right);
    drawn.top = std::max(drawn.top, rect.top);
    drawn.bottom = std::min(drawn.bottom, rect.bottom);
    RoundBox(dc, drawn, nullptr, c.focusRing, Px(dc, 1), Px(dc, 2));
  }
}

void PaintGroupBox(HWND box, HDC dc, const SkinTheme& theme, ButtonLook) {
  const SkinColours& c = theme.colours;
  RECT rect;
  GetClientRect(box, &rect);
  Fill(dc, rect, c.windowBackground);
  const ScopedSelection font = SelectInto(dc, ControlFont(box));
  const int textHeight = TextHeight(dc);
  RECT frame = rect;
  frame.top += textHeight / 2;
  RoundBox(dc, frame, nullptr, c.groupBorder, Px(dc, theme.metrics.borderWidth), Px(dc, theme.metrics.cornerRadius));

  const std::wstring text = WindowText(box);
  if (text.empty()) return;
  const UINT cues = HiddenCues(box);
  const UINT prefix = (cues & UISF_HIDEACCEL) ? DT_HIDEPREFIX : 0;
  RECT caption{rect.left + Px(dc, 10), rect.top, rect.right - Px(dc, 10), rect.top + textHeight};
  RECT measure = caption;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measure, DT_SINGLELINE | DT_CALCRECT | prefix);
  caption.right = std::min(caption.right, measure.right);
  Fill(dc, {caption.left - Px(dc, 4), caption.top, caption.right + Px(dc, 4), caption.bottom}, c.windowBackground);
  SetTextColor(dc, ToColorRef(IsWindowEnabled(box) ? c.groupText : c.textDisabled));
  SetBkMode(dc, TRANSPARENT);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &caption, DT_SINGLELINE | DT_END_ELLIPSIS | prefix);
}

void PaintHeader(HWND header, HDC dc, const SkinTheme& theme, ButtonLook) {
  const SkinColours& c = theme.colours;
  RECT rect;
  GetClientRect(header, &rect);
  Fill(dc, rect, c.headerBackground);
  Line(dc, rect.left, rect.bottom - 1, rect.right, rect.bottom, c.headerDivider);

  const ScopedSelection font = SelectInto(dc, ControlFont(header));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ToColorRef(c.headerText));
  const int padding = Px(dc, theme.metrics.headerPadding);
  const int inset = Px(dc, 4);
  const int count = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    RECT item{};
    if (!SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item))) continue;
    std::array<wchar_t, 260> text{};
    HDITEMW info{};
    info.mask = HDI_TEXT | HDI_FORMAT;
    info.pszText = text.data();
    info.cchTextMax = static_cast<int>(text.size());
    SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&info));
    const int justify = info.fmt & HDF_JUSTIFYMASK;
    const UINT align = justify == HDF_RIGHT ? DT_RIGHT : justify == HDF_CENTER ? DT_CENTER : DT_LEFT;
    RECT label{item.left + padding, item.top, item.right - padding, item.bottom - 1};
    DrawTextW(dc, text.data(), -1, &label, align | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    Line(dc, item.right - 1, item.top + inset, item.right, item.bottom - inset, c.headerDivider);
  }
}

void PaintProgressBar(HWND bar, HDC dc, const SkinTheme& theme, ButtonLook) {
  const SkinColours& c = theme.colours;
  RECT rect;
  GetClientRect(bar, &rect);
  Fill(dc, rect, c.progressTrack);

  PBRANGE range{};
  SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  const int position = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
  if (range.iHigh <= range.iLow) return;
  const LONG style = GetWindowLongW(bar, GWL_STYLE);
  const bool vertical = (style & PBS_VERTICAL) != 0;
  const int inset = Px(dc, 1);
  InflateRect(&rect, -inset, -inset);
  const int length = vertical ? rect.bottom - rect.top : rect.right - rect.left;
  if (length <= 0) return;
  const int filled = MulDiv(std::clamp(position, range.iLow, range.iHigh) - range.iLow, length, range.iHigh - range.iLow);

  const auto fillSpan = [&](int from, int to) {
    to = std::min(to, length);
    if (to <= from) return;
    Fill(dc,
         vertical ? RECT{rect.left, rect.bottom - to, rect.right, rect.bottom - from}
                  : RECT{rect.left + from, rect.top, rect.left + to, rect.bottom},
         c.progressFill);
  };
  if (style & PBS_SMOOTH) {
    fillSpan(0, filled);
    return;
  }
  // Segments, each shown whole once any part of it is reached.
  const int segment = Px(dc, theme.metrics.progressSegment);
  const int step = segment + Px(dc, theme.metrics.progressGap);
  for (int at = 0; at < filled; at += step) fillSpan(at, at + segment);
}

void PaintStatusBar(HWND bar, HDC dc, const SkinTheme& theme, ButtonLook) {
  const SkinColours& c = theme.colours;
  RECT rect;
  GetClientRect(bar, &rect);
  Fill(dc, rect, c.statusBackground);
  Line(dc, rect.left, rect.top, rect.right, rect.top + 1, c.statusDivider);

  const ScopedSelection font = SelectInto(dc, ControlFont(bar));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ToColorRef(c.statusText));
  const int padding = Px(dc, theme.metrics.panelPadding);

  const auto drawPanel = [&](int index, RECT cell) {
    const LRESULT lengthAndType = SendMessageW(bar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(index), 0);
    const UINT type = HIWORD(lengthAndType);
    if (HICON icon = reinterpret_cast<HICON>(SendMessageW(bar, SB_GETICON, static_cast<WPARAM>(index), 0))) {
      const int side = std::min<int>(Px(dc, 16), cell.bottom - cell.top);
      DrawIconEx(dc, cell.left + padding, cell.top + (cell.bottom - cell.top - side) / 2, icon, side, side, 0,
                 nullptr, DI_NORMAL);
      cell.left += side + Px(dc, 4);
    }
    if (type & SBT_OWNERDRAW) return;
    std::wstring text(static_cast<std::size_t>(LOWORD(lengthAndType)) + 1, L'\0');
    SendMessageW(bar, SB_GETTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(wcsnlen(text.c_str(), text.size()));
    // Tabs split a panel's text into left, centred and right-aligned parts.
    RECT label{cell.left + padding, cell.top, cell.right - padding, cell.bottom};
    constexpr std::array<UINT, 3> kAlign = {DT_LEFT, DT_CENTER, DT_RIGHT};
    std::size_t start = 0;
    for (std::size_t part = 0; part < kAlign.size() && start <= text.size(); ++part) {
      const std::size_t tab = part + 1 < kAlign.size() ? text.find(L'\t', start) : std::wstring::npos;
      const std::wstring piece = text.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start);
      DrawTextW(dc, piece.c_str(), static_cast<int>(piece.size()), &label,
                kAlign[part] | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
      if (tab == std::wstring::npos) break;
      start = tab + 1;
    }
  };

  if (SendMessageW(bar, SB_ISSIMPLE, 0, 0)) {
    drawPanel(SB_SIMPLEID, rect);
    return;
  }
  std::array<int, 256> rights{};
  const int parts = std::clamp(static_cast<int>(SendMessageW(bar, SB_GETPARTS, rights.size(), reinterpret_cast<LPARAM>(rights.data()))), 0, 256);
  int left = rect.left;
  for (int i = 0; i < parts && left < rect.right; ++i) {
    const int right = rights[static_cast<std::size_t>(i)] < 0 ? rect.right : std::min<int>(rights[static_cast<std::size_t>(i)], rect.right);
    if (right <= left) continue;
    drawPanel(i, {left, rect.top + 1, right, rect.bottom});
    const UINT type = HIWORD(SendMessageW(bar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(i), 0));
    if (!(type & SBT_NOBORDERS) && right < rect.right)
      Line(dc, right - 1, rect.top + Px(dc, 4), right, rect.bottom - Px(dc, 3), c.statusDivider);
    left = right;
  }
}

void PaintListGrid(HWND list, HDC dc, const SkinTheme& theme) {
  if ((GetWindowLongW(list, GWL_STYLE) & LVS_TYPEMASK) != LVS_REPORT) return;
  if (!(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_GRIDLINES)) return;
  RECT client;
  GetClientRect(list, &client);
  auto header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  int top = client.top;
  if (header && IsWindowVisible(header)) {
    RECT headerRect;
    GetWindowRect(header, &headerRect);
    MapWindowPoints(nullptr, list, reinterpret_cast<POINT*>(&headerRect), 2);
    top = std::max<int>(top, headerRect.bottom);
    const int count = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      RECT item{};
      if (!SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item))) continue;
      MapWindowPoints(header, list, reinterpret_cast<POINT*>(&item), 2);
      Line(dc, item.right - 1, top, item.right, client.bottom, theme.colours.listGrid);
    }
  }
  const int itemCount = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  if (itemCount == 0) return;
  const int first = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
  RECT row{};
  row.left = LVIR_BOUNDS;
  if (!SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(first), reinterpret_cast<LPARAM>(&row))) return;
  const int height = row.bottom - row.top;
  if (height <= 0) return;
  for (int y = row.bottom - 1; y < client.bottom; y += height)
    if (y >= top) Line(dc, client.left, y, client.right, y + 1, theme.colours.listGrid);
}

void PaintFieldFrame(HWND field, HDC windowDc, const SkinTheme& theme, FrameLook look) {
  RECT window;
  GetWindowRect(field, &window);
  OffsetRect(&window, -window.left, -window.top);
  // Only the border ring is ours; scroll bars, also in the frame, stay as drawn.
  RECT edges{0, 0, 0, 0};
  const LONG style = GetWindowLongW(field, GWL_STYLE) & ~(WS_HSCROLL | WS_VSCROLL | WS_CAPTION);
  AdjustWindowRectEx(&edges, static_cast<DWORD>(style), FALSE, static_cast<DWORD>(GetWindowLongW(field, GWL_EXSTYLE)));
  const RECT inner{window.left - edges.left, window.top - edges.top, window.right - edges.right,
                   window.bottom - edges.bottom};
  const int room = std::min<int>(inner.left - window.left, inner.top - window.top);
  if (room <= 0) return;

  const ScopedSavedDc saved = SaveDcState(windowDc);
  ExcludeClipRect(windowDc, inner.left, inner.top, inner.right, inner.bottom);
  Fill(windowDc, window, look.fill);
  const int width = std::min(Px(windowDc, std::max<std::uint32_t>(theme.metrics.borderWidth, 1)), room);
  FrameBox(windowDc, window, look.border, look.emphasised ? std::min(2 * width, room) : width);
}

void PaintBuffered(HWND window, HDC target, const SkinTheme& theme, ButtonLook look, ClientPainter painter) {
  RECT client;
  GetClientRect(window, &client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (width <= 0 || height <= 0) return;
  const UniqueMemoryDc memory(CreateCompatibleDC(target));
  const UniqueBitmap bitmap(memory ? CreateCompatibleBitmap(target, width, height) : nullptr);
  if (!bitmap) {
    painter(window, target, theme, look);  // unbuffered is better than nothing
    return;
  }
  const ScopedSelection useBitmap = SelectInto(memory.Get(), bitmap.Get());
  painter(window, memory.Get(), theme, look);
  BitBlt(target, 0, 0, width, height, memory.Get(), 0, 0, SRCCOPY);
}

}  // namespace quorvane::skin
