// The skin engine: Skin_AttachRes parses a skin and from then on paints every
// window of the calling thread with it. A thread-local CBT hook meets each new
// window at creation; a window procedure of ours in front of its own (and of
// the windows that existed before) takes over painting while the control
// keeps its own behaviour: keyboard, focus cues, mnemonics and accessibility
// stay the system's. Message boxes and the folder chooser (#32770) keep the
// system look, and in high-contrast mode every window is left to the system.
#include <windows.h>
#include <commctrl.h>

#include <cwchar>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "base/win32_handles.h"
#include "skin/engine/skin_engine_api.h"
#include "skin/engine/skin_paint.h"
#include "skin/format/skin_theme.h"

namespace quorvane::skin {
namespace {

enum class Kind { TopLevel, Container, PushButton, RadioButton, GroupBox, Edit, ListView, Header, ProgressBar, StatusBar };

struct Attachment;

struct SkinnedWindow {
  Attachment* attachment = nullptr;
  Kind kind = Kind::Container;
  bool hot = false;
  // The window procedure ours stands in front of.
  WNDPROC previous = nullptr;
};

struct Attachment {
  DWORD thread = 0;
  // Thread ids are reused; the creation time tells a later thread from this one.
  std::uint64_t threadCreated = 0;
  HHOOK hook = nullptr;
  SkinTheme theme;
  std::uint32_t flags = 0;
  bool highContrast = false;
  UniqueBrush background;
  UniqueBrush editBackground;
  std::unordered_map<HWND, std::unique_ptr<SkinnedWindow>> windows;

