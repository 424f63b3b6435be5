// Fonts, not file names: what a font file holds (its faces and version) in
// the run's decisions, with fonts made here of chosen names and versions and
// the real ones Debian ships.
#include "sync/run/font_checks.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "font_builder.h"
#include "sync/files/file_ops.h"
#include "sync/fonts/font_identity.h"
#include "sync/install/font_registration.h"
#include "sync/run/font_listing.h"
#include "sync/run/font_sync_run.h"
#include "test_support.h"

namespace quorvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace quorvane::testing;

constexpr std::uint32_t Revision(std::uint16_t major, std::uint16_t thousandths) {
  return std::uint32_t{major} << 16 | static_cast<std::uint32_t>(thousandths * 65536u / 1000u);
}

std::string FontBytes(const std::u16string& fullName, const std::u16string& version, std::uint32_t revision,
                      const std::u16string& postScriptName = u"") {
  const Bytes bytes = Sfnt(FaceVersioned(fullName, version, revision, postScriptName));
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

FontFace FaceOf(std::string fullName, std::string version, std::optional<std::uint32_t> revision,
                std::string postScriptName = {}) {
  FontFace face;
  face.family = face.fullName = std::move(fullName);
  face.style = "Regular";
  face.versionText = std::move(version);
  face.fontRevision = revision;
  face.postScriptName = std::move(postScriptName);
  return face;
}

// ---- versions and faces ------------------------------------------------------

TEST(FontVersionTest, TheNumbersOfAVersionTextAreItsFirstDottedRun) {
  EXPECT_THAT(VersionNumbers("Version 1.002;PS 001.002;hotconv 1.0.88"), ElementsAre(1u, 2u));
  EXPECT_THAT(VersionNumbers("Version 2.37"), ElementsAre(2u, 37u));
  EXPECT_THAT(VersionNumbers("Version 003.03"), ElementsAre(3u, 3u));
  EXPECT_THAT(VersionNumbers("1."), ElementsAre(1u));
  EXPECT_THAT(VersionNumbers("Version ."), IsEmpty());
  EXPECT_THAT(VersionNumbers(""), IsEmpty());
  EXPECT_THAT(VersionNumbers("v99999999999.1"), ElementsAre(UINT32_MAX, 1u)) << "saturates, never wraps";
}

TEST(FontVersionTest, TheRevisionDecidesFirstThenTheText) {
  using std::strong_ordering;
  // The revision wins over a text that says otherwise.
  EXPECT_EQ(CompareVersions(FaceOf("A", "Version 1.0", Revision(1, 500)), FaceOf("A", "Version 9.0", Revision(1, 200))),
            strong_ordering::greater);
  // Equal revisions: the text's numbers, as numbers: 1.10 is after 1.002.
  EXPECT_EQ(CompareVersions(FaceOf("A", "Version 1.002", Revision(1, 0)), FaceOf("A", "Version 1.10", Revision(1, 0))),
            strong_ordering::less);
  EXPECT_EQ(CompareVersions(FaceOf("A", "1.2", std::nullopt), FaceOf("A", "1.2.0", std::nullopt)),
            strong_ordering::equal);
  // One side without a head: the texts alone.
  EXPECT_EQ(CompareVersions(FaceOf("A", "Version 2.1", std::nullopt), FaceOf("A", "Version 2.0", Revision(3, 0))),
            strong_ordering::greater);
  // Equal revisions and no text: the same version; nothing to go on at all: unknown.
  EXPECT_EQ(CompareVersions(FaceOf("A", "", Revision(1, 0)), FaceOf("A", "", Revision(1, 0))), strong_ordering::equal);
  EXPECT_EQ(CompareVersions(FaceOf("A", "beta", std::nullopt), FaceOf("A", "Version 1.0", std::nullopt)), std::nullopt);
}

TEST(FontVersionTest, AFaceIsKnownByItsPostScriptNameAndItsFullNameTogether) {
  EXPECT_TRUE(SameFace(FaceOf("IPAGothic", "", {}, "IPAGothic"), FaceOf("ipagothic", "", {}, "IPAGothic")));
  EXPECT_TRUE(SameFace(FaceOf("DejaVu Sans", "", {}), FaceOf("dejavu sans", "", {})));
  EXPECT_FALSE(SameFace(FaceOf("DejaVu Sans", "", {}, "DejaVuSans"), FaceOf("DejaVu Serif", "", {}, "DejaVuSerif")));
  // One name agreeing is not enough: an editor's default PostScript name, or one borrowed.
  EXPECT_FALSE(SameFace(FaceOf("Alpha Sans", "", {}, "Untitled1"), FaceOf("Beta Serif", "", {}, "Untitled1")));
  EXPECT_FALSE(SameFace(FaceOf("Corp Sans", "", {}, "CorpSans"), FaceOf("Corp Sans", "", {}, "CorpSansX")));
  EXPECT_FALSE(SameFace(FaceOf("Corp Sans", "", {}, "CorpSans"), FaceOf("Corp Sans", "", {})));

  // A file holds another whole when every face of the other is among its own.
  const FontFileInfo family{FontFormat::Collection, {FaceOf("Qv Alpha", "", {}), FaceOf("Qv Beta", "", {})}, ""};
  const FontFileInfo alpha{FontFormat::TrueType, {FaceOf("qv alpha", "", {})}, ""};
  EXPECT_TRUE(HoldsEveryFace(family, alpha));
  EXPECT_FALSE(HoldsEveryFace(alpha, family));
  EXPECT_TRUE(ShareAFace(alpha, family));

  FontFileInfo courier{FontFormat::WindowsBitmap, {FaceOf("Courier", "", {})}, "FONTRES 100,96,96 : Courier 10"};
  FontFileInfo variant = courier;
  EXPECT_TRUE(ShareAFace(courier, variant)) << "a bitmap font is known by its description";
  EXPECT_EQ(CompareFileVersions(courier, variant), std::strong_ordering::equal);
  EXPECT_TRUE(HoldsEveryFace(courier, variant));
  variant.description = "FONTRES 100,96,96 : Courier 12";
  EXPECT_FALSE(ShareAFace(courier, variant));
  EXPECT_FALSE(HoldsEveryFace(courier, variant));
}

TEST(FontVersionTest, TheReaderGivesVersionRevisionAndPostScriptName) {
  const std::string made = FontBytes(u"Quorvane Test", u"Version 1.002;PS 1.2", Revision(1, 2), u"QuorvaneTest");
  const FontReadResult read = ParseFontBytes(std::as_bytes(std::span(made)));
  const auto* info = std::get_if<FontFileInfo>(&read);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->faces[0].versionText, "Version 1.002;PS 1.2");
  EXPECT_EQ(info->faces[0].postScriptName, "QuorvaneTest");
  EXPECT_EQ(info->faces[0].fontRevision, Revision(1, 2));

  // Debian's DejaVu Sans 2.37: the version it names and the revision in its head.
  const FontReadResult dejavu = ReadFontFile(NativePath("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));
  const auto* real = std::get_if<FontFileInfo>(&dejavu);
  ASSERT_NE(real, nullptr) << "install fonts-dejavu-core";
  EXPECT_THAT(VersionNumbers(real->faces[0].versionText), ElementsAre(2u, 37u));
  EXPECT_EQ(real->faces[0].postScriptName, "DejaVuSans");
  ASSERT_TRUE(real->faces[0].fontRevision);
  EXPECT_EQ(*real->faces[0].fontRevision >> 16, 2u);
}

TEST(FontVersionTest, DebiansTwoNamesForIpaGothicAreOneFace) {
  // fonts-japanese-gothic.ttf is Debian's alternatives link to ipag.ttf.
  const FontReadResult ipag = ReadFontFile(NativePath("/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"));
  const FontReadResult alias = ReadFontFile(NativePath("/usr/share/fonts/truetype/fonts-japanese-gothic.ttf"));
  ASSERT_TRUE(std::holds_alternative<FontFileInfo>(ipag)) << "install fonts-ipafont-gothic";
  ASSERT_TRUE(std::holds_alternative<FontFileInfo>(alias));
  EXPECT_TRUE(ShareAFace(std::get<FontFileInfo>(ipag), std::get<FontFileInfo>(alias)));
  EXPECT_EQ(CompareFileVersions(std::get<FontFileInfo>(ipag), std::get<FontFileInfo>(alias)), std::strong_ordering::equal);
  const FontReadResult ipagp = ReadFontFile(NativePath("/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf"));
  ASSERT_TRUE(std::holds_alternative<FontFileInfo>(ipagp));
  EXPECT_FALSE(ShareAFace(std::get<FontFileInfo>(ipag), std::get<FontFileInfo>(ipagp))) << "IPAPGothic is another face";
}

// ---- the run's checks --------------------------------------------------------

// Counts the files the run opens, failing none.
class OpenCounter : public FaultInjector {
 public:
  OpenCounter() { SetFaultInjector(this); }
  ~OpenCounter() override { SetFaultInjector(nullptr); }
  OpenCounter(const OpenCounter&) = delete;
  OpenCounter& operator=(const OpenCounter&) = delete;
  int FailWith(FileStep step) override {
    if (step == FileStep::Open) ++opens;
    return 0;
  }
  int opens = 0;
};

class FontChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeFolder(temp.Path("src"));
    MakeFolder(temp.Path("dst"));
  }
  std::string Src(const std::string& name) const { return temp.Path("src/" + name); }
  std::string Dst(const std::string& name) const { return temp.Path("dst/" + name); }

  RunSummary Run(SyncPolicy policy, bool newer = false, bool dryRun = false) {
    FontListing(temp.Path("src"), view);
    // Listed first, whatever the file system's order.
    if (!listedFirst.empty()) {
      std::stable_partition(view.rows.begin(), view.rows.end(), [&](const auto& row) { return row[kNameColumn] == listedFirst; });
    }
    FontSyncRun run(view);
    VersionStage versions(false);
    if (newer) run.AddStage(versions);
    run.AddStage(faces.emplace(FaceCheckOptions{.targetFolder = temp.Path("dst"),
                                                .scope = FontScope::User,
                                                .replaceOther = policy == SyncPolicy::Replace,
                                                .replaceOlder = newer}));
    return run.Run(temp.Path("src"), temp.Path("dst"), {.policy = policy, .dryRun = dryRun, .update = newer})
        .value_or(RunSummary{});
  }

  const RowReport& ReportOf(const std::string& name) const { return view.ReportOf(name); }

  TempFolder temp;
  RecordingView view;
  std::optional<FaceCheckStage> faces;
  std::string listedFirst;
};

