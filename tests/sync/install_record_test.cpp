// The record of what the tool installed, and the prune that trusts it: what
// may go, what never does, and a record that cannot be trusted.
#include "sync/install/install_record.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "sync/files/fault_injection.h"
#include "sync/files/file_ops.h"
#include "sync/files/name_fold.h"
#include "sync/run/font_listing.h"
#include "sync/run/font_sync_run.h"
#include "sync/run/record_stage.h"
#include "test_support.h"

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <initializer_list>
#include <memory>

#include "base/text.h"
#include "sync/files/write_access.h"
#endif

namespace quorvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using namespace quorvane::testing;

std::vector<RecordEntry> EntriesOf(const std::variant<std::vector<RecordEntry>, RecordDamage>& parsed) {
  if (const auto* damage = std::get_if<RecordDamage>(&parsed)) ADD_FAILURE() << "damaged: " << damage->why;
  const auto* entries = std::get_if<std::vector<RecordEntry>>(&parsed);
  return entries ? *entries : std::vector<RecordEntry>{};
}

bool Damaged(const std::variant<std::vector<RecordEntry>, RecordDamage>& parsed) {
  return std::holds_alternative<RecordDamage>(parsed);
}

TEST(InstallRecordTest, EveryFieldComesBackWhateverItHolds) {
  const std::vector<RecordEntry> entries = {
      {"宋体 常规.ttf", "/srv/fonts/宋体\t常规.ttf", 123456, 1'700'000'000'123'456'789, "Version 1.002", "", false,
       "/srv/fonts", std::string(64, 'e')},
      {"semi;colon #1.ttf", "D:\\fonts\\b.ttf", 1, -5, "", "DejaVu Sans (TrueType)", true, "D:\\fonts\t"},
      {"emoji 😀.otf", "tab\there", 0, 0, "v\r2\\n", "", false, ""},
  };
  const std::string text = FormatRecord("/home/u/.local/share/fonts", entries);
  const std::vector<RecordEntry> back = EntriesOf(ParseRecord(text, "/home/u/.local/share/fonts"));
  ASSERT_EQ(back.size(), entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(back[i].name, entries[i].name);
    EXPECT_EQ(back[i].source, entries[i].source);
    EXPECT_EQ(back[i].size, entries[i].size);
    EXPECT_EQ(back[i].modified, entries[i].modified);
    EXPECT_EQ(back[i].version, entries[i].version);
    EXPECT_EQ(back[i].value, entries[i].value);
    EXPECT_EQ(back[i].preexisting, entries[i].preexisting);
    EXPECT_EQ(back[i].sourceFolder, entries[i].sourceFolder);
    EXPECT_EQ(back[i].sha256, entries[i].sha256);
  }
  EXPECT_THAT(EntriesOf(ParseRecord(FormatRecord("/f", {}), "/f")), IsEmpty()) << "an empty record is a record";

  // A record of the first form, without source folders: read, each entry any source's.
  std::string old = "quorvane-install-record 1\nfolder\t/f\na.ttf\t0\t1\t2\t\t\t/s/a.ttf\n";
  old += "end\t1\t" + Hex(RecordChecksum(old)) + "\n";
  const std::vector<RecordEntry> read = EntriesOf(ParseRecord(old, "/f"));
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].source, "/s/a.ttf");
  EXPECT_EQ(read[0].sourceFolder, "");

  // The second form, without hashes: read, each entry's hash unknown.
  std::string second = "quorvane-install-record 2\nfolder\t/f\na.ttf\t0\t1\t2\t\t\t/s/a.ttf\t/s\n";
  second += "end\t1\t" + Hex(RecordChecksum(second)) + "\n";
  const std::vector<RecordEntry> unhashed = EntriesOf(ParseRecord(second, "/f"));
  ASSERT_EQ(unhashed.size(), 1u);
  EXPECT_EQ(unhashed[0].sourceFolder, "/s");
  EXPECT_EQ(unhashed[0].sha256, "");
  // A hash field that is no lowercase digest makes the record damaged, checksum and all.
  for (const std::string& hash : {std::string(63, 'a'), std::string(64, 'A'), std::string(64, 'g')}) {
    EXPECT_TRUE(Damaged(ParseRecord(FormatRecord("/f", {{"a.ttf", "", 1, 1, "", "", false, "", hash}}), "/f"))) << hash;
  }
}

TEST(InstallRecordTest, ACutOffAlteredOrForeignRecordIsDamaged) {
  const std::string text = FormatRecord("/fonts", {{"a.ttf", "/s/a.ttf", 10, 20, "1.0", "", false},
                                                   {"b.ttf", "/s/b.ttf", 30, 40, "", "", false}});
  // A crash while it was written, at any byte: never taken for a shorter record.
  for (size_t length = 0; length < text.size(); ++length) {
    EXPECT_TRUE(Damaged(ParseRecord(text.substr(0, length), "/fonts"))) << length;
  }
  for (size_t at = 0; at < text.size(); ++at) {
    std::string flipped = text;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x04);
    EXPECT_TRUE(Damaged(ParseRecord(flipped, "/fonts"))) << "a changed byte at " << at;
  }
  EXPECT_TRUE(Damaged(ParseRecord(text, "/other"))) << "another folder's record";
  EXPECT_TRUE(Damaged(ParseRecord("", "/fonts")));
}

