// Installing copied fonts: the names the Fonts folder gives them, and, on each
// system, what the running system is told.
#include "sync/install/font_registration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "sync/files/file_ops.h"
#include "test_support.h"

#ifdef _WIN32
#include <windows.h>

#include "base/text.h"
#include "base/win32_handles.h"
#endif

namespace quorvane {
namespace {

using namespace quorvane::testing;

constexpr const char* kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

FontFace FaceOf(std::string family, std::string style, std::string fullName, std::vector<int> pointSizes = {}) {
  FontFace face;
  face.family = std::move(family);
  face.style = std::move(style);
  face.fullName = std::move(fullName);
  face.pointSizes = std::move(pointSizes);
  return face;
}

TEST(RegistryValueNameTest, NamesAsTheFontsFolderDoes) {
  FontFileInfo single{FontFormat::TrueType, {FaceOf("DejaVu Sans", "Book", "DejaVu Sans")}, ""};
  EXPECT_EQ(RegistryValueName(single), "DejaVu Sans (TrueType)");
  FontFileInfo cff{FontFormat::OpenType, {FaceOf("C059", "Roman", "C059 Roman")}, ""};
  EXPECT_EQ(RegistryValueName(cff), "C059 Roman (OpenType)");
  FontFileInfo collection{FontFormat::Collection,
                          {FaceOf("WenQuanYi Micro Hei", "Regular", "WenQuanYi Micro Hei"),
                           FaceOf("WenQuanYi Micro Hei Mono", "Regular", "WenQuanYi Micro Hei Mono")},
                          ""};
  EXPECT_EQ(RegistryValueName(collection), "WenQuanYi Micro Hei & WenQuanYi Micro Hei Mono (TrueType)");
  FontFileInfo bitmap{FontFormat::WindowsBitmap,
                      {FaceOf("MS Sans Serif", "Regular", "MS Sans Serif", {8, 10, 12})},
                      "FONTRES 100,96,96 : MS Sans Serif 8,10,12 "};
  EXPECT_EQ(RegistryValueName(bitmap), "MS Sans Serif 8,10,12");
  bitmap.description.clear();
  EXPECT_EQ(RegistryValueName(bitmap), "MS Sans Serif 8,10,12") << "without a description: face and sizes";
}

// A value named with ESC, a line break or a C1 control would carry it into the
// Fonts key and onto every console that lists it: the registration fails.
TEST(RegistryValueNameTest, ANameWithAControlCharacterNamesNoValue) {
  EXPECT_FALSE(RefusalOf(FontFileInfo{FontFormat::TrueType, {FaceOf("Corp", "Regular", "Corp Sans")}, ""}));
  EXPECT_FALSE(RefusalOf(FontFileInfo{FontFormat::TrueType, {FaceOf("宋体", "Regular", "宋体 \xc2\xa0é")}, ""}));
  for (const std::string name : {"Evil\x1b[2J", "Two\nLines", "Del\x7f", "C1 \xc2\x9b" "2J"}) {
    const std::optional<RegistrationOutcome> refused =
        RefusalOf(FontFileInfo{FontFormat::OpenType, {FaceOf("F", "Regular", "Fine"), FaceOf("F", "Bold", name)}, ""});
    ASSERT_TRUE(refused) << name;
    EXPECT_EQ(refused->kind, RegistrationOutcome::Kind::Failed);
    EXPECT_EQ(refused->error, (FileError{FileStep::Read, 0, FileErrorKind::ControlCharacter}));
    EXPECT_TRUE(refused->valueName.empty());
    EXPECT_EQ(ReasonText(*refused->error, Language::English), "the font's name holds a control character");
  }
}

class FontRegistrarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string dejavu = NativePath(kDejaVu);
    ASSERT_TRUE(std::filesystem::exists(PathOf(dejavu))) << kDejaVu << ": install fonts-dejavu-core";
    font = temp.Path("fonts/DejaVuSans.ttf");
    MakeFolder(temp.Path("fonts"));
    ASSERT_TRUE(CopyOneFile(dejavu, font));
    notFont = temp.Path("fonts/notes.ttf");
    WriteFile(notFont, "these are notes, not glyphs");
#ifdef _WIN32
    // Wine lists the host's own DejaVu under the Fonts key: that value steps aside while the test runs.
    for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      wchar_t data[1024];
      DWORD bytes = sizeof data;
      if (RegGetValueW(root, kFontsKey, kDejaVuValue, RRF_RT_REG_SZ, nullptr, data, &bytes) == ERROR_SUCCESS) {
        aside.emplace_back(root, data);
        RegDeleteKeyValueW(root, kFontsKey, kDejaVuValue);
      }
    }
#endif
  }