TEST_F(FontChecksTest, AFaceInstalledUnderAnotherNameIsNotCopiedAgainAndAnotherVersionConflicts) {
  WriteFile(Dst("installed.ttf"), FontBytes(u"Quorvane Same", u"Version 1.000", Revision(1, 0)));
  WriteFile(Dst("older.ttf"), FontBytes(u"Quorvane Other", u"Version 1.000", Revision(1, 0)));
  WriteFile(Src("again.ttf"), FontBytes(u"Quorvane Same", u"Version 1.000", Revision(1, 0)));
  WriteFile(Src("newer.ttf"), FontBytes(u"Quorvane Other", u"Version 2.000", Revision(2, 0)));
  WriteFile(Src("fresh.ttf"), FontBytes(u"Quorvane Fresh", u"Version 1.000", Revision(1, 0)));
  const RunSummary summary = Run(SyncPolicy::Ignore);

  const RowReport& again = ReportOf("again.ttf");
  EXPECT_EQ(again.state, RowState::InstalledAs);
  EXPECT_EQ(again.other, Dst("installed.ttf"));
  EXPECT_EQ(again.sourceVersion, "Version 1.000");
  EXPECT_EQ(again.targetVersion, "Version 1.000");
  EXPECT_FALSE(EntryExists(Dst("again.ttf")));

  const RowReport& newer = ReportOf("newer.ttf");
  EXPECT_EQ(newer.state, RowState::Conflict);
  EXPECT_EQ(newer.other, Dst("older.ttf"));
  EXPECT_EQ(newer.sourceVersion, "Version 2.000");
  EXPECT_EQ(newer.targetVersion, "Version 1.000");
  EXPECT_FALSE(EntryExists(Dst("newer.ttf"))) << "under --ignore another version is left where it is";
  EXPECT_TRUE(IsFailure(RowState::Conflict));

  EXPECT_EQ(ReportOf("fresh.ttf").state, RowState::CopySucceeded);
  EXPECT_EQ(ReportOf("fresh.ttf").other, "");
  EXPECT_EQ(summary.Count(RowState::InstalledAs), 1);
  EXPECT_EQ(summary.Count(RowState::Conflict), 1);
  EXPECT_EQ(faces->InstalledCount(), 3u) << "the two installed fonts, and the one the run copied";
}

