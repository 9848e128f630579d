#include "base/heap_text.h"

#include <windows.h>

#include "base/exit_code.h"

namespace base {

namespace {

HWND (*g_outOfMemoryOwner)() = nullptr;

// The executable's file name without its folder and extension into caption[size]: the caption of
// every box of the program. Nothing is allocated.
void GetProgramCaption(wchar_t* caption, int size) {
  wchar_t path[MAX_PATH * 2];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  if (length == 0 || length >= MAX_PATH * 2) {
    lstrcpynW(caption, L"Updater", size);
    return;
  }
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p != L'\0'; ++p) {
    if (*p == L'\\' || *p == L'/') name = p + 1;
  }
  lstrcpynW(caption, name, size);
  wchar_t* dot = nullptr;
  for (wchar_t* p = caption; *p != L'\0'; ++p) {
    if (*p == L'.') dot = p;
  }
  if (dot != nullptr && dot != caption) *dot = L'\0';
}

}  // namespace

void RegisterOutOfMemoryOwner(HWND (*owner)()) { g_outOfMemoryOwner = owner; }

void ShowOutOfMemoryBox() {
  // Nothing here may allocate: the texts go into buffers on the stack.
  wchar_t text[512];
  if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     ERROR_NOT_ENOUGH_MEMORY, 0, text, sizeof(text) / sizeof(text[0]),
                     nullptr) == 0) {
    lstrcpynW(text, L"\x30E1\x30E2\x30EA\x304C\x4E0D\x8DB3\x3057\x3066\x3044\x307E\x3059\x3002",
              sizeof(text) / sizeof(text[0]));  // "メモリが不足しています。"
  }
  wchar_t caption[MAX_PATH];
  GetProgramCaption(caption, MAX_PATH);
  // Like every other box of the program: owned by the wizard when there is one, exclamation icon.
  HWND owner = g_outOfMemoryOwner != nullptr ? g_outOfMemoryOwner() : nullptr;
  if (owner != nullptr && !IsWindow(owner)) owner = nullptr;
  const UINT modality = owner == nullptr ? MB_TASKMODAL : 0;
  MessageBoxW(owner, text, caption, MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND | modality);
}

void ExitOutOfMemory() {
  ShowOutOfMemoryBox();
  ExitProcess(static_cast<UINT>(ExitCodeValue(ExitCode::kFailed)));
}

void* HeapAllocate(size_t bytes) {
  void* block = HeapAlloc(GetProcessHeap(), 0, bytes != 0 ? bytes : 1);
  if (block == nullptr) ExitOutOfMemory();
  return block;
}

void* HeapReallocate(void* block, size_t bytes) {
  if (block == nullptr) return HeapAllocate(bytes);
  void* moved = HeapReAlloc(GetProcessHeap(), 0, block, bytes != 0 ? bytes : 1);
  if (moved == nullptr) ExitOutOfMemory();
  return moved;
}

void HeapRelease(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace base
