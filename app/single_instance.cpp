#include "app/single_instance.h"

#include <sddl.h>

#include "base/scoped.h"
#include "engine/core/product_constants.h"
#include "res/resource.h"

namespace {

// Protected: full access for Administrators and SYSTEM, no one else, nothing inherited.
constexpr char kObjectSecurity[] = "D:P(A;;GA;;;BA)(A;;GA;;;SY)";
constexpr wchar_t kDialogClass[] = L"#32770";

// Private namespaces came with Windows Vista's kernel32 (and are missing from Wine): bound at run
// time, so that the program still starts where they are not.
using CreateBoundaryDescriptorFunction = HANDLE(WINAPI*)(LPCWSTR, ULONG);
using AddSidToBoundaryDescriptorFunction = BOOL(WINAPI*)(HANDLE*, PSID);
using DeleteBoundaryDescriptorFunction = VOID(WINAPI*)(HANDLE);
using CreatePrivateNamespaceFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
using OpenPrivateNamespaceFunction = HANDLE(WINAPI*)(LPVOID, LPCWSTR);

template <typename Function>
Function Bind(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

// A boundary descriptor, deleted with DeleteBoundaryDescriptor.
class ScopedBoundary {
 public:
  ScopedBoundary(HANDLE boundary, DeleteBoundaryDescriptorFunction remove)
      : boundary_(boundary), remove_(remove) {}
  ~ScopedBoundary() {
    if (boundary_ != nullptr && remove_ != nullptr) remove_(boundary_);
  }
  ScopedBoundary(const ScopedBoundary&) = delete;
  ScopedBoundary& operator=(const ScopedBoundary&) = delete;
  HANDLE* receive() { return &boundary_; }
  HANDLE get() const { return boundary_; }

 private:
  HANDLE boundary_;
  DeleteBoundaryDescriptorFunction remove_;
};

// Held for the whole run; the system releases them when the process ends. (A private namespace
// handle stays open: closing it would let the namespace go while the mutex in it is held.)
base::ScopedHandle g_mutex;
HANDLE g_namespace = nullptr;

// The updater mutex in the private namespace bounded by the Administrators SID: made here, or
// opened when another updater made the namespace. No handle (and *available false) where the
// system has no private namespaces or this process cannot have this one.
base::ScopedHandle CreatePrivateMutex(SECURITY_ATTRIBUTES* attributes, bool* available) {
  *available = false;
  const auto createBoundary = Bind<CreateBoundaryDescriptorFunction>("CreateBoundaryDescriptorW");
  const auto addSid = Bind<AddSidToBoundaryDescriptorFunction>("AddSIDToBoundaryDescriptor");
  const auto deleteBoundary = Bind<DeleteBoundaryDescriptorFunction>("DeleteBoundaryDescriptor");
  const auto createNamespace = Bind<CreatePrivateNamespaceFunction>("CreatePrivateNamespaceW");
  const auto openNamespace = Bind<OpenPrivateNamespaceFunction>("OpenPrivateNamespaceW");
  if (createBoundary == nullptr || addSid == nullptr || deleteBoundary == nullptr ||
      createNamespace == nullptr || openNamespace == nullptr) {
    return {};
  }
  ScopedBoundary boundary(createBoundary(product::kInstanceBoundaryName, 0), deleteBoundary);
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(administrators);
  if (boundary.get() == nullptr ||
      !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) ||
      !addSid(boundary.receive(), administrators)) {
    return {};
  }
  HANDLE space = createNamespace(attributes, boundary.get(), product::kInstanceNamespaceAlias);
  if (space == nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    space = openNamespace(boundary.get(), product::kInstanceNamespaceAlias);
  }
  if (space == nullptr) return {};
  g_namespace = space;
  *available = true;
  return base::ScopedHandle(CreateMutexW(attributes, FALSE, product::kInstanceMutexName));
}

// The running wizard to the front: restored when minimised, left alone while it is hidden (it hides
// itself while an external program runs). A box it shows comes up with it. False when no wizard
// is to be seen.
bool BringRunningWizardForward() {
  wchar_t caption[256];
  if (LoadStringW(GetModuleHandleW(nullptr), IDS_CAPTION, caption, 256) <= 0) return false;
  const HWND wizard = FindWindowW(kDialogClass, caption);
  if (wizard == nullptr || !IsWindowVisible(wizard)) return false;
  if (IsIconic(wizard)) ShowWindow(wizard, SW_RESTORE);
  SetForegroundWindow(GetLastActivePopup(wizard));
  return true;
}

}  // namespace

InstanceClaim ClaimSingleInstance() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kObjectSecurity, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    descriptor = nullptr;
  }
  base::ScopedLocalMemory ownedDescriptor(descriptor);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
  SECURITY_ATTRIBUTES* secured = descriptor != nullptr ? &attributes : nullptr;

  bool privateNamespace = false;
  base::ScopedHandle mutex = CreatePrivateMutex(secured, &privateNamespace);
  if (!privateNamespace) {
    mutex.reset(CreateMutexA(secured, FALSE, product::kGlobalInstanceMutexName));
  }
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || (!mutex && error == ERROR_ACCESS_DENIED)) {
    // In the private namespace only another updater can hold it, whether its wizard is to be seen
    // or hidden; in the global one anybody may have made it first.
    if (BringRunningWizardForward() || privateNamespace) return InstanceClaim::kAlreadyRunning;
    return InstanceClaim::kBlocked;
  }
  g_mutex = std::move(mutex);
  return InstanceClaim::kClaimed;
}