TEST_F(FontChecksTest, TwoFilesOfOneFaceInOneRunAreCopiedOnce) {
  WriteFile(Src("one.ttf"), FontBytes(u"Quorvane Twice", u"Version 1.000", Revision(1, 0), u"QuorvaneTwice"));
  WriteFile(Src("two.ttf"), FontBytes(u"Quorvane Twice", u"Version 1.000", Revision(1, 0), u"QuorvaneTwice") + "x");
  Run(SyncPolicy::Ignore);
  const std::vector<std::string> states = view.Column(kStatusColumn);
  EXPECT_THAT(states, ::testing::UnorderedElementsAre("复制成功", "同一字体已安装"));
  EXPECT_NE(EntryExists(Dst("one.ttf")), EntryExists(Dst("two.ttf")));
}

TEST_F(FontChecksTest, AFontThatSharesOnlyOneNameWithAnInstalledOneIsAnotherFontBesideIt) {
  // An editor's default PostScript name on two unrelated fonts; a share file borrowing an installed one's.
  WriteFile(Dst("alpha.ttf"), FontBytes(u"Alpha Sans", u"Version 1.000", Revision(1, 0), u"Untitled1"));
  WriteFile(Src("beta.ttf"), FontBytes(u"Beta Serif", u"Version 2.000", Revision(2, 0), u"Untitled1"));
  WriteFile(Dst("corp.ttf"), FontBytes(u"Corp Sans", u"Version 1.000", Revision(1, 0), u"CorpSans"));
  WriteFile(Src("zz.ttf"), FontBytes(u"Totally Other", u"Version 1.001", Revision(1, 1), u"CorpSans"));
  // The same full name under another PostScript name is not the installed face either.
  WriteFile(Src("corp-x.ttf"), FontBytes(u"Corp Sans", u"Version 1.002", Revision(1, 2), u"CorpSansX"));
  for (const SyncPolicy policy : {SyncPolicy::Ignore, SyncPolicy::Replace}) {
    view = RecordingView();
    Run(policy, /*newer=*/true);
    for (const char* name : {"beta.ttf", "zz.ttf", "corp-x.ttf"}) {
      const RowReport& report = ReportOf(name);
      EXPECT_EQ(report.state, policy == SyncPolicy::Ignore ? RowState::CopySucceeded : RowState::UpToDate) << name;
      EXPECT_EQ(report.other, "") << name;
      EXPECT_TRUE(EntryExists(Dst(name))) << name;
    }
    EXPECT_EQ(ReadFile(Dst("alpha.ttf")), FontBytes(u"Alpha Sans", u"Version 1.000", Revision(1, 0), u"Untitled1"));
    EXPECT_EQ(ReadFile(Dst("corp.ttf")), FontBytes(u"Corp Sans", u"Version 1.000", Revision(1, 0), u"CorpSans"));
  }
}

