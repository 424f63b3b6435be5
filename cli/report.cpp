#include "cli/report.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "cli/texts.h"

namespace quorvane::cli {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// Bytes that go into a field as they are: printable ASCII, less the backslash
// where it escapes (TSV on POSIX) or must be escaped (JSON), less JSON's quote.
constexpr std::array<bool, 256> PlainBytes(bool backslash, bool quote) {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x7f; ++c) plain[c] = (c != '\\' || backslash) && (c != '"' || quote);
  return plain;
}
constexpr auto kPlainPosixTsv = PlainBytes(false, true);
constexpr auto kPlainWindowsTsv = PlainBytes(true, true);
constexpr auto kPlainJson = PlainBytes(false, false);

// The first byte from `i` on that `plain` does not take, looked for eight at
// a time (those not printable ASCII, or one of `specials`): nearly every path
// is plain ASCII all through.
template <char... specials>
size_t PlainUntil(std::string_view text, size_t i, const std::array<bool, 256>& plain) {
  constexpr std::uint64_t kOnes = 0x0101010101010101, kHighs = 0x8080808080808080;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    std::uint64_t odd = (word - kOnes * 0x20) & ~word;  // a byte below 0x20
    odd |= word + kOnes;                               // a byte above 0x7e (0x7f + 1 sets bit 7)
    odd |= word;                                       // a byte of 0x80 or more
    ((odd |= [word] {
       const std::uint64_t v = word ^ (kOnes * static_cast<unsigned char>(specials));
       return (v - kOnes) & ~v;
     }()),
     ...);
    if ((odd & kHighs) != 0) break;
  }
  while (i < text.size() && plain[static_cast<unsigned char>(text[i])]) ++i;
  return i;
}

bool InRange(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

// An encoded surrogate (ED A0-BF 80-BF): not UTF-8, but how a Windows name's
// lone surrogate travels through Narrow.
bool IsEncodedSurrogate(std::string_view text, size_t i) {
  return i + 2 < text.size() && static_cast<unsigned char>(text[i]) == 0xED &&
         InRange(static_cast<unsigned char>(text[i + 1]), 0xA0, 0xBF) &&
         InRange(static_cast<unsigned char>(text[i + 2]), 0x80, 0xBF);
}

void AppendUnicodeEscape(std::string& out, unsigned value) {
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 15];
}

void AppendJsonNumber(std::string& out, std::string_view key, std::uint64_t value) {
  out += ",\"";
  out += key;
  out += "\":";
  out += std::to_string(value);
}

class TsvReport final : public Report {
 public:
  TsvReport(Language language, PathStyle style) : language_(language), style_(style) {}

  void AppendStart(std::string& out, const StartRecord& start) const override {
    out += "#\t";
    AppendTsvField(out, start.time, style_);
    out += "\tquorvane-sync ";
    out += start.version;
    out += "\thost=";
    AppendTsvField(out, start.host, style_);
    out += "\tuser=";
    AppendTsvField(out, start.user, style_);
    for (const std::string& arg : start.args) {
      out += '\t';
      AppendTsvField(out, arg, style_);
    }
    out += '\n';
  }

  void AppendRow(std::string& out, const RowRecord& row) const override {
    out += row.number;
    out += '\t';
    out += StatusLabel(row.state, language_);
    out += '\t';
    AppendTsvField(out, row.source, style_);
    out += '\n';
  }

  bool NeedsTarget() const override { return false; }

  void AppendSummary(std::string& out, const SummaryRecord& summary) const override {
    out += SummaryLine(
        {.run = summary.run, .dryRun = summary.dryRun, .update = summary.update, .registration = summary.registration},
        language_);
    out += '\n';
  }

 private:
  Language language_;
  PathStyle style_;
};

class JsonReport final : public Report {
 public:
  JsonReport(Language language, PathStyle style) : language_(language), style_(style) {}

  void AppendStart(std::string& out, const StartRecord& start) const override {
    out += "{\"start\":{\"time\":";
    AppendJsonString(out, start.time, style_);
    out += ",\"version\":";
    AppendJsonString(out, start.version, style_);
    out += ",\"host\":";
    AppendJsonString(out, start.host, style_);
    out += ",\"user\":";
    AppendJsonString(out, start.user, style_);
    out += ",\"args\":[";
    for (size_t i = 0; i < start.args.size(); ++i) {
      if (i > 0) out += ',';
      AppendJsonString(out, start.args[i], style_);
    }
    out += "]}}\n";
  }

