#include "skin/format/skin_theme.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace quorvane::skin {
namespace {

struct ColourSlot {
  std::string_view name;
  Rgb SkinColours::*member;
  bool surface;  // moved by the lightness adjustment; text and accents are not
};

struct MetricSlot {
  std::string_view name;
  std::uint32_t SkinMetrics::*member;
  std::uint32_t min;
  std::uint32_t max;
};

constexpr std::array kColourSlots = {
    ColourSlot{"window.background", &SkinColours::windowBackground, true},
    ColourSlot{"text", &SkinColours::text, false},
    ColourSlot{"text.muted", &SkinColours::textMuted, false},
    ColourSlot{"text.disabled", &SkinColours::textDisabled, false},
    ColourSlot{"accent", &SkinColours::accent, false},
    ColourSlot{"focus.ring", &SkinColours::focusRing, false},
    ColourSlot{"button.face", &SkinColours::buttonFace, true},
    ColourSlot{"button.face.hot", &SkinColours::buttonFaceHot, true},
    ColourSlot{"button.face.pressed", &SkinColours::buttonFacePressed, true},
    ColourSlot{"button.face.disabled", &SkinColours::buttonFaceDisabled, true},
    ColourSlot{"button.border", &SkinColours::buttonBorder, true},
    ColourSlot{"button.border.hot", &SkinColours::buttonBorderHot, false},
    ColourSlot{"button.text", &SkinColours::buttonText, false},
    ColourSlot{"radio.border", &SkinColours::radioBorder, false},
    ColourSlot{"radio.face", &SkinColours::radioFace, true},
    ColourSlot{"radio.mark", &SkinColours::radioMark, false},
    ColourSlot{"group.border", &SkinColours::groupBorder, true},
    ColourSlot{"group.text", &SkinColours::groupText, false},
    ColourSlot{"edit.background", &SkinColours::editBackground, true},
    ColourSlot{"edit.border", &SkinColours::editBorder, true},
    ColourSlot{"edit.border.focus", &SkinColours::editBorderFocus, false},
    ColourSlot{"edit.text", &SkinColours::editText, false},
    ColourSlot{"list.text", &SkinColours::listText, false},
    ColourSlot{"list.grid", &SkinColours::listGrid, true},
    ColourSlot{"list.selection", &SkinColours::listSelection, true},
    ColourSlot{"list.selection.text", &SkinColours::listSelectionText, false},
    ColourSlot{"header.background", &SkinColours::headerBackground, true},
    ColourSlot{"header.text", &SkinColours::headerText, false},
    ColourSlot{"header.divider", &SkinColours::headerDivider, true},
    ColourSlot{"progress.track", &SkinColours::progressTrack, true},
    ColourSlot{"progress.fill", &SkinColours::progressFill, false},
    ColourSlot{"progress.border", &SkinColours::progressBorder, true},
    ColourSlot{"status.background", &SkinColours::statusBackground, true},
    ColourSlot{"status.text", &SkinColours::statusText, false},
    ColourSlot{"status.divider", &SkinColours::statusDivider, true},
    ColourSlot{"label.text", &SkinColours::labelText, false},
};

// Ranges keep a hostile skin from asking for shapes that swallow a control.
constexpr std::array kMetricSlots = {
    MetricSlot{"corner.radius", &SkinMetrics::cornerRadius, 0, 12},
    MetricSlot{"border.width", &SkinMetrics::borderWidth, 0, 4},
    MetricSlot{"focus.width", &SkinMetrics::focusWidth, 1, 4},
    MetricSlot{"focus.inset", &SkinMetrics::focusInset, 0, 8},
    MetricSlot{"radio.size", &SkinMetrics::radioSize, 8, 32},
    MetricSlot{"progress.segment", &SkinMetrics::progressSegment, 2, 64},
    MetricSlot{"progress.gap", &SkinMetrics::progressGap, 0, 16},
    MetricSlot{"panel.padding", &SkinMetrics::panelPadding, 0, 24},
    MetricSlot{"header.padding", &SkinMetrics::headerPadding, 0, 24},
};

// Line numbers are not kept in the document; name faults report line 0.
ThemeResult Fail(SkinError error) {
  ThemeResult result;
  result.error = error;
  return result;
}

std::uint8_t Towards(std::uint8_t from, int target, int percent) {
  return static_cast<std::uint8_t>(from + (target - from) * percent / 100);
}

}  // namespace

ThemeResult ThemeFromDocument(const SkinDocument& document) {
  ThemeResult result;
  std::array<bool, kColourSlots.size()> colourSet{};
  std::array<bool, kMetricSlots.size()> metricSet{};

  for (const NamedColour& colour : document.colours) {
    auto slot = std::find_if(kColourSlots.begin(), kColourSlots.end(),
                             [&](const ColourSlot& s) { return s.name == colour.name; });
    if (slot == kColourSlots.end()) return Fail(SkinError::kUnknownName);
    result.theme.colours.*(slot->member) = colour.value;
    colourSet[static_cast<std::size_t>(slot - kColourSlots.begin())] = true;
  }
  for (const NamedMetric& metric : document.metrics) {
    auto slot = std::find_if(kMetricSlots.begin(), kMetricSlots.end(),
                             [&](const MetricSlot& s) { return s.name == metric.name; });
    if (slot == kMetricSlots.end()) return Fail(SkinError::kUnknownName);
    if (metric.value < slot->min || metric.value > slot->max) return Fail(SkinError::kMetricOutOfRange);
    result.theme.metrics.*(slot->member) = metric.value;
    metricSet[static_cast<std::size_t>(slot - kMetricSlots.begin())] = true;
  }
  const auto isSet = [](bool set) { return set; };
  if (!std::all_of(colourSet.begin(), colourSet.end(), isSet) ||
      !std::all_of(metricSet.begin(), metricSet.end(), isSet))
    return Fail(SkinError::kMissingName);
  return result;
}

ThemeResult LoadTheme(std::span<const std::uint8_t> bytes) {
  SkinParseResult parsed = ParseSkin(bytes);
  if (!parsed.ok()) {
    ThemeResult result = Fail(parsed.error);
    result.line = parsed.line;
    return result;
  }
  return ThemeFromDocument(parsed.document);
}

SkinTheme AdjustTheme(const SkinTheme& theme, const ThemeAdjustment& adjustment) {
  SkinTheme adjusted = theme;
  const int percent = std::clamp(adjustment.lightness, -100, 100);
  const int target = percent < 0 ? 0 : 255;
  for (const ColourSlot& slot : kColourSlots) {
    Rgb& colour = adjusted.colours.*(slot.member);
    if (slot.surface && percent != 0) {
      const int amount = percent < 0 ? -percent : percent;
      colour = {Towards(colour.red, target, amount), Towards(colour.green, target, amount),
                Towards(colour.blue, target, amount)};
    }
  }
  if (adjustment.accent) {
    SkinColours& c = adjusted.colours;
    c.accent = c.focusRing = c.radioMark = c.progressFill = c.editBorderFocus = *adjustment.accent;
  }
  return adjusted;
}

}  // namespace quorvane::skin
