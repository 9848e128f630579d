// STAND-IN setup program of the new release 2.30.111 (test support only), shipped as "setup.exe"
// among the ten installer files. It installs from the files beside it:
//   setup.ini  — the product name and version and the size of every other installer file, each
//                checked before anything is written;
//   data1.hdr  — the index of data1.cab: its entry count and total size;
//   data1.cab  — the files to install, in the stand-in cabinet format (see ReadCabinet), each
//                checked against its recorded size and MD5;
//   setup.inx  — the default per-user settings of the new release.
// It installs "Tidemark.exe" (FileVersion 2.30.111), a fresh "Tidemark.log" and one more file
// into the product folder, the stand-in uninstaller beside it, the maintenance folder, the
// per-user settings defaults and, last, the uninstall registration.
// A test chooses a failure without touching the updater: the environment variable
// TIDEMARK_STANDIN_SETUP, or else the marker file C:\tidemark-standin\setup-mode.txt (which also
// works after a simulated restart), holding "fail" (some files written, no registration, exit
// code 1603) or "cancel" (nothing written, exit code 1602). A damaged or incomplete set of
// installer files ends it with exit code 2 before anything is written. Two more modes play real
// setups: "hand-over" (the first process starts a copy of itself and returns 0 at once; the child
// waits until it has ended, pauses, then installs from the same folder) and "start-product" (the
// installed product is started at the end and keeps running, with "/stay").
// Each start is recorded in C:\tidemark-standin\setup.log.
#include <windows.h>
#include <wincrypt.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "engine/core/product_constants.h"
#include "standin/standin_common.h"

namespace {

constexpr char kCabinetMagic[] = "TMKSTANDINCAB 1";

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::string Md5Hex(const std::string& bytes) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  std::string result;
  if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    return result;
  }
  if (CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
    BYTE digest[16];
    DWORD length = sizeof(digest);
    if (CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()),
                      static_cast<DWORD>(bytes.size()), 0) &&
        CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) && length == sizeof(digest)) {
      static const char kHex[] = "0123456789abcdef";
      for (BYTE b : digest) {
        result += kHex[b >> 4];
        result += kHex[b & 15];
      }
    }
    CryptDestroyHash(hash);
  }
  CryptReleaseContext(provider, 0);
  return result;
}

std::string SetupMode() {
  char value[64] = "";
  if (GetEnvironmentVariableA("TIDEMARK_STANDIN_SETUP", value, sizeof(value)) > 0 &&
      value[0] != '\0') {
    return Lower(Trim(value));
  }
  std::string marker;
  if (standin::ReadBytes(std::string(standin::kTraceFolder) + "\\setup-mode.txt", &marker)) {
    return Lower(Trim(marker));
  }
  return "";
}

std::string IniValue(const std::string& ini, const char* section, const char* key) {
  char value[256] = "";
  GetPrivateProfileStringA(section, key, "", value, sizeof(value), ini.c_str());
  return value;
}

// Every installer file that setup.ini lists must be there with exactly the listed size.
bool CheckInstallerFiles(const std::string& here) {
  const std::string ini = here + "\\setup.ini";
  if (IniValue(ini, "Startup", "ProductVersion") != product::kTargetVersion) return false;
  char names[4096] = "";
  const DWORD length =
      GetPrivateProfileStringA("Files", nullptr, "", names, sizeof(names), ini.c_str());
  int count = 0;
  for (const char* name = names; name < names + length && *name; name += lstrlenA(name) + 1) {
    const std::string expected = IniValue(ini, "Files", name);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA((here + "\\" + name).c_str(), GetFileExInfoStandard, &data)) {
      return false;
    }
    if (data.nFileSizeHigh != 0 || std::to_string(data.nFileSizeLow) != expected) return false;
    ++count;
  }
  return count == 8;  // the ten installer files less setup.ini and setup.exe
}

// The stand-in cabinet: the line "TMKSTANDINCAB 1", then per file the line
// "FILE <name> <size> <md5 in lowercase hex>" followed by exactly <size> bytes, and the line "END".
// Lines end in "\n". Names hold no blanks.
bool ReadCabinet(const std::string& cabinet, std::map<std::string, std::string>* files) {
  size_t position = 0;
  auto readLine = [&](std::string* line) {
    const size_t end = cabinet.find('\n', position);
    if (end == std::string::npos) return false;
    *line = cabinet.substr(position, end - position);
    position = end + 1;
    return true;
  };
  std::string line;
  if (!readLine(&line) || line != kCabinetMagic) return false;
  for (;;) {
    if (!readLine(&line)) return false;
    if (line == "END") return position == cabinet.size();
    char name[128], md5[64];
    unsigned long size = 0;
    if (line.size() > 200 || sscanf(line.c_str(), "FILE %127s %lu %63s", name, &size, md5) != 3 ||
        size > cabinet.size() - position) {
      return false;
    }
    std::string bytes = cabinet.substr(position, size);
    position += size;
    if (Md5Hex(bytes) != md5) return false;
    (*files)[Lower(name)] = bytes;
  }
}

