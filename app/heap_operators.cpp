// The updater's operator new and delete. The program is built without C++ exceptions, so an
// allocation that fails cannot throw: like every other allocation of the updater it ends the
// process with the system's out-of-memory text instead.
#include <cstddef>
#include <new>

#include "base/heap_text.h"

void* operator new(std::size_t bytes) { return base::HeapAllocate(bytes); }
void* operator new[](std::size_t bytes) { return base::HeapAllocate(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  return base::HeapAllocate(bytes);
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
  return base::HeapAllocate(bytes);
}
void operator delete(void* block) noexcept { base::HeapRelease(block); }
void operator delete[](void* block) noexcept { base::HeapRelease(block); }
void operator delete(void* block, std::size_t) noexcept { base::HeapRelease(block); }
void operator delete[](void* block, std::size_t) noexcept { base::HeapRelease(block); }
