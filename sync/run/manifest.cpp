#include "sync/run/manifest.h"

#include <algorithm>
#include <charconv>
#include <unordered_set>

#include "base/text.h"
#include "sync/files/file_ops.h"
#include "sync/fonts/font_file.h"
#include "sync/fonts/font_identity.h"

namespace quorvane {

namespace {

constexpr std::string_view kHeader = "quorvane-manifest\t1\n";
constexpr std::string_view kMagic = "quorvane-manifest\t";
constexpr std::string_view kEnd = "end\t";
// No collection's manifest comes near this; a file that does is no manifest.
constexpr std::uint64_t kLargestManifest = 256ull << 20;
constexpr char kHexDigits[] = "0123456789abcdef";

void AppendEscaped(std::string& out, std::string_view text, bool escapeSemicolon) {
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\\') {
      out += "\\\\";
      ++i;
      continue;
    }
    const size_t length = byte < 0x80 ? 1 : Utf8SequenceAt(text, i);
    if (byte < 0x20 || byte == 0x7f || length == 0 || (escapeSemicolon && byte == ';')) {
      out += "\\x";
      out += kHexDigits[byte >> 4];
      out += kHexDigits[byte & 15];
      ++i;
      continue;
    }
    out.append(text, i, length);
    i += length;
  }
}

// A path as the manifest spells it: a refusal that names one stays one line.
std::string Escaped(std::string_view text) {
  std::string out;
  AppendEscaped(out, text, false);
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A field as it was before AppendEscaped; nothing for a bad escape or a raw control character.
std::optional<std::string> Unescaped(std::string_view field) {
  std::string text;
  text.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    const auto byte = static_cast<unsigned char>(field[i]);
    if (byte < 0x20 || byte == 0x7f) return std::nullopt;
    if (byte != '\\') {
      text += field[i];
    } else if (i + 1 < field.size() && field[i + 1] == '\\') {
      text += '\\';
      ++i;
    } else if (i + 3 < field.size() && field[i + 1] == 'x' && HexValue(field[i + 2]) >= 0 &&
               HexValue(field[i + 3]) >= 0) {
      text += static_cast<char>(HexValue(field[i + 2]) * 16 + HexValue(field[i + 3]));
      i += 3;
    } else {
      return std::nullopt;
    }
  }
  return text;
}

std::optional<Sha256::Digest> DigestOf(std::string_view hex) {
  Sha256::Digest digest{};
  if (hex.size() != digest.size() * 2) return std::nullopt;
  for (size_t i = 0; i < digest.size(); ++i) {
    const int high = HexValue(hex[2 * i]), low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    digest[i] = static_cast<std::byte>(high * 16 + low);
  }
  return digest;
}

std::optional<std::uint64_t> NumberOf(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || problem != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (size_t from = 0;;) {
    const size_t at = text.find(separator, from);
    parts.push_back(text.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
    if (at == std::string_view::npos) return parts;
    from = at + 1;
  }
}

// Relative, '/' between non-empty names, none of them "." or "..".
bool IsPlainPath(std::string_view path) {
  for (const std::string_view name : Split(path, '/')) {
    if (name.empty() || name == "." || name == "..") return false;
  }
  return true;
}

std::variant<ManifestEntry, std::string> EntryOf(std::string_view line) {
  const std::vector<std::string_view> fields = Split(line, '\t');
  if (fields.size() != 5) return "a line has " + std::to_string(fields.size()) + " fields, not 5";
  ManifestEntry entry;
  auto path = Unescaped(fields[0]);
  if (!path || !IsPlainPath(*path)) return std::string("a path is not a plain relative path");
  entry.path = std::move(*path);
  const auto size = NumberOf(fields[1]);
  const auto digest = DigestOf(fields[2]);
  auto version = Unescaped(fields[4]);
  if (!size || !digest || !version) return "the line of " + Escaped(entry.path) + " is malformed";
  entry.size = *size;
  entry.sha256 = *digest;
  entry.version = std::move(*version);
  if (!fields[3].empty()) {
    for (const std::string_view face : Split(fields[3], ';')) {
      auto name = Unescaped(face);
      if (!name) return "the faces of " + Escaped(entry.path) + " are malformed";
      entry.faces.push_back(std::move(*name));
    }
  }
  return entry;
}

}  // namespace

std::optional<std::string> FormatManifest(const std::vector<ManifestEntry>& entries) {
  std::string text(kHeader);
  for (const ManifestEntry& entry : entries) {
    AppendEscaped(text, entry.path, false);
    text += '\t';
    text += std::to_string(entry.size);
    text += '\t';
    text += HexOf(entry.sha256);
    text += '\t';
    for (size_t i = 0; i < entry.faces.size(); ++i) {
      if (i > 0) text += ';';
      AppendEscaped(text, entry.faces[i], true);
    }
    text += '\t';
    AppendEscaped(text, entry.version, false);
    text += '\n';
  }
  Sha256 hash;
  hash.Add(std::as_bytes(std::span(text)));
  const auto digest = hash.Finish();
  if (!digest) return std::nullopt;
  text += kEnd;
  text += std::to_string(entries.size());
  text += '\t';
  text += HexOf(*digest);
  text += '\n';
  return text;
}

