#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "sync/install/font_folder.h"
#include "sync/install/font_registration.h"

extern char** environ;

namespace quorvane {

FontRegistrar::FontRegistrar(std::string targetFolder, FontScope scope)
    : targetFolder_(std::move(targetFolder)), scope_(scope) {}

// fontconfig finds a font in a folder it scans once its cache knows of it; the
// file itself only has to be a font.
RegistrationOutcome FontRegistrar::Register(std::string_view, const FontReadResult& read) {
  if (auto refused = RefusalOf(read)) return std::move(*refused);
  registered_ = true;
  return RegistrationOutcome::Success(RegistryValueName(std::get<FontFileInfo>(read)));
}

// Nothing is replaced at a restart here; the names are still checked.
RegistrationOutcome FontRegistrar::RegisterAtRestart(std::string_view, const FontReadResult& read) {
  if (auto refused = RefusalOf(read)) return std::move(*refused);
  return RegistrationOutcome::Success(RegistryValueName(std::get<FontFileInfo>(read)));
}

RegistrationFinish FontRegistrar::Finish() {
  if (!registered_) return {};
  return NotifyFontChange(targetFolder_);
}

namespace {

// Root may run with another account's environment (su without "-", sudo -E):
// its cache tool then comes from the system's own folders and starts with
// nothing of that environment, so no inherited PATH, FONTCONFIG_FILE,
// FONTCONFIG_PATH or FC_DEBUG tells it where to look, what to read or where to
// write. What it starts finds programs in the system's folders too.
constexpr const char* kTrustedPath = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

std::string TrustedTool(const char* name) {
  for (const char* folder : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"}) {
    std::string path = std::string(folder) + name;
    if (::access(path.c_str(), X_OK) == 0) return path;
  }
  return {};
}

std::vector<char*> TrustedEnvironment() { return {const_cast<char*>(kTrustedPath), nullptr}; }

}  // namespace

RegistrationFinish NotifyFontChange(std::string_view targetFolder) {
  const bool root = ::geteuid() == 0;
  std::string tool = root ? TrustedTool("fc-cache") : std::string("fc-cache");
  if (tool.empty()) return {.error = FileError{FileStep::Notify, ENOENT}};
  std::string folder(targetFolder);
  char* arguments[] = {tool.data(), folder.data(), nullptr};
  pid_t child = 0;
  std::vector<char*> trusted;
  if (root) trusted = TrustedEnvironment();
  const int spawned = root ? ::posix_spawn(&child, tool.c_str(), nullptr, nullptr, arguments, trusted.data())
                           : ::posix_spawnp(&child, tool.c_str(), nullptr, nullptr, arguments, environ);
  if (spawned != 0) return {.error = FileError{FileStep::Notify, spawned}};
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // The shell's code for "no such program", from a spawn that execs late.
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return {.error = FileError{FileStep::Notify, ENOENT}};
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return {.error = FileError{FileStep::Notify, exitStatus, FileErrorKind::ExitStatus}};
  }
  return {.notified = true, .error = std::nullopt};
}

std::string UserFontFolder() { return SystemFontFolder(); }

bool HasFontsValues() { return false; }

std::vector<FontsEntry> ReadFontsValues(FontScope) { return {}; }

FileResult DeleteFontsValues(FontScope, std::string_view, std::vector<FontsEntry>&) { return {}; }

void RestoreFontsValues(FontScope, const std::vector<FontsEntry>&) {}

bool UnloadFont(std::string_view) { return false; }

void ReloadFont(std::string_view) {}

FileResult MoveFontsValues(std::string_view, FontScope, std::string_view, std::string_view, std::vector<std::string>&) {
  return {};
}

}  // namespace quorvane
