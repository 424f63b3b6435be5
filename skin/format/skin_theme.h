// The engine's view of a skin: every colour and metric it paints with, taken by
// name from a parsed skin and adjusted by the caller's attach arguments.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "skin/format/skin_format.h"

namespace quorvane::skin {

struct SkinColours {
  Rgb windowBackground, text, textMuted, textDisabled, accent, focusRing;
  Rgb buttonFace, buttonFaceHot, buttonFacePressed, buttonFaceDisabled, buttonBorder, buttonBorderHot, buttonText;
  Rgb radioBorder, radioFace, radioMark;
  Rgb groupBorder, groupText;
  Rgb editBackground, editBorder, editBorderFocus, editText;
  Rgb listText, listGrid, listSelection, listSelectionText;
  Rgb headerBackground, headerText, headerDivider;
  Rgb progressTrack, progressFill, progressBorder;
  Rgb statusBackground, statusText, statusDivider;
  Rgb labelText;
};

// Sizes in pixels at 96 DPI; the engine scales them to the window's DPI.
struct SkinMetrics {
  std::uint32_t cornerRadius = 0;
  std::uint32_t borderWidth = 0;
  std::uint32_t focusWidth = 0;
  std::uint32_t focusInset = 0;
  std::uint32_t radioSize = 0;
  std::uint32_t progressSegment = 0;
  std::uint32_t progressGap = 0;
  std::uint32_t panelPadding = 0;
  std::uint32_t headerPadding = 0;
};

struct SkinTheme {
  SkinColours colours;
  SkinMetrics metrics;
};

struct ThemeResult {
  SkinError error = SkinError::kNone;
  std::size_t line = 0;
  SkinTheme theme;

  bool ok() const { return error == SkinError::kNone; }
};

// Parses `bytes` and requires every name the engine paints with, exactly once;
// unknown names are rejected too, so a misspelt entry never goes unnoticed.
ThemeResult LoadTheme(std::span<const std::uint8_t> bytes);
ThemeResult ThemeFromDocument(const SkinDocument& document);

// Colour adjustments the caller may ask for when attaching.
struct ThemeAdjustment {
  std::optional<Rgb> accent;  // replaces accent, focus ring, radio mark, progress fill, focused edit border
  int lightness = 0;          // -100..100: surfaces move towards black (<0) or white (>0), in percent
};

SkinTheme AdjustTheme(const SkinTheme& theme, const ThemeAdjustment& adjustment);

}  // namespace quorvane::skin
