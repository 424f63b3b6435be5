// The Quorvane skin format, version 1.
//
// A skin is plain ASCII text, so the readable source in skin/skins/ is carried
// as it is and no conversion step is needed while cross-compiling. One statement
// a line; a line ends in LF or CR LF and holds at most 200 bytes before its end.
//
//   QVSKIN <version> <entries>   the first line: signature, format version (1)
//                                and the number of colour and metric lines
//                                (at most 256) that follow
//   # any text                   a comment; blank lines are ignored as well
//   colour <name> #RRGGBB        a named colour, six hex digits
//   metric <name> <number>       a named size in pixels at 96 DPI, 0 to 10000
//   end                          the last line, followed by its line break;
//                                nothing may come after it
//
// Words are separated by single or repeated spaces or tabs. Names are 1 to 48
// bytes of a-z, 0-9, '.' and '-', start with a letter, and appear once. Any
// byte outside printable ASCII (and tab) rejects the skin. The declared entry
// count and the closing "end" line together make every truncated skin fail.
// Which names a skin must hold is decided by skin_theme.cpp, not here.
#include "skin/format/skin_format.h"

#include <algorithm>
#include <charconv>

namespace quorvane::skin {
namespace {

constexpr std::string_view kSignature = "QVSKIN";

bool IsNameByte(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-'; }

bool IsValidName(std::string_view name) {
  if (name.empty() || name.size() > kMaxSkinNameLength) return false;
  if (name.front() < 'a' || name.front() > 'z') return false;
  return std::all_of(name.begin(), name.end(), IsNameByte);
}

// Splits a line into at most `max` words; false when it holds more.
bool SplitWords(std::string_view line, std::vector<std::string_view>& words, std::size_t max) {
  words.clear();
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (at == line.size()) break;
    std::size_t end = at;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    if (words.size() == max) return false;
    words.push_back(line.substr(at, end - at));
    at = end;
  }
  return true;
}

// A decimal number without sign or leading zeros, at most `max`.
bool ParseDecimal(std::string_view text, std::uint32_t max, std::uint32_t& value) {
  if (text.empty() || text.size() > 9) return false;
  if (text.size() > 1 && text.front() == '0') return false;
  const char* end = text.data() + text.size();
  auto [stop, fault] = std::from_chars(text.data(), end, value);
  return fault == std::errc() && stop == end && value <= max;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseColour(std::string_view text, Rgb& colour) {
  if (text.size() != 7 || text.front() != '#') return false;
  std::uint8_t parts[3];
  for (int i = 0; i < 3; ++i) {
    const int high = HexDigit(text[1 + 2 * i]);
    const int low = HexDigit(text[2 + 2 * i]);
    if (high < 0 || low < 0) return false;
    parts[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  colour = {parts[0], parts[1], parts[2]};
  return true;
}

// Walks the bytes line by line; every line handed out ended in a line break.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  bool AtEnd() const { return at_ == text_.size(); }
  std::size_t number() const { return number_; }

  // The next complete line without its break, or an error for a line that is
  // too long, holds a bad byte or is cut off before its break.
  SkinError Next(std::string_view& line) {
    ++number_;
    const std::size_t limit = std::min(text_.size(), at_ + kMaxSkinLineLength + 2);
    std::size_t end = at_;
    while (end < limit && text_[end] != '\n') ++end;
    if (end == limit) return end - at_ > kMaxSkinLineLength ? SkinError::kLineTooLong : SkinError::kMissingEnd;
    std::size_t stop = end;
    if (stop > at_ && text_[stop - 1] == '\r') --stop;
    line = text_.substr(at_, stop - at_);
    if (line.size() > kMaxSkinLineLength) return SkinError::kLineTooLong;
    for (char c : line) {
      const auto byte = static_cast<unsigned char>(c);
      if ((byte < 0x20 && c != '\t') || byte > 0x7e) return SkinError::kBadCharacter;
    }
    at_ = end + 1;
    return SkinError::kNone;
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
  std::size_t number_ = 0;
};

SkinParseResult Fail(SkinError error, std::size_t line) {
  SkinParseResult result;
  result.error = error;
  result.line = line;
  return result;
}

}  // namespace

SkinParseResult ParseSkin(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return Fail(SkinError::kEmpty, 0);
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  // Judge the signature before line lengths, so foreign data reads as foreign.
  const std::size_t signatureBytes = std::min(text.size(), kSignature.size());
  if (text.substr(0, signatureBytes) != kSignature.substr(0, signatureBytes)) return Fail(SkinError::kBadSignature, 1);
  if (signatureBytes < kSignature.size()) return Fail(SkinError::kMissingEnd, 1);

  LineReader reader(text);
  std::string_view line;
  std::vector<std::string_view> words;

  if (SkinError error = reader.Next(line); error != SkinError::kNone) return Fail(error, reader.number());
  if (!SplitWords(line, words, 3) || words.size() != 3 || words[0] != kSignature)
    return Fail(SkinError::kBadSignature, 1);
  std::uint32_t version = 0;
  if (!ParseDecimal(words[1], 1000000, version) || version != kSkinFormatVersion)
    return Fail(SkinError::kUnsupportedVersion, 1);
  std::uint32_t declared = 0;
  if (!ParseDecimal(words[2], kMaxSkinEntries, declared)) return Fail(SkinError::kBadEntryCount, 1);

  SkinParseResult result;
  result.document.colours.reserve(declared);
  result.document.metrics.reserve(declared);
  std::vector<std::string_view> seen;
  seen.reserve(declared);

  for (;;) {
    if (reader.AtEnd()) return Fail(SkinError::kMissingEnd, reader.number() + 1);
    if (SkinError error = reader.Next(line); error != SkinError::kNone) return Fail(error, reader.number());
    const std::size_t number = reader.number();
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') continue;
    if (!SplitWords(line, words, 3)) return Fail(SkinError::kUnknownStatement, number);

    if (words[0] == "end") {
      if (words.size() != 1) return Fail(SkinError::kUnknownStatement, number);
      if (seen.size() != declared) return Fail(SkinError::kEntryCountMismatch, number);
      if (!reader.AtEnd()) return Fail(SkinError::kDataAfterEnd, number + 1);
      return result;
    }

    const bool isColour = words[0] == "colour";
    if (!isColour && words[0] != "metric") return Fail(SkinError::kUnknownStatement, number);
    if (words.size() != 3) return Fail(isColour ? SkinError::kBadColour : SkinError::kBadMetric, number);
    if (!IsValidName(words[1])) return Fail(SkinError::kBadName, number);
    if (std::find(seen.begin(), seen.end(), words[1]) != seen.end())
      return Fail(SkinError::kDuplicateName, number);
    if (seen.size() == declared) return Fail(SkinError::kEntryCountMismatch, number);
    seen.push_back(words[1]);

    if (isColour) {
      Rgb colour;
      if (!ParseColour(words[2], colour)) return Fail(SkinError::kBadColour, number);
      result.document.colours.push_back({std::string(words[1]), colour});
    } else {
      std::uint32_t value = 0;
      if (!ParseDecimal(words[2], kMaxSkinMetric, value)) return Fail(SkinError::kBadMetric, number);
      result.document.metrics.push_back({std::string(words[1]), value});
    }
  }
}

std::string_view DescribeSkinError(SkinError error) {
  switch (error) {
    case SkinError::kNone: return "no error";
    case SkinError::kEmpty: return "the skin is empty";
    case SkinError::kBadSignature: return "the skin does not start with QVSKIN";
    case SkinError::kUnsupportedVersion: return "unsupported skin format version";
    case SkinError::kBadEntryCount: return "bad or absurd entry count";
    case SkinError::kLineTooLong: return "line too long";
    case SkinError::kBadCharacter: return "byte outside printable ASCII";
    case SkinError::kUnknownStatement: return "unknown statement";
    case SkinError::kBadName: return "malformed name";
    case SkinError::kDuplicateName: return "name given twice";
    case SkinError::kBadColour: return "malformed colour";
    case SkinError::kBadMetric: return "malformed metric";
    case SkinError::kEntryCountMismatch: return "entry count differs from the header";
    case SkinError::kMissingEnd: return "the skin is cut off before its end line";
    case SkinError::kDataAfterEnd: return "data after the end line";
    case SkinError::kUnknownName: return "name the engine does not know";
    case SkinError::kMissingName: return "a required name is missing";
    case SkinError::kMetricOutOfRange: return "metric outside its range";
  }
  return "unknown error";
}

}  // namespace quorvane::skin
