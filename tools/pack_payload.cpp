// Build step (runs on the build machine): scrambles the ten setup files of a release folder with
// the updater's own key stream and writes the resource lines that embed them, together with the
// resume launcher, which is stored plain.
//
//   pack_payload [--max-payload <bytes>] <release folder> <output folder> <resource script>
//                [<launcher exe>]
//
// --max-payload: the most the ten files and the launcher may come to together. A larger payload
// is refused before anything is written, with the limit in the message: the 32-bit updater could
// not be loaded with it (the build passes the limit; see the README's release section).
//
// Every file is looked up by its name in the release folder; a file whose name differs only in
// case (a folder copied from a Windows machine) is taken as well. When files are missing, each one
// is named and nothing is written. Outputs are rewritten only when their bytes change, so an
// unchanged release does not make the updater's resources rebuild.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/core/key_stream.h"
#include "engine/core/payload_files.h"

namespace fs = std::filesystem;

namespace {

constexpr int kLauncherResourceId = 148;
constexpr char kLauncherFileName[] = "TmkUpLauncher.exe";

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The regular file called name in folder (exact name first, then ignoring case), or empty.
fs::path FindFile(const fs::path& folder, const std::string& name) {
  std::error_code error;
  const fs::path exact = folder / name;
  if (fs::is_regular_file(exact, error)) return exact;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (SameNameIgnoringCase(it->path().filename().string(), name) &&
        fs::is_regular_file(it->path(), error)) {
      return it->path();
    }
  }
  return fs::path();
}

bool ReadAll(const fs::path& path, std::vector<unsigned char>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Writes bytes to path unless the file already holds exactly these bytes.
bool WriteIfChanged(const fs::path& path, const std::vector<unsigned char>& bytes) {
  std::vector<unsigned char> current;
  std::error_code error;
  if (fs::is_regular_file(path, error) && ReadAll(path, &current) && current == bytes) return true;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

// A path as a resource-script string. Backslashes are doubled; a double quote cannot be written.
bool QuoteForResourceScript(const std::string& path, std::string* quoted) {
  *quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '\n' || c == '\r') return false;
    if (c == '\\') *quoted += '\\';
    *quoted += c;
  }
  *quoted += '"';
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long long maxPayload = 0;
  bool badLimit = false;
  if (argc > 2 && std::strcmp(argv[1], "--max-payload") == 0) {
    char* end = nullptr;
    maxPayload = std::strtoull(argv[2], &end, 10);
    badLimit = *argv[2] == '\0' || *end != '\0' || maxPayload == 0;
    argv += 2;
    argc -= 2;
  }
  if (badLimit || (argc != 4 && argc != 5)) {
    std::fprintf(stderr,
                 "usage: pack_payload [--max-payload <bytes>] <release folder> <output folder> "
                 "<resource script> [<launcher exe>]\n");
    return 2;
  }
  const fs::path releaseFolder = argv[1];
  const fs::path outputFolder = argv[2];
  const fs::path scriptPath = argv[3];
  const fs::path launcher = argc == 5 ? fs::path(argv[4]) : fs::path();

  // Every missing input is named before anything is written.
  std::vector<fs::path> inputs;
  int missing = 0;
  for (const PayloadFile& file : kPayloadFiles) {
    fs::path found = FindFile(releaseFolder, file.fileName);
    if (found.empty()) {
      std::fprintf(stderr, "pack_payload: missing installer file: %s\n",
                   (releaseFolder / file.fileName).string().c_str());
      ++missing;
    }
    inputs.push_back(found);
  }
  std::error_code error;
  if (!launcher.empty() && !fs::is_regular_file(launcher, error)) {
    std::fprintf(stderr, "pack_payload: missing launcher: %s\n", launcher.string().c_str());
    ++missing;
  }
  if (missing != 0) {
    std::fprintf(stderr,
                 "pack_payload: %d file(s) missing; the release folder (UPDATER_PAYLOAD_DIR) must "
                 "hold all ten installer files.\n",
                 missing);
    return 1;
  }

  if (maxPayload != 0) {
    unsigned long long total = 0;
    for (const fs::path& input : inputs) total += fs::file_size(input, error);
    if (!launcher.empty()) total += fs::file_size(launcher, error);
    if (error) {
      std::fprintf(stderr, "pack_payload: cannot read the size of an input: %s\n",
                   error.message().c_str());
      return 1;
    }
    if (total > maxPayload) {
      std::fprintf(stderr,
                   "pack_payload: the installer files and the launcher come to %llu bytes "
                   "(%.1f MiB), over the limit of %llu bytes (%.1f MiB): the 32-bit Updater.exe "
                   "could not be loaded with them (no window, or no process at all). Ship a "
                   "smaller release.\n",
                   total, total / 1048576.0, maxPayload, maxPayload / 1048576.0);
      return 1;
    }
  }

  fs::create_directories(outputFolder, error);
  if (error) {
    std::fprintf(stderr, "pack_payload: cannot create %s: %s\n", outputFolder.string().c_str(),
                 error.message().c_str());
    return 1;
  }

  std::vector<unsigned char> key(kKeyStreamSize);
  FillKeyStream(key.data(), kKeyStreamSize);

  std::string script =
      "// Generated by pack_payload: the new release's setup files, scrambled, and the resume\n"
      "// launcher. Do not edit.\n"
      "LANGUAGE LANG_JAPANESE, SUBLANG_DEFAULT\n\n";
  auto addLine = [&script](int id, const fs::path& file) {
    std::string quoted;
    if (!QuoteForResourceScript(fs::absolute(file).string(), &quoted)) {
      std::fprintf(stderr, "pack_payload: path cannot be written into a resource script: %s\n",
                   file.string().c_str());
      return false;
    }
    script += std::to_string(id) + " ZELNA " + quoted + "\n";
    return true;
  };

  for (size_t i = 0; i < inputs.size(); ++i) {
    std::vector<unsigned char> bytes;
    if (!ReadAll(inputs[i], &bytes)) {
      std::fprintf(stderr, "pack_payload: cannot read %s\n", inputs[i].string().c_str());
      return 1;
    }
    // Byte k of the file is XORed with key byte (k mod block size).
    for (size_t offset = 0; offset < bytes.size(); offset += kKeyStreamSize) {
      const size_t left = bytes.size() - offset;
      const unsigned chunk = static_cast<unsigned>(left < kKeyStreamSize ? left : kKeyStreamSize);
      XorWithKeyStream(bytes.data() + offset, key.data(), chunk);
    }
    const fs::path scrambled = outputFolder / kPayloadFiles[i].fileName;
    if (!WriteIfChanged(scrambled, bytes)) {
      std::fprintf(stderr, "pack_payload: cannot write %s\n", scrambled.string().c_str());
      return 1;
    }
    if (!addLine(kPayloadFiles[i].resourceId, scrambled)) return 1;
  }

  if (!launcher.empty()) {
    std::vector<unsigned char> bytes;
    const fs::path copy = outputFolder / kLauncherFileName;
    if (!ReadAll(launcher, &bytes) || !WriteIfChanged(copy, bytes)) {
      std::fprintf(stderr, "pack_payload: cannot copy the launcher %s\n",
                   launcher.string().c_str());
      return 1;
    }
    if (!addLine(kLauncherResourceId, copy)) return 1;
  }

  if (!WriteIfChanged(scriptPath, std::vector<unsigned char>(script.begin(), script.end()))) {
    std::fprintf(stderr, "pack_payload: cannot write %s\n", scriptPath.string().c_str());
    return 1;
  }
  return 0;
}
