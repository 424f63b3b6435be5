// A collection's manifest: which font files it holds, with exactly which
// bytes. Published from the share's folders, it lets a fleet take those
// files and nothing else, even from a share many people can write to.
//
// Text, UTF-8, lines ended by "\n" alone, fields separated by tabs:
//   quorvane-manifest<TAB>1
//   PATH<TAB>SIZE<TAB>SHA256<TAB>FACES<TAB>VERSION      one line per font
//   end<TAB>COUNT<TAB>SHA256 of every byte before this line
// PATH is the file's path under its source folder, '/' between folders;
// FACES the faces' full names, separated by ';'. In PATH, FACES and VERSION a
// backslash is written "\\", and control characters, bytes that are not
// UTF-8 and (in FACES) ';' as "\xNN", so any name comes back byte for byte.
// The end line catches a manifest cut short, damaged or edited by hand; it is
// no signature: the manifest is as trustworthy as the way it reached the host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sync/files/file_error.h"
#include "sync/files/sha256.h"
#include "sync/run/font_listing.h"

namespace quorvane {

struct ManifestEntry {
  std::string path;  // under its source folder, '/' between folders
  std::uint64_t size = 0;
  Sha256::Digest sha256{};
  std::vector<std::string> faces;  // full names; none for a file that is no font
  std::string version;             // the first face's version text

  bool operator==(const ManifestEntry&) const = default;
};

// Why a manifest is refused: in one line ("cut short: no end line"), or the
// system's reason it could not be read.
struct ManifestRefusal {
  std::string why;
  std::optional<FileError> error;
};

// The manifest's text; nothing when the system's hash failed.
std::optional<std::string> FormatManifest(const std::vector<ManifestEntry>& entries);

// Every entry, or why the text is no whole, unaltered manifest. Never trusts
// a byte of it before its end line's checksum agrees.
std::variant<std::vector<ManifestEntry>, ManifestRefusal> ParseManifest(std::string_view text);

// The file at `path` read and parsed; an unreadable file is refused with the
// system's reason.
std::variant<std::vector<ManifestEntry>, ManifestRefusal> LoadManifest(std::string_view path);

// The path a manifest gives a listed file: the part of `sourcePath` under the
// first of `sources` that holds it, '/' between folders; nothing when none does.
std::optional<std::string> ManifestPathOf(std::string_view sourcePath, const std::vector<std::string>& sources);

// What publishing the sources found. The manifest is whole only when no
// folder, entry or file was left unread: one that left a font out would have
// a fleet prune it.
struct Publication {
  std::vector<ManifestEntry> entries;
  ListingResult listing;
  std::vector<std::pair<std::string, FileError>> unreadable;  // files, with why
  std::vector<std::pair<std::string, std::string>> notFonts;  // files, with the reader's reason

  bool Whole() const { return listing.unreadable.empty() && listing.skipped.empty() && unreadable.empty(); }
};

// Lists the sources as a run lists them, and describes every font file:
// size, hash, faces and version. The first source's file of a path is the one
// named, as a run copies the first listed of a name.
Publication PublishSources(const std::vector<std::string>& sources);

}  // namespace quorvane
