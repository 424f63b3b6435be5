// Fuzz entry points, shared by the libFuzzer programs and by the replay test that
// runs their corpora in the ordinary suite. Each aborts on a broken invariant.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvane::fuzz {

// Input: a name, a NUL, a pattern.
int FuzzPaths(const std::uint8_t* data, std::size_t size);
// Input: arguments separated by NULs.
int FuzzArguments(const std::uint8_t* data, std::size_t size);
// Input: a font file's bytes.
int FuzzFontFile(const std::uint8_t* data, std::size_t size);
// Input: a font file's bytes, also fed in pieces.
int FuzzFontStructure(const std::uint8_t* data, std::size_t size);
// Input: a manifest's text.
int FuzzManifest(const std::uint8_t* data, std::size_t size);

}  // namespace quorvane::fuzz
