#include "engine/core/error_box.h"

#include "base/bounded_string.h"
#include "base/scoped.h"
#include "engine/core/file_utils.h"
#include "engine/core/run_log.h"

namespace {

ErrorBoxFunction g_showBox = nullptr;
OwnerWindowFunction g_ownerWindow = nullptr;

}  // namespace

void RegisterErrorBox(ErrorBoxFunction show) { g_showBox = show; }

void RegisterOwnerWindow(OwnerWindowFunction owner) { g_ownerWindow = owner; }

HWND GetOwnerWindow() { return g_ownerWindow ? g_ownerWindow() : nullptr; }

void ShowSystemErrorBox(DWORD code) { ShowSystemErrorBoxAbout(code, nullptr); }

void ShowSystemErrorBoxAbout(DWORD code, const char* subject) {
  RunLogFailure(subject != nullptr && subject[0] != '\0' ? subject : "shown to the user", code);
  if (g_showBox == nullptr) return;
  base::ScopedLocalMemory text(GetSystemErrorText(code));
  char fallback[64];
  const char* shown = static_cast<const char*>(text.get());
  if (shown == nullptr || shown[0] == '\0') {
    base::FormatBounded(fallback, sizeof(fallback), "System error %lu (0x%08lX).",
                        static_cast<unsigned long>(code), static_cast<unsigned long>(code));
    shown = fallback;
  }
  char withSubject[1024];
  int length = lstrlenA(shown);
  while (length > 0 && (shown[length - 1] == '\r' || shown[length - 1] == '\n')) --length;
  if (subject != nullptr && subject[0] != '\0' &&
      base::FormatBounded(withSubject, sizeof(withSubject), "%.*s\r\n\r\n%s", length, shown,
                          subject)) {
    shown = withSubject;
  }
  g_showBox(shown, MB_OK | MB_ICONEXCLAMATION);
}

void ShowErrorText(const char* text) {
  if (g_showBox != nullptr) g_showBox(text, MB_OK | MB_ICONEXCLAMATION);
}