#ifdef _WIN32
  void TearDown() override {
    for (const auto& [root, data] : aside) {
      RegSetKeyValueW(root, kFontsKey, kDejaVuValue, REG_SZ, data.c_str(),
                      static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }
  }

  static constexpr const wchar_t* kFontsKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
  static constexpr const wchar_t* kDejaVuValue = L"DejaVu Sans (TrueType)";
  std::vector<std::pair<HKEY, std::wstring>> aside;
#endif

  TempFolder temp;
  std::string font, notFont;
};

#ifdef _WIN32

std::optional<std::wstring> FontsValue(HKEY root, const std::string& name) {
  const wchar_t* key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
  DWORD bytes = 0;
  if (RegGetValueW(root, key, Widen(name).c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::wstring data(bytes / sizeof(wchar_t), L'\0');
  if (RegGetValueW(root, key, Widen(name).c_str(), RRF_RT_REG_SZ, nullptr, data.data(), &bytes) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  data.resize(wcslen(data.c_str()));
  return data;
}

int ValuesHolding(HKEY root, const std::wstring& data) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return 0;
  }
  int count = 0;
  for (DWORD index = 0;; ++index) {
    wchar_t name[1024], value[1024];
    DWORD nameLength = 1024, bytes = sizeof value, type = 0;
    if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes) !=
        ERROR_SUCCESS) {
      break;
    }
    if (type == REG_SZ && _wcsicmp(value, data.c_str()) == 0) ++count;
  }
  RegCloseKey(key);
  return count;
}

int CALLBACK CountFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  ++*reinterpret_cast<int*>(found);
  return 1;
}

bool SystemKnowsFamily(const wchar_t* family) {
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  wcscpy_s(wanted.lfFaceName, family);
  int found = 0;
  HDC screen = GetDC(nullptr);
  EnumFontFamiliesExW(screen, &wanted, CountFamily, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  return found > 0;
}

TEST_F(FontRegistrarTest, AFontOutsideTheSystemFolderIsRegisteredByItsFullPathOnce) {
  for (const FontScope scope : {FontScope::Machine, FontScope::User}) {
    const HKEY root = scope == FontScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    for (int run = 0; run < 2; ++run) {
      FontRegistrar registrar(temp.Path("fonts"), scope);
      const RegistrationOutcome outcome = registrar.Register(font);
      ASSERT_EQ(outcome.kind, RegistrationOutcome::Kind::Registered) << ReasonText(*outcome.error);
      EXPECT_EQ(outcome.valueName, "DejaVu Sans (TrueType)");
      EXPECT_TRUE(registrar.Finish().notified);
    }
    EXPECT_EQ(FontsValue(root, "DejaVu Sans (TrueType)"), Widen(font));
    EXPECT_EQ(ValuesHolding(root, Widen(font)), 1) << "a second run adds no second value";
    EXPECT_TRUE(SystemKnowsFamily(L"DejaVu Sans"));
    RegDeleteKeyValueW(root, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", L"DejaVu Sans (TrueType)");
  }
  RemoveFontResourceExW(Widen(font).c_str(), 0, nullptr);
}

// An earlier version of the font, named otherwise, leaves no second value.
TEST_F(FontRegistrarTest, AnOldNameForTheSameFileGoes) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::wstring data = Widen(font);
  RegSetValueExW(key, L"DejaVu Sans Old (TrueType)", 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  FontRegistrar registrar(temp.Path("fonts"), FontScope::User);
  ASSERT_EQ(registrar.Register(font).kind, RegistrationOutcome::Kind::Registered);
  EXPECT_FALSE(FontsValue(HKEY_CURRENT_USER, "DejaVu Sans Old (TrueType)"));
  EXPECT_EQ(ValuesHolding(HKEY_CURRENT_USER, data), 1);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
                     L"DejaVu Sans (TrueType)");
  RemoveFontResourceExW(data.c_str(), 0, nullptr);
}

// The font in use is the old version; the value names the one that takes its
// place at the restart, and the held file is never read.
TEST_F(FontRegistrarTest, AFontReplacedAtTheRestartIsNamedAfterTheNewVersion) {
  const std::string inUse = temp.Path("fonts/InUse.ttf");
  WriteFile(inUse, "the old version, held");
  const std::wstring data = Widen(inUse);
  {
    const UniqueKernelHandle held{CreateFileW(data.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)};
    ASSERT_TRUE(held.Valid());
    FontRegistrar registrar(temp.Path("fonts"), FontScope::User);
    const RegistrationOutcome outcome = registrar.RegisterAtRestart(inUse, font);
    ASSERT_EQ(outcome.kind, RegistrationOutcome::Kind::Registered) << ReasonText(*outcome.error);
    EXPECT_EQ(outcome.valueName, "DejaVu Sans (TrueType)");
    EXPECT_FALSE(registrar.Finish().notified) << "nothing was loaded, so nothing to tell";
    EXPECT_EQ(registrar.RegisterAtRestart(inUse, notFont).kind, RegistrationOutcome::Kind::NotAFont);
  }
  EXPECT_EQ(FontsValue(HKEY_CURRENT_USER, "DejaVu Sans (TrueType)"), data);
  EXPECT_EQ(ValuesHolding(HKEY_CURRENT_USER, data), 1);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
                     L"DejaVu Sans (TrueType)");
}

