// libFuzzer entry: any bytes must parse to a result, never to a crash or a read
// past the buffer; a skin that loads must also survive every adjustment.
#include <cstddef>
#include <cstdint>
#include <span>

#include "skin/format/skin_theme.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const quorvane::skin::ThemeResult result = quorvane::skin::LoadTheme(std::span(data, size));
  if (result.ok()) {
    const int lightness = size > 0 ? static_cast<int>(data[0]) - 128 : 0;
    (void)quorvane::skin::AdjustTheme(result.theme, {.accent = quorvane::skin::Rgb{1, 2, 3}, .lightness = lightness});
  }
  return 0;
}
