// Lists what a built Updater.exe carries, read from the file itself on the build machine: the ten
// embedded setup files (size and SHA-256 of their unscrambled contents), the embedded launcher,
// the file version, the manifest's requested execution level, and who signed Updater.exe and the
// launcher. A release engineer runs it on a release build before shipping it.
//
// Usage: inspect_updater [--require-signature] [--write-launcher <file>] <Updater.exe>
//   exit code 0 when every expected resource was found and, with --require-signature, when
//   Updater.exe and the launcher are both signed by the same signer.
//   --write-launcher writes the embedded launcher out, so that a signature checker can verify it.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/core/key_stream.h"
#include "engine/core/payload_files.h"
#include "tools/sha256.h"
#include "tools/signer.h"

namespace {

constexpr unsigned kLauncherId = 148;
constexpr unsigned kRtVersion = 16;
constexpr unsigned kRtManifest = 24;

class PeFile {
 public:
  bool Load(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Fail(error, "cannot open " + path);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    if (!Parse(std::move(bytes), error)) return false;
    if (resourceRva_ == 0) return Fail(error, "no resources");
    return resourceBase_ != 0 || Fail(error, "resource directory outside the file");
  }

  // Reads the headers of an executable held in memory (the embedded launcher has no resources).
  bool Parse(std::string bytes, std::string* error) {
    bytes_ = std::move(bytes);
    if (U16(0) != 0x5A4D) return Fail(error, "not an executable (no MZ header)");
    const uint32_t pe = U32(0x3C);
    if (pe + 24 > bytes_.size() || U32(pe) != 0x00004550) return Fail(error, "no PE header");
    const uint16_t sections = U16(pe + 6);
    const uint16_t optionalSize = U16(pe + 20);
    const uint32_t optional = pe + 24;
    const uint16_t magic = U16(optional);
    const uint32_t directories = optional + (magic == 0x20B ? 112 : 96);
    resourceRva_ = U32(directories + 2 * 8);
    // The certificate table is the one directory given as a file offset, not an address.
    certificateOffset_ = U32(directories + 4 * 8);
    certificateSize_ = U32(directories + 4 * 8 + 4);
    machine_ = U16(pe + 4);
    for (uint32_t i = 0, s = optional + optionalSize; i < sections; ++i, s += 40) {
      sections_.push_back({U32(s + 12), U32(s + 8), U32(s + 20), U32(s + 16)});
    }
    resourceBase_ = resourceRva_ ? Offset(resourceRva_) : 0;
    return true;
  }

  uint16_t machine() const { return machine_; }

  // The PKCS#7 SignedData of the first Authenticode signature (WIN_CERT_TYPE_PKCS_SIGNED_DATA),
  // or false when the file carries none.
  bool Signature(std::string* der) const {
    const uint64_t end = static_cast<uint64_t>(certificateOffset_) + certificateSize_;
    if (certificateOffset_ == 0 || certificateSize_ < 8 || end > bytes_.size()) return false;
    const uint32_t length = U32(certificateOffset_);
    if (length < 8 || length > certificateSize_ || U16(certificateOffset_ + 6) != 0x0002)
      return false;
    der->assign(bytes_, certificateOffset_ + 8, length - 8);
    return true;
  }

  // Data of the first language of resource type/name (numeric), or false.
  bool FindNumeric(unsigned type, unsigned name, std::string* data) const {
    uint32_t typeDir, nameDir, langDir;
    if (resourceBase_ == 0) return false;
    if (!Child(0, type, nullptr, &typeDir) || !Child(typeDir, name, nullptr, &nameDir))
      return false;
    return FirstEntryData(nameDir, &langDir, data);
  }
  bool FindNamedType(const std::string& type, unsigned name, std::string* data) const {
    uint32_t typeDir, nameDir, langDir;
    if (resourceBase_ == 0) return false;
    if (!Child(0, 0, &type, &typeDir) || !Child(typeDir, name, nullptr, &nameDir)) return false;
    return FirstEntryData(nameDir, &langDir, data);
  }