TEST(InstallRecordTest, NoEntryReachesOutsideTheFolderWhateverItsText) {
  std::vector<std::string> outside = {"../victim.ttf", "sub/a.ttf", "..", ".", "", std::string("nul\0.ttf", 7)};
#ifdef _WIN32
  for (const char* name : {"C:evil.ttf", "a\\..\\..\\b.ttf", "bell\a.ttf", "font.ttf:stream"}) outside.push_back(name);
#endif
  for (const std::string& name : outside) {
    EXPECT_FALSE(IsPlainFileName(name)) << name;
    // Well formed, checksum and all: still refused whole.
    const std::string text = FormatRecord("/fonts", {{name, "", 1, 1, "", "", false}});
    EXPECT_TRUE(Damaged(ParseRecord(text, "/fonts"))) << name;
  }
  EXPECT_TRUE(IsPlainFileName("宋体 常规.ttf"));
  EXPECT_TRUE(Damaged(ParseRecord(FormatRecord("/fonts", {{"a.ttf", "", 1, 1, "", "", false},
                                                           {"a.ttf", "", 1, 1, "", "", false}}),
                                  "/fonts")))
      << "one file named twice";
}

// Two names are one file exactly when the target's file system says so: every
// letter folded on Windows, none on POSIX.
TEST(InstallRecordTest, NamesCompareAsTheFileSystemComparesThem) {
  const bool windows = kPathSeparator == '\\';
  for (const auto& [a, b] : std::vector<std::pair<std::string, std::string>>{
           {"Foo.ttf", "foo.ttf"}, {"Übung.ttf", "übung.ttf"}, {"ΣΊΓΜΑ.ttf", "σίγμα.ttf"}, {"ДОМ.otf", "дом.otf"}}) {
    EXPECT_EQ(NameKey(a) == NameKey(b), windows) << a << " " << b;
    EXPECT_EQ(Damaged(ParseRecord(FormatRecord("/fonts", {{a, "", 1, 1, "", "", false}, {b, "", 1, 1, "", "", false}}),
                                  "/fonts")),
              windows)
        << "one file named twice: " << a;
  }
  EXPECT_NE(NameKey("straße.ttf"), NameKey("STRASSE.ttf")) << "no letter becomes two";
  EXPECT_NE(NameKey("a.ttf"), NameKey("b.ttf"));
}

