// Small owners for the system handles the updater uses, so that every early return releases what
// was acquired. Each owner closes its handle exactly once, in its destructor or in reset().
#ifndef BASE_SCOPED_H_
#define BASE_SCOPED_H_

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <utility>

namespace base {

// Generic owner. Traits supply: static T Invalid(); static bool IsValid(T); static void Close(T).
template <typename T, typename Traits>
class ScopedGeneric {
 public:
  ScopedGeneric() : value_(Traits::Invalid()) {}
  explicit ScopedGeneric(T value) : value_(value) {}
  ~ScopedGeneric() { reset(); }
  ScopedGeneric(ScopedGeneric&& other) noexcept : value_(other.release()) {}
  ScopedGeneric& operator=(ScopedGeneric&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedGeneric(const ScopedGeneric&) = delete;
  ScopedGeneric& operator=(const ScopedGeneric&) = delete;

  T get() const { return value_; }
  bool valid() const { return Traits::IsValid(value_); }
  explicit operator bool() const { return valid(); }
  // For out-parameters: releases the current handle and hands out the slot.
  T* receive() {
    reset();
    return &value_;
  }
  T release() {
    T value = value_;
    value_ = Traits::Invalid();
    return value;
  }
  void reset(T value = Traits::Invalid()) {
    if (Traits::IsValid(value_)) Traits::Close(value_);
    value_ = value;
  }

 private:
  T value_;
};

struct RegKeyTraits {
  static HKEY Invalid() { return nullptr; }
  static bool IsValid(HKEY key) { return key != nullptr; }
  static void Close(HKEY key) { RegCloseKey(key); }
};
// An open registry key.
using ScopedRegKey = ScopedGeneric<HKEY, RegKeyTraits>;

struct HandleTraits {
  static HANDLE Invalid() { return nullptr; }
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
// A kernel handle; both NULL and INVALID_HANDLE_VALUE count as "no handle".
using ScopedHandle = ScopedGeneric<HANDLE, HandleTraits>;

struct FindHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(HANDLE h) { FindClose(h); }
};
// A FindFirstFile listing.
using ScopedFindHandle = ScopedGeneric<HANDLE, FindHandleTraits>;

struct LibraryTraits {
  static HMODULE Invalid() { return nullptr; }
  static bool IsValid(HMODULE m) { return m != nullptr; }
  static void Close(HMODULE m) { FreeLibrary(m); }
};
// A module loaded with LoadLibrary.
using ScopedLibrary = ScopedGeneric<HMODULE, LibraryTraits>;

struct LocalMemoryTraits {
  static void* Invalid() { return nullptr; }
  static bool IsValid(void* p) { return p != nullptr; }
  static void Close(void* p) { LocalFree(p); }
};
// Memory the system allocated for the caller (FormatMessage, ConvertSidToStringSid).
using ScopedLocalMemory = ScopedGeneric<void*, LocalMemoryTraits>;

struct GdiObjectTraits {
  static HGDIOBJ Invalid() { return nullptr; }
  static bool IsValid(HGDIOBJ o) { return o != nullptr; }
  static void Close(HGDIOBJ o) { DeleteObject(o); }
};
// A GDI object (bitmap, font ...).
using ScopedGdiObject = ScopedGeneric<HGDIOBJ, GdiObjectTraits>;

template <typename T>
struct ComInterfaceTraits {
  static T* Invalid() { return nullptr; }
  static bool IsValid(T* p) { return p != nullptr; }
  static void Close(T* p) { p->Release(); }
};
// A COM interface pointer; receive() as void** for QueryInterface and CoCreateInstance.
template <typename T>
using ScopedComInterface = ScopedGeneric<T*, ComInterfaceTraits<T>>;
template <typename T>
void** ReceiveInterface(ScopedComInterface<T>* owner) {
  return reinterpret_cast<void**>(owner->receive());
}

struct BstrTraits {
  static BSTR Invalid() { return nullptr; }
  static bool IsValid(BSTR s) { return s != nullptr; }
  static void Close(BSTR s) { SysFreeString(s); }
};
// A string allocated with SysAllocString.
using ScopedBstr = ScopedGeneric<BSTR, BstrTraits>;

// COM on the calling thread (single-threaded apartment) for the owner's lifetime. A thread that
// already has COM keeps its own apartment.
class ScopedComApartment {
 public:
  ScopedComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ScopedComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ScopedComApartment(const ScopedComApartment&) = delete;
  ScopedComApartment& operator=(const ScopedComApartment&) = delete;
  // False only when COM could not be used at all.
  bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT result_;
};

// A block from the process heap. Allocation failure leaves get() == nullptr.
class ScopedHeapBlock {
 public:
  explicit ScopedHeapBlock(SIZE_T size) : block_(HeapAlloc(GetProcessHeap(), 0, size)) {}
  ~ScopedHeapBlock() {
    if (block_) HeapFree(GetProcessHeap(), 0, block_);
  }
  ScopedHeapBlock(const ScopedHeapBlock&) = delete;
  ScopedHeapBlock& operator=(const ScopedHeapBlock&) = delete;

  template <typename T = unsigned char>
  T* as() const {
    return static_cast<T*>(block_);
  }
  void* get() const { return block_; }
  explicit operator bool() const { return block_ != nullptr; }
  // Hands the block to a new owner (who frees it with HeapFree).
  void* release() { return std::exchange(block_, nullptr); }

 private:
  void* block_;
};

// Restores the GetLastError() value it found when it goes out of scope.
class ScopedLastError {
 public:
  ScopedLastError() : error_(GetLastError()) {}
  ~ScopedLastError() { SetLastError(error_); }
  ScopedLastError(const ScopedLastError&) = delete;
  ScopedLastError& operator=(const ScopedLastError&) = delete;

 private:
  DWORD error_;
};

}  // namespace base

#endif  // BASE_SCOPED_H_
