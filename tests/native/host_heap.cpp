// base/heap_text.h's allocation functions for the build machine, where the decisions of
// engine/plan are tested natively: the C library's heap instead of the process heap of Windows.
#include <cstdio>
#include <cstdlib>

#include "base/heap_text.h"

namespace base {

void ExitOutOfMemory() {
  std::fputs("out of memory\n", stderr);
  std::abort();
}

void* HeapAllocate(size_t bytes) {
  void* block = std::malloc(bytes != 0 ? bytes : 1);
  if (block == nullptr) ExitOutOfMemory();
  return block;
}

void* HeapReallocate(void* block, size_t bytes) {
  void* moved = std::realloc(block, bytes != 0 ? bytes : 1);
  if (moved == nullptr) ExitOutOfMemory();
  return moved;
}

void HeapRelease(void* block) { std::free(block); }

}  // namespace base