std::string CollectionBytes(const std::vector<std::u16string>& fullNames, std::uint16_t major) {
  std::vector<Face> faces;
  const std::u16string version = major == 1 ? u"Version 1.000" : u"Version 2.000";
  for (const std::u16string& name : fullNames) faces.push_back(FaceVersioned(name, version, Revision(major, 0)));
  const Bytes bytes = Collection(faces);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

TEST_F(FontChecksTest, ATakeOverTakesOnlyFilesItHoldsWholeAndAllOfThemOrNone) {
  // One face of a collection is newer: the collection's other faces would go with it.
  WriteFile(Dst("qvfamily.ttc"), CollectionBytes({u"Qv Alpha", u"Qv Beta", u"Qv Gamma"}, 1));
  WriteFile(Src("qvalpha2.ttf"), FontBytes(u"Qv Alpha", u"Version 2.000", Revision(2, 0)));
  // A newer collection over two single files: it takes both places.
  WriteFile(Dst("qwone.ttf"), FontBytes(u"Qw One", u"Version 1.000", Revision(1, 0)));
  WriteFile(Dst("qwtwo.ttf"), FontBytes(u"Qw Two", u"Version 1.000", Revision(1, 0)));
  WriteFile(Src("qwboth.ttc"), CollectionBytes({u"Qw One", u"Qw Two"}, 2));
  // One that covers one file whole but not the other takes neither place.
  WriteFile(Dst("qxone.ttf"), FontBytes(u"Qx One", u"Version 1.000", Revision(1, 0)));
  WriteFile(Dst("qxtwo.ttc"), CollectionBytes({u"Qx Two", u"Qx Three"}, 1));
  WriteFile(Src("qxboth.ttc"), CollectionBytes({u"Qx One", u"Qx Two"}, 2));

  Run(SyncPolicy::Ignore, /*newer=*/true, /*dryRun=*/true);
  EXPECT_EQ(ReportOf("qwboth.ttc").state, RowState::WouldReplace);
  EXPECT_EQ(ReportOf("qwboth.ttc").other, Dst("qwone.ttf"));
  EXPECT_THAT(ReportOf("qwboth.ttc").alsoReplaced, ElementsAre(Dst("qwtwo.ttf")));

  for (const SyncPolicy policy : {SyncPolicy::Ignore, SyncPolicy::Replace}) {
    view = RecordingView();
    Run(policy, /*newer=*/policy == SyncPolicy::Ignore);
    if (policy == SyncPolicy::Ignore) {
      const RowReport& both = ReportOf("qwboth.ttc");
      EXPECT_EQ(both.state, RowState::ReplaceSucceeded);
      EXPECT_EQ(both.other, Dst("qwone.ttf"));
      EXPECT_THAT(both.alsoReplaced, ElementsAre(Dst("qwtwo.ttf")));
    }
    const RowReport& alpha = ReportOf("qvalpha2.ttf");
    EXPECT_EQ(alpha.state, RowState::Conflict);
    EXPECT_EQ(alpha.other, Dst("qvfamily.ttc"));
    const RowReport& x = ReportOf("qxboth.ttc");
    EXPECT_EQ(x.state, RowState::Conflict);
    EXPECT_EQ(x.other, Dst("qxtwo.ttc")) << "the file it cannot take whole is the one named";
    EXPECT_THAT(x.alsoReplaced, IsEmpty());
    EXPECT_FALSE(EntryExists(Dst("qvalpha2.ttf")));
    EXPECT_FALSE(EntryExists(Dst("qxboth.ttc")));
    for (const char* name : {"qvfamily.ttc", "qxone.ttf", "qxtwo.ttc"}) {
      EXPECT_TRUE(EntryExists(Dst(name))) << name << " stays as it was";
    }
  }
  EXPECT_FALSE(EntryExists(Dst("qwone.ttf")));
  EXPECT_FALSE(EntryExists(Dst("qwtwo.ttf")));
  EXPECT_EQ(ReadFile(Dst("qwboth.ttc")), ReadFile(Src("qwboth.ttc")));
}

TEST_F(FontChecksTest, ACollectionIsInstalledOnlyAsAFileOfAllItsFacesAndTakesNoListedFilesPlace) {
  // One face of the collection is installed alone, in the same version: its other face is not.
  WriteFile(Dst("qzone.ttf"), FontBytes(u"Qz One", u"Version 1.000", Revision(1, 0)));
  WriteFile(Src("qzboth.ttc"), CollectionBytes({u"Qz One", u"Qz Two"}, 1));
  // The share lists a face alone and, newer, in a collection: the listed file stays.
  WriteFile(Src("qyone.ttf"), FontBytes(u"Qy One", u"Version 1.000", Revision(1, 0)));
  WriteFile(Dst("qyone.ttf"), ReadFile(Src("qyone.ttf")));
  WriteFile(Src("qyboth.ttc"), CollectionBytes({u"Qy One", u"Qy Two"}, 2));
  // A row installed as a file, listed before a newer collection: that file stays too.
  WriteFile(Dst("qu.ttc"), CollectionBytes({u"Qu One", u"Qu Two"}, 1));
  WriteFile(Src("quone.ttf"), FontBytes(u"Qu One", u"Version 1.000", Revision(1, 0)));
  WriteFile(Src("qunew.ttc"), CollectionBytes({u"Qu One", u"Qu Two"}, 2));
  listedFirst = "quone.ttf";

  Run(SyncPolicy::Ignore);
  EXPECT_EQ(ReportOf("qzboth.ttc").state, RowState::Conflict) << "not installed as a file that lacks Qz Two";
  EXPECT_EQ(ReportOf("qzboth.ttc").other, Dst("qzone.ttf"));

  view = RecordingView();
  Run(SyncPolicy::Ignore, /*newer=*/true);
  EXPECT_EQ(ReportOf("qzboth.ttc").state, RowState::ReplaceSucceeded);
  EXPECT_FALSE(EntryExists(Dst("qzone.ttf")));
  EXPECT_EQ(ReportOf("qyboth.ttc").state, RowState::Conflict);
  EXPECT_EQ(ReportOf("qyboth.ttc").other, Dst("qyone.ttf"));
  EXPECT_TRUE(EntryExists(Dst("qyone.ttf")));
  EXPECT_FALSE(EntryExists(Dst("qyboth.ttc")));
  EXPECT_EQ(ReportOf("quone.ttf").state, RowState::InstalledAs);
  EXPECT_EQ(ReportOf("qunew.ttc").state, RowState::Conflict);
  EXPECT_TRUE(EntryExists(Dst("qu.ttc")));
}

TEST_F(FontChecksTest, ACollectionThatTakesTheFirstPlaceButNotTheSecondKeepsTheFacesItTook) {
  WriteFile(Dst("qwone.ttf"), FontBytes(u"Qw One", u"Version 1.000", Revision(1, 0)));
  WriteFile(Dst("qwtwo.ttf"), FontBytes(u"Qw Two", u"Version 1.000", Revision(1, 0)));
  WriteFile(Src("qwboth.ttc"), CollectionBytes({u"Qw One", u"Qw Two"}, 2));
  SetReadOnly(Dst("qwtwo.ttf"), true);
  Run(SyncPolicy::Replace);
  SetReadOnly(Dst("qwtwo.ttf"), false);
  const RowReport& report = ReportOf("qwboth.ttc");
  EXPECT_EQ(report.state, RowState::ReplaceFailed);
  ASSERT_TRUE(report.reason);
  EXPECT_EQ(report.reason->step, FileStep::Delete);
  EXPECT_EQ(report.other, Dst("qwtwo.ttf")) << "the one kept";
  EXPECT_THAT(report.alsoReplaced, ElementsAre(Dst("qwone.ttf"))) << "the one that went";
  EXPECT_TRUE(EntryExists(Dst("qwtwo.ttf")));
  EXPECT_FALSE(EntryExists(Dst("qwone.ttf")));
  EXPECT_TRUE(EntryExists(Dst("qwboth.ttc"))) << "Qw One has no other file now";
}

TEST_F(FontChecksTest, AnOldFileThatCannotGoUndoesTheCopyAndSaysWhy) {
  const std::string old = FontBytes(u"Quorvane Face", u"Version 1.000", Revision(1, 0));
  WriteFile(Dst("Face-1.0.ttf"), old);
  // Where fonts are installed by Fonts values, the old file's value moves to the copy and back.
  const auto valueOfTheFace = [] {
    for (const FontsEntry& entry : ReadFontsValues(FontScope::User)) {
      if (entry.name == "Quorvane Face (TrueType)") return entry.file;
    }
    return std::string("none");
  };
  if (HasFontsValues()) {
    RestoreFontsValues(FontScope::User, {{"Quorvane Face (TrueType)", Dst("Face-1.0.ttf")}});
    ASSERT_EQ(valueOfTheFace(), Dst("Face-1.0.ttf"));
  }
  SetReadOnly(Dst("Face-1.0.ttf"), true);
  WriteFile(Src("Face-2.0.ttf"), FontBytes(u"Quorvane Face", u"Version 2.000", Revision(2, 0)));
  Run(SyncPolicy::Replace);
  SetReadOnly(Dst("Face-1.0.ttf"), false);
  if (HasFontsValues()) {
    EXPECT_EQ(valueOfTheFace(), Dst("Face-1.0.ttf")) << "the value moved back";
    std::vector<FontsEntry> deleted;
    (void)DeleteFontsValues(FontScope::User, Dst("Face-1.0.ttf"), deleted);
  }
  const RowReport& report = ReportOf("Face-2.0.ttf");
  EXPECT_EQ(report.state, RowState::ReplaceFailed);
  ASSERT_TRUE(report.reason);
  EXPECT_EQ(report.reason->step, FileStep::Delete);
  EXPECT_EQ(report.other, Dst("Face-1.0.ttf"));
  EXPECT_EQ(ReadFile(Dst("Face-1.0.ttf")), old) << "the face keeps its file";
  EXPECT_FALSE(EntryExists(Dst("Face-2.0.ttf"))) << "and has no second one";
}

TEST_F(FontChecksTest, ADryRunSaysWhatItWouldReplaceAndWritesNothing) {
  WriteFile(Dst("Face-1.0.ttf"), FontBytes(u"Quorvane Face", u"Version 1.000", Revision(1, 0)));
  WriteFile(Src("Face-2.0.ttf"), FontBytes(u"Quorvane Face", u"Version 2.000", Revision(2, 0)));
  Run(SyncPolicy::Replace, false, /*dryRun=*/true);
  EXPECT_EQ(ReportOf("Face-2.0.ttf").state, RowState::WouldReplace);
  EXPECT_EQ(ReportOf("Face-2.0.ttf").other, Dst("Face-1.0.ttf"));
  EXPECT_TRUE(EntryExists(Dst("Face-1.0.ttf")));
  EXPECT_FALSE(EntryExists(Dst("Face-2.0.ttf")));
}

TEST_F(FontChecksTest, UnderNewerTheVersionsDecideASameNameFont) {
  const auto write = [&](const std::string& name, const std::u16string& full, const std::u16string& sourceVersion,
                         std::uint32_t sourceRevision, const std::u16string& targetVersion,
                         std::uint32_t targetRevision) {
    WriteFile(Dst(name), FontBytes(full, targetVersion, targetRevision) + "target");
    WriteFile(Src(name), FontBytes(full, sourceVersion, sourceRevision));
  };
  write("older.ttf", u"Q Older", u"Version 1.000", Revision(1, 0), u"Version 1.100", Revision(1, 100));
  write("same.ttf", u"Q Same", u"Version 1.000", Revision(1, 0), u"Version 1.000", Revision(1, 0));
  write("newer.ttf", u"Q Newer", u"Version 2.000", Revision(2, 0), u"Version 1.000", Revision(1, 0));
  WriteFile(Src("notes.ttf"), "no font");
  WriteFile(Dst("notes.ttf"), "no font either");
  // A file of another face is no version of the source, however its numbers stand.
  WriteFile(Dst("renamed.ttf"), FontBytes(u"Q Gamma", u"Version 3.000", Revision(3, 0)));
  WriteFile(Src("renamed.ttf"), FontBytes(u"Q Beta", u"Version 2.000", Revision(2, 0)));
  const RunSummary summary = Run(SyncPolicy::Ignore, /*newer=*/true);

  EXPECT_EQ(ReportOf("older.ttf").state, RowState::TargetNewer);
  EXPECT_EQ(ReportOf("older.ttf").targetVersion, "Version 1.100");
  EXPECT_EQ(ReportOf("same.ttf").state, RowState::SameVersion);
  EXPECT_EQ(ReportOf("newer.ttf").state, RowState::ReplaceSucceeded);
  EXPECT_EQ(ReportOf("newer.ttf").sourceVersion, "Version 2.000");
  EXPECT_EQ(ReadFile(Dst("newer.ttf")), ReadFile(Src("newer.ttf")));
  EXPECT_NE(ReadFile(Dst("older.ttf")), ReadFile(Src("older.ttf")));
  // No versions to read: the stamps' rule, which replaces, and no versions shown.
  EXPECT_EQ(ReportOf("notes.ttf").state, RowState::ReplaceSucceeded);
  EXPECT_FALSE(ReportOf("notes.ttf").sourceVersion);
  EXPECT_EQ(ReportOf("renamed.ttf").state, RowState::ReplaceSucceeded);
  EXPECT_EQ(ReadFile(Dst("renamed.ttf")), ReadFile(Src("renamed.ttf")));
  EXPECT_FALSE(summary.tally.AnyFailed());
  EXPECT_EQ(summary.Count(RowState::Conflict), 0);
}

TEST_F(FontChecksTest, ANewNameIsJudgedAgainstTheFilesAsTheSameNameRowsLeaveThem) {
  // The share gives the installed kept.ttf's name to another font, and its face, older, a new name.
  WriteFile(Dst("kept.ttf"), FontBytes(u"Quorvane Kept", u"Version 3.000", Revision(3, 0)));
  WriteFile(Src("kept.ttf"), FontBytes(u"Quorvane Other", u"Version 1.000", Revision(1, 0)));
  WriteFile(Src("renamed.ttf"), FontBytes(u"Quorvane Kept", u"Version 2.000", Revision(2, 0)));
  listedFirst = "renamed.ttf";
  const RunSummary summary = Run(SyncPolicy::Ignore, /*newer=*/true);
  EXPECT_EQ(ReportOf("kept.ttf").state, RowState::ReplaceSucceeded);
  EXPECT_EQ(ReportOf("renamed.ttf").state, RowState::CopySucceeded) << "no conflict with a file that went";
  EXPECT_EQ(ReadFile(Dst("renamed.ttf")), ReadFile(Src("renamed.ttf")));
  EXPECT_EQ(summary.Count(RowState::Conflict), 0);
}

TEST_F(FontChecksTest, AnUnchangedCollectionOpensNoFontFileAndReadsNoIndex) {
  WriteFile(Src("a.ttf"), FontBytes(u"Q A", u"Version 1.000", Revision(1, 0)));
  WriteFile(Src("b.ttf"), FontBytes(u"Q B", u"Version 1.000", Revision(1, 0)));
  Run(SyncPolicy::Ignore, /*newer=*/true);
  ASSERT_THAT(view.Column(kStatusColumn), ElementsAre("复制成功", "复制成功"));

  view = RecordingView();
  OpenCounter counter;
  const RunSummary again = Run(SyncPolicy::Ignore, /*newer=*/true);
  EXPECT_EQ(again.Count(RowState::UpToDate), 2);
  EXPECT_EQ(counter.opens, 0) << "names and times only";
  EXPECT_EQ(faces->InstalledCount(), 0u) << "no name was new to the target";
}

}  // namespace
}  // namespace quorvane