  bool SteppedAside() const { return highContrast && !(flags & kSkinFlagKeepInHighContrast); }
  SkinnedWindow* Find(HWND window) const {
    auto found = windows.find(window);
    return found == windows.end() ? nullptr : found->second.get();
  }
};

// Each attachment is used only on its own thread; the lock guards the list
// and the index.
std::mutex gLock;
std::vector<std::unique_ptr<Attachment>> gAttachments;
// Every skinned window by handle, for the window procedure. A comctl32
// subclass finds its data in a window property at every message, and under
// Wine each property lookup is a round trip to the server: two per message.
std::unordered_map<HWND, SkinnedWindow*> gSkinnedByHandle;

SkinnedWindow* SkinnedOf(HWND window) {
  std::lock_guard lock(gLock);
  const auto found = gSkinnedByHandle.find(window);
  return found == gSkinnedByHandle.end() ? nullptr : found->second;
}

std::uint64_t CurrentThreadCreated() {
  FILETIME created{}, exited{}, kernel{}, user{};
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// A thread that ended took its windows and its hook with it; its record goes
// when a later thread with the same id asks, never from DllMain, where the
// loader lock forbids locks and window calls.
Attachment* AttachmentOfThisThread() {
  const DWORD thread = GetCurrentThreadId();
  const std::uint64_t created = CurrentThreadCreated();
  std::lock_guard lock(gLock);
  for (auto at = gAttachments.begin(); at != gAttachments.end(); ++at) {
    if ((*at)->thread != thread) continue;
    if ((*at)->threadCreated == created) return at->get();
    gAttachments.erase(at);
    return nullptr;
  }
  return nullptr;
}

// The creation hook runs at every new window of its thread: a thread-local
// slot finds the attachment there without asking the system for the thread's
// creation time, as AttachmentOfThisThread must.
DWORD AttachmentSlot() {
  static const DWORD slot = TlsAlloc();
  return slot;
}

Attachment* HookedAttachment() {
  const DWORD slot = AttachmentSlot();
  return slot == TLS_OUT_OF_INDEXES ? AttachmentOfThisThread() : static_cast<Attachment*>(TlsGetValue(slot));
}

bool HighContrastOn() {
  HIGHCONTRASTW contrast{};
  contrast.cbSize = sizeof contrast;
  return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
         (contrast.dwFlags & HCF_HIGHCONTRASTON);
}

bool ClassIs(const wchar_t* name, const wchar_t* expected) { return _wcsicmp(name, expected) == 0; }

std::optional<Kind> Classify(HWND window, LONG style, HINSTANCE owner) {
  wchar_t name[64] = {};
  if (!GetClassNameW(window, name, 64)) return std::nullopt;
  if (!(style & WS_CHILD)) {
    // Captioned windows only, so menus and tool tips stay. Dialogs count when
    // the program made them; message boxes and the folder chooser come from
    // system modules and keep the system look.
    if (ClassIs(name, L"#32770") && owner != GetModuleHandleW(nullptr)) return std::nullopt;
    return (style & WS_CAPTION) == WS_CAPTION ? std::optional(Kind::TopLevel) : std::nullopt;
  }
  if (ClassIs(name, WC_BUTTONW)) {
    switch (style & BS_TYPEMASK) {
      case BS_PUSHBUTTON:
      case BS_DEFPUSHBUTTON: return Kind::PushButton;
      case BS_RADIOBUTTON:
      case BS_AUTORADIOBUTTON: return Kind::RadioButton;
      case BS_GROUPBOX: return Kind::GroupBox;
      default: return Kind::Container;  // check boxes and owner-drawn buttons keep their drawing
    }
  }
  if (ClassIs(name, WC_EDITW)) return Kind::Edit;
  if (ClassIs(name, WC_LISTVIEWW)) return Kind::ListView;
  if (ClassIs(name, WC_HEADERW)) return Kind::Header;
  if (ClassIs(name, PROGRESS_CLASSW)) return (style & PBS_MARQUEE) ? Kind::Container : Kind::ProgressBar;
  if (ClassIs(name, STATUSCLASSNAMEW)) return Kind::StatusBar;
  return Kind::Container;
}

ClientPainter PainterFor(Kind kind) {
  switch (kind) {
    case Kind::PushButton: return PaintPushButton;
    case Kind::RadioButton: return PaintRadioButton;
    case Kind::GroupBox: return PaintGroupBox;
    case Kind::Header: return PaintHeader;
    case Kind::ProgressBar: return PaintProgressBar;
    case Kind::StatusBar: return PaintStatusBar;
    default: return nullptr;
  }
}

ButtonLook LookOf(const SkinnedWindow& skinned) { return {.hot = skinned.hot}; }

// Draws a control at once, over whatever its own code just drew outside WM_PAINT.
// Nothing repaints the children afterwards, so they are kept out of the way.
void RepaintNow(HWND window, const SkinnedWindow& skinned) {
  const ClientPainter painter = PainterFor(skinned.kind);
  if (!painter || !IsWindowVisible(window) || skinned.attachment->SteppedAside()) return;
  const UniqueWindowDc dc = ClientDc(window);
  if (!dc) return;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    ExcludeClipRect(dc.Get(), rect.left, rect.top, rect.right, rect.bottom);
  }
  PaintBuffered(window, dc.Get(), skinned.attachment->theme, LookOf(skinned), painter);
}

FrameLook FrameFor(HWND window, const SkinnedWindow& skinned) {
  const SkinColours& c = skinned.attachment->theme.colours;
  if (skinned.kind == Kind::ProgressBar) return {.fill = c.progressTrack, .border = c.progressBorder};
  const bool focused = GetFocus() == window;
  return {.fill = c.editBackground, .border = focused ? c.editBorderFocus : c.editBorder, .emphasised = focused};
}

bool HasFrame(Kind kind) { return kind == Kind::Edit || kind == Kind::ListView || kind == Kind::ProgressBar; }

void RedrawEverything(HWND topLevel) {
  RedrawWindow(topLevel, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

bool StateRedrawsButton(UINT message) {
  switch (message) {
    case WM_SETFOCUS: case WM_KILLFOCUS: case WM_ENABLE: case WM_SETTEXT: case WM_SETFONT:
    case BM_SETSTATE: case BM_SETCHECK: case BM_SETSTYLE: case BM_CLICK:
    case WM_LBUTTONDOWN: case WM_LBUTTONUP: case WM_LBUTTONDBLCLK: case WM_KEYDOWN: case WM_KEYUP:
    case WM_CAPTURECHANGED: case WM_UPDATEUISTATE: case WM_CHANGEUISTATE:
      return true;
    default:
      return false;
  }
}

bool StateRedraws(Kind kind, HWND window, UINT message) {
  switch (kind) {
    case Kind::PushButton:
    case Kind::RadioButton:
      return StateRedrawsButton(message) || (message == WM_MOUSEMOVE && GetCapture() == window);
    case Kind::GroupBox:
      return message == WM_SETTEXT || message == WM_ENABLE || message == WM_SETFONT || message == WM_UPDATEUISTATE;
    case Kind::Header:
      return message == WM_MOUSEMOVE || message == WM_LBUTTONDOWN || message == WM_LBUTTONUP ||
             message == WM_MOUSELEAVE || message == WM_CAPTURECHANGED || message == HDM_SETITEMW ||
             message == HDM_INSERTITEMW || message == HDM_DELETEITEM;
    case Kind::ProgressBar:
      return message == PBM_SETPOS || message == PBM_DELTAPOS || message == PBM_STEPIT || message == PBM_SETRANGE ||
             message == PBM_SETRANGE32 || message == PBM_SETSTATE || message == WM_ENABLE;
    case Kind::StatusBar:
      return message == SB_SETTEXTW || message == SB_SETTEXTA || message == SB_SETPARTS || message == SB_SIMPLE ||
             message == SB_SETICON;
    default:
      return false;
  }
}

LRESULT ListCustomDraw(NMLVCUSTOMDRAW& draw, const SkinnedWindow& list) {
  const SkinColours& c = list.attachment->theme.colours;
  HWND window = draw.nmcd.hdr.hwndFrom;
  switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW | CDRF_NOTIFYPOSTPAINT;
    case CDDS_ITEMPREPAINT:
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
      const auto item = static_cast<WPARAM>(draw.nmcd.dwItemSpec);
      const bool shown = GetFocus() == window || (GetWindowLongW(window, GWL_STYLE) & LVS_SHOWSELALWAYS);
      if (shown && SendMessageW(window, LVM_GETITEMSTATE, item, LVIS_SELECTED)) {
        // Cleared so the control draws our colours instead of its highlight.
        draw.nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED | CDIS_FOCUS);
        draw.clrText = ToColorRef(c.listSelectionText);
        draw.clrTextBk = ToColorRef(c.listSelection);
      } else {
        draw.clrText = ToColorRef(c.listText);
      }
      return (draw.nmcd.dwDrawStage & CDDS_SUBITEM) ? CDRF_NEWFONT : CDRF_NEWFONT | CDRF_NOTIFYSUBITEMDRAW;
    }
    case CDDS_POSTPAINT:
      PaintListGrid(window, draw.nmcd.hdc, list.attachment->theme);
      return CDRF_DODEFAULT;
    default:
      return CDRF_DODEFAULT;
  }
}

// Messages a skinned window gets as the parent of other controls.
bool HandleAsParent(const Attachment& attachment, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  const SkinColours& c = attachment.theme.colours;
  switch (message) {
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
      auto dc = reinterpret_cast<HDC>(wParam);
      auto control = reinterpret_cast<HWND>(lParam);
      const SkinnedWindow* skinned = attachment.Find(control);
      const bool enabled = IsWindowEnabled(control);
      if (message == WM_CTLCOLOREDIT || (skinned && skinned->kind == Kind::Edit)) {
        SetTextColor(dc, ToColorRef(enabled ? c.editText : c.textDisabled));
        SetBkColor(dc, ToColorRef(c.editBackground));
        result = reinterpret_cast<LRESULT>(attachment.editBackground.Get());
        return true;
      }
      // Labels: text straight on the window's background, nothing of their own.
      SetTextColor(dc, ToColorRef(enabled ? c.labelText : c.textDisabled));
      SetBkColor(dc, ToColorRef(c.windowBackground));
      SetBkMode(dc, TRANSPARENT);
      result = reinterpret_cast<LRESULT>(attachment.background.Get());
      return true;
    }
    case WM_CTLCOLORBTN:
      SetBkColor(reinterpret_cast<HDC>(wParam), ToColorRef(c.windowBackground));
      result = reinterpret_cast<LRESULT>(attachment.background.Get());
      return true;
    case WM_COMMAND:
      // A click handler may run long; show the released button first.
      if (const SkinnedWindow* button = attachment.Find(reinterpret_cast<HWND>(lParam));
          button && HIWORD(wParam) == BN_CLICKED)
        RepaintNow(reinterpret_cast<HWND>(lParam), *button);
      return false;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (!header || header->code != NM_CUSTOMDRAW) return false;
      const SkinnedWindow* from = attachment.Find(header->hwndFrom);
      if (!from) return false;
      if (from->kind == Kind::ListView) {
        result = ListCustomDraw(*reinterpret_cast<NMLVCUSTOMDRAW*>(lParam), *from);
        return true;
      }
      if (from->kind == Kind::PushButton || from->kind == Kind::RadioButton) {
        auto* draw = reinterpret_cast<NMCUSTOMDRAW*>(lParam);
        if (draw->dwDrawStage != CDDS_PREERASE && draw->dwDrawStage != CDDS_PREPAINT) return false;
        PaintBuffered(header->hwndFrom, draw->hdc, attachment.theme, LookOf(*from), PainterFor(from->kind));
        result = CDRF_SKIPDEFAULT;
        return true;
      }
      return false;
    }
    default:
      return false;
  }
}

