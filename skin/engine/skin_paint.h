// Drawing each kind of control in the skin's colours. Every function paints the
// whole client area (or frame) into the DC it is given, so WM_PAINT, WM_PRINTCLIENT
// and the repaint after a control's own drawing all end in the same pixels.
#pragma once

#include <windows.h>

#include "skin/format/skin_theme.h"

namespace quorvane::skin {

inline COLORREF ToColorRef(Rgb colour) { return RGB(colour.red, colour.green, colour.blue); }

struct ButtonLook {
  bool hot = false;
};

void PaintBackground(HWND window, HDC dc, const SkinTheme& theme);
void PaintPushButton(HWND button, HDC dc, const SkinTheme& theme, ButtonLook look);
void PaintRadioButton(HWND button, HDC dc, const SkinTheme& theme, ButtonLook look);
void PaintGroupBox(HWND box, HDC dc, const SkinTheme& theme, ButtonLook look);
void PaintHeader(HWND header, HDC dc, const SkinTheme& theme, ButtonLook look);
void PaintProgressBar(HWND bar, HDC dc, const SkinTheme& theme, ButtonLook look);
void PaintStatusBar(HWND bar, HDC dc, const SkinTheme& theme, ButtonLook look);
void PaintListGrid(HWND list, HDC dc, const SkinTheme& theme);

struct FrameLook {
  Rgb fill;
  Rgb border;
  bool emphasised = false;  // twice the border width, for the focused field
};

// The non-client border of an edit field or progress bar, drawn into a DC
// whose origin is the window's top-left corner.
void PaintFieldFrame(HWND field, HDC windowDc, const SkinTheme& theme, FrameLook look);

using ClientPainter = void (*)(HWND, HDC, const SkinTheme&, ButtonLook);

// Paints through an off-screen bitmap, so a control never shows half a frame.
void PaintBuffered(HWND window, HDC target, const SkinTheme& theme, ButtonLook look, ClientPainter painter);

}  // namespace quorvane::skin