void SetFontsValue(HKEY root, const std::wstring& name, const std::wstring& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

// Two files that write the same value name: the second never silently takes
// the first's value while the first exists; a value whose file is gone is stale.
TEST_F(FontRegistrarTest, AValueOfAnotherExistingFileIsAConflictAndAStaleOneIsReplaced) {
  const std::string twin = temp.Path("fonts/DejaVuSansTwin.ttf");
  ASSERT_TRUE(CopyOneFile(font, twin));
  FontRegistrar registrar(temp.Path("fonts"), FontScope::User);
  ASSERT_EQ(registrar.Register(font).kind, RegistrationOutcome::Kind::Registered);
  ASSERT_EQ(registrar.Register(font).kind, RegistrationOutcome::Kind::Registered) << "the same file again";
  EXPECT_EQ(ValuesHolding(HKEY_CURRENT_USER, Widen(font)), 1);

  const RegistrationOutcome conflict = registrar.Register(twin);
  EXPECT_EQ(conflict.kind, RegistrationOutcome::Kind::Conflict);
  EXPECT_EQ(conflict.valueName, "DejaVu Sans (TrueType)");
  EXPECT_EQ(conflict.other, font);
  EXPECT_EQ(FontsValue(HKEY_CURRENT_USER, "DejaVu Sans (TrueType)"), Widen(font)) << "the value stays as it was";

  // A value longer than any fixed buffer is read whole: its file exists, so it stays.
  std::wstring deep = L"\\\\?\\" + Widen(temp.Path("fonts"));
  for (int level = 0; level < 6; ++level) {
    deep += L"\\" + std::wstring(200, static_cast<wchar_t>(L'a' + level));
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
  }
  const std::string distant = Narrow(deep.substr(4) + L"\\DejaVuSans.ttf");
  ASSERT_TRUE(CopyOneFile(font, distant));
  SetFontsValue(HKEY_CURRENT_USER, L"DejaVu Sans (TrueType)", Widen(distant));
  const RegistrationOutcome longValue = registrar.Register(twin);
  EXPECT_EQ(longValue.kind, RegistrationOutcome::Kind::Conflict);
  EXPECT_EQ(longValue.other, distant);
  EXPECT_EQ(FontsValue(HKEY_CURRENT_USER, "DejaVu Sans (TrueType)"), Widen(distant));
  EXPECT_TRUE(std::ranges::any_of(ReadFontsValues(FontScope::User), [&](const FontsEntry& value) {
    return value.name == "DejaVu Sans (TrueType)" && value.file == distant;
  })) << "listed whole";

  // A file the system cannot check is not a file known to be gone: its value stays, and the outcome says why.
  for (const std::wstring& unknown : {Widen(temp.Path("fonts/a<b.ttf")), std::wstring(L"\\\\nohost.invalid\\fonts\\a.ttf")}) {
    SetFontsValue(HKEY_CURRENT_USER, L"DejaVu Sans (TrueType)", unknown);
    const RegistrationOutcome unchecked = registrar.Register(twin);
    EXPECT_EQ(unchecked.kind, RegistrationOutcome::Kind::Failed) << Narrow(unknown);
    EXPECT_EQ(FontsValue(HKEY_CURRENT_USER, "DejaVu Sans (TrueType)"), unknown);
  }

  const std::string gone = temp.Path("fonts/Gone.ttf");
  SetFontsValue(HKEY_CURRENT_USER, L"DejaVu Sans (TrueType)", Widen(gone));
  const RegistrationOutcome stale = registrar.Register(twin);
  EXPECT_EQ(stale.kind, RegistrationOutcome::Kind::Registered);
  EXPECT_EQ(stale.replaced, gone);
  EXPECT_EQ(FontsValue(HKEY_CURRENT_USER, "DejaVu Sans (TrueType)"), Widen(twin));
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
                     L"DejaVu Sans (TrueType)");
  RemoveFontResourceExW(Widen(font).c_str(), 0, nullptr);
  RemoveFontResourceExW(Widen(twin).c_str(), 0, nullptr);
}