bool CheckCabinetIndex(const std::string& here, const std::string& cabinet, size_t entries) {
  const std::string hdr = here + "\\data1.hdr";
  return IniValue(hdr, "Cabinet", "Size") == std::to_string(cabinet.size()) &&
         IniValue(hdr, "Cabinet", "Entries") == std::to_string(entries);
}

// setup.inx: one default per line, "<type>|<sub-key or empty>|<name>|<data>", type sz, expand
// or dword; lines starting with ';' are comments.
bool WriteSettingsDefaults(const std::string& here) {
  std::string text;
  if (!standin::ReadBytes(here + "\\setup.inx", &text)) return false;
  size_t position = 0;
  int written = 0;
  while (position < text.size()) {
    size_t end = text.find('\n', position);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(position, end - position));
    position = end + 1;
    if (line.empty() || line[0] == ';') continue;
    std::vector<std::string> fields;
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
      const size_t bar = line.find('|', start);
      if (bar == std::string::npos) return false;
      fields.push_back(line.substr(start, bar - start));
      start = bar + 1;
    }
    fields.push_back(line.substr(start));
    std::string key = product::kSettingsKey;
    if (!fields[1].empty()) key += "\\" + fields[1];
    bool ok = false;
    if (fields[0] == "sz") {
      ok = standin::SetString(HKEY_CURRENT_USER, key.c_str(), fields[2].c_str(), fields[3]);
    } else if (fields[0] == "expand") {
      ok = standin::SetString(HKEY_CURRENT_USER, key.c_str(), fields[2].c_str(), fields[3],
                              REG_EXPAND_SZ);
    } else if (fields[0] == "dword") {
      ok = standin::SetDword(HKEY_CURRENT_USER, key.c_str(), fields[2].c_str(),
                             static_cast<DWORD>(strtoul(fields[3].c_str(), nullptr, 10)));
    }
    if (!ok) return false;
    ++written;
  }
  return written > 0;
}

int Install() {
  const std::string here = standin::ModuleFolder();
  const std::string mode = SetupMode();
  if (mode == "cancel") return 1602;

  std::string cabinet;
  std::map<std::string, std::string> files;
  if (!CheckInstallerFiles(here) || !standin::ReadBytes(here + "\\data1.cab", &cabinet) ||
      !ReadCabinet(cabinet, &files) || !CheckCabinetIndex(here, cabinet, files.size())) {
    return 2;
  }
  const char* productFiles[] = {product::kMainExecutable, product::kLogFile,
                                standin::kLockedFileName};
  for (const char* name : productFiles) {
    if (files.count(Lower(name)) == 0) return 2;
  }
  if (files.count(Lower(standin::kUninstallerFileName)) == 0) return 2;

  const std::string folder = standin::ProductFolder();
  if (!standin::CreateFolders(folder)) return 1603;
  if (!standin::WriteBytes(folder + "\\" + product::kMainExecutable,
                           files[Lower(product::kMainExecutable)])) {
    return 1603;
  }
  if (mode == "fail") return 1603;  // the installation broke off half way
  for (const char* name : productFiles) {
    if (!standin::WriteBytes(folder + "\\" + name, files[Lower(name)])) return 1603;
  }
  if (!standin::WriteBytes(standin::UninstallerPath(),
                           files[Lower(standin::kUninstallerFileName)])) {
    return 1603;
  }
  const std::string maintenance = standin::MaintenanceFolder();
  std::string ini;
  if (!standin::CreateFolders(maintenance) || !standin::ReadBytes(here + "\\setup.ini", &ini) ||
      !standin::WriteBytes(maintenance + "\\setup.ini", ini)) {
    return 1603;
  }
  if (!WriteSettingsDefaults(here)) return 1603;
  standin::PauseIfAsked("setup-files");
  // The registration comes last: it exists only when everything else is in place.
  if (!standin::WriteUninstallRegistration("\"" + standin::UninstallerPath() + "\" /mode=clean",
                                           product::kTargetVersion)) {
    return 1603;
  }
  standin::PauseIfAsked("setup-registered");
  return 0;
}

}  // namespace

int main() {
  char cwd[MAX_PATH * 2] = "";
  GetCurrentDirectoryA(sizeof(cwd), cwd);
  const std::vector<std::string> args = standin::Arguments();
  const std::string parent = standin::OptionValue(args, "/after", "");
  int code = 0;
  if (SetupMode() == "hand-over" && parent.empty()) {
    char self[MAX_PATH * 2] = "";
    GetModuleFileNameA(nullptr, self, sizeof(self));
    if (!standin::StartDetached(
            "\"" + std::string(self) + "\" /after=" + std::to_string(GetCurrentProcessId()), cwd)) {
      code = 1603;
    }
  } else {
    if (!parent.empty()) {
      standin::WaitForProcessEnd(static_cast<DWORD>(strtoul(parent.c_str(), nullptr, 10)));
      Sleep(1500);
    }
    code = Install();
    const std::string product = standin::ProductFolder();
    if (code == 0 && SetupMode() == "start-product" &&
        !standin::StartDetached(
            "\"" + product + "\\" + product::kMainExecutable + "\" " + standin::kStayArgument,
            product)) {
      code = 1603;
    }
  }
  standin::AppendTrace("setup.log",
                       std::string(GetCommandLineA()) + "\t" + cwd + "\t" + std::to_string(code));
  return code;
}