 private:
  struct Section {
    uint32_t rva, virtualSize, raw, rawSize;
  };
  static bool Fail(std::string* error, const std::string& text) {
    *error = text;
    return false;
  }
  uint16_t U16(size_t at) const {
    return at + 2 <= bytes_.size()
               ? static_cast<uint16_t>(static_cast<unsigned char>(bytes_[at]) |
                                       static_cast<unsigned char>(bytes_[at + 1]) << 8)
               : 0;
  }
  uint32_t U32(size_t at) const { return U16(at) | static_cast<uint32_t>(U16(at + 2)) << 16; }
  uint32_t Offset(uint32_t rva) const {
    for (const Section& s : sections_) {
      const uint32_t size = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
      if (rva >= s.rva && rva < s.rva + size) return rva - s.rva + s.raw;
    }
    return 0;
  }
  std::string NameAt(uint32_t offset) const {
    const uint16_t length = U16(resourceBase_ + offset);
    std::string name;
    for (uint16_t i = 0; i < length; ++i)
      name += static_cast<char>(U16(resourceBase_ + offset + 2 + 2 * i));
    return name;
  }
  // Finds the entry of a resource directory (offset relative to the resource base) by id or name.
  bool Child(uint32_t dir, unsigned id, const std::string* name, uint32_t* child) const {
    const uint32_t at = resourceBase_ + dir;
    const unsigned count = U16(at + 12) + U16(at + 14);
    for (unsigned i = 0; i < count; ++i) {
      const uint32_t entry = at + 16 + 8 * i;
      const uint32_t key = U32(entry);
      const bool matches = name ? (key & 0x80000000u) && NameAt(key & 0x7FFFFFFFu) == *name
                                : !(key & 0x80000000u) && key == id;
      if (matches) {
        *child = U32(entry + 4) & 0x7FFFFFFFu;
        return true;
      }
    }
    return false;
  }
  bool FirstEntryData(uint32_t dir, uint32_t* lang, std::string* data) const {
    const uint32_t at = resourceBase_ + dir;
    if (U16(at + 12) + U16(at + 14) == 0) return false;
    *lang = U32(at + 16);
    const uint32_t leaf = resourceBase_ + (U32(at + 20) & 0x7FFFFFFFu);
    const uint32_t offset = Offset(U32(leaf));
    const uint32_t size = U32(leaf + 4);
    if (offset == 0 || offset + static_cast<size_t>(size) > bytes_.size()) return false;
    data->assign(bytes_, offset, size);
    return true;
  }

