#include "sync/fonts/font_structure.h"

#include <algorithm>
#include <cstdio>
#include <tuple>
#include <utility>
#include <vector>

#include "sync/fonts/font_bytes.h"

namespace quorvane {
namespace {

// As the font reader's: far above any real file, cheap for a hostile count.
constexpr std::uint32_t kMaxFaces = 1024;
constexpr int kMaxResourceTypes = 256;
constexpr std::uint32_t kMaxResources = 4096;
constexpr std::uint64_t kMaxOverlap = 16;

using namespace font_bytes;

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

// The sum of a table's big-endian 32-bit words, its last one padded with
// zeros, fed in pieces that need not end on a word.
class TableSum {
 public:
  void Add(std::span<const std::byte> bytes) {
    std::size_t i = 0;
    while (filled_ != 0 && i < bytes.size()) Push(bytes[i++]);
    for (; i + 4 <= bytes.size(); i += 4) sum_ += U32Be(bytes, i);
    while (i < bytes.size()) Push(bytes[i++]);
  }
  std::uint32_t Value() const { return filled_ == 0 ? sum_ : sum_ + (partial_ << (8 * (4 - filled_))); }

 private:
  void Push(std::byte b) {
    partial_ = partial_ << 8 | std::to_integer<std::uint32_t>(b);
    if (++filled_ == 4) {
      sum_ += partial_;
      partial_ = 0;
      filled_ = 0;
    }
  }
  std::uint32_t sum_ = 0, partial_ = 0;
  int filled_ = 0;
};

// Offsets into a .fon's font header (FNT versions 1 to 3 share them).
constexpr std::uint64_t kFontSizeAt = 2, kFaceAt = 105, kFontHeaderLength = 109;

// A range of the file the check follows as it passes: a table to sum, a
// .fon's font resource whose header is kept, or one that only has to be there.
struct Watch {
  enum class Kind { Table, FontResource, Present };
  Kind kind = Kind::Table;
  std::uint64_t offset = 0, length = 0;
  std::string name;       // "table 'glyf'", "face 1: table 'glyf'", "font resource 2"
  std::size_t order = 0;  // the directory's order, in which problems are told
  std::uint32_t expected = 0;
  bool head = false;  // summed with checkSumAdjustment as zero
  std::uint32_t adjustment = 0;
  TableSum sum;
  std::vector<std::byte> header;

  std::uint64_t End() const { return offset + length; }
  // `bytes`, which start `at` bytes into the range.
  void Add(std::uint64_t at, std::span<const std::byte> bytes) {
    if (kind == Kind::Present) return;
    if (kind == Kind::FontResource) {
      const std::uint64_t wanted = std::min(kFontHeaderLength, length);
      if (at < wanted) {
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(wanted - at, bytes.size()));
        header.insert(header.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
      }
      return;
    }
    constexpr std::uint64_t kAdjustmentAt = 8, kAdjustmentEnd = 12;
    if (!head || at >= kAdjustmentEnd || at + bytes.size() <= kAdjustmentAt) {
      sum.Add(bytes);
      return;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const bool inAdjustment = at + i >= kAdjustmentAt && at + i < kAdjustmentEnd;
      if (inAdjustment) adjustment = adjustment << 8 | std::to_integer<std::uint32_t>(bytes[i]);
      const std::byte b = inAdjustment ? std::byte{0} : bytes[i];
      sum.Add(std::span(&b, 1));
    }
  }
  // Some collection makers (the wqy fonts') sum head with its adjustment in;
  // Windows loads those, so either sum passes.
  bool SumMatches() const { return sum.Value() == expected || (head && sum.Value() + adjustment == expected); }
};

struct Range {
  std::uint64_t offset = 0, length = 0;
};

// What the start of the file says: the ranges to follow and the structure's
// own ranges, which no table may cover. Parsed again from the start each time
// enough new bytes have come, which a real font's few kilobytes make cheap.
class Layout {
 public:
  enum class Status { NeedMore, Failed, Done };

  explicit Layout(std::span<const std::byte> start) : start_(start) {}