// DejaVu with its 'OS/2' table renamed: names and version still read, but no
// system loads it.
std::string RefusedFont(const std::string& from) {
  std::string bytes = ReadFile(from);
  const std::size_t at = bytes.find("OS/2");
  if (at != std::string::npos && at < 12 + 16 * 64) bytes[at + 3] = 'q';
  return bytes;
}

TEST_F(FontRegistrarTest, AFontTheSystemRefusesLeavesTheKeyAsItWas) {
  const std::string refused = temp.Path("fonts/Refused.ttf");
  WriteFile(refused, RefusedFont(font));
  const std::string gone = temp.Path("fonts/Gone.ttf");
  SetFontsValue(HKEY_CURRENT_USER, L"DejaVu Sans (TrueType)", Widen(gone));
  FontRegistrar registrar(temp.Path("fonts"), FontScope::User);

  const RegistrationOutcome outcome = registrar.Register(refused);
  EXPECT_EQ(outcome.kind, RegistrationOutcome::Kind::Failed);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->step, FileStep::LoadFont);
  EXPECT_EQ(ValuesHolding(HKEY_CURRENT_USER, Widen(refused)), 0) << "no value names a font that does not load";
  EXPECT_EQ(FontsValue(HKEY_CURRENT_USER, "DejaVu Sans (TrueType)"), Widen(gone)) << "nor did the stale one go";
  EXPECT_FALSE(registrar.Finish().notified);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
                     L"DejaVu Sans (TrueType)");
}

TEST_F(FontRegistrarTest, ValuesMoveFromOneFileToAnotherAndTheListShowsWhereEachPoints) {
  const std::string next = temp.Path("fonts/DejaVuSans-next.ttf");
  ASSERT_TRUE(CopyOneFile(font, next));
  SetFontsValue(HKEY_CURRENT_USER, L"Quorvane Move Test (TrueType)", Widen(font));
  std::vector<std::string> moved;
  ASSERT_TRUE(MoveFontsValues(temp.Path("fonts"), FontScope::User, font, next, moved));
  EXPECT_THAT(moved, ::testing::ElementsAre("Quorvane Move Test (TrueType)"));
  EXPECT_EQ(FontsValue(HKEY_CURRENT_USER, "Quorvane Move Test (TrueType)"), Widen(next));
  const std::vector<FontsEntry> values = ReadFontsValues(FontScope::User);
  EXPECT_TRUE(std::ranges::any_of(values, [&](const FontsEntry& value) {
    return value.name == "Quorvane Move Test (TrueType)" && value.file == next;
  }));
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
                     L"Quorvane Move Test (TrueType)");
}

#endif

}  // namespace
}  // namespace quorvane
