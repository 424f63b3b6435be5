// The engine DLL under Wine: a window with one control of each kind, rendered
// through WM_PRINT, must show the skin's colours, and a refused skin must leave
// every pixel as the system drew it. Each case runs on a thread of its own,
// since a thread is skinned at most once.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <regex>
#include <string>
#include <thread>

#include "skin/default_skin_text.h"
#include "skin/engine/skin_engine_api.h"
#include "skin_test_window.h"

namespace quorvane::skin {
namespace {

using testing::Hex;
using testing::Rendering;
using testing::ToolLikeWindow;

using AttachFunction = std::uint32_t(WINAPI*)(const void*, std::uint32_t, std::uint32_t, std::uint32_t,
                                              std::uint32_t, std::uint32_t);

AttachFunction Engine() {
  static const AttachFunction attach = [] {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    folder.resize(folder.find_last_of(L'\\') + 1);
    HMODULE engine = LoadLibraryW((folder + L"quorvane_skin.dll").c_str());
    FARPROC found = engine ? GetProcAddress(engine, kAttachExportName) : nullptr;
    return reinterpret_cast<AttachFunction>(reinterpret_cast<void (*)()>(found));
  }();
  return attach;
}

// The default skin with unmistakable colours where the tests look.
std::string TestSkin() {
  std::string text(kDefaultSkinText);
  const std::pair<const char*, const char*> changes[] = {
      {"window.background", "#D0E4C8"}, {"button.face", "#FAF0D2"},      {"button.face.hot", "#C8F0F0"},
      {"button.face.pressed", "#B4C8F0"}, {"group.border", "#A05050"},   {"header.background", "#E0D0F0"},
      {"progress.fill", "#C03080"},     {"progress.track", "#E8E0D0"},   {"edit.background", "#FFFFF0"},
      {"edit.border", "#708090"},       {"status.background", "#D8D8C0"}, {"radio.mark", "#208040"},
      {"focus.ring", "#FF00FF"},
  };
  for (const auto& [name, colour] : changes)
    text = std::regex_replace(text, std::regex("colour " + std::string(name) + " +#[0-9A-F]{6}"),
                              "colour " + std::string(name) + " " + colour);
  return text;
}

std::uint32_t Attach(std::string_view skin, std::uint32_t flags = kDefaultSkinFlags,
                     std::uint32_t accent = kDefaultSkinAccent, std::uint32_t lightness = kDefaultSkinLightness,
                     std::uint32_t version = kSkinInterfaceVersion) {
  return Engine()(skin.data(), static_cast<std::uint32_t>(skin.size()), flags, accent, lightness, version);
}

void OnFreshThread(const std::function<void()>& body) { std::thread(body).join(); }

RECT ClientOf(HWND control) {
  RECT rect;
  GetClientRect(control, &rect);
  return rect;
}

void Show(const ToolLikeWindow& w) {
  ShowWindow(w.window, SW_SHOWNOACTIVATE);
  UpdateWindow(w.window);
}

void ExpectSkinned(const ToolLikeWindow& w, const char* when) {
  SCOPED_TRACE(when);
  SendMessageW(w.progress, PBM_SETPOS, 50, 0);
  const Rendering shot = Rendering::Of(w.window);

  EXPECT_EQ(Hex(shot.At(4, 60)), "#D0E4C8") << "window background";
  const RECT button = ClientOf(w.runButton);
  EXPECT_EQ(Hex(shot.At(w.runButton, 6, button.bottom / 2)), "#FAF0D2") << "button face";
  const RECT group = ClientOf(w.sourceGroup);
  EXPECT_EQ(Hex(shot.At(w.sourceGroup, 0, group.bottom / 2)), "#A05050") << "group frame";
  EXPECT_EQ(Hex(shot.At(w.sourceGroup, 12, group.bottom - 8)), "#D0E4C8") << "group background";
  HWND header = reinterpret_cast<HWND>(SendMessageW(w.list, LVM_GETHEADER, 0, 0));
  EXPECT_EQ(Hex(shot.At(header, 2, 3)), "#E0D0F0") << "list header";
  const RECT bar = ClientOf(w.progress);
  EXPECT_EQ(Hex(shot.At(w.progress, 3, bar.bottom / 2)), "#C03080") << "progress fill";
  EXPECT_EQ(Hex(shot.At(w.progress, bar.right - 4, bar.bottom / 2)), "#E8E0D0") << "progress track";
  EXPECT_EQ(Hex(shot.At(w.targetEdit, ClientOf(w.targetEdit).right - 3, 3)), "#FFFFF0") << "edit field";
  EXPECT_EQ(Hex(shot.At(w.status, ClientOf(w.status).right / 2, 10)), "#D8D8C0") << "status bar";
  const RECT note = ClientOf(w.note);
  EXPECT_EQ(Hex(shot.At(w.note, note.right - 3, note.bottom - 3)), "#D0E4C8") << "label shows the background";
  const RECT radio = ClientOf(w.ignoreRadio);
  EXPECT_EQ(Hex(shot.At(w.ignoreRadio, 7, radio.bottom / 2)), "#208040") << "radio mark";
}

TEST(SkinEngine, ExportIsFound) { ASSERT_NE(Engine(), nullptr); }

TEST(SkinEngine, SkinsWindowsThatExistAndWindowsCreatedLater) {
  for (const bool existing : {true, false}) {
    OnFreshThread([existing] {
      if (!existing) {
        ASSERT_EQ(Attach(TestSkin()), kSkinResultAttached);
      }
      const ToolLikeWindow w = testing::BuildToolLikeWindow(5);
      Show(w);
      if (existing) {
        ASSERT_EQ(Attach(TestSkin()), kSkinResultAttached);
      }
      ExpectSkinned(w, existing ? "existing window" : "later window");
      DestroyWindow(w.window);
    });
  }
}

TEST(SkinEngine, HotPressedAndFocusedButtonsChangeColour) {
  OnFreshThread([] {
    ASSERT_EQ(Attach(TestSkin()), kSkinResultAttached);
    const ToolLikeWindow w = testing::BuildToolLikeWindow(0);
    Show(w);
    const RECT button = ClientOf(w.runButton);
    const auto face = [&] { return Hex(Rendering::Of(w.window).At(w.runButton, 6, button.bottom / 2)); };
    EXPECT_EQ(face(), "#FAF0D2");
    SendMessageW(w.runButton, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(face(), "#C8F0F0") << "hot";
    SendMessageW(w.runButton, BM_SETSTATE, TRUE, 0);
    EXPECT_EQ(face(), "#B4C8F0") << "pressed";
    SendMessageW(w.runButton, BM_SETSTATE, FALSE, 0);
    SendMessageW(w.runButton, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(face(), "#FAF0D2") << "released";

    SendMessageW(w.window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    SetFocus(w.runButton);
    EXPECT_EQ(Hex(Rendering::Of(w.window).At(w.runButton, 0, button.bottom / 2)), "#FF00FF") << "focus ring";
    DestroyWindow(w.window);
  });
}

// What the window shows now, read back from its DC rather than printed anew.
COLORREF OnScreen(HWND window, HWND control, int x, int y) {
  POINT point{x, y};
  MapWindowPoints(control, window, &point, 1);
  HDC dc = GetDC(window);
  const COLORREF colour = GetPixel(dc, point.x, point.y);
  ReleaseDC(window, dc);
  return colour;
}

TEST(SkinEngine, RedrawingAGroupBoxLeavesItsControlsInPlace) {
  OnFreshThread([] {
    ASSERT_EQ(Attach(TestSkin()), kSkinResultAttached);
    const ToolLikeWindow w = testing::BuildToolLikeWindow(0);
    Show(w);
    for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&message);
    const int x = ClientOf(w.targetEdit).right - 3;
    ASSERT_EQ(Hex(OnScreen(w.window, w.targetEdit, x, 3)), "#FFFFF0");
    SendMessageW(w.targetGroup, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"目标文件夹"));
    EXPECT_EQ(Hex(OnScreen(w.window, w.targetEdit, x, 3)), "#FFFFF0");
    DestroyWindow(w.window);
  });
}

TEST(SkinEngine, ListShowsSelectionInSkinColoursAndKeepsItsScrollBar) {
  OnFreshThread([] {
    ASSERT_EQ(Attach(TestSkin()), kSkinResultAttached);
    const ToolLikeWindow w = testing::BuildToolLikeWindow(40);
    Show(w);
    LVITEMW state{};
    state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(w.list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
    SetFocus(w.list);
    RECT row{};
    row.left = LVIR_BOUNDS;
    SendMessageW(w.list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
    const Rendering shot = Rendering::Of(w.window);
    EXPECT_EQ(Hex(shot.At(w.list, row.left + 300, row.top + 2)), "#D9E6FA");
    // The scroll bar sits in the frame, just right of the client area.
    const RECT client = ClientOf(w.list);
    EXPECT_NE(Hex(shot.At(w.list, client.right + 6, client.bottom / 2)), "#FFFFF0");
    DestroyWindow(w.window);
  });
}

TEST(SkinEngine, RefusedSkinLeavesTheSystemLook) {
  const std::string broken = TestSkin().substr(0, 300);
  const std::string wrongVersion = std::regex_replace(TestSkin(), std::regex("^QVSKIN 1"), "QVSKIN 9");
  struct Case {
    std::string skin;
    std::uint32_t flags, accent, lightness, version, expected;
  };
  const Case cases[] = {
      {broken, 0, 0, 0, 1, kSkinResultSkinRejected + 13},
      {wrongVersion, 0, 0, 0, 1, kSkinResultSkinRejected + 3},
      {"", 0, 0, 0, 1, kSkinResultNoSkin},
      {TestSkin(), 0x80, 0, 0, 1, kSkinResultBadFlags},
      {TestSkin(), 0, 0x02FF0000, 0, 1, kSkinResultBadAccent},
      {TestSkin(), 0, 0, 101, 1, kSkinResultBadLightness},
      {TestSkin(), 0, 0, static_cast<std::uint32_t>(-101), 1, kSkinResultBadLightness},
      {TestSkin(), 0, 0, 0, 2, kSkinResultBadInterface},
  };
  for (const Case& c : cases) {
    OnFreshThread([&] {
      const ToolLikeWindow before = testing::BuildToolLikeWindow(3);
      Show(before);
      const Rendering system = Rendering::Of(before.window);
      EXPECT_EQ(Attach(c.skin, c.flags, c.accent, c.lightness, c.version), c.expected);
      EXPECT_TRUE(Rendering::Of(before.window) == system) << "existing window changed, case " << c.expected;
      const ToolLikeWindow after = testing::BuildToolLikeWindow(3);
      Show(after);
      EXPECT_TRUE(Rendering::Of(after.window) == system) << "new window skinned, case " << c.expected;
      DestroyWindow(before.window);
      DestroyWindow(after.window);
    });
  }
}

TEST(SkinEngine, AttachesOncePerThread) {
  OnFreshThread([] {
    EXPECT_EQ(Attach(TestSkin()), kSkinResultAttached);
    EXPECT_EQ(Attach(TestSkin()), kSkinResultAlreadyAttached);
  });
  OnFreshThread([] { EXPECT_EQ(Attach(TestSkin()), kSkinResultAttached) << "a new thread starts unskinned"; });
}

TEST(SkinEngine, AccentAndLightnessArgumentsAdjustTheSkin) {
  OnFreshThread([] {
    ASSERT_EQ(Attach(TestSkin(), 0, kSkinAccentOverride | 0x3366CC, 100), kSkinResultAttached);
    const ToolLikeWindow w = testing::BuildToolLikeWindow(0);
    Show(w);
    SendMessageW(w.progress, PBM_SETPOS, 50, 0);
    const Rendering shot = Rendering::Of(w.window);
    EXPECT_EQ(Hex(shot.At(w.progress, 3, ClientOf(w.progress).bottom / 2)), "#3366CC");
    EXPECT_EQ(Hex(shot.At(4, 60)), "#FFFFFF") << "surfaces moved all the way to white";
    DestroyWindow(w.window);
  });
}

// Filled in by the timer while the message box is up.
struct MessageBoxLook {
  bool seen = false;
  std::string background, buttonFace;
};
MessageBoxLook gMessageBoxLook;

BOOL CALLBACK FindMessageBox(HWND window, LPARAM found) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (std::wstring(name) == L"#32770") *reinterpret_cast<HWND*>(found) = window;
  return TRUE;
}

void CALLBACK LookAtMessageBox(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindMessageBox, reinterpret_cast<LPARAM>(&box));
  if (!box) return;
  KillTimer(nullptr, timer);
  HWND button = FindWindowExW(box, nullptr, WC_BUTTONW, nullptr);
  const Rendering shot = Rendering::Of(box);
  gMessageBoxLook = {true, Hex(shot.At(2, 2)), Hex(shot.At(button, 6, ClientOf(button).bottom / 2))};
  PostMessageW(box, WM_COMMAND, IDOK, 0);
}

TEST(SkinEngine, MessageBoxesKeepTheSystemLook) {
  OnFreshThread([] {
    ASSERT_EQ(Attach(TestSkin()), kSkinResultAttached);
    gMessageBoxLook = {};
    SetTimer(nullptr, 0, 100, LookAtMessageBox);
    MessageBoxW(nullptr, L"复制成功 3 个", L"执行结果", MB_OK);
    ASSERT_TRUE(gMessageBoxLook.seen);
    EXPECT_NE(gMessageBoxLook.background, "#D0E4C8");
    EXPECT_NE(gMessageBoxLook.buttonFace, "#FAF0D2");
  });
}

TEST(SkinEngine, OnlyTheProgramsOwnDialogsAreSkinned) {
  OnFreshThread([] {
    ASSERT_EQ(Attach(TestSkin()), kSkinResultAttached);
    HWND systemButton = nullptr, ownButton = nullptr;
    HWND system = testing::BuildDialogLikeWindow(GetModuleHandleW(L"user32.dll"), &systemButton);
    HWND own = testing::BuildDialogLikeWindow(GetModuleHandleW(nullptr), &ownButton);
    EXPECT_NE(Hex(Rendering::Of(system).At(systemButton, 6, 14)), "#FAF0D2");
    EXPECT_EQ(Hex(Rendering::Of(own).At(ownButton, 6, 14)), "#FAF0D2");
    DestroyWindow(system);
    DestroyWindow(own);
  });
}

TEST(SkinEngine, StepsAsideInHighContrastUnlessAskedToStay) {
  for (const std::uint32_t flags : {kDefaultSkinFlags, kSkinFlagKeepInHighContrast}) {
    OnFreshThread([flags] {
      ASSERT_EQ(Attach(TestSkin(), flags), kSkinResultAttached);
      const ToolLikeWindow w = testing::BuildToolLikeWindow(0);
      Show(w);
      HIGHCONTRASTW contrast{sizeof contrast, HCF_HIGHCONTRASTON, nullptr};
      if (!SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof contrast, &contrast, 0)) {
        DestroyWindow(w.window);
        GTEST_SKIP() << "this system cannot switch to high contrast";
      }
      SendMessageW(w.window, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
      const std::string face = Hex(Rendering::Of(w.window).At(w.runButton, 6, 16));
      contrast.dwFlags = 0;
      SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof contrast, &contrast, 0);
      SendMessageW(w.window, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
      if (flags & kSkinFlagKeepInHighContrast) {
        EXPECT_EQ(face, "#FAF0D2");
      } else {
        EXPECT_NE(face, "#FAF0D2");
      }
      EXPECT_EQ(Hex(Rendering::Of(w.window).At(w.runButton, 6, 16)), "#FAF0D2") << "skinned again afterwards";
      DestroyWindow(w.window);
    });
  }
}

}  // namespace
}  // namespace quorvane::skin