  std::string bytes_;
  std::vector<Section> sections_;
  uint32_t resourceRva_ = 0, resourceBase_ = 0;
  uint32_t certificateOffset_ = 0, certificateSize_ = 0;
  uint16_t machine_ = 0;
};

std::string Unscramble(std::string data) {
  static std::vector<unsigned char> key;
  if (key.empty()) {
    key.resize(kKeyStreamSize);
    FillKeyStream(key.data(), kKeyStreamSize);
  }
  for (size_t offset = 0; offset < data.size(); offset += kKeyStreamSize) {
    const size_t chunk =
        data.size() - offset < kKeyStreamSize ? data.size() - offset : kKeyStreamSize;
    XorWithKeyStream(reinterpret_cast<unsigned char*>(&data[offset]), key.data(),
                     static_cast<unsigned>(chunk));
  }
  return data;
}

// FileVersion of the version block's string table (UTF-16 text after the key "FileVersion").
std::string FileVersionString(const std::string& block) {
  const std::u16string key = u"FileVersion";
  std::string keyBytes;
  for (char16_t c : key) {
    keyBytes += static_cast<char>(c & 0xFF);
    keyBytes += static_cast<char>(c >> 8);
  }
  keyBytes.append(2, '\0');
  size_t at = block.find(keyBytes);
  if (at == std::string::npos) return "";
  at += keyBytes.size();
  at = (at + 3) & ~size_t(3);  // value is 32-bit aligned
  std::string value;
  for (; at + 1 < block.size(); at += 2) {
    const unsigned c =
        static_cast<unsigned char>(block[at]) | static_cast<unsigned char>(block[at + 1]) << 8;
    if (c == 0) break;
    value += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return value;
}

std::string FixedVersion(const std::string& block) {
  const std::string signature("\xBD\x04\xEF\xFE", 4);
  const size_t at = block.find(signature);
  if (at == std::string::npos || at + 16 > block.size()) return "";
  auto u16 = [&](size_t p) {
    return static_cast<unsigned>(static_cast<unsigned char>(block[p]) |
                                 static_cast<unsigned char>(block[p + 1]) << 8);
  };
  char text[64];
  snprintf(text, sizeof(text), "%u.%u.%u.%u", u16(at + 10), u16(at + 8), u16(at + 14),
           u16(at + 12));
  return text;
}

std::string ExecutionLevel(const std::string& manifest) {
  const std::string key = "requestedExecutionLevel";
  size_t at = manifest.find(key);
  if (at == std::string::npos) return "(none)";
  at = manifest.find("level=", at);
  if (at == std::string::npos) return "(none)";
  const char quote = manifest[at + 6];
  const size_t end = manifest.find(quote, at + 7);
  return end == std::string::npos ? "(unreadable)" : manifest.substr(at + 7, end - at - 7);
}

// Prints who signed one program; true when it is signed with a signer that could be read.
bool ReportSignature(const char* label, const PeFile& pe, SignerInfo* signer) {
  std::string der, error;
  if (!pe.Signature(&der)) {
    printf("  %-12s not signed\n", label);
    return false;
  }
  if (!ReadSigner(der, signer, &error)) {
    printf("  %-12s signed, signer unreadable: %s\n", label, error.c_str());
    return false;
  }
  printf("  %-12s signed by %s (issuer %s)\n", label, signer->subject.c_str(),
         signer->issuer.c_str());
  return true;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  bool requireSignature = false;
  const char* launcherOut = nullptr;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--require-signature") == 0) {
      requireSignature = true;
    } else if (strcmp(argv[i], "--write-launcher") == 0 && i + 1 < argc) {
      launcherOut = argv[++i];
    } else if (argv[i][0] != '-' && !path) {
      path = argv[i];
    } else {
      path = nullptr;
      break;
    }
  }
  if (!path) {
    fprintf(stderr, "usage: %s [--require-signature] [--write-launcher <file>] <Updater.exe>\n",
            argv[0]);
    return 2;
  }
  PeFile pe;
  std::string error;
  if (!pe.Load(path, &error)) {
    fprintf(stderr, "%s: %s\n", path, error.c_str());
    return 1;
  }
  int missing = 0;
  printf("%s (%s)\n", path,
         pe.machine() == 0x14C    ? "32-bit x86"
         : pe.machine() == 0x8664 ? "64-bit x64"
                                  : "other machine");
  printf("embedded setup files (unscrambled):\n");
  for (const PayloadFile& file : kPayloadFiles) {
    const char* const name = file.fileName;
    const unsigned id = file.resourceId;
    std::string data;
    if (!pe.FindNamedType("ZELNA", id, &data)) {
      printf("  %-12s ZELNA %u  MISSING\n", name, id);
      ++missing;
      continue;
    }
    printf("  %-12s ZELNA %u  %10zu bytes  sha256 %s\n", name, id, data.size(),
           Sha256Hex(Unscramble(data)).c_str());
  }
  std::string launcher;
  if (pe.FindNamedType("ZELNA", kLauncherId, &launcher)) {
    printf("launcher:    ZELNA %u  %10zu bytes  sha256 %s\n", kLauncherId, launcher.size(),
           Sha256Hex(launcher).c_str());
  } else {
    printf("launcher:    ZELNA %u  MISSING\n", kLauncherId);
    ++missing;
  }
  std::string version, manifest;
  if (pe.FindNumeric(kRtVersion, 1, &version)) {
    printf("file version: %s (binary %s)\n", FileVersionString(version).c_str(),
           FixedVersion(version).c_str());
  } else {
    printf("file version: MISSING\n");
    ++missing;
  }
  if (pe.FindNumeric(kRtManifest, 1, &manifest)) {
    printf("manifest execution level: %s\n", ExecutionLevel(manifest).c_str());
  } else {
    printf("manifest: MISSING\n");
    ++missing;
  }

  // Signatures: read, not verified (osslsigncode verify checks them against the trusted roots).
  printf("signatures (who signed; not verified here):\n");
  SignerInfo updaterSigner, launcherSigner;
  const bool updaterSigned = ReportSignature("Updater.exe", pe, &updaterSigner);
  bool launcherSigned = false;
  PeFile launcherPe;
  if (launcher.empty()) {
    printf("  %-12s MISSING\n", "launcher");
  } else if (!launcherPe.Parse(launcher, &error)) {
    printf("  %-12s not a program: %s\n", "launcher", error.c_str());
  } else {
    launcherSigned = ReportSignature("launcher", launcherPe, &launcherSigner);
  }
  const bool sameSigner =
      updaterSigned && launcherSigned && updaterSigner.certificate == launcherSigner.certificate;
  if (updaterSigned && launcherSigned) printf("  same signer: %s\n", sameSigner ? "yes" : "NO");
  bool signatureMissing = false;
  if (requireSignature && !sameSigner) {
    printf("a signed release was required: %s\n",
           !updaterSigned    ? "Updater.exe is not signed"
           : !launcherSigned ? "the embedded launcher is not signed"
                             : "Updater.exe and the launcher have different signers");
    signatureMissing = true;
  }

  if (launcherOut) {
    if (launcher.empty() || !WriteFile(launcherOut, launcher)) {
      fprintf(stderr, "cannot write the embedded launcher to %s\n", launcherOut);
      return 1;
    }
    printf("launcher written to %s\n", launcherOut);
  }
  return missing == 0 && !signatureMissing ? 0 : 1;
}