  void AppendRow(std::string& out, const RowRecord& row) const override {
    out += "{\"n\":";
    out += row.number;
    out += ",\"status\":\"";
    out += StatusCode(row.state);
    out += "\",\"source\":";
    AppendJsonString(out, row.source, style_);
    out += ",\"target\":";
    AppendJsonString(out, row.target, style_);
    AppendJsonNumber(out, "bytes", row.bytes);
    if (row.reason != nullptr) {
      out += ",\"reason\":";
      AppendJsonString(out, ReasonText(*row.reason, language_), style_);
      out += ",\"step\":\"";
      out += StepName(row.reason->step);
      out += '"';
      AppendJsonNumber(out, "code", static_cast<std::uint64_t>(static_cast<unsigned>(row.reason->code)));
    }
    if (row.registration != nullptr) AppendRegistration(out, *row.registration);
    out += "}\n";
  }

  bool NeedsTarget() const override { return true; }

  void AppendSummary(std::string& out, const SummaryRecord& summary) const override {
    const RunSummary& run = summary.run;
    const std::int64_t total = run.tally.total + run.Count(RowState::UpToDate) + run.Count(RowState::ReplaceAtReboot);
    out += "{\"summary\":{\"total\":";
    out += std::to_string(total);
    for (int state = static_cast<int>(RowState::CopySucceeded); state < kRowStateCount; ++state) {
      AppendJsonNumber(out, StatusCode(static_cast<RowState>(state)), static_cast<std::uint64_t>(run.states[state]));
    }
    AppendJsonNumber(out, "unhandled", static_cast<std::uint64_t>(run.unhandled));
    AppendJsonNumber(out, "unreadable_folders", static_cast<std::uint64_t>(summary.unreadableFolders));
    AppendJsonNumber(out, "bytes", run.bytesCopied);
    AppendJsonNumber(out, "elapsed_ms", static_cast<std::uint64_t>(summary.elapsedMs));
    AppendJsonNumber(out, "exit", static_cast<std::uint64_t>(summary.exitStatus));
    out += ",\"dry_run\":";
    out += summary.dryRun ? "true" : "false";
    out += ",\"interrupted\":";
    out += summary.interrupted ? "true" : "false";
    out += ",\"stale_temporaries\":{\"count\":";
    out += std::to_string(run.staleRemoved.count);
    AppendJsonNumber(out, "bytes", run.staleRemoved.bytes);
    out += '}';
    if (const RegistrationRecord* registration = summary.registration) {
      out += ",\"registration\":{\"registered\":";
      out += std::to_string(registration->registered);
      AppendJsonNumber(out, "not_a_font", static_cast<std::uint64_t>(registration->notAFont));
      AppendJsonNumber(out, "failed", static_cast<std::uint64_t>(registration->failed));
      out += ",\"refresh\":\"";
      out += RefreshCode(registration->refresh);
      out += '"';
      if (registration->refresh == FontRefresh::CacheToolFailed) {
        AppendJsonNumber(out, "fc_cache_status", static_cast<std::uint64_t>(registration->toolStatus));
      }
      out += '}';
    }
    out += "}}\n";
  }

 private:
  // "registration":{"status":"registered","name":…}, or "not-a-font" with its
  // reason, or "failed" with reason, step and code as a failed row has them.
  void AppendRegistration(std::string& out, const RegistrationOutcome& registration) const {
    out += ",\"registration\":{\"status\":\"";
    switch (registration.kind) {
      case RegistrationOutcome::Kind::Registered:
        out += "registered\",\"name\":";
        AppendJsonString(out, registration.valueName, style_);
        break;
      case RegistrationOutcome::Kind::NotAFont:
        out += "not-a-font\",\"reason\":";
        AppendJsonString(out, RegistrationReason(registration, language_), style_);
        break;
      case RegistrationOutcome::Kind::Failed:
        out += "failed\",\"reason\":";
        if (!registration.error) {
          out += "\"\"";
          break;
        }
        AppendJsonString(out, ReasonText(*registration.error, language_), style_);
        out += ",\"step\":\"";
        out += StepName(registration.error->step);
        out += '"';
        AppendJsonNumber(out, "code", static_cast<std::uint64_t>(static_cast<unsigned>(registration.error->code)));
        break;
    }
    out += '}';
  }

