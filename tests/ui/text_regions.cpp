// Where the program's own texts stand on the screen, for the legibility test:
// the texts come from the layouts (or the command line), the rectangles from
// the windows that show them at the moment.
//   text_regions OUT_FILE GROUP...      GROUP: main | help | text=TEXT
// main and help are the layouts' windows; text=TEXT is TEXT in any window
// (the folder chooser is the system's dialog: its title is all of it that is ours).
// OUT_FILE gets one JSON object a line: first the screen's DPI and the name,
// family and line height of the stock GUI font the program draws with, then one per
// text: group, name, kind, whether the layout shows it, the text, its
// textWidth in that font and rect (left, top, right, bottom on the screen;
// null when no visible window shows the text). Exit code 1 when a layout's
// window is not open, 2 for bad usage.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "base/win32_handles.h"
#include "tests/ui/remote_window.h"
#include "ui/help_window_layout.h"
#include "ui/main_window_layout.h"

namespace {

using quorvane::Kind;
using quorvane::Layout;

struct Text {
  std::string_view group;
  std::string_view name;
  std::string_view kind;
  std::string_view text;
  bool shown = true;
};

struct Control {
  HWND hwnd = nullptr;
  bool used = false;
};

std::string_view KindName(Kind kind) {
  switch (kind) {
    case Kind::Button: return "button";
    case Kind::RadioBox: return "radio";
    case Kind::GroupBox: return "group";
    case Kind::TransLabel: return "label";
    default: return "";
  }
}

std::string Json(std::string_view text) {
  std::string out(1, '"');
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  out += '"';
  return out;
}

std::string WindowText(HWND hwnd) { return quorvane::Narrow(quorvane::remote::TextOf(hwnd)); }

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM controls) {
  reinterpret_cast<std::vector<Control>*>(controls)->push_back({hwnd});
  return TRUE;
}

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM controls) {
  if (IsWindowVisible(hwnd)) EnumChildWindows(hwnd, &CollectChild, controls);
  return TRUE;
}

std::vector<Text> LayoutTexts(std::string_view group, const Layout& layout) {
  std::vector<Text> texts;
  for (const auto& element : layout.elements.subspan(1)) {
    if (element.text.empty() || KindName(element.kind).empty()) continue;
    texts.push_back({group, element.name, KindName(element.kind), element.text, element.visible});
  }
  return texts;
}

std::string RectJson(const RECT& rect) {
  char text[64];
  std::snprintf(text, sizeof text, "[%ld, %ld, %ld, %ld]", rect.left, rect.top, rect.right, rect.bottom);
  return text;
}

// The font Wine or Windows really chose: GetTextFace only repeats the name asked
// for, and a replacement takes the family name it replaces; the full name is the file's own.
std::string FamilyName(HDC dc) {
  const UINT size = GetOutlineTextMetricsW(dc, 0, nullptr);
  if (size == 0) return "(bitmap font)";
  std::vector<std::uint64_t> buffer((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
  auto* metrics = reinterpret_cast<OUTLINETEXTMETRICW*>(buffer.data());
  if (GetOutlineTextMetricsW(dc, size, metrics) == 0) return {};
  const auto name = [&](PSTR offset) {
    return quorvane::Narrow(reinterpret_cast<const wchar_t*>(reinterpret_cast<const char*>(buffer.data()) +
                                                             reinterpret_cast<std::uintptr_t>(offset)));
  };
  return name(metrics->otmpFamilyName) + ", " + name(metrics->otmpFullName);
}

int TextWidth(HDC dc, std::string_view text) {
  const std::wstring wide = quorvane::Widen(text);
  SIZE size{};
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
  return size.cx;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring outFile = argv[1];
  const quorvane::UniqueWindowDc screen = quorvane::ClientDc(nullptr);
  const quorvane::ScopedSelection font = quorvane::SelectInto(screen.Get(), GetStockObject(DEFAULT_GUI_FONT));
  TEXTMETRICW metrics{};
  GetTextMetricsW(screen.Get(), &metrics);
  wchar_t face[LF_FACESIZE]{};
  GetTextFaceW(screen.Get(), LF_FACESIZE, face);

  std::string out;
  out.append("{\"dpi\": ").append(std::to_string(GetDeviceCaps(screen.Get(), LOGPIXELSY)));
  out.append(", \"font\": ").append(Json(quorvane::Narrow(face)));
  out.append(", \"family\": ").append(Json(FamilyName(screen.Get())));
  out.append(", \"lineHeight\": ").append(std::to_string(metrics.tmHeight)).append("}\n");
  int status = 0;
  for (int i = 2; i < argc; ++i) {
    const std::string group = quorvane::Narrow(argv[i]);
    std::vector<Text> texts;
    std::vector<Control> controls;
    if (group == "main" || group == "help") {
      const Layout& layout = group == "main" ? quorvane::MainWindowLayout() : quorvane::HelpWindowLayout();
      texts = LayoutTexts(group == "main" ? "main" : "help", layout);
      HWND window = FindWindowW(nullptr, quorvane::Widen(layout.elements.front().text).c_str());
      if (window == nullptr) {
        status = 1;
      } else {
        EnumChildWindows(window, &CollectChild, reinterpret_cast<LPARAM>(&controls));
      }
    } else if (group.starts_with("text=") && group.size() > 5) {
      texts.push_back({"text", "text", "label", std::string_view(group).substr(5)});
      EnumWindows(&CollectTopLevel, reinterpret_cast<LPARAM>(&controls));
    } else {
      return 2;
    }
    for (const Text& text : texts) {
      std::string rect = "null";
      for (Control& control : controls) {
        if (control.used || !IsWindowVisible(control.hwnd) || WindowText(control.hwnd) != text.text) continue;
        control.used = true;
        RECT r;
        GetWindowRect(control.hwnd, &r);
        rect = RectJson(r);
        break;
      }
      out.append("{\"group\": ").append(Json(text.group)).append(", \"name\": ").append(Json(text.name));
      out.append(", \"kind\": ").append(Json(text.kind)).append(", \"shown\": ").append(text.shown ? "true" : "false");
      out.append(", \"text\": ").append(Json(text.text));
      out.append(", \"textWidth\": ").append(std::to_string(TextWidth(screen.Get(), text.text)));
      out.append(", \"rect\": ").append(rect).append("}\n");
    }
  }

  // Whoever waits for the file sees it whole or not at all.
  const std::wstring partFile = outFile + L".part";
  {
    const quorvane::UniqueKernelHandle file(
        CreateFileW(partFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.Get(), out.data(), static_cast<DWORD>(out.size()), &written, nullptr) ||
        written != out.size()) {
      return 2;
    }
  }
  if (!MoveFileExW(partFile.c_str(), outFile.c_str(), MOVEFILE_REPLACE_EXISTING)) return 2;
  return status;
}