void Forget(HWND window, Attachment& attachment);
LRESULT CALLBACK SkinProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

bool Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam, SkinnedWindow& skinned, LRESULT& result) {
  Attachment& attachment = *skinned.attachment;
  if (message == WM_SETTINGCHANGE || message == WM_SYSCOLORCHANGE || message == WM_THEMECHANGED) {
    const bool highContrast = HighContrastOn();
    if (highContrast != attachment.highContrast) {
      attachment.highContrast = highContrast;
      if (skinned.kind == Kind::TopLevel) RedrawEverything(window);
    }
    return false;
  }
  if (attachment.SteppedAside()) return false;
  if (HandleAsParent(attachment, message, wParam, lParam, result)) return true;

  const Kind kind = skinned.kind;
  const ClientPainter painter = PainterFor(kind);
  switch (message) {
    case WM_ERASEBKGND:
      if (kind == Kind::TopLevel || kind == Kind::GroupBox) {
        PaintBackground(window, reinterpret_cast<HDC>(wParam), attachment.theme);
        result = 1;
        return true;
      }
      if (painter) {
        result = 1;  // WM_PAINT covers every pixel
        return true;
      }
      return false;
    case WM_PAINT:
      if (!painter) return false;
      if (wParam) {
        PaintBuffered(window, reinterpret_cast<HDC>(wParam), attachment.theme, LookOf(skinned), painter);
      } else {
        PAINTSTRUCT paint;
        if (HDC dc = BeginPaint(window, &paint)) {
          PaintBuffered(window, dc, attachment.theme, LookOf(skinned), painter);
          EndPaint(window, &paint);
        }
      }
      result = 0;
      return true;
    case WM_PRINTCLIENT:
      if (kind == Kind::TopLevel) {
        PaintBackground(window, reinterpret_cast<HDC>(wParam), attachment.theme);
        return false;
      }
      if (!painter) return false;
      PaintBuffered(window, reinterpret_cast<HDC>(wParam), attachment.theme, LookOf(skinned), painter);
      result = 0;
      return true;
    case WM_NCPAINT:
      if (!HasFrame(kind)) return false;
      result = CallWindowProcW(skinned.previous, window, message, wParam, lParam);  // scroll bars
      {
        const UniqueWindowDc dc = WholeWindowDc(window);
        if (dc) PaintFieldFrame(window, dc.Get(), attachment.theme, FrameFor(window, skinned));
      }
      return true;
    case WM_PRINT:
      if (!HasFrame(kind)) return false;
      result = CallWindowProcW(skinned.previous, window, message, wParam, lParam);
      if (lParam & PRF_NONCLIENT) PaintFieldFrame(window, reinterpret_cast<HDC>(wParam), attachment.theme, FrameFor(window, skinned));
      return true;
    case WM_MOUSEMOVE:
      if ((kind == Kind::PushButton || kind == Kind::RadioButton) && !skinned.hot &&
          !(attachment.flags & kSkinFlagNoHotTracking)) {
        skinned.hot = true;
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
        TrackMouseEvent(&track);
        result = CallWindowProcW(skinned.previous, window, message, wParam, lParam);
        RepaintNow(window, skinned);
        return true;
      }
      break;
    case WM_MOUSELEAVE:
      if (skinned.hot) {
        skinned.hot = false;
        result = CallWindowProcW(skinned.previous, window, message, wParam, lParam);
        RepaintNow(window, skinned);
        return true;
      }
      break;
    default:
      break;
  }
  if ((kind == Kind::Edit || kind == Kind::ListView) && (message == WM_SETFOCUS || message == WM_KILLFOCUS)) {
    result = CallWindowProcW(skinned.previous, window, message, wParam, lParam);
    RedrawWindow(window, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
    return true;
  }
  if (StateRedraws(kind, window, message)) {
    result = CallWindowProcW(skinned.previous, window, message, wParam, lParam);
    RepaintNow(window, skinned);
    return true;
  }
  return false;
}

LRESULT CALLBACK SkinProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SkinnedWindow* skinned = SkinnedOf(window);
  // Only a message after the window's last one could find no record.
  if (!skinned) return DefWindowProcW(window, message, wParam, lParam);
  const WNDPROC previous = skinned->previous;
  if (message == WM_NCDESTROY) {
    Forget(window, *skinned->attachment);  // frees `skinned`
    return CallWindowProcW(previous, window, message, wParam, lParam);
  }
  // No exception may leave a window procedure.
  try {
    LRESULT result = 0;
    if (Handle(window, message, wParam, lParam, *skinned, result)) return result;
  } catch (...) {
  }
  return CallWindowProcW(previous, window, message, wParam, lParam);
}

