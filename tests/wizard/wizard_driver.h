// Drives the updater's wizard from outside, as a user would: starts Updater.exe, finds its window
// by the title, reads the current page, texts and buttons, presses buttons, answers message boxes.
#ifndef TESTS_WIZARD_WIZARD_DRIVER_H_
#define TESTS_WIZARD_WIZARD_DRIVER_H_

#include <windows.h>

#include <functional>
#include <string>

#include "engine/plan/update_plan.h"  // the pages by index (PageIndex) and their names

namespace wizard_testing {

// The wizard's title bar text.
extern const wchar_t kWizardTitle[];

// Sheet buttons.
constexpr int kBackButton = 0x3023;
constexpr int kNextButton = 0x3024;
constexpr int kFinishButton = 0x3025;
constexpr int kCancelButton = IDCANCEL;

struct ButtonState {
  bool visible;
  bool enabled;
};

struct MessageBoxSeen {
  std::wstring caption;
  std::wstring text;
  HWND owner;
  HWND window;
  // The system icon it shows: "information", "warning", "error", "question" or "none"; "" when
  // what it shows is none of these.
  std::wstring icon;
};

class WizardDriver {
 public:
  WizardDriver() = default;
  ~WizardDriver();  // ends a process that is still running
  WizardDriver(const WizardDriver&) = delete;
  WizardDriver& operator=(const WizardDriver&) = delete;

  // Starts the program (default: Updater.exe beside the test program). False when it cannot start.
  bool Start(const std::wstring& exePath = L"");
  // Lets the process run on without this driver (it is not ended when the driver goes).
  void Detach();
  // Finds a wizard that another program started and takes it over; false on time-out.
  bool Attach(DWORD timeoutMs = 20000);
  // Waits for the wizard window of the started process; false on time-out.
  bool WaitForWizard(DWORD timeoutMs = 20000);
  HWND sheet() const { return sheet_; }

  // Index of the current page (PageIndex), or -1.
  int CurrentPage() const;
  // Waits until the current page is `index` and the sheet is visible.
  bool WaitForPage(int index, DWORD timeoutMs = 20000) const;
  // The same; `atFirstSight` runs in the very poll that first finds `index` as the current page
  // (visible or not yet), so that it sees the machine as it was when the page came up.
  bool WaitForPage(int index, DWORD timeoutMs, const std::function<void()>& atFirstSight) const;
  // The text of a control on the current page.
  std::wstring PageText(int controlId) const;
  std::wstring Title() const;
  // Where the current page starts, in the sheet's client coordinates (below the header band of a
  // Wizard97 sheet); -1 when there is no page.
  int PageTop() const;
  std::wstring ButtonText(int id) const;
  ButtonState Button(int id) const;
  bool SheetVisible() const { return sheet_ && IsWindowVisible(sheet_); }

  // Presses a sheet button (PSBTN_NEXT, PSBTN_FINISH, PSBTN_CANCEL, ...).
  void Press(int psbtn) const;
  // Sends the system menu's Close.
  void Close() const;
  // Types a key `times` times on the real keyboard input (SendInput) into the wizard, brought to
  // the front first: the keys wait in its input queue as a user's would.
  void TypeKey(WORD virtualKey, int times) const;

  // Waits for a message box of the process, records it and presses its OK button.
  bool AnswerMessageBox(MessageBoxSeen* seen, DWORD timeoutMs = 20000) const;
  // Waits for a message box of the process and records it, leaving it up.
  bool WaitForMessageBox(MessageBoxSeen* seen, DWORD timeoutMs = 20000) const;
  // Presses the OK button (or Cancel when there is none) of a box found by WaitForMessageBox.
  static void DismissMessageBox(const MessageBoxSeen& seen);
  // Presses the button with this id (IDRETRY, IDCANCEL, ...) of a box found by WaitForMessageBox.
  static void PressMessageBoxButton(const MessageBoxSeen& seen, int id);
  // Whether the process has a wizard window at all (shown or hidden).
  bool HasWizardWindow() const;

  // Waits for the process to end; its exit code, or -1 on time-out.
  int WaitForExit(DWORD timeoutMs = 20000);
  bool Running() const;
  DWORD pid() const { return pid_; }

  // Saves what the screen shows of the wizard as a 24-bit BMP file.
  bool SaveScreenshot(const std::wstring& path) const;

  // Lets pending posted button changes reach the sheet.
  void Settle() const;

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HWND sheet_ = nullptr;
};

// Folder of the test program (Updater.exe is built beside it).
std::wstring ProgramFolder();

}  // namespace wizard_testing

#endif  // TESTS_WIZARD_WIZARD_DRIVER_H_
