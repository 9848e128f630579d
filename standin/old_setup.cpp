// STAND-IN installer of an old release of the product, 2.20.5 (test support only). It lays down
// what a real installation of that release leaves on the machine:
//   - the uninstall registration with "UninstallString" naming the stand-in uninstaller and the
//     removal mode it is to play (--uninstall-mode=clean|restart|cancel|fail, default clean), or
//     a raw command line given with --uninstall-string=<text>;
//   - the product folder with "Tidemark.exe" (the 2.20.5 build from this program's folder, or
//     --product-exe=<file name in this folder>), "Tidemark.log" and one more program file;
//   - the installer's maintenance folder with a file in it;
//   - the current user's settings key with values of several types and a sub-key;
//   - the current user's Run value "Tidemark".
// --no-exe, --no-log, --no-settings, --no-run-value, --no-maintenance and --no-registration skip
// single parts (the last for a release that Windows Installer registered).
// Exit code 0 on success. When something could not be written the exit code names the step in
// its high word (see Step) and the system error code of that step in its low word, so that a
// test that could not set the machine up can say why.
#include <windows.h>

#include <string>

#include "engine/core/product_constants.h"
#include "standin/standin_common.h"

namespace {

// Log lines of the old release; part of the text is Japanese in code page 932, with a character
// whose second byte is 0x5C ("表").
const char kOldLog[] =
    "2026/11/30 08:15:02 Tidemark SX 2.20.5 start\r\n"
    "2026/11/30 08:15:03 \x90\xdd\x92\xe8\x82\xf0\x95\x5c\x8e\xa6 (settings shown)\r\n"
    "2026/11/30 08:16:44 \x83\x65\x83\x58\x83\x67 sample 1 recorded\r\n"
    "2026/11/30 17:42:10 Tidemark SX 2.20.5 stop\r\n";

bool WriteSettings() {
  const char* key = product::kSettingsKey;
  const std::string subkey = std::string(key) + "\\" + standin::kSettingsSubkey;
  const unsigned char placement[] = {0x2c, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                                     0x78, 0x00, 0x00, 0x00, 0x5c, 0x00, 0xff, 0x7f};
  static const char kRecent[] = "C:\\Data\\harbor.tmk\0C:\\Data\\\x95\x5c.tmk\0";
  const std::string recent(kRecent, sizeof(kRecent) - 1);  // both inner terminators
  return standin::SetString(HKEY_CURRENT_USER, key, "UserName", "Taro Yamada") &&
         standin::SetString(HKEY_CURRENT_USER, key, "Language", "ja") &&
         standin::SetDword(HKEY_CURRENT_USER, key, "Interval", 30) &&
         standin::SetDword(HKEY_CURRENT_USER, key, "SchemaVersion", 220) &&
         standin::SetBinary(HKEY_CURRENT_USER, key, "Placement", placement, sizeof(placement)) &&
         standin::SetString(HKEY_CURRENT_USER, key, "RecentFiles", recent, REG_MULTI_SZ) &&
         standin::SetString(HKEY_CURRENT_USER, key, "DataFolder", "%USERPROFILE%\\Tidemark",
                            REG_EXPAND_SZ) &&
         standin::SetDword(HKEY_CURRENT_USER, subkey.c_str(), "Count", 2) &&
         standin::SetString(HKEY_CURRENT_USER, subkey.c_str(), "Sound", "chime.wav");
}

// The steps of the set-up, as reported in the high word of a failing exit code.
enum Step {
  kStepFolders = 1,
  kStepProductExe,
  kStepLog,
  kStepOtherFile,
  kStepUninstaller,
  kStepMaintenance,
  kStepSettings,
  kStepRunValue,
  kStepRegistration,
};

int Failed(Step step) {
  const DWORD error = GetLastError();
  return static_cast<int>((static_cast<DWORD>(step) << 16) | (error & 0xFFFF));
}

}  // namespace

int main() {
  const std::vector<std::string> args = standin::Arguments();
  const std::string here = standin::ModuleFolder();
  const std::string folder = standin::ProductFolder();
  if (standin::ProgramFilesFolder().empty() || !standin::CreateFolders(folder)) {
    return Failed(kStepFolders);
  }

  if (!standin::HasFlag(args, "--no-exe")) {
    const std::string source =
        here + "\\" + standin::OptionValue(args, "--product-exe", "Tidemark-2.20.5.exe");
    if (!CopyFileA(source.c_str(), (folder + "\\" + product::kMainExecutable).c_str(), FALSE)) {
      return Failed(kStepProductExe);
    }
  }
  if (!standin::HasFlag(args, "--no-log") &&
      !standin::WriteBytes(folder + "\\" + product::kLogFile, kOldLog)) {
    return Failed(kStepLog);
  }
  if (!standin::WriteBytes(folder + "\\" + standin::kLockedFileName,
                           "Tidemark SX 2.20.5 shell extension (stand-in)\r\n")) {
    return Failed(kStepOtherFile);
  }

  // The uninstaller lives beside the product folder, never inside it.
  if (!CopyFileA((here + "\\TidemarkOldUninstall.exe").c_str(), standin::UninstallerPath().c_str(),
                 FALSE)) {
    return Failed(kStepUninstaller);
  }
  if (!standin::HasFlag(args, "--no-maintenance")) {
    const std::string maintenance = standin::MaintenanceFolder();
    if (!standin::CreateFolders(maintenance) ||
        !standin::WriteBytes(maintenance + "\\setup.ilg", "Tidemark SX 2.20.5 install log\r\n")) {
      return Failed(kStepMaintenance);
    }
  }
  if (!standin::HasFlag(args, "--no-settings") && !WriteSettings()) return Failed(kStepSettings);
  if (!standin::HasFlag(args, "--no-run-value") &&
      !standin::SetString(HKEY_CURRENT_USER, product::kRunKey, product::kAutoRunValue,
                          "\"" + folder + "\\" + product::kMainExecutable + "\" /autorun")) {
    return Failed(kStepRunValue);
  }

  const std::string mode = standin::OptionValue(args, "--uninstall-mode", "clean");
  const std::string uninstallString = standin::OptionValue(
      args, "--uninstall-string", "\"" + standin::UninstallerPath() + "\" /mode=" + mode);
  if (!standin::HasFlag(args, "--no-registration") &&
      !standin::WriteUninstallRegistration(uninstallString, "2.20.5")) {
    return Failed(kStepRegistration);
  }
  return 0;
}