  Status Parse() {
    if (start_.size() < 4) {
      Has(4, "", "font header");
      return status_;
    }
    const std::uint32_t signature = U32Be(start_, 0);
    bool done = false;
    if (Byte(start_, 0) == 'M' && Byte(start_, 1) == 'Z') {
      done = ParseFon();
    } else if (signature == Tag("ttcf")) {
      done = ParseCollection();
    } else if (signature == 0x00010000 || signature == Tag("true") || signature == Tag("OTTO")) {
      done = ParseFace(0, "");
    } else if (signature == Tag("wOFF") || signature == Tag("wOF2")) {
      return Fail("a web font (WOFF), which Windows does not install");
    } else {
      return Fail("unknown signature");
    }
    if (!done) return status_;
    return CheckOverlaps() ? Status::Done : Status::Failed;
  }

  std::uint64_t needed() const { return needed_; }
  // Why the file is not whole: when it ends before `needed`, or the failure.
  const std::string& why() const { return why_; }
  std::vector<Watch> TakeWatches() { return std::move(watches_); }

 private:
  // False, for the caller to stop, unless the first `end` bytes, which end
  // `what`, are here.
  bool Has(std::uint64_t end, const std::string& prefix, const char* what) {
    if (end <= start_.size()) return true;
    if (end > FontStructureCheck::kMaxStructureBytes) {
      Fail(prefix + what + " past the first MiB, further than a font's structure goes");
    } else {
      status_ = Status::NeedMore;
      needed_ = end;
      why_ = prefix + "truncated " + what;
    }
    return false;
  }
  Status Fail(std::string why) {
    status_ = Status::Failed;
    why_ = std::move(why);
    return status_;
  }
  bool Refuse(std::string why) {
    Fail(std::move(why));
    return false;
  }

  Watch& Add(Watch::Kind kind, Range range, std::string name) {
    Watch& watch = watches_.emplace_back();
    watch.kind = kind;
    watch.offset = range.offset;
    watch.length = range.length;
    watch.name = std::move(name);
    watch.order = watches_.size();
    return watch;
  }

  // One face's offset table and table directory at `offset`.
  bool ParseFace(std::uint64_t offset, const std::string& prefix) {
    if (!Has(offset + 12, prefix, "font header")) return false;
    const std::uint32_t version = U32Be(start_, offset);
    if (version != 0x00010000 && version != Tag("true") && version != Tag("OTTO")) {
      return Refuse(prefix + "unknown font version '" + TagText(version) + "'");
    }
    const std::uint16_t tableCount = U16Be(start_, offset + 4);
    if (tableCount == 0) return Refuse(prefix + "no tables");
    const std::uint64_t end = offset + 12 + std::uint64_t{tableCount} * 16;
    if (!Has(end, prefix, "table directory")) return false;
    structure_.push_back({offset, end - offset});
    for (std::uint64_t at = offset + 12; at < end; at += 16) {
      const std::uint32_t tag = U32Be(start_, at);
      Watch& table = Add(Watch::Kind::Table, {U32Be(start_, at + 8), U32Be(start_, at + 12)},
                         prefix + "table '" + TagText(tag) + "'");
      table.expected = U32Be(start_, at + 4);
      table.head = tag == Tag("head");
    }
    return true;
  }

  bool ParseCollection() {
    if (!Has(12, "", "collection header")) return false;
    const std::uint32_t faceCount = U32Be(start_, 8);
    if (faceCount == 0) return Refuse("empty collection");
    if (faceCount > kMaxFaces) return Refuse("too many faces in the collection");
    const std::uint64_t headerEnd = 12 + std::uint64_t{faceCount} * 4;
    if (!Has(headerEnd, "", "collection header")) return false;
    structure_.push_back({0, headerEnd});
    std::vector<std::uint64_t> parsed;
    for (std::uint32_t i = 0; i < faceCount; ++i) {
      const std::uint64_t offset = U32Be(start_, 12 + std::uint64_t{i} * 4);
      const std::string prefix = "face " + std::to_string(i) + ": ";
      if (offset < headerEnd) {
        return Refuse(prefix + "offset " + std::to_string(offset) + " inside the collection header");
      }
      // Faces that share one directory share its tables: followed once.
      if (std::find(parsed.begin(), parsed.end(), offset) != parsed.end()) continue;
      if (!ParseFace(offset, prefix)) return false;
      parsed.push_back(offset);
    }
    return true;
  }