#ifdef _WIN32
// Who may own and write the records' folder, and a SYSTEM run's log's, read
// from the owner and access list themselves: Wine keeps no list on a file but
// the one its mode gives.
TEST(InstallRecordTest, OnlyTheTrustedSetMayOwnOrWrite) {
  const auto sidOf = [](const wchar_t* text) {
    PSID sid = nullptr;
    EXPECT_TRUE(ConvertStringSidToSidW(text, &sid)) << Narrow(text);
    return std::unique_ptr<void, decltype(&LocalFree)>(sid, LocalFree);
  };
  const auto administrators = sidOf(L"BA"), system = sidOf(L"SY"), everyone = sidOf(L"WD"),
             ownerRights = sidOf(L"OW"), account = sidOf(L"S-1-5-21-1-2-3-1001"),
             installer = sidOf(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464");
  struct Entry {
    void* sid;
    ACCESS_MASK mask;
    BYTE flags = 0;
    bool deny = false;
  };
  const auto aclOf = [](std::initializer_list<Entry> entries) {
    auto acl = std::make_unique<std::byte[]>(1024);
    auto* list = reinterpret_cast<ACL*>(acl.get());
    EXPECT_TRUE(InitializeAcl(list, 1024, ACL_REVISION_DS));
    for (const Entry& entry : entries) {
      EXPECT_TRUE(entry.deny ? AddAccessDeniedAceEx(list, ACL_REVISION_DS, entry.flags, entry.mask, entry.sid)
                             : AddAccessAllowedAceEx(list, ACL_REVISION_DS, entry.flags, entry.mask, entry.sid));
    }
    return acl;
  };
  constexpr ACCESS_MASK kAll = FILE_ALL_ACCESS, kRead = FILE_GENERIC_READ;
  const auto admitted = [&](void* owner, const std::unique_ptr<std::byte[]>& acl, TrustedSet set) {
    return OnlyTrustedMayWrite(owner, acl.get(), account.get(), set);
  };
  const auto ours = aclOf({{administrators.get(), kAll}, {system.get(), kAll}, {account.get(), kAll},
                           {everyone.get(), kRead}});
  for (const TrustedSet set : {TrustedSet::Administration, TrustedSet::AdministrationAndSystem}) {
    EXPECT_TRUE(admitted(administrators.get(), ours, set));
    EXPECT_TRUE(admitted(account.get(), ours, set));
    EXPECT_FALSE(OnlyTrustedMayWrite(administrators.get(), ours.get(), nullptr, set)) << "no account of its own";
    EXPECT_FALSE(admitted(everyone.get(), ours, set)) << "owned by anyone";
    EXPECT_FALSE(OnlyTrustedMayWrite(administrators.get(), nullptr, account.get(), set)) << "a null DACL";
    EXPECT_FALSE(admitted(administrators.get(), aclOf({{system.get(), kAll}, {everyone.get(), FILE_APPEND_DATA}}),
                          set));
    EXPECT_TRUE(admitted(administrators.get(), aclOf({{everyone.get(), kAll, INHERIT_ONLY_ACE | OBJECT_INHERIT_ACE}}),
                         set))
        << "an entry only for what is made inside";
    EXPECT_TRUE(admitted(administrators.get(), aclOf({{everyone.get(), kAll, 0, true}, {system.get(), kAll}}), set))
        << "a deny entry only takes away";
  }
  // OWNER RIGHTS and TrustedInstaller hold a system folder a log may be in; the
  // records' own folder admits neither.
  for (void* sid : {ownerRights.get(), installer.get()}) {
    const auto theirs = aclOf({{sid, kAll}, {system.get(), kAll}});
    EXPECT_TRUE(admitted(system.get(), theirs, TrustedSet::AdministrationAndSystem));
    EXPECT_FALSE(admitted(system.get(), theirs, TrustedSet::Administration));
  }
  EXPECT_TRUE(admitted(installer.get(), ours, TrustedSet::AdministrationAndSystem));
  EXPECT_FALSE(admitted(installer.get(), ours, TrustedSet::Administration));
  // An allowed entry of another form (object, callback) is not read further:
  // one that writes is refused even for an administrator. A callback entry is
  // laid out as the plain one, with its condition after the SID.
  const auto withCallback = aclOf({{system.get(), kAll}, {administrators.get(), kAll}});
  void* callback = nullptr;
  ASSERT_TRUE(GetAce(reinterpret_cast<ACL*>(withCallback.get()), 1, &callback));
  static_cast<ACE_HEADER*>(callback)->AceType = ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
  EXPECT_FALSE(admitted(system.get(), withCallback, TrustedSet::Administration));
}
#endif

// ---- the record kept by runs, and the prune ---------------------------------

class RecordStageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeFolder(temp.Path("src"));
    MakeFolder(temp.Path("dst"));
#ifndef _WIN32
    ::setenv("XDG_STATE_HOME", temp.Path("state").c_str(), 1);
    SetSystemRecordsFolder(temp.Path("system/quorvane/records"));
#else
    SetSystemRecordsFolder(temp.Path("locks"));
#endif
    folder = CanonicalFolder(temp.Path("dst"));
  }
  void TearDown() override {
#ifdef _WIN32
    std::wstring name = Widen(folder);
    CharLowerBuffW(name.data(), static_cast<DWORD>(name.size()));
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Quorvane\\Records", name.c_str());
    SetSystemRecordsFolder("");
#else
    ::unsetenv("XDG_STATE_HOME");
    SetSystemRecordsFolder("/var/lib/quorvane/records");
#endif
  }
  std::string Src(const std::string& name) const { return temp.Path(source + "/" + name); }
  std::string Dst(const std::string& name) const { return temp.Path("dst/" + name); }

  RunSummary Run(RecordOptions options, bool dryRun = false, SyncPolicy policy = SyncPolicy::Ignore) {
    view = RecordingView();
    FontListing(temp.Path(source), view);
    std::vector<std::string> listed;
    for (const auto& row : view.rows) listed.push_back(row[kNameColumn]);
    options.targetFolder = temp.Path("dst");
    options.scope = FontScope::User;
    options.write = !dryRun;
    options.sources = {temp.Path(source)};
    RecordStage stage(options, listed);
    FontSyncRun run(view);
    run.AddStage(stage);
    return run.Run(temp.Path(source), temp.Path("dst"), {.policy = policy, .dryRun = dryRun, .update = true})
        .value_or(RunSummary{});
  }

  std::vector<RecordEntry> Recorded() {
    auto loaded = LoadRecord(folder, FontScope::User);
    if (!std::holds_alternative<RecordText>(loaded) || !std::get<RecordText>(loaded).found) return {};
    return EntriesOf(ParseRecord(std::get<RecordText>(loaded).text, folder));
  }

  std::vector<std::string> RowsIn(RowState state) const {
    std::vector<std::string> names;
    for (size_t row = 0; row < view.rows.size(); ++row) {
      if (view.reports[row].state == state) names.push_back(view.rows[row][kNameColumn]);
    }
    return names;
  }

  TempFolder temp;
  RecordingView view;
  std::string folder;
  std::string source = "src";  // the folder the next run copies from
};

