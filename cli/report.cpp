#include "cli/report.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "base/text.h"
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

// U+0085, U+2028 or U+2029 encoded at `i` (a sequence of `length`): line
// ends to many a reader's line splitter (Python's splitlines, JavaScript), so
// never written raw into a one-line JSON row. The code point, or 0.
unsigned UnicodeLineBreakAt(std::string_view text, size_t i, size_t length) {
  const auto byte = [&](size_t at) { return static_cast<unsigned char>(text[i + at]); };
  if (length == 2 && byte(0) == 0xC2 && byte(1) == 0x85) return 0x85;
  if (length == 3 && byte(0) == 0xE2 && byte(1) == 0x80 && (byte(2) == 0xA8 || byte(2) == 0xA9)) {
    return 0x2000u | (byte(2) - 0x80u);
  }
  return 0;
}

void AppendUnicodeEscape(std::string& out, unsigned value);

// The one scan of both reports: `text` goes into `out` as it is, but for each
// byte that `plain` does not take and that begins no strict UTF-8 sequence;
// `escape(out, text, i, byte)` writes that one's escape and says how many
// bytes it stood for. With `escapeLineBreaks`, the Unicode line breaks too, as \uXXXX.
template <char... specials, typename Escape>
void AppendEscaped(std::string& out, std::string_view text, const std::array<bool, 256>& plain, Escape escape,
                   bool escapeLineBreaks = false) {
  size_t run = 0;  // where the bytes that need no escape began
  for (size_t i = 0; i < text.size();) {
    i = PlainUntil<specials...>(text, i, plain);
    if (i >= text.size()) break;
    const auto c = static_cast<unsigned char>(text[i]);
    if (const size_t length = c >= 0x80 ? Utf8SequenceAt(text, i) : 0; length > 0) {
      if (const unsigned lineBreak = escapeLineBreaks ? UnicodeLineBreakAt(text, i, length) : 0; lineBreak != 0) {
        out.append(text.substr(run, i - run));
        AppendUnicodeEscape(out, lineBreak);
        run = i + length;
      }
      i += length;
      continue;
    }
    out.append(text.substr(run, i - run));
    i += escape(out, text, i, c);
    run = i;
  }
  out.append(text.substr(run));
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
  TsvReport(Language language, PathStyle style, bool withVersions)
      : language_(language), style_(style), withVersions_(withVersions) {}

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
    if (withVersions_ && (row.sourceVersion != nullptr || row.targetVersion != nullptr)) {
      for (const std::string* version : {row.sourceVersion, row.targetVersion}) {
        out += '\t';
        if (version != nullptr) AppendTsvField(out, *version, style_);
      }
    }
    out += '\n';
  }


  void AppendSummary(std::string& out, const SummaryRecord& summary) const override {
    out += SummaryLine({.run = summary.run,
                        .dryRun = summary.dryRun,
                        .check = summary.check,
                        .update = summary.update,
                        .registration = summary.registration},
                       language_);
    out += '\n';
  }

  void AppendMessage(std::string& out, std::string_view text) const override {
    out += "quorvane-sync: ";
    out += text;
    out += '\n';
  }

 private:
  Language language_;
  PathStyle style_;
  bool withVersions_;
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
    if (row.reason != nullptr) AppendFailure(out, *row.reason);
    if (!row.damage.empty()) {
      out += ",\"reason\":";
      AppendJsonString(out, row.damage, style_);
    }
    if (row.sourceVersion != nullptr) {
      out += ",\"source_version\":";
      AppendJsonString(out, *row.sourceVersion, style_);
    }
    if (row.targetVersion != nullptr) {
      out += ",\"target_version\":";
      AppendJsonString(out, *row.targetVersion, style_);
    }
    if (!row.other.empty()) {
      out += ",\"other\":";
      AppendJsonString(out, row.other, style_);
    }
    for (const auto& [name, digest] : {std::pair{",\"expected_sha256\":\"", row.expectedSha256},
                                      std::pair{",\"found_sha256\":\"", row.foundSha256}}) {
      if (digest == nullptr) continue;
      out += name;
      out += HexOf(*digest);
      out += '"';
    }
    if (row.registration != nullptr) AppendRegistration(out, *row.registration);
    out += "}\n";
  }


  void AppendSummary(std::string& out, const SummaryRecord& summary) const override {
    const RunSummary& run = summary.run;
    out += "{\"summary\":{\"total\":";
    out += std::to_string(run.Handled());
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
    if (summary.check) out += ",\"check\":true";
    out += ",\"stale_temporaries\":{\"count\":";
    out += std::to_string(run.staleRemoved.count);
    AppendJsonNumber(out, "bytes", run.staleRemoved.bytes);
    out += '}';
    if (const std::optional<RecordSummary>& record = run.record) AppendRecord(out, *record);
    if (const RegistrationRecord* registration = summary.registration) {
      out += ",\"registration\":{\"registered\":";
      out += std::to_string(registration->registered);
      AppendJsonNumber(out, "not_a_font", static_cast<std::uint64_t>(registration->notAFont));
      AppendJsonNumber(out, "failed", static_cast<std::uint64_t>(registration->failed));
      AppendJsonNumber(out, "conflict", static_cast<std::uint64_t>(registration->conflict));
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

  void AppendMessage(std::string& out, std::string_view text) const override {
    out += "{\"message\":";
    AppendJsonString(out, text, style_);
    out += "}\n";
  }

 private:
  // "record":{"location":…,"written":…} and, where there was one, its
  // "damaged" or "error" reason and why a prune "refused".
  void AppendRecord(std::string& out, const RecordSummary& record) const {
    out += ",\"record\":{\"location\":";
    AppendJsonString(out, record.location, style_);
    out += ",\"written\":";
    out += record.written ? "true" : "false";
    if (!record.damage.empty()) {
      out += ",\"damaged\":";
      AppendJsonString(out, record.damage, style_);
    }
    if (record.untrusted && !record.untrusted->empty()) {
      out += ",\"untrusted\":";
      AppendJsonString(out, *record.untrusted, style_);
    }
    if (record.error) {
      out += ",\"error\":";
      AppendJsonString(out, ReasonText(*record.error, language_), style_);
      AppendStepAndCode(out, *record.error);
    }
    if (record.refusal != PruneRefusal::None) {
      out += ",\"prune_refused\":\"";
      out += PruneRefusalCode(record.refusal);
      out += '"';
      if (record.refusal == PruneRefusal::TooMany) AppendJsonNumber(out, "would_remove", static_cast<std::uint64_t>(record.toRemove));
    }
    if (record.changedSince > 0) AppendJsonNumber(out, "changed_since", static_cast<std::uint64_t>(record.changedSince));
    if (record.goneSince > 0) AppendJsonNumber(out, "gone_since", static_cast<std::uint64_t>(record.goneSince));
    out += '}';
  }

  // ,"reason":…,"step":…,"code":… of a failure.
  void AppendFailure(std::string& out, const FileError& error) const {
    out += ",\"reason\":";
    AppendJsonString(out, ReasonText(error, language_), style_);
    AppendStepAndCode(out, error);
  }

  // The system's code only where it gave one: none is ever made up.
  static void AppendStepAndCode(std::string& out, const FileError& error) {
    out += ",\"step\":\"";
    out += StepName(error.step);
    out += '"';
    if (error.HasSystemCode()) AppendJsonNumber(out, "code", static_cast<std::uint64_t>(static_cast<unsigned>(error.code)));
  }

  // "registration":{"status":"registered","name":…} (and the stale value's
  // file it "replaced"), "conflict" with the value's name and the "other" file
  // it names, "not-a-font" with its reason, or "failed" with reason, step and
  // code as a failed row has them.
  void AppendRegistration(std::string& out, const RegistrationOutcome& registration) const {
    out += ",\"registration\":{\"status\":\"";
    switch (registration.kind) {
      case RegistrationOutcome::Kind::Registered:
        out += "registered\",\"name\":";
        AppendJsonString(out, registration.valueName, style_);
        if (!registration.replaced.empty()) {
          out += ",\"replaced\":";
          AppendJsonString(out, registration.replaced, style_);
        }
        break;
      case RegistrationOutcome::Kind::Conflict:
        out += "conflict\",\"name\":";
        AppendJsonString(out, registration.valueName, style_);
        out += ",\"other\":";
        AppendJsonString(out, registration.other, style_);
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
        AppendStepAndCode(out, *registration.error);
        break;
    }
    out += '}';
  }

  Language language_;
  PathStyle style_;
};

}  // namespace

