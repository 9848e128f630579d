// Build step for the tests (runs on the build machine): writes files of chosen sizes with
// reproducible, irregular contents, as stand-ins for installer files of given lengths.
//
//   make_sample_files <folder> <name>=<size> ...
//
// Each file's bytes come from a generator seeded by its name, so files of equal size differ.
// A file is rewritten only when its bytes change.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: make_sample_files <folder> <name>=<size> ...\n");
    return 2;
  }
  const fs::path folder = argv[1];
  std::error_code error;
  fs::create_directories(folder, error);
  for (int i = 2; i < argc; ++i) {
    const std::string argument = argv[i];
    const size_t equals = argument.find('=');
    if (equals == std::string::npos || equals == 0) {
      std::fprintf(stderr, "make_sample_files: expected <name>=<size>: %s\n", argument.c_str());
      return 2;
    }
    const std::string name = argument.substr(0, equals);
    const size_t size = std::strtoull(argument.c_str() + equals + 1, nullptr, 10);

    uint64_t state = 1469598103934665603ull;  // FNV-1a of the name as the seed
    for (unsigned char c : name) state = (state ^ c) * 1099511628211ull;
    std::vector<unsigned char> bytes(size);
    for (size_t k = 0; k < size; ++k) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      bytes[k] = static_cast<unsigned char>(state >> 24);
    }

    const fs::path path = folder / name;
    std::vector<unsigned char> current;
    {
      std::ifstream in(path, std::ios::binary);
      if (in) current.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (fs::exists(path, error) && current == bytes) continue;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
      std::fprintf(stderr, "make_sample_files: cannot write %s\n", path.string().c_str());
      return 1;
    }
  }
  return 0;
}
