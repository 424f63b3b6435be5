#include "sync/install/install_record.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <unordered_set>

#include "sync/files/file_ops.h"
#include "sync/files/name_fold.h"

namespace quorvane {
namespace {

constexpr std::string_view kHeader = "quorvane-install-record 3";
// The earlier forms, without each entry's hash (2) and source folder (1): still read.
constexpr std::string_view kHeaderWithoutHashes = "quorvane-install-record 2";
constexpr std::string_view kHeaderWithoutFolders = "quorvane-install-record 1";

bool IsHexDigest(std::string_view text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

}  // namespace

// FNV-1a: enough to tell a damaged record from a whole one, which is all it is for.
std::uint64_t RecordChecksum(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3;
  }
  return hash;
}

namespace {

std::uint64_t Checksum(std::string_view text) { return RecordChecksum(text); }

}  // namespace

std::string Hex(std::uint64_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = kDigits[value & 15];
  return text;
}

namespace {

// A field: tab, line feed, carriage return and backslash escaped, so a line is one line.
void AppendField(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
}

// Into `text`, in place: false when an escape does not read.
bool Unescape(std::string_view field, std::string& text) {
  if (field.find('\\') == std::string_view::npos) {
    text.assign(field);
    return true;
  }
  text.clear();
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      text += field[i];
      continue;
    }
    if (++i == field.size()) return false;
    switch (field[i]) {
      case 't': text += '\t'; break;
      case 'n': text += '\n'; break;
      case 'r': text += '\r'; break;
      case '\\': text += '\\'; break;
      default: return false;
    }
  }
  return true;
}

// The tab-separated fields of a line: no line of a record has more than eight.
struct Fields {
  std::array<std::string_view, 9> field;
  size_t count = 0;

  explicit Fields(std::string_view line) {
    for (size_t start = 0;;) {
      const size_t tab = line.find('\t', start);
      if (count == field.size()) {
        ++count;  // too many: the caller refuses the line
        return;
      }
      field[count++] = line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
      if (tab == std::string_view::npos) return;
      start = tab + 1;
    }
  }
  size_t size() const { return count; }
  std::string_view operator[](size_t i) const { return field[i]; }
};

template <typename Number>
std::optional<Number> NumberOf(std::string_view text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

}  // namespace

RecordLock& RecordLock::operator=(RecordLock&& other) noexcept {
  Release();
  native_ = std::exchange(other.native_, -1);
  return *this;
}

RecordLock::~RecordLock() { Release(); }

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  // On Windows a backslash separates too, a colon names a drive or a stream, and no name holds a control character.
  const bool windows = kPathSeparator == '\\';
  for (const char c : name) {
    if (c == '/' || c == '\0') return false;
    if (windows && (c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20)) return false;
  }
  return true;
}

std::string FormatRecord(std::string_view folder, const std::vector<RecordEntry>& entries) {
  std::string text(kHeader);
  text += "\nfolder\t";
  AppendField(text, folder);
  text += '\n';
  for (const RecordEntry& entry : entries) {
    AppendField(text, entry.name);
    text += entry.preexisting ? "\t1\t" : "\t0\t";
    text += std::to_string(entry.size) + '\t' + std::to_string(entry.modified) + '\t';
    AppendField(text, entry.version);
    text += '\t';
    AppendField(text, entry.value);
    text += '\t';
    AppendField(text, entry.source);
    text += '\t';
    AppendField(text, entry.sourceFolder);
    text += '\t';
    text += entry.sha256;
    text += '\n';
  }
  const std::uint64_t sum = Checksum(text);
  text += "end\t" + std::to_string(entries.size()) + '\t' + Hex(sum) + '\n';
  return text;
}

std::variant<std::vector<RecordEntry>, RecordDamage> ParseRecord(std::string_view text, std::string_view folder) {
  const size_t endLine = text.rfind("end\t");
  const std::string_view header = text.substr(0, text.find('\n'));
  const int form = header == kHeader ? 3 : header == kHeaderWithoutHashes ? 2 : header == kHeaderWithoutFolders ? 1 : 0;
  const bool withFolders = form >= 2, withHashes = form >= 3;
  if (form == 0 || endLine == std::string_view::npos || !text.ends_with('\n')) {
    return RecordDamage{"no header or no end line: cut off or not a record"};
  }
  const Fields end(text.substr(endLine, text.size() - endLine - 1));
  const std::string_view body = text.substr(0, endLine);
  if (end.size() != 3 || end[2] != Hex(Checksum(body))) return RecordDamage{"its checksum does not match"};
  const size_t fieldCount = 7 + (withFolders ? 1 : 0) + (withHashes ? 1 : 0);

  std::vector<RecordEntry> entries;
  // The end line's count, checked below; no line is shorter than eight bytes.
  entries.reserve(std::min(NumberOf<std::size_t>(end[1]).value_or(0), body.size() / 8));
  size_t at = body.find('\n') + 1;
  bool folderSeen = false;
  while (at < body.size()) {
    const size_t next = body.find('\n', at);
    const Fields fields(body.substr(at, next - at));
    at = next + 1;
    if (!folderSeen) {
      std::string named;
      if (fields.size() != 2 || fields[0] != "folder" || !Unescape(fields[1], named)) {
        return RecordDamage{"no folder line"};
      }
      if (named != folder) return RecordDamage{"it is the record of another folder: " + named};
      folderSeen = true;
      continue;
    }
    if (fields.size() != fieldCount) return RecordDamage{"a line without its fields"};
    RecordEntry& entry = entries.emplace_back();
    const auto size = NumberOf<std::uint64_t>(fields[2]);
    const auto modified = NumberOf<std::int64_t>(fields[3]);
    if (!Unescape(fields[0], entry.name) || !Unescape(fields[4], entry.version) || !Unescape(fields[5], entry.value) ||
        !Unescape(fields[6], entry.source) || (withFolders && !Unescape(fields[7], entry.sourceFolder)) || !size || !modified || (fields[1] != "0" && fields[1] != "1")) {
      return RecordDamage{"a line that does not read"};
    }
    // Whatever the text says, an entry names a file in this folder and nowhere else.
    if (!IsPlainFileName(entry.name)) return RecordDamage{"an entry that names no file of the folder: " + entry.name};
    if (withHashes) {
      if (!fields[8].empty() && !IsHexDigest(fields[8])) return RecordDamage{"a line that does not read"};
      entry.sha256 = fields[8];
    }
    entry.preexisting = fields[1] == "1";
    entry.size = *size;
    entry.modified = *modified;
  }
  if (!folderSeen) return RecordDamage{"no folder line"};
  if (NumberOf<std::size_t>(end[1]) != entries.size()) return RecordDamage{"its count does not match"};
  // Two entries for one file, as the file system names files, cannot both be right.
  std::unordered_set<std::string> names;
  names.reserve(entries.size());
  for (const RecordEntry& entry : entries) {
    if (!names.insert(NameKey(entry.name)).second) return RecordDamage{"a file named twice: " + entry.name};
  }
  return entries;
}

}  // namespace quorvane