TEST_F(RecordStageTest, TheRecordSaysWhatTheToolPutThereAndWhatWasThereBefore) {
  WriteFile(Src("new.ttf"), "new");
  WriteFile(Src("theirs.ttf"), "replacement");
  WriteFile(Dst("theirs.ttf"), "someone else's, first");
  const RunSummary first = Run({});
  ASSERT_TRUE(first.record);
  EXPECT_TRUE(first.record->written);
  std::vector<RecordEntry> entries = Recorded();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "new.ttf");
  EXPECT_FALSE(entries[0].preexisting);
  EXPECT_EQ(entries[0].source, Src("new.ttf"));
  EXPECT_EQ(entries[0].size, 3u);
  EXPECT_EQ(entries[1].name, "theirs.ttf");
  EXPECT_TRUE(entries[1].preexisting) << "replaced, it stays someone else's name";

  WriteFile(Src("theirs.ttf"), "a newer replacement");
  Run({});
  entries = Recorded();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[1].preexisting) << "however often the tool replaces it";
  EXPECT_EQ(entries[1].size, 19u);

  const RunSummary unchanged = Run({});
  EXPECT_FALSE(unchanged.record && unchanged.record->written) << "nothing changed, nothing written";
}

TEST_F(RecordStageTest, APruneRemovesOnlyWhatTheToolInstalledAndNoSourceLists) {
  WriteFile(Src("kept.ttf"), "kept");
  WriteFile(Src("dropped.ttf"), "dropped");
  WriteFile(Src("changed.ttf"), "changed");
  WriteFile(Src("theirs.ttf"), "ours over theirs");
  WriteFile(Dst("theirs.ttf"), "theirs");
  WriteFile(Dst("stranger.ttf"), "never the tool's");
  Run({});
  for (const char* gone : {"dropped.ttf", "changed.ttf", "theirs.ttf"}) std::filesystem::remove(PathOf(Src(gone)));
  WriteFile(Dst("changed.ttf"), "changed by someone since");

  // A dry run says what would go and removes nothing.
  const RunSummary dry = Run({.prune = true}, /*dryRun=*/true);
  EXPECT_THAT(RowsIn(RowState::WouldRemove), ElementsAre("dropped.ttf"));
  EXPECT_TRUE(EntryExists(Dst("dropped.ttf")));

  const RunSummary pruned = Run({.prune = true});
  EXPECT_THAT(RowsIn(RowState::Removed), ElementsAre("dropped.ttf"));
  EXPECT_EQ(pruned.Count(RowState::Removed), 1);
  EXPECT_FALSE(EntryExists(Dst("dropped.ttf")));
  EXPECT_TRUE(EntryExists(Dst("theirs.ttf"))) << "there before the tool first wrote it";
  EXPECT_TRUE(EntryExists(Dst("changed.ttf"))) << "changed since: no longer the tool's";
  EXPECT_TRUE(EntryExists(Dst("stranger.ttf")));
  EXPECT_EQ(pruned.record->changedSince, 1);
  std::vector<std::string> names;
  for (const RecordEntry& entry : Recorded()) names.push_back(entry.name);
  EXPECT_THAT(names, UnorderedElementsAre("kept.ttf", "theirs.ttf"));
}

TEST_F(RecordStageTest, APruneRemovesNothingWhenItCannotBeSure) {
  WriteFile(Src("a.ttf"), "a");
  WriteFile(Src("b.ttf"), "b");
  WriteFile(Src("c.ttf"), "c");
  Run({});
  std::filesystem::remove(PathOf(Src("a.ttf")));
  std::filesystem::remove(PathOf(Src("b.ttf")));

  RunSummary refused = Run({.prune = true, .sourcesComplete = false});
  EXPECT_EQ(refused.record->refusal, PruneRefusal::SourcesIncomplete);
  refused = Run({.prune = true, .maxDelete = 1});
  EXPECT_EQ(refused.record->refusal, PruneRefusal::TooMany);
  EXPECT_EQ(refused.record->toRemove, 2);
  EXPECT_TRUE(EntryExists(Dst("a.ttf")) && EntryExists(Dst("b.ttf")));

  // A damaged record: nothing removed, and it is not written over.
  const std::string damaged = "quorvane-install-record 2\nfolder\t" + folder + "\na.ttf\t0\t1\t1\t\t\t\t\n";
  ASSERT_TRUE(SaveRecord(folder, FontScope::User, damaged));
  refused = Run({.prune = true});
  EXPECT_EQ(refused.record->refusal, PruneRefusal::RecordDamaged);
  EXPECT_FALSE(refused.record->damage.empty());
  EXPECT_TRUE(EntryExists(Dst("a.ttf")) && EntryExists(Dst("b.ttf")));
  const auto kept = LoadRecord(folder, FontScope::User);
  ASSERT_TRUE(std::holds_alternative<RecordText>(kept));
  EXPECT_EQ(std::get<RecordText>(kept).text, damaged);
  EXPECT_THAT(RowsIn(RowState::Removed), IsEmpty());
}