void Forget(HWND window, Attachment& attachment) {
  const SkinnedWindow* skinned = attachment.Find(window);
  if (!skinned) return;
  // A procedure put in front of ours later keeps its place and calls ours.
  if (GetWindowLongPtrW(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&SkinProc))
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(skinned->previous));
  {
    std::lock_guard lock(gLock);
    gSkinnedByHandle.erase(window);
  }
  attachment.windows.erase(window);
}

// Skins `window` when it is one of ours: a captioned top-level window, or a
// child whose parent is already skinned (so dialogs' children stay as they are).
bool Adopt(Attachment& attachment, HWND window, LONG style, HWND parent, HINSTANCE owner) {
  if (attachment.Find(window)) return true;
  if ((style & WS_CHILD) && !attachment.Find(parent)) return false;
  const std::optional<Kind> kind = Classify(window, style, owner);
  if (!kind) return false;
  const auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
  if (!previous) return false;
  auto skinned = std::make_unique<SkinnedWindow>(
      SkinnedWindow{.attachment = &attachment, .kind = *kind, .previous = previous});
  {
    std::lock_guard lock(gLock);
    gSkinnedByHandle.emplace(window, skinned.get());
  }
  // Recorded first: our procedure may be called as soon as it is in place.
  if (!SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SkinProc))) {
    std::lock_guard lock(gLock);
    gSkinnedByHandle.erase(window);
    return false;
  }
  attachment.windows.emplace(window, std::move(skinned));
  return true;
}

