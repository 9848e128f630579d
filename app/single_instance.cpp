#include "app/single_instance.h"

#include <sddl.h>

#include "base/scoped.h"
#include "res/resource.h"

namespace {

constexpr char kMutexName[] = "Global\\TidemarkSXUpdater";
// Protected: full access for Administrators and SYSTEM, no one else, nothing inherited.
constexpr char kMutexSecurity[] = "D:P(A;;GA;;;BA)(A;;GA;;;SY)";
constexpr wchar_t kDialogClass[] = L"#32770";

// Held for the whole run; the system releases it when the process ends.
base::ScopedHandle g_mutex;

// The running wizard to the front: restored when minimised, left alone while it is hidden (it hides
// itself while an external program runs). A box it shows comes up with it.
void BringRunningWizardForward() {
  wchar_t caption[256];
  if (LoadStringW(GetModuleHandleW(nullptr), IDS_CAPTION, caption, 256) <= 0) return;
  const HWND wizard = FindWindowW(kDialogClass, caption);
  if (wizard == nullptr || !IsWindowVisible(wizard)) return;
  if (IsIconic(wizard)) ShowWindow(wizard, SW_RESTORE);
  SetForegroundWindow(GetLastActivePopup(wizard));
}

}  // namespace

BOOL ClaimSingleInstance() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kMutexSecurity, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    descriptor = nullptr;
  }
  base::ScopedLocalMemory ownedDescriptor(descriptor);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
  base::ScopedHandle mutex(CreateMutexA(descriptor != nullptr ? &attributes : nullptr, FALSE,
                                        kMutexName));
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || (!mutex && error == ERROR_ACCESS_DENIED)) {
    BringRunningWizardForward();
    return FALSE;
  }
  g_mutex = std::move(mutex);
  return TRUE;
}