std::variant<std::vector<ManifestEntry>, ManifestRefusal> ParseManifest(std::string_view text) {
  const auto refuse = [](std::string why) { return ManifestRefusal{std::move(why), std::nullopt}; };
  if (!text.starts_with(kMagic)) return refuse("not a quorvane-sync manifest");
  if (text.find('\r') != std::string_view::npos) {
    return refuse("it holds a carriage return: its line ends were changed");
  }
  if (!text.starts_with(kHeader)) return refuse("a manifest of another format version than 1");
  if (!text.ends_with('\n')) return refuse("cut short: its last line is not whole");
  const size_t lastStart = text.rfind('\n', text.size() - 2) + 1;
  const std::string_view body = text.substr(0, lastStart);
  const std::string_view last = text.substr(lastStart, text.size() - 1 - lastStart);
  if (!last.starts_with(kEnd)) return refuse("cut short: no end line");
  const std::vector<std::string_view> end = Split(last, '\t');
  const auto count = end.size() == 3 ? NumberOf(end[1]) : std::nullopt;
  const auto checksum = end.size() == 3 ? DigestOf(end[2]) : std::nullopt;
  if (!count || !checksum) return refuse("its end line is malformed");
  Sha256 hash;
  hash.Add(std::as_bytes(std::span(body)));
  const auto digest = hash.Finish();
  if (!digest) return refuse("its checksum could not be computed (error " + std::to_string(hash.Error()) + ")");
  if (*digest != *checksum) return refuse("its checksum does not match: it was changed or damaged");

  std::vector<ManifestEntry> entries;
  std::unordered_set<std::string_view> paths;
  for (size_t from = kHeader.size(); from < body.size();) {
    const size_t lineEnd = body.find('\n', from);
    auto entry = EntryOf(body.substr(from, lineEnd - from));
    from = lineEnd + 1;
    if (auto* why = std::get_if<std::string>(&entry)) return refuse(std::move(*why));
    entries.push_back(std::move(std::get<ManifestEntry>(entry)));
  }
  if (entries.size() != *count) {
    return refuse("its end line counts " + std::to_string(*count) + " fonts, but it names " +
                  std::to_string(entries.size()));
  }
  for (const ManifestEntry& entry : entries) {
    if (!paths.insert(entry.path).second) return refuse("it names " + Escaped(entry.path) + " twice");
  }
  return entries;
}

std::variant<std::vector<ManifestEntry>, ManifestRefusal> LoadManifest(std::string_view path) {
  ReadableFile file;
  FileResult result = file.Open(path);
  if (result && file.Kind() != EntryKind::File) return ManifestRefusal{"it is not a file", std::nullopt};
  if (result && file.Size() > kLargestManifest) {
    return ManifestRefusal{"it is too large to be a manifest", std::nullopt};
  }
  std::string text(result ? file.Size() : 0, '\0');
  if (result) result = file.ReadAt(0, std::as_writable_bytes(std::span(text)));
  if (!result) return ManifestRefusal{{}, result.error};
  return ParseManifest(text);
}

std::optional<std::string> ManifestPathOf(std::string_view sourcePath, const std::vector<std::string>& sources) {
  for (const std::string& source : sources) {
    const std::string prefix = JoinPath(source, "");
    if (!sourcePath.starts_with(prefix) || sourcePath.size() == prefix.size()) continue;
    std::string path(sourcePath.substr(prefix.size()));
    if constexpr (kPathSeparator != '/') std::ranges::replace(path, kPathSeparator, '/');
    return path;
  }
  return std::nullopt;
}

namespace {

// Collects the listing's rows, which is all publishing wants of a view.
class ListingOnly final : public SyncRunView {
 public:
  std::vector<ListedRow> rows;

  void AddRows(std::span<const ListedRow> added) override { rows.insert(rows.end(), added.begin(), added.end()); }
  std::string CellText(std::int64_t row, int column) const override {
    const ListedRow& listed = rows[static_cast<size_t>(row)];
    return column == kNameColumn ? listed.name : column == kPathColumn ? listed.path : listed.number;
  }
  std::int64_t RowCount() const override { return static_cast<std::int64_t>(rows.size()); }
  void SetStatus(std::int64_t, const RowFiles&, const RowReport&) override {}
  void SetProgress(std::int64_t, std::int64_t) override {}
  void SetCopyProgress(std::int64_t, std::uint64_t, std::uint64_t) override {}
  void ShowMessage(std::string_view, std::string_view, MessageKind) override {}
  void ShowSummary(const RunSummary&) override {}
  void ProcessPendingEvents() override {}
};

}  // namespace

Publication PublishSources(const std::vector<std::string>& sources) {
  Publication publication;
  ListingOnly view;
  for (const std::string& source : sources) {
    ListingResult listed = FontListing(source, view);
    for (auto& folder : listed.unreadable) publication.listing.unreadable.push_back(std::move(folder));
    for (auto& entry : listed.skipped) publication.listing.skipped.push_back(std::move(entry));
    publication.listing.added += listed.added;
  }
  std::unordered_set<std::string> named;
  for (const ListedRow& row : view.rows) {
    auto path = ManifestPathOf(row.path, sources);
    if (!path || !named.insert(*path).second) continue;
    ManifestEntry entry;
    entry.path = std::move(*path);
    auto hashed = HashFile(row.path);
    if (auto* error = std::get_if<FileError>(&hashed)) {
      publication.unreadable.emplace_back(row.path, *error);
      continue;
    }
    entry.sha256 = std::get<FileHash>(hashed).sha256;
    entry.size = std::get<FileHash>(hashed).size;
    const FontReadResult read = ReadFontFile(row.path);
    if (const auto* info = std::get_if<FontFileInfo>(&read)) {
      for (const FontFace& face : info->faces) entry.faces.push_back(face.fullName);
      entry.version = std::string(VersionTextOf(*info));
    } else if (const auto* notAFont = std::get_if<NotAFont>(&read)) {
      publication.notFonts.emplace_back(row.path, notAFont->why);
    } else {
      publication.unreadable.emplace_back(row.path, std::get<FileError>(read));
      continue;
    }
    publication.entries.push_back(std::move(entry));
  }
  return publication;
}

}  // namespace quorvane
