// Path joining and name matching, shared by both file-operation backends.
#include <string>

#include "sync/files/ascii.h"
#include "sync/files/file_ops.h"

namespace quorvane {

namespace {

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

}  // namespace

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  path.append(folder);
  if (!folder.empty() && !IsSeparator(folder.back())) path.push_back(kPathSeparator);
  path.append(name);
  return path;
}

std::string_view FolderPart(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1])) return path.substr(0, i == 1 ? 1 : i - 1);
  }
  return {};
}

std::string_view NamePart(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1])) return path.substr(i);
  }
  return path;
}

bool SameStamp(const std::optional<FileStamp>& source, const std::optional<FileStamp>& target) {
  if (!source || !target || source->size != target->size) return false;
  if (source->modified == target->modified) return true;
  constexpr std::int64_t kSecond = 1'000'000'000;
  const bool coarse = source->modified % kSecond == 0 || target->modified % kSecond == 0;
  const std::int64_t apart = source->modified > target->modified ? source->modified - target->modified
                                                                   : target->modified - source->modified;
  return coarse && apart <= 2 * kSecond;
}

bool Unchanged(std::string_view source, std::string_view target, bool byContent) {
  return byContent ? SameContent(source, target).value_or(false) : SameStamp(StampOf(source), StampOf(target));
}

bool IsTemporaryName(std::string_view name) {
  constexpr std::string_view kPrefix = ".quorvane-", kSuffix = ".tmp";
  constexpr size_t kDigits = 16;
  if (name.size() != kPrefix.size() + kDigits + kSuffix.size() || !name.starts_with(kPrefix) ||
      !name.ends_with(kSuffix)) {
    return false;
  }
  for (const char c : name.substr(kPrefix.size(), kDigits)) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

namespace {

// Iterative matcher with single-star backtracking: never recursive, so hostile
// patterns cannot exhaust the stack.
bool MatchesWildcards(std::string_view name, std::string_view pattern) {
  size_t n = 0, p = 0;
  size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || FoldAscii(pattern[p]) == FoldAscii(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

// As on Windows, a trailing ".*" also matches a name without any dot, so "*.*"
// means every entry.
bool MatchesPattern(std::string_view name, std::string_view pattern) {
  if (MatchesWildcards(name, pattern)) return true;
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" && name.find('.') == std::string_view::npos) {
    return MatchesWildcards(name, pattern.substr(0, pattern.size() - 2));
  }
  return false;
}

}  // namespace quorvane
