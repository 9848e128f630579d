#include "base/heap_text.h"

#include <windows.h>

namespace base {

void ExitOutOfMemory() {
  // Nothing here may allocate: the text goes into a buffer on the stack.
  char text[512];
  if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     ERROR_NOT_ENOUGH_MEMORY, 0, text, sizeof(text), nullptr) == 0) {
    lstrcpynA(text, "Not enough memory.", sizeof(text));
  }
  MessageBoxA(nullptr, text, nullptr, MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
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