void AdoptTree(Attachment& attachment, HWND window) {
  if (!Adopt(attachment, window, GetWindowLongW(window, GWL_STYLE), GetParent(window),
             reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE))))
    return;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    AdoptTree(attachment, child);
}

LRESULT CALLBACK CreationHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    try {
      if (Attachment* attachment = HookedAttachment()) {
        const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
        Adopt(*attachment, reinterpret_cast<HWND>(wParam), create->style, create->hwndParent, create->hInstance);
      }
    } catch (...) {
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

BOOL CALLBACK AdoptExisting(HWND window, LPARAM data) {
  try {
    auto& attachment = *reinterpret_cast<Attachment*>(data);
    AdoptTree(attachment, window);
    if (attachment.Find(window)) RedrawEverything(window);
  } catch (...) {
  }
  return TRUE;
}

std::uint32_t Attach(const void* skin, std::uint32_t length, std::uint32_t flags, std::uint32_t accent,
                     std::uint32_t lightness, std::uint32_t interfaceVersion) {
  if (interfaceVersion != kSkinInterfaceVersion) return kSkinResultBadInterface;
  if (!skin || length == 0) return kSkinResultNoSkin;
  if (flags & ~kSkinKnownFlags) return kSkinResultBadFlags;
  if (accent != 0 && (accent & 0xFF000000) != kSkinAccentOverride) return kSkinResultBadAccent;
  const auto shift = static_cast<std::int32_t>(lightness);
  if (shift < -kSkinMaxLightness || shift > kSkinMaxLightness) return kSkinResultBadLightness;

  const ThemeResult loaded = LoadTheme(std::span(static_cast<const std::uint8_t*>(skin), length));
  if (!loaded.ok()) return kSkinResultSkinRejected + static_cast<std::uint32_t>(loaded.error);
  ThemeAdjustment adjustment{.accent = std::nullopt, .lightness = shift};
  if (accent)
    adjustment.accent = Rgb{static_cast<std::uint8_t>(accent >> 16), static_cast<std::uint8_t>(accent >> 8),
                            static_cast<std::uint8_t>(accent)};

  if (AttachmentOfThisThread()) return kSkinResultAlreadyAttached;
  auto attachment = std::make_unique<Attachment>();
  attachment->thread = GetCurrentThreadId();
  attachment->threadCreated = CurrentThreadCreated();
  attachment->theme = AdjustTheme(loaded.theme, adjustment);
  attachment->flags = flags;
  attachment->highContrast = HighContrastOn();
  attachment->background = UniqueBrush(CreateSolidBrush(ToColorRef(attachment->theme.colours.windowBackground)));
  attachment->editBackground = UniqueBrush(CreateSolidBrush(ToColorRef(attachment->theme.colours.editBackground)));
  if (!attachment->background || !attachment->editBackground) return kSkinResultOutOfMemory;
  attachment->hook = SetWindowsHookExW(WH_CBT, CreationHook, nullptr, attachment->thread);
  if (!attachment->hook) return kSkinResultHookFailed;

  Attachment* attached = attachment.get();
  if (AttachmentSlot() != TLS_OUT_OF_INDEXES) TlsSetValue(AttachmentSlot(), attached);
  {
    std::lock_guard lock(gLock);
    gAttachments.push_back(std::move(attachment));
  }
  EnumThreadWindows(attached->thread, AdoptExisting, reinterpret_cast<LPARAM>(attached));
  // Windows now call into this module: it must never be unloaded under them.
  // Pinned, it stays until the process ends, so nothing needs undoing at unload.
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&CreationHook), &self);
  return kSkinResultAttached;
}

}  // namespace
}  // namespace quorvane::skin

extern "C" __declspec(dllexport) std::uint32_t WINAPI Skin_AttachRes(const void* skin, std::uint32_t length,
                                                                    std::uint32_t flags, std::uint32_t accent,
                                                                    std::uint32_t lightness,
                                                                    std::uint32_t interfaceVersion) {
  try {
    return quorvane::skin::Attach(skin, length, flags, accent, lightness, interfaceVersion);
  } catch (...) {
    return quorvane::skin::kSkinResultOutOfMemory;
  }
}