#ifndef _WIN32
// Root keeps its records in the system's folder whatever its environment says;
// a records folder another account could write in is neither read nor written;
// no file in it is opened through a link.
TEST_F(RecordStageTest, OnlyAPrivateRecordsFolderIsUsedAndNoFileThroughALink) {
  const bool root = ::geteuid() == 0;
  const std::string records = temp.Path(root ? "system/quorvane/records" : "state/quorvane/records");
  if (root) {
    // What another account plants where root's environment points: a record, checksum and all, claiming the admin's font.
    WriteFile(Dst("admins.ttf"), "the administrator's own");
    const auto admins = StampOf(Dst("admins.ttf"));
    ASSERT_TRUE(admins);
    WriteFile(temp.Path("elsewhere/quorvane/records/" + Hex(RecordChecksum(folder)) + ".record"),
              FormatRecord(folder, {{"admins.ttf", "", admins->size, admins->modified, "", "", false}}));
    ::setenv("XDG_STATE_HOME", temp.Path("elsewhere").c_str(), 1);
    EXPECT_EQ(Run({.prune = true}).record->refusal, PruneRefusal::None);
    EXPECT_TRUE(EntryExists(Dst("admins.ttf"))) << "a record from root's environment is never root's";
  }
  EXPECT_EQ(RecordLocation(folder, FontScope::User).rfind(records + "/", 0), 0u) << RecordLocation(folder, FontScope::User);

  WriteFile(Src("a.ttf"), "a");
  ASSERT_TRUE(Run({}).record->written);
  std::filesystem::remove(PathOf(Src("a.ttf")));
  WriteFile(Src("b.ttf"), "b");
  const auto untrustedBy = [&](const std::string& level) {
    const RunSummary refused = Run({.prune = true});
    EXPECT_EQ(refused.record->refusal, PruneRefusal::RecordUntrusted);
    EXPECT_EQ(refused.record->untrusted, level);
    EXPECT_FALSE(refused.record->written);
    EXPECT_TRUE(EntryExists(Dst("a.ttf"))) << "nothing pruned";
    EXPECT_TRUE(EntryExists(Dst("b.ttf"))) << "the copy goes on";
    std::filesystem::remove(PathOf(Dst("b.ttf")));
  };
  ASSERT_EQ(::chmod(records.c_str(), 0770), 0);
  untrustedBy(records);
  ASSERT_EQ(::chmod(records.c_str(), 0700), 0);
  const std::string tool(FolderPart(records));
  if (root) {
    ASSERT_EQ(::chown(tool.c_str(), 65534, 65534), 0);
    untrustedBy(tool);
    ASSERT_EQ(::chown(tool.c_str(), 0, 0), 0);
  }

  // A lock, record or temporary that is a link: refused, its target neither written nor chmod'ed.
  WriteFile(temp.Path("victim"), "someone's file");
  ASSERT_EQ(::chmod(temp.Path("victim").c_str(), 0644), 0);
  const std::string record = RecordLocation(folder, FontScope::User);
  const std::string base = record.substr(0, record.size() - std::string_view(".record").size());
  for (const char* suffix : {".lock", ".record.new", ".record"}) {
    std::filesystem::remove(PathOf(base + suffix));
    std::filesystem::create_symlink(PathOf(temp.Path("victim")), PathOf(base + suffix));
    WriteFile(Src(std::string("c") + suffix + ".ttf"), "c");
    const RunSummary linked = Run({});
    EXPECT_TRUE(linked.record->error) << suffix;
    EXPECT_FALSE(linked.record->written) << suffix;
    EXPECT_EQ(ReadFile(temp.Path("victim")), "someone's file") << suffix;
    struct stat victim;
    ASSERT_EQ(::stat(temp.Path("victim").c_str(), &victim), 0);
    EXPECT_EQ(victim.st_mode & 07777, 0644u) << suffix;
    std::filesystem::remove(PathOf(base + suffix));
  }
}
#endif

// A lock held elsewhere (a run that hangs) makes a run fail after a bounded
// wait, pruning nothing; on Windows, a locks folder someone else may write in
// gives no lock at all, so no one can make a lock first and hold it.
TEST_F(RecordStageTest, ALockThatCannotBeHadPrunesNothingAndSaysWhy) {
  WriteFile(Src("a.ttf"), "a");
  ASSERT_TRUE(Run({}).record->written);
  std::filesystem::remove(PathOf(Src("a.ttf")));
  SetRecordLockWait(std::chrono::milliseconds(100));
  {
    RecordLock held;
    ASSERT_TRUE(held.Take(folder, FontScope::User));
    const RunSummary waited = Run({.prune = true});
    ASSERT_TRUE(waited.record->error);
#ifdef _WIN32
    EXPECT_EQ(waited.record->error->code, ERROR_TIMEOUT);
#else
    EXPECT_EQ(waited.record->error->code, ETIMEDOUT);
#endif
    EXPECT_EQ(waited.record->refusal, PruneRefusal::RecordUnreadable);
    EXPECT_TRUE(EntryExists(Dst("a.ttf")));
  }
  SetRecordLockWait(std::chrono::minutes(2));
#ifdef _WIN32
  SetSystemRecordsFolder(temp.Path("squatted"));
  PSECURITY_DESCRIPTOR everyone = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1, &everyone,
                                                                   nullptr));
  SECURITY_ATTRIBUTES attributes{sizeof attributes, everyone, FALSE};
  ASSERT_TRUE(CreateDirectoryW(Widen(temp.Path("squatted")).c_str(), &attributes));
  LocalFree(everyone);
  // Wine keeps no ACL but the one a file's Unix mode gives: there the squatter's folder cannot be made.
  PACL kept = nullptr;
  PSECURITY_DESCRIPTOR read = nullptr;
  std::wstring squattedPath = Widen(temp.Path("squatted"));
  ASSERT_EQ(GetNamedSecurityInfoW(squattedPath.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  &kept, nullptr, &read),
            static_cast<DWORD>(ERROR_SUCCESS));
  bool everyoneWrites = false;
  for (DWORD i = 0; kept != nullptr && i < kept->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (GetAce(kept, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
        IsWellKnownSid(&ace->SidStart, WinWorldSid) && (ace->Mask & FILE_ADD_FILE) != 0) {
      everyoneWrites = true;
    }
  }
  LocalFree(read);
  if (everyoneWrites) {
    const RunSummary squatted = Run({.prune = true});
    ASSERT_TRUE(squatted.record->error);
    EXPECT_EQ(squatted.record->error->code, ERROR_ACCESS_DENIED);
    EXPECT_EQ(squatted.record->refusal, PruneRefusal::RecordUnreadable);
    EXPECT_TRUE(EntryExists(Dst("a.ttf")));
  } else {
    std::printf("note: this system keeps no folder ACL as given; the squatted locks folder is not tried\n");
  }
  SetSystemRecordsFolder(temp.Path("locks"));
#endif
  EXPECT_THAT(RowsIn(RowState::Removed), IsEmpty());
  Run({.prune = true});
  EXPECT_THAT(RowsIn(RowState::Removed), ElementsAre("a.ttf")) << "and once the lock is free, the prune goes ahead";
}