  Language language_;
  PathStyle style_;
};

}  // namespace

FontRefresh RefreshOf(const RegistrationFinish& finish, PathStyle style) {
  switch (finish.problem) {
    case RegistrationFinish::Problem::CacheToolMissing: return FontRefresh::CacheToolMissing;
    case RegistrationFinish::Problem::CacheToolFailed: return FontRefresh::CacheToolFailed;
    case RegistrationFinish::Problem::None: break;
  }
  if (!finish.notified) return FontRefresh::None;
  return style == PathStyle::Windows ? FontRefresh::FontChangeSent : FontRefresh::CacheRefreshed;
}

std::unique_ptr<Report> MakeTsvReport(Language language, PathStyle style) {
  return std::make_unique<TsvReport>(language, style);
}

std::unique_ptr<Report> MakeJsonReport(Language language, PathStyle style) {
  return std::make_unique<JsonReport>(language, style);
}

size_t Utf8SequenceAt(std::string_view text, size_t i) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = at(i);
  if (lead < 0x80) return 1;
  const size_t left = text.size() - i;
  const auto tail = [&](size_t from, size_t count) {
    for (size_t k = from; k < count; ++k) {
      if (!InRange(at(i + k), 0x80, 0xBF)) return false;
    }
    return true;
  };
  if (InRange(lead, 0xC2, 0xDF)) return left >= 2 && tail(1, 2) ? 2 : 0;
  if (InRange(lead, 0xE0, 0xEF)) {
    if (left < 3) return 0;
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    return InRange(at(i + 1), low, high) && tail(2, 3) ? 3 : 0;
  }
  if (InRange(lead, 0xF0, 0xF4)) {
    if (left < 4) return 0;
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    return InRange(at(i + 1), low, high) && tail(2, 4) ? 4 : 0;
  }
  return 0;
}

void AppendTsvField(std::string& out, std::string_view text, PathStyle style) {
  const bool posix = style == PathStyle::Posix;
  const auto& plainBytes = posix ? kPlainPosixTsv : kPlainWindowsTsv;
  size_t plain = 0;  // start of the run of bytes that need no escape
  const auto flush = [&](size_t end) { out.append(text.substr(plain, end - plain)); };
  for (size_t i = 0; i < text.size();) {
    i = posix ? PlainUntil<'\\'>(text, i, plainBytes) : PlainUntil<>(text, i, plainBytes);
    if (i >= text.size()) break;
    const auto c = static_cast<unsigned char>(text[i]);
    if (plainBytes[c]) {
      ++i;
      continue;
    }
    const size_t length = c >= 0x80 ? Utf8SequenceAt(text, i) : 0;
    if (length > 0) {
      i += length;
      continue;
    }
    flush(i);
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default:
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    plain = ++i;
  }
  flush(text.size());
}

void AppendJsonString(std::string& out, std::string_view text, PathStyle style) {
  out += '"';
  size_t plain = 0;
  const auto flush = [&](size_t end) { out.append(text.substr(plain, end - plain)); };
  for (size_t i = 0; i < text.size();) {
    i = PlainUntil<'"', '\\'>(text, i, kPlainJson);
    if (i >= text.size()) break;
    const auto c = static_cast<unsigned char>(text[i]);
    if (kPlainJson[c]) {
      ++i;
      continue;
    }
    const size_t length = c >= 0x80 ? Utf8SequenceAt(text, i) : 0;
    if (length > 0) {
      i += length;
      continue;
    }
    flush(i);
    if (c >= 0x80 && style == PathStyle::Windows && IsEncodedSurrogate(text, i)) {
      AppendUnicodeEscape(out, ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
                                   (static_cast<unsigned char>(text[i + 2]) & 0x3Fu));
      plain = i += 3;
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: AppendUnicodeEscape(out, c >= 0x80 ? 0xDC00u | c : c);
    }
    plain = ++i;
  }
  flush(text.size());
  out += '"';
}

}  // namespace quorvane::cli
