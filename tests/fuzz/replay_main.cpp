// Replays saved inputs through a fuzz target's entry point without libFuzzer,
// so the regression inputs and seeds of every target run with the ordinary
// test suite (and under its sanitizers) on any compiler. A target that
// finds a fault aborts, which fails the test.
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  size_t count = 0;
  // "--every N FOLDER": every Nth input of that folder only (a slow target's
  // large corpus under the sanitizers, whose release build replays it all).
  size_t every = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--every" && i + 1 < argc) {
      every = std::max<size_t>(1, std::strtoul(argv[++i], nullptr, 10));
      continue;
    }
    const size_t step = every;
    every = 1;
    std::error_code ec;
    if (!fs::is_directory(argv[i], ec)) continue;
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(argv[i])) {
      if (e.is_regular_file()) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    for (size_t k = 0; k < files.size(); k += step) {
      const fs::path& f = files[k];
      std::ifstream in(f, std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++count;
    }
  }
  printf("%zu inputs replayed\n", count);
  // Nothing to replay means the folders were not found: a broken setup.
  return count ? 0 : 1;
}