// What is already gone is forgotten, said once, and never counted against the
// limit; and a font another job's source put in the same target is that job's.
TEST_F(RecordStageTest, OnlyWhatWouldReallyGoCountsAndOnlyWhatThisRunsSourcesPutThere) {
  for (const char* name : {"a.ttf", "b.ttf", "c.ttf"}) WriteFile(Src(name), name);
  Run({});
  for (const char* name : {"a.ttf", "b.ttf"}) {
    std::filesystem::remove(PathOf(Src(name)));
    std::filesystem::remove(PathOf(Dst(name)));
  }
  for (const bool dryRun : {true, false}) {
    const RunSummary summary = Run({.prune = true, .maxDelete = 1}, dryRun);
    EXPECT_EQ(summary.record->refusal, PruneRefusal::None) << dryRun;
    EXPECT_EQ(summary.record->goneSince, 2) << dryRun;
    EXPECT_THAT(RowsIn(RowState::WouldRemove), IsEmpty());
    EXPECT_THAT(RowsIn(RowState::Removed), IsEmpty());
  }
  EXPECT_THAT(Recorded(), ::testing::SizeIs(1));
  EXPECT_EQ(Run({.prune = true}).record->goneSince, 0) << "said once";

  source = "other";
  WriteFile(Src("d.ttf"), "d");
  Run({.prune = true});
  EXPECT_TRUE(EntryExists(Dst("c.ttf"))) << "the first source's, which the other never listed";
  source = "src";
  Run({.prune = true});
  EXPECT_TRUE(EntryExists(Dst("d.ttf"))) << "the other source's";
  std::filesystem::remove(PathOf(Src("c.ttf")));
  Run({.prune = true});
  EXPECT_THAT(RowsIn(RowState::Removed), ElementsAre("c.ttf"));
  EXPECT_TRUE(EntryExists(Dst("d.ttf")));
}

// Foo.ttf and foo.ttf: two files on POSIX, one on Windows. The record keeps
// them apart, or together, as the target's file system does.
TEST_F(RecordStageTest, ANameDifferingOnlyInCaseIsAnotherFileOnlyWhereTheSystemSaysSo) {
#ifdef _WIN32
  WriteFile(Src("Übung.ttf"), "u");
  Run({});
  // Through another name: a rename that changes only case may change nothing.
  std::filesystem::rename(PathOf(Src("Übung.ttf")), PathOf(Src("renamed")));
  std::filesystem::rename(PathOf(Src("renamed")), PathOf(Src("übung.ttf")));
  Run({.prune = true});
  ASSERT_FALSE(view.rows.empty());
  EXPECT_EQ(view.rows[0][kNameColumn], "übung.ttf") << "the share lists the new spelling";
  EXPECT_THAT(RowsIn(RowState::Removed), IsEmpty()) << "the share still lists that file";
  EXPECT_TRUE(EntryExists(Dst("Übung.ttf")));
#else
  WriteFile(Src("foo.ttf"), "the tool's");
  Run({});
  WriteFile(Dst("Foo.ttf"), "the user's own");
  std::filesystem::remove(PathOf(Src("foo.ttf")));
  WriteFile(Src("Foo.ttf"), "the share's");
  Run({.prune = true});
  EXPECT_THAT(RowsIn(RowState::Removed), ElementsAre("foo.ttf"));
  std::filesystem::remove(PathOf(Src("Foo.ttf")));
  Run({.prune = true});
  EXPECT_THAT(RowsIn(RowState::Removed), IsEmpty());
  EXPECT_TRUE(EntryExists(Dst("Foo.ttf"))) << "there before the tool first wrote that name";
#endif
}