  bool ParseFon() {
    if (!Has(0x40, "", "MZ header")) return false;
    const std::uint64_t ne = U32Le(start_, 0x3C);
    if (!Has(ne + 2, "", "NE header")) return false;
    if (Byte(start_, ne) != 'N' || Byte(start_, ne + 1) != 'E') return Refuse("not an NE executable");
    if (!Has(ne + 0x40, "", "NE header")) return false;
    if (U16Le(start_, ne + 0x24) == U16Le(start_, ne + 0x26)) return Refuse("no resources");
    const std::uint64_t table = ne + U16Le(start_, ne + 0x24);
    if (!Has(table + 2, "", "resource table")) return false;
    const unsigned shift = U16Le(start_, table);
    if (shift > 16) return Refuse("resource alignment out of range");
    bool directory = false;
    int fonts = 0;
    std::uint32_t resourceCount = 0;
    std::uint64_t at = table + 2;
    for (int types = 0;; ++types) {
      if (types == kMaxResourceTypes) return Refuse("too many resource types");
      if (!Has(at + 2, "", "resource table")) return false;
      const std::uint16_t type = U16Le(start_, at);
      if (type == 0) break;
      if (!Has(at + 8, "", "resource table")) return false;
      const std::uint16_t count = U16Le(start_, at + 2);
      resourceCount += count;
      if (resourceCount > kMaxResources) return Refuse("too many resources");
      const std::uint64_t end = at + 8 + std::uint64_t{count} * 12;
      if (!Has(end, "", "resource table")) return false;
      for (std::uint64_t entry = at + 8; entry < end; entry += 12) {
        const Range range{std::uint64_t{U16Le(start_, entry)} << shift,
                          std::uint64_t{U16Le(start_, entry + 2)} << shift};
        if (type == 0x8007) {  // RT_FONTDIR
          Add(Watch::Kind::Present, range, "font directory resource");
          directory = true;
        } else if (type == 0x8008) {  // RT_FONT
          Add(Watch::Kind::FontResource, range, "font resource " + std::to_string(fonts++));
        }
      }
      at = end;
    }
    if (!directory) return Refuse("no font directory resource");
    if (fonts == 0) return Refuse("no font resources");
    structure_.push_back({0, 0x40});
    structure_.push_back({ne, 0x40});
    structure_.push_back({table, at + 2 - table});
    return true;
  }

  // No table or resource may lie over a header or directory: a write to one
  // would change the other.
  bool CheckOverlaps() {
    std::sort(structure_.begin(), structure_.end(), [](const Range& a, const Range& b) { return a.offset < b.offset; });
    std::vector<Range> merged;
    for (const Range& range : structure_) {
      if (!merged.empty() && range.offset <= merged.back().offset + merged.back().length) {
        Range& last = merged.back();
        last.length = std::max(last.offset + last.length, range.offset + range.length) - last.offset;
      } else {
        merged.push_back(range);
      }
    }
    for (const Watch& watch : watches_) {
      if (watch.length == 0) continue;
      // The first structure range that ends after the watch begins.
      const auto after = std::upper_bound(merged.begin(), merged.end(), watch.offset,
                                          [](std::uint64_t at, const Range& r) { return at < r.offset + r.length; });
      if (after != merged.end() && after->offset < watch.End()) {
        return Refuse(watch.name + " overlaps " +
                      (watch.kind == Watch::Kind::Table ? "a table directory" : "the module's headers"));
      }
    }
    return true;
  }

  std::span<const std::byte> start_;
  Status status_ = Status::Done;
  std::uint64_t needed_ = 0;
  std::string why_;
  std::vector<Watch> watches_;
  std::vector<Range> structure_;
};

std::optional<std::string> FontResourceProblem(const Watch& font) {
  if (font.length < kFontHeaderLength) return font.name + ": shorter than a font header";
  const std::uint16_t version = U16Le(font.header, 0);
  if (version != 0x100 && version != 0x200 && version != 0x300) {
    return font.name + ": unknown font header version " + Hex(version);
  }
  if (U32Le(font.header, kFontSizeAt) > font.length) {
    return font.name + ": its header gives " + std::to_string(U32Le(font.header, kFontSizeAt)) +
           " bytes, the resource holds " + std::to_string(font.length);
  }
  if (U32Le(font.header, kFaceAt) >= font.length) return font.name + ": face name outside the resource";
  return std::nullopt;
}

}  // namespace

struct FontStructureCheck::State {
  std::vector<std::byte> start;  // the file's first bytes, until the layout is known
  std::uint64_t needed = 0;      // how many of them the layout waits for
  bool known = false;
  std::optional<std::string> failure;
  std::uint64_t fed = 0;
  std::vector<Watch> watches;  // by offset
  std::size_t firstOpen = 0;   // watches before it have ended

