#include "base/heap_text.h"

#include <windows.h>

namespace base {

void ExitOutOfMemory() {
  // Nothing here may allocate: the text goes into a buffer on the stack.
  wchar_t text[512];
  if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     ERROR_NOT_ENOUGH_MEMORY, 0, text, sizeof(text) / sizeof(text[0]),
                     nullptr) == 0) {
    lstrcpynW(text, L"\x30E1\x30E2\x30EA\x304C\x4E0D\x8DB3\x3057\x3066\x3044\x307E\x3059\x3002",
              sizeof(text) / sizeof(text[0]));  // "メモリが不足しています。"
  }
  MessageBoxW(nullptr, text, nullptr, MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
  ExitProcess(1603);  // the updater's exit code for a failed update
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