FontRefresh RefreshOf(const RegistrationFinish& finish, PathStyle style) {
  // fc-cache could not be started at all, or ended badly.
  if (finish.error) {
    return finish.error->kind == FileErrorKind::ExitStatus ? FontRefresh::CacheToolFailed : FontRefresh::CacheToolMissing;
  }
  if (!finish.notified) return FontRefresh::None;
  return style == PathStyle::Windows ? FontRefresh::FontChangeSent : FontRefresh::CacheRefreshed;
}

RegistrationRecord RegistrationRecordOf(const RegistrationTally& tally, PathStyle style) {
  const std::optional<FileError>& error = tally.finish.error;
  return {.registered = tally.registered,
          .notAFont = tally.notAFont,
          .failed = tally.failed,
          .conflict = tally.conflict,
          .refresh = RefreshOf(tally.finish, style),
          .toolStatus = error && error->kind == FileErrorKind::ExitStatus ? error->code : 0};
}

std::unique_ptr<Report> MakeTsvReport(Language language, PathStyle style, bool withVersions) {
  return std::make_unique<TsvReport>(language, style, withVersions);
}

std::unique_ptr<Report> MakeJsonReport(Language language, PathStyle style) {
  return std::make_unique<JsonReport>(language, style);
}

void AppendTsvField(std::string& out, std::string_view text, PathStyle style) {
  const auto escape = [](std::string& to, std::string_view, size_t, unsigned char c) -> size_t {
    switch (c) {
      case '\t': to += "\\t"; break;
      case '\n': to += "\\n"; break;
      case '\r': to += "\\r"; break;
      case '\\': to += "\\\\"; break;
      default:
        to += "\\x";
        to += kHex[c >> 4];
        to += kHex[c & 15];
    }
    return 1;
  };
  if (style == PathStyle::Posix) {
    AppendEscaped<'\\'>(out, text, kPlainPosixTsv, escape);
  } else {
    AppendEscaped<>(out, text, kPlainWindowsTsv, escape);
  }
}

void AppendJsonString(std::string& out, std::string_view text, PathStyle style) {
  out += '"';
  AppendEscaped<'"', '\\'>(out, text, kPlainJson, [style](std::string& to, std::string_view all, size_t i,
                                                          unsigned char c) -> size_t {
    if (c >= 0x80 && style == PathStyle::Windows && IsEncodedSurrogate(all, i)) {
      AppendUnicodeEscape(to, ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(all[i + 1]) & 0x3Fu) << 6) |
                                  (static_cast<unsigned char>(all[i + 2]) & 0x3Fu));
      return 3;
    }
    switch (c) {
      case '"': to += "\\\""; break;
      case '\\': to += "\\\\"; break;
      case '\n': to += "\\n"; break;
      case '\r': to += "\\r"; break;
      case '\t': to += "\\t"; break;
      default: AppendUnicodeEscape(to, c >= 0x80 ? 0xDC00u | c : c);
    }
    return 1;
  }, /*escapeLineBreaks=*/true);
  out += '"';
}

}  // namespace quorvane::cli