  // `bytes`, which start `at` bytes into the file, to every watch they touch.
  void Follow(std::uint64_t at, std::span<const std::byte> bytes) {
    const std::uint64_t end = at + bytes.size();
    while (firstOpen < watches.size() && watches[firstOpen].End() <= at) ++firstOpen;
    for (std::size_t i = firstOpen; i < watches.size() && watches[i].offset < end; ++i) {
      Watch& watch = watches[i];
      if (watch.End() <= at) continue;
      const std::uint64_t from = std::max(watch.offset, at), to = std::min(watch.End(), end);
      watch.Add(from - watch.offset,
                bytes.subspan(static_cast<std::size_t>(from - at), static_cast<std::size_t>(to - from)));
    }
  }

  void ReadLayout() {
    Layout layout(start);
    switch (layout.Parse()) {
      case Layout::Status::NeedMore:
        needed = layout.needed();
        return;
      case Layout::Status::Failed:
        failure = layout.why();
        return;
      case Layout::Status::Done:
        break;
    }
    watches = layout.TakeWatches();
    // Tables that faces of a collection share are followed once.
    std::sort(watches.begin(), watches.end(), [](const Watch& a, const Watch& b) {
      return std::tie(a.offset, a.length, a.expected, a.head, a.order) <
             std::tie(b.offset, b.length, b.expected, b.head, b.order);
    });
    watches.erase(std::unique(watches.begin(), watches.end(),
                              [](const Watch& a, const Watch& b) {
                                return a.kind == Watch::Kind::Table && b.kind == Watch::Kind::Table &&
                                       std::tie(a.offset, a.length, a.expected, a.head) ==
                                           std::tie(b.offset, b.length, b.expected, b.head);
                              }),
                  watches.end());
    // Each byte is summed once per table over it: tables piled on one another
    // (no real font's) would make a small file cost as much as a huge one.
    std::uint64_t followed = 0, end = 0;
    for (const Watch& watch : watches) {
      followed += watch.length;
      end = std::max(end, watch.End());
    }
    if (followed > kMaxOverlap * end) {
      failure = "tables lie over one another more than " + std::to_string(kMaxOverlap) + " deep";
      return;
    }
    known = true;
    Follow(0, start);
    start = {};
  }
};

FontStructureCheck::FontStructureCheck() : state_(std::make_unique<State>()) {}
FontStructureCheck::~FontStructureCheck() = default;

void FontStructureCheck::Feed(std::span<const std::byte> bytes) {
  State& s = *state_;
  if (s.failure || bytes.empty()) return;
  const std::uint64_t at = s.fed;
  s.fed += bytes.size();
  if (s.known) return s.Follow(at, bytes);
  s.start.insert(s.start.end(), bytes.begin(), bytes.end());
  if (s.start.size() >= s.needed) s.ReadLayout();
}

std::optional<std::string> FontStructureCheck::Finish() {
  State& s = *state_;
  if (s.failure) return s.failure;
  if (!s.known) {
    if (s.fed == 0) return "empty file";
    Layout layout(s.start);
    layout.Parse();
    return layout.why();
  }
  std::vector<const Watch*> byOrder;
  for (const Watch& watch : s.watches) byOrder.push_back(&watch);
  std::sort(byOrder.begin(), byOrder.end(), [](const Watch* a, const Watch* b) { return a->order < b->order; });
  for (const Watch* watch : byOrder) {
    if (watch->offset >= s.fed && watch->length > 0) return watch->name + " lies outside the file";
    if (watch->End() > s.fed) return watch->name + " runs past the end of the file";
    if (watch->kind == Watch::Kind::Table && !watch->SumMatches()) {
      return watch->name + ": checksum " + Hex(watch->sum.Value()) + ", the directory gives " + Hex(watch->expected);
    }
    if (watch->kind == Watch::Kind::FontResource) {
      if (auto problem = FontResourceProblem(*watch)) return problem;
    }
  }
  return std::nullopt;
}

std::optional<std::string> CheckFontStructure(std::span<const std::byte> bytes) {
  FontStructureCheck check;
  check.Feed(bytes);
  return check.Finish();
}

}  // namespace quorvane
