#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <utility>
#include <vector>

#include "base/posix_handles.h"
#include "sync/files/fault_injection.h"
#include "sync/files/file_ops.h"
#include "sync/install/install_record.h"

namespace quorvane {
namespace {

std::string& SystemRecordsFolder() {
  static std::string folder = "/var/lib/quorvane/records";
  return folder;
}

// One folder on the way to the records. The tool's own levels, and any it
// makes, must be this account's (or root's) and writable by no one else;
// the levels the environment names (HOME and above) are the account's own business.
struct Level {
  std::string name;
  bool own = false;
};

// Root keeps its records where system services keep their state, whatever the
// environment it was started with says (su without -, sudo -E); anyone else in
// $XDG_STATE_HOME/quorvane/records, as the XDG base directory rules have it (an
// absolute XDG_STATE_HOME, else ~/.local/state). Nothing when no folder can be named.
std::vector<Level> RecordsLevels() {
  std::string state;
  if (::geteuid() == 0) {
    state = SystemRecordsFolder();
  } else if (const char* value = std::getenv("XDG_STATE_HOME"); value != nullptr && value[0] == '/') {
    state = std::string(value) + "/quorvane/records";
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/' && home[1] != 0) {
    state = std::string(home) + "/.local/state/quorvane/records";
  } else {
    return {};
  }
  std::vector<Level> levels;
  for (size_t start = 0; start < state.size();) {
    const size_t slash = std::min(state.find('/', start), state.size());
    if (slash > start) levels.push_back({state.substr(start, slash - start)});
    start = slash + 1;
  }
  // quorvane/records
  for (size_t i = levels.size() < 2 ? 0 : levels.size() - 2; i < levels.size(); ++i) levels[i].own = true;
  return levels;
}

std::string PathOf(const std::vector<Level>& levels, size_t count) {
  std::string path;
  for (size_t i = 0; i < count; ++i) path += "/" + levels[i].name;
  return path;
}

bool Trusted(const struct stat& status) {
  return S_ISDIR(status.st_mode) && (status.st_uid == ::geteuid() || status.st_uid == 0) &&
         (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The records folder, opened level by level from the root, each level of the
// tool's own and each one made on the way checked once it is open: the files in
// it are then opened relative to what was checked, whatever is renamed meanwhile.
struct RecordsFolder {
  UniqueFd fd;
  std::string path;       // empty: no folder can be named
  std::string untrusted;  // the level that failed the check
  int error = 0;          // ENOENT alone: not there, and not made
};

RecordsFolder OpenRecordsFolder(bool create) {
  RecordsFolder records;
  const std::vector<Level> levels = RecordsLevels();
  if (levels.empty()) return records;
  records.path = PathOf(levels, levels.size());
  UniqueFd at{::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  for (size_t i = 0; at; ++i) {
    if (i == levels.size()) {
      records.fd = std::move(at);
      return records;
    }
    const Level& level = levels[i];
    // The environment's own levels may be links (a home on another disk); the tool's never.
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (level.own ? O_NOFOLLOW : 0);
    UniqueFd next{::openat(at.Get(), level.name.c_str(), flags)};
    bool made = false;
    if (!next && errno == ENOENT && create) {
      if (::mkdirat(at.Get(), level.name.c_str(), 0700) != 0 && errno != EEXIST) break;
      // A umask of the caller's (even 077 or 777) must not leave the folder shut to its owner.
      if (::fchmodat(at.Get(), level.name.c_str(), 0700, 0) != 0 && errno != ENOENT) break;
      made = true;
      next = UniqueFd{::openat(at.Get(), level.name.c_str(), flags | O_NOFOLLOW)};
    }
    if (!next) break;
    struct stat status;
    if ((level.own || made) && (::fstat(next.Get(), &status) != 0 || !Trusted(status))) {
      records.untrusted = PathOf(levels, i + 1);
      return records;
    }
    at = std::move(next);
  }
  records.error = errno != 0 ? errno : EIO;
  return records;
}

std::string RecordName(std::string_view folder, std::string_view suffix) {
  return Hex(RecordChecksum(folder)) + std::string(suffix);
}

// Why no record may be read or written there, as a system code.
int Unusable(const RecordsFolder& records) {
  if (records.path.empty()) return ENOENT;
  return records.untrusted.empty() ? records.error : EPERM;
}

// A file of the records folder, never through a link: a plain file of this
// account's that nothing else names.
UniqueFd OpenOwnFile(const RecordsFolder& records, const std::string& name, int flags) {
  UniqueFd fd{::openat(records.fd.Get(), name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0600)};
  struct stat status;
  if (!fd || ::fstat(fd.Get(), &status) != 0) return UniqueFd{};
  if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid() || status.st_nlink != 1) {
    errno = EPERM;
    return UniqueFd{};
  }
  return fd;
}

std::chrono::milliseconds& LockWait() {
  static std::chrono::milliseconds wait = std::chrono::minutes(2);
  return wait;
}

}  // namespace

void SetSystemRecordsFolder(std::string_view folder) { SystemRecordsFolder() = std::string(folder); }
void SetRecordLockWait(std::chrono::milliseconds wait) { LockWait() = wait; }

std::optional<UntrustedRecords> CheckRecordsFolder(FontScope, bool create) {
  const RecordsFolder records = OpenRecordsFolder(create);
  if (records.path.empty()) return UntrustedRecords{};
  if (!records.untrusted.empty()) return UntrustedRecords{records.untrusted};
  return std::nullopt;
}

std::string CanonicalFolder(std::string_view folder) {
  char resolved[PATH_MAX];
  if (::realpath(std::string(folder).c_str(), resolved) != nullptr) return resolved;
  return std::string(folder);
}

void RecordLock::Release() {
  if (native_ >= 0) ::close(static_cast<int>(native_));  // the lock goes with it
  native_ = -1;
}

// Only this account can make a file in its own records folder, so only its
// own runs hold the lock; still, a run that hangs holding it makes the next
// fail after as long as a run may take, rather than hang too.
FileResult RecordLock::Take(std::string_view folder, FontScope) {
  Release();
  const RecordsFolder records = OpenRecordsFolder(true);
  if (!records.fd) return Failure(FileStep::Record, Unusable(records));
  UniqueFd fd = OpenOwnFile(records, RecordName(folder, ".lock"), O_RDWR | O_CREAT);
  if (!fd || ::fchmod(fd.Get(), 0600) != 0) return Failure(FileStep::Record, errno);
  const auto deadline = std::chrono::steady_clock::now() + LockWait();
  while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return Failure(FileStep::Record, errno);
    // A run held back here is what tests of two runs at once wait to see.
    if (const int fault = InjectedFault(FileStep::Record)) return Failure(FileStep::Record, fault);
    if (std::chrono::steady_clock::now() >= deadline) return Failure(FileStep::Record, ETIMEDOUT);
    ::usleep(50 * 1000);
  }
  native_ = fd.Release();
  return {};
}

std::variant<RecordText, FileError> LoadRecord(std::string_view folder, FontScope) {
  const RecordsFolder records = OpenRecordsFolder(false);
  if (!records.fd) {
    if (!records.path.empty() && records.untrusted.empty() && records.error == ENOENT) return RecordText{};
    return FileError{FileStep::Record, Unusable(records)};
  }
  const UniqueFd fd = OpenOwnFile(records, RecordName(folder, ".record"), O_RDONLY);
  if (!fd) {
    if (errno == ENOENT) return RecordText{};
    return FileError{FileStep::Record, errno};
  }
  RecordText record{true, {}};
  // Read in place at the size the file has, in more steps only if it grows meanwhile.
  struct stat status;
  if (::fstat(fd.Get(), &status) != 0) return FileError{FileStep::Record, errno};
  record.text.resize(static_cast<size_t>(status.st_size) + 1);
  size_t have = 0;
  for (;;) {
    if (have == record.text.size()) record.text.resize(have * 2);
    const ssize_t got = ::read(fd.Get(), record.text.data() + have, record.text.size() - have);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return FileError{FileStep::Record, errno};
    if (got == 0) break;
    have += static_cast<size_t>(got);
  }
  record.text.resize(have);
  return record;
}

// The new record's data on the disk before it replaces the old one, and the
// folder after: a crash or a power cut leaves the old record or the new.
FileResult SaveRecord(std::string_view folder, FontScope, std::string_view text) {
  const RecordsFolder records = OpenRecordsFolder(true);
  if (!records.fd) return Failure(FileStep::Record, Unusable(records));
  const std::string name = RecordName(folder, ".record"), temporary = RecordName(folder, ".record.new");
  UniqueFd fd = OpenOwnFile(records, temporary, O_WRONLY | O_CREAT);
  if (!fd || ::fchmod(fd.Get(), 0600) != 0 || ::ftruncate(fd.Get(), 0) != 0) return Failure(FileStep::Record, errno);
  const auto failed = [&](int error) {
    ::unlinkat(records.fd.Get(), temporary.c_str(), 0);
    return Failure(FileStep::Record, error);
  };
  // In steps, each a point where a test can fail the write or end the process,
  // as a crash would, with part of the new record on the disk.
  constexpr size_t kStep = 64 * 1024;
  for (size_t done = 0; done < text.size();) {
    if (const int fault = InjectedFault(FileStep::Record)) return failed(fault);
    const ssize_t put = ::write(fd.Get(), text.data() + done, std::min(text.size() - done, kStep));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return failed(put < 0 ? errno : EIO);
    done += static_cast<size_t>(put);
  }
  if (const int fault = InjectedFault(FileStep::Record)) return failed(fault);
  if (::fsync(fd.Get()) != 0 || ::close(fd.Release()) != 0 ||
      ::renameat(records.fd.Get(), temporary.c_str(), records.fd.Get(), name.c_str()) != 0) {
    return failed(errno);
  }
  ::fsync(records.fd.Get());
  return {};
}

std::string RecordLocation(std::string_view folder, FontScope) {
  const std::vector<Level> levels = RecordsLevels();
  return levels.empty() ? std::string() : PathOf(levels, levels.size()) + "/" + RecordName(folder, ".record");
}

}  // namespace quorvane