TEST_F(RecordStageTest, ARecordThatNamesAFileOutsideTheFolderRemovesNothing) {
  WriteFile(temp.Path("victim.ttf"), "outside the target");
  WriteFile(Dst("inside.ttf"), "inside");
  const std::string text = FormatRecord(folder, {{"../victim.ttf", "", 18, 0, "", "", false},
                                                 {"inside.ttf", "", 6, 0, "", "", false}});
  ASSERT_TRUE(SaveRecord(folder, FontScope::User, text));
  const RunSummary refused = Run({.prune = true});
  EXPECT_EQ(refused.record->refusal, PruneRefusal::RecordDamaged);
  EXPECT_TRUE(EntryExists(temp.Path("victim.ttf")));
  EXPECT_TRUE(EntryExists(Dst("inside.ttf")));
}

// Earlier versions copied a read-only bit from the share (on Windows): on a
// recorded font unchanged since its copy it can only be that one, and it is
// cleared to replace the font, which the row says. POSIX copies never took it.
TEST_F(RecordStageTest, OnlyAReadOnlyBitAnEarlierCopyTookIsClearedForTheReplace) {
  WriteFile(Src("ours.ttf"), "version 1");
  WriteFile(Src("edited.ttf"), "version 1");
  Run({});
  WriteFile(Dst("edited.ttf"), "someone's own edit");
  for (const char* name : {"ours.ttf", "edited.ttf"}) {
    SetReadOnly(Dst(name), true);
    WriteFile(Src(name), "version 2, longer");
  }
  Run({});
  SetReadOnly(Dst("ours.ttf"), false);
  SetReadOnly(Dst("edited.ttf"), false);
  using Bit = RowReport::InheritedReadOnly;
#ifdef _WIN32
  EXPECT_EQ(view.ReportOf("ours.ttf").state, RowState::ReplaceSucceeded);
  EXPECT_EQ(view.ReportOf("ours.ttf").readOnly, Bit::Cleared);
  EXPECT_EQ(ReadFile(Dst("ours.ttf")), "version 2, longer");
#else
  EXPECT_EQ(view.ReportOf("ours.ttf").state, RowState::ReplaceFailed);
  EXPECT_EQ(view.ReportOf("ours.ttf").readOnly, Bit::None);
#endif
  EXPECT_EQ(view.ReportOf("edited.ttf").state, RowState::ReplaceFailed) << "not as the tool left it";
  EXPECT_EQ(view.ReportOf("edited.ttf").readOnly, Bit::None);
  EXPECT_EQ(ReadFile(Dst("edited.ttf")), "someone's own edit");
}

TEST_F(RecordStageTest, AFontThatCannotGoIsARemoveFailedAndStaysRecorded) {
  WriteFile(Src("a.ttf"), "a");
  Run({});
  std::filesystem::remove(PathOf(Src("a.ttf")));
  SetReadOnly(Dst("a.ttf"), true);
  const RunSummary summary = Run({.prune = true});
  SetReadOnly(Dst("a.ttf"), false);
  EXPECT_THAT(RowsIn(RowState::RemoveFailed), ElementsAre("a.ttf"));
  ASSERT_EQ(view.reports.size(), 1u);
  ASSERT_TRUE(view.reports[0].reason);
  EXPECT_EQ(view.reports[0].reason->step, FileStep::Delete);
  EXPECT_TRUE(IsFailure(RowState::RemoveFailed));
  EXPECT_TRUE(EntryExists(Dst("a.ttf")));
  EXPECT_THAT(Recorded(), ::testing::SizeIs(1)) << "still the tool's, to remove when it can";
  EXPECT_EQ(summary.Count(RowState::RemoveFailed), 1);
}

// Two runs into one target at once: each applies its changes to the record as
// the other left it, so neither's fonts are lost from it. The first run to
// reach its write waits there until the other run has either read the record
// (no lock: the lost update happens every time) or is held back by the lock.
TEST_F(RecordStageTest, TwoRunsAtOnceBothLandInTheRecord) {
  class Overlap : public FaultInjector {
   public:
    int FailWith(FileStep step) override {
      if (step != FileStep::Record) return 0;
      std::unique_lock lock(mutex_);
      if (first_ == std::thread::id{}) {
        first_ = std::this_thread::get_id();
        // Only against a hang: the other run is at its lock or its write long before.
        if (!changed_.wait_for(lock, std::chrono::minutes(2), [&] { return otherAsked_; })) return EIO;
      } else if (first_ != std::this_thread::get_id() && !otherAsked_) {
        otherAsked_ = true;
        changed_.notify_all();
      }
      return 0;
    }

   private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread::id first_;
    bool otherAsked_ = false;
  } overlap;
  constexpr int kFonts = 40;
  for (const char* source : {"src-a", "src-b"}) {
    for (int i = 0; i < kFonts; ++i) WriteFile(temp.Path(std::string(source) + "/" + source + std::to_string(i) + ".ttf"), "x");
  }
  const auto runFrom = [&](const std::string& source) {
    RecordingView own;
    FontListing(temp.Path(source), own);
    std::vector<std::string> listed;
    for (const auto& row : own.rows) listed.push_back(row[kNameColumn]);
    RecordStage stage({.targetFolder = temp.Path("dst"), .scope = FontScope::User}, listed);
    FontSyncRun run(own);
    run.AddStage(stage);
    (void)run.Run(temp.Path(source), temp.Path("dst"), {});
  };
  SetFaultInjector(&overlap);
  std::thread first(runFrom, "src-a"), second(runFrom, "src-b");
  first.join();
  second.join();
  SetFaultInjector(nullptr);
  EXPECT_THAT(Recorded(), ::testing::SizeIs(2 * kFonts));
}

