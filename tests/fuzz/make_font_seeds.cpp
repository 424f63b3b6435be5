// Writes the small form of each given font (what the reader reads, a few KB)
// into a folder: the seeds of tests/fuzz/corpus/font_file/.
//   make_font_seeds OUT_FOLDER FONT...
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "tests/sync/font_builder.h"

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (argc < 3) {
    std::cerr << "usage: make_font_seeds OUT_FOLDER FONT...\n";
    return 2;
  }
  int failed = 0;
  for (int i = 2; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    const std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto small = quorvane::testing::SmallFormOf(std::span(reinterpret_cast<const std::byte*>(chars.data()), chars.size()));
    if (small.empty()) {
      std::cerr << argv[i] << ": not a font\n";
      ++failed;
      continue;
    }
    const fs::path out = fs::path(argv[1]) / fs::path(argv[i]).filename();
    std::ofstream(out, std::ios::binary).write(reinterpret_cast<const char*>(small.data()), static_cast<std::streamsize>(small.size()));
    std::cout << out.string() << ": " << small.size() << " bytes\n";
  }
  return failed == 0 ? 0 : 1;
}
