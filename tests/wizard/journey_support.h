// What an update journey needs around the wizard: installing the stand-in old release, capturing
// the user's data before and comparing it after, and leaving the machine clean.
#ifndef TESTS_WIZARD_JOURNEY_SUPPORT_H_
#define TESTS_WIZARD_JOURNEY_SUPPORT_H_

#include <windows.h>

#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace wizard_testing {

// Everything of the user's that an update must keep.
struct UserData {
  bool hasLog = false;
  std::string log;  // bytes of Tidemark.log
  std::map<std::string, std::pair<DWORD, std::string>>
      settings;  // "sub\\key|value" -> (type, data)
  bool hasRunValue = false;
  std::string runValue;  // data of the Run value "Tidemark"

  std::string Serialize() const;
  static bool Deserialize(const std::string& text, UserData* out);
};

UserData CaptureUserData();

// Every old value must be back with its type and data; the new release may add values of its own.
void ExpectUserDataKept(const UserData& before, const UserData& after);

// Removes every trace of the product, the updater and the stand-ins from the machine.
void CleanMachine();

// The updater's work folders in the common application-data folder (plain folders only).
std::vector<std::string> WorkFolders();

// Lines of the stand-in product's start record (C:\tidemark-standin\starts.log).
int ProductStartCount();
std::string LastProductStart();
// Waits until the product has recorded `count` starts (it runs on its own, after the wizard moved).
bool WaitForProductStarts(int count, DWORD timeoutMs = 15000);

// The updater's resume registration and working state.
// The Run value's raw data (with the stored NUL) and, when asked, its type.
bool ResumeRunValue(std::string* data, DWORD* type = nullptr);
bool UpdaterKeyExists();
std::string UpdaterString(const char* valueName);
// Marking as stored: its number when it is a REG_DWORD of four bytes, else kNoMarking.
constexpr DWORD kNoMarking = 0xFFFFFFFF;
DWORD UpdaterMarking();

// The text of the run log the updater with this process id wrote ("" when there is none).
std::string RunLogOf(DWORD pid);

// Waits (at most timeoutMs) until no process of these file names runs.
void WaitForProgramsToEnd(std::initializer_list<const char*> names, DWORD timeoutMs = 30000);

// Closes every running stand-in product that stays (as its user would) and waits until it has
// ended; true when none runs any more.
bool CloseRunningProduct();

// Ends every running Updater.exe of this build: the one beside the test program and the copies in
// work folders.
void EndRunningUpdaters();

}  // namespace wizard_testing

#endif  // TESTS_WIZARD_JOURNEY_SUPPORT_H_