TEST_F(RecordStageTest, ATargetWithoutARecordHasNothingToPrune) {
  WriteFile(Dst("old.ttf"), "there before");
  const RunSummary summary = Run({.prune = true});
  ASSERT_TRUE(summary.record);
  EXPECT_EQ(summary.record->refusal, PruneRefusal::None);
  EXPECT_FALSE(summary.record->error);
  EXPECT_TRUE(EntryExists(Dst("old.ttf")));
}

// The old record stays whole until the new one is: a write that fails before
// the rename (on Windows, before the one call that sets the value), and on
// POSIX a process ended in the middle of the write and between it and the rename.
TEST_F(RecordStageTest, AWriteCutShortLeavesTheOldRecordWhole) {
  WriteFile(Src("a.ttf"), "a");
  Run({});
  const auto current = [&] {
    const auto loaded = LoadRecord(folder, FontScope::User);
    return std::holds_alternative<RecordText>(loaded) ? std::get<RecordText>(loaded).text : "unreadable";
  };
  const std::string old = current();
  ASSERT_THAT(EntriesOf(ParseRecord(old, folder)), ::testing::SizeIs(1));
  // The new record while it is written (POSIX): its size, or -1 before it exists.
  const std::string staged = RecordLocation(folder, FontScope::User) + ".new";
  const auto stagedSize = [&]() -> long long {
    std::error_code error;
    const auto size = std::filesystem::file_size(PathOf(staged), error);
    return error ? -1 : static_cast<long long>(size);
  };
  class FailOnceWritten : public FaultInjector {
   public:
    explicit FailOnceWritten(std::function<long long()> size) : size_(std::move(size)) {}
    int FailWith(FileStep step) override {
      if (step != FileStep::Record || (kPathSeparator == '/' && size_() <= 0)) return 0;
      ++failed;
      return EIO;
    }
    int failed = 0;

   private:
    std::function<long long()> size_;
  } failing(stagedSize);
  WriteFile(Src("b.ttf"), "b");
  SetFaultInjector(&failing);
  const RunSummary cut = Run({});
  SetFaultInjector(nullptr);
  EXPECT_EQ(failing.failed, 1);
  ASSERT_TRUE(cut.record && cut.record->error);
  EXPECT_EQ(cut.record->error->step, FileStep::Record);
  EXPECT_FALSE(cut.record->written);
  EXPECT_EQ(current(), old) << "byte for byte";
  EXPECT_EQ(stagedSize(), -1) << "nothing half-written left behind";

#ifndef _WIN32
  // More than one step of the write: a few thousand fonts.
  std::vector<RecordEntry> many;
  for (int i = 0; i < 3000; ++i) {
    const std::string name = "font " + std::to_string(i) + ".ttf";
    many.push_back({name, "/srv/share/fonts/a folder some levels deep/" + name, 1, 1, "1.0", "", false, "/srv/share"});
  }
  const std::string next = FormatRecord(folder, many);
  for (const bool whole : {false, true}) {
    constexpr int kEnded = 42;
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      class EndTheProcess : public FaultInjector {
       public:
        EndTheProcess(std::function<long long()> size, long long at, bool whole) : size_(std::move(size)), all_(at), whole_(whole) {}
        int FailWith(FileStep step) override {
          const long long size = size_();
          if (step == FileStep::Record && (whole_ ? size == all_ : size > 0 && size < all_)) ::_exit(kEnded);
          return 0;
        }

       private:
        std::function<long long()> size_;
        long long all_;
        bool whole_;
      } end(stagedSize, static_cast<long long>(next.size()), whole);
      SetFaultInjector(&end);
      (void)SaveRecord(folder, FontScope::User, next);
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kEnded) << "the write never reached that point: " << status;
    const long long left = stagedSize();
    if (whole) EXPECT_EQ(left, static_cast<long long>(next.size()));
    else EXPECT_TRUE(left > 0 && left < static_cast<long long>(next.size())) << left;
    EXPECT_EQ(current(), old) << (whole ? "ended before the rename" : "ended in the middle of the write");
  }
#endif
  WriteFile(Src("c.ttf"), "c");
  EXPECT_TRUE(Run({}).record->written) << "and the next write goes through";
  std::vector<std::string> names;
  for (const RecordEntry& entry : Recorded()) names.push_back(entry.name);
  EXPECT_THAT(names, ::testing::IsSupersetOf({"a.ttf", "c.ttf"}));
  EXPECT_EQ(stagedSize(), -1);
}

}  // namespace
}  // namespace quorvane
