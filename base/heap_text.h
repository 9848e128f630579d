// Heap-owned, growable text and arrays for the updater, which is built without C++ exceptions and
// without the standard library's containers (their code and unwind tables would be most of the
// program). Memory comes from the process heap. When it runs out, base::ExitOutOfMemory shows the
// system's text and ends the process: nothing in the updater can go on without the memory, and
// no half-made text is ever used.
//
// The member names follow std::basic_string and std::vector, so the code reads the same.
//
// Which to use. A path or a registry name whose length Windows itself bounds stays in a fixed
// buffer of the size the code already uses (kPathBufferSize, kKeyPathSize), built with the checked
// joins of base/bounded_string.h: it cannot grow, so it cannot run out of memory, and a name too
// long for it is refused where it is made. Text whose length the user or the machine decides (an
// autorun command line, a registry value's data, a list of hive names, a line of the run log) is a
// base::Text or base::WideText, and a list of anything is a base::HeapArray.
#ifndef BASE_HEAP_TEXT_H_
#define BASE_HEAP_TEXT_H_

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

struct HWND__;  // HWND, as <windows.h> declares it with STRICT

namespace base {

// Shows the system's text for ERROR_NOT_ENOUGH_MEMORY (ShowOutOfMemoryBox) and ends the process
// with ExitCode::kFailed (base/exit_code.h).
[[noreturn]] void ExitOutOfMemory();

// The out-of-memory box, as every box of the program is shown: the executable's file name without
// folder and extension as its caption, the exclamation icon, owned by the window the registered
// function gives (the wizard, once it exists; none before). Allocates nothing.
void ShowOutOfMemoryBox();

// Registers where the out-of-memory box's owner comes from; NULL unregisters.
void RegisterOutOfMemoryOwner(::HWND__* (*owner)());

// HeapAlloc / HeapReAlloc / HeapFree on the process heap; the first two never return null.
void* HeapAllocate(size_t bytes);
void* HeapReallocate(void* block, size_t bytes);  // block may be null
void HeapRelease(void* block);                    // block may be null

// A zero-terminated string of Char that owns its buffer. c_str() is never null.
template <typename Char>
class BasicText {
 public:
  static constexpr size_t npos = static_cast<size_t>(-1);

  BasicText() = default;
  BasicText(const Char* text) { assign(text); }  // NOLINT: reads like std::string
  BasicText(const Char* text, size_t length) { assign(text, length); }
  BasicText(const Char* first, const Char* last) {
    assign(first, static_cast<size_t>(last - first));
  }
  BasicText(size_t count, Char fill) { resize(count, fill); }
  BasicText(const BasicText& other) { assign(other.data_, other.size_); }
  BasicText(BasicText&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  BasicText& operator=(const BasicText& other) {
    if (this != &other) assign(other.data_, other.size_);
    return *this;
  }
  BasicText& operator=(BasicText&& other) noexcept {
    if (this != &other) {
      HeapRelease(data_);
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
  }
  BasicText& operator=(const Char* text) { return assign(text); }
  ~BasicText() { HeapRelease(data_); }

  const Char* c_str() const { return data_ != nullptr ? data_ : Empty(); }
  const Char* data() const { return c_str(); }
  // Writable characters [0, size()); null while nothing was ever stored.
  Char* data() { return data_; }
  size_t size() const { return size_; }
  size_t length() const { return size_; }
  bool empty() const { return size_ == 0; }
  // Index size() reads the terminator, also of a text that never held anything.
  Char& operator[](size_t i) {
    if (data_ == nullptr) {
      Reserve(0);
      SetSize(0);
    }
    return data_[i];
  }
  const Char& operator[](size_t i) const { return c_str()[i]; }
  Char* begin() { return data_; }
  Char* end() { return data_ + size_; }
  const Char* begin() const { return c_str(); }
  const Char* end() const { return c_str() + size_; }
  Char back() const { return data_[size_ - 1]; }

  BasicText& assign(const Char* text) { return assign(text, Length(text)); }
  BasicText& assign(const Char* text, size_t length) {
    if (length == 0) {
      clear();
      return *this;
    }
    if (text >= data_ && text < data_ + size_) {  // a part of itself
      BasicText copy(text, length);
      return *this = std::move(copy);
    }
    Reserve(length);
    for (size_t i = 0; i < length; ++i) data_[i] = text[i];
    SetSize(length);
    return *this;
  }
  // The characters [pos, pos + count) of other, count cut at its end.
  BasicText& assign(const BasicText& other, size_t pos, size_t count = npos) {
    if (pos > other.size_) pos = other.size_;
    if (count > other.size_ - pos) count = other.size_ - pos;
    return assign(other.c_str() + pos, count);
  }
  BasicText& append(const Char* text, size_t length) {
    if (length == 0) return *this;
    if (text >= data_ && text < data_ + size_) {
      BasicText copy(text, length);
      return append(copy.c_str(), length);
    }
    Reserve(size_ + length);
    for (size_t i = 0; i < length; ++i) data_[size_ + i] = text[i];
    SetSize(size_ + length);
    return *this;
  }
  BasicText& append(const Char* text) { return append(text, Length(text)); }
  BasicText& append(const BasicText& other) { return append(other.c_str(), other.size_); }
  BasicText& operator+=(const Char* text) { return append(text); }
  BasicText& operator+=(const BasicText& other) { return append(other); }
  BasicText& operator+=(Char c) { return append(&c, 1); }
  void push_back(Char c) { append(&c, 1); }
  void pop_back() { SetSize(size_ - 1); }

  // New characters are fill; a shorter size cuts the text.
  void resize(size_t count, Char fill = Char()) {
    if (count > size_) {
      Reserve(count);
      for (size_t i = size_; i < count; ++i) data_[i] = fill;
    }
    if (data_ != nullptr) SetSize(count);
  }
  void clear() {
    if (data_ != nullptr) SetSize(0);
  }

  size_t find(Char c, size_t from = 0) const {
    for (size_t i = from; i < size_; ++i) {
      if (data_[i] == c) return i;
    }
    return npos;
  }
  bool starts_with(const BasicText& prefix) const {
    if (prefix.size_ > size_) return false;
    for (size_t i = 0; i < prefix.size_; ++i) {
      if (data_[i] != prefix.data_[i]) return false;
    }
    return true;
  }
  BasicText substr(size_t pos, size_t count = npos) const {
    BasicText part;
    part.assign(*this, pos, count);
    return part;
  }

  friend bool operator==(const BasicText& a, const BasicText& b) {
    if (a.size_ != b.size_) return false;
    for (size_t i = 0; i < a.size_; ++i) {
      if (a.data_[i] != b.data_[i]) return false;
    }
    return true;
  }
  friend bool operator!=(const BasicText& a, const BasicText& b) { return !(a == b); }
  // Characters compare as unsigned values, as in std::char_traits.
  friend bool operator<(const BasicText& a, const BasicText& b) {
    typedef std::make_unsigned_t<Char> Unit;
    const size_t common = a.size_ < b.size_ ? a.size_ : b.size_;
    for (size_t i = 0; i < common; ++i) {
      if (a.data_[i] != b.data_[i]) return Unit(a.data_[i]) < Unit(b.data_[i]);
    }
    return a.size_ < b.size_;
  }
  friend bool operator>(const BasicText& a, const BasicText& b) { return b < a; }
  friend BasicText operator+(BasicText a, const BasicText& b) { return std::move(a.append(b)); }
  friend BasicText operator+(BasicText a, const Char* b) { return std::move(a.append(b)); }

  static size_t Length(const Char* text) {
    size_t n = 0;
    while (text[n] != Char()) ++n;
    return n;
  }

 private:
  static const Char* Empty() {
    static const Char empty[1] = {Char()};
    return empty;
  }
  // Room for count characters and the terminator; grows by half again, so appends stay linear.
  void Reserve(size_t count) {
    if (data_ != nullptr && count < capacity_) return;
    if (count >= npos / sizeof(Char)) ExitOutOfMemory();
    size_t capacity = capacity_ + capacity_ / 2;
    if (capacity < count + 1) capacity = count + 1;
    if (capacity < 16) capacity = 16;
    if (capacity > npos / sizeof(Char)) ExitOutOfMemory();
    data_ = static_cast<Char*>(HeapReallocate(data_, capacity * sizeof(Char)));
    capacity_ = capacity;
  }
  void SetSize(size_t size) {
    size_ = size;
    data_[size] = Char();
  }

  Char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;  // characters, the terminator's place included
};

using Text = BasicText<char>;
using WideText = BasicText<wchar_t>;

// A growable array of T that owns its elements; T needs only to be movable.
template <typename T>
class HeapArray {
 public:
  HeapArray() = default;
  explicit HeapArray(size_t count) { resize(count); }
  HeapArray(const HeapArray& other) {
    Reserve(other.size_);
    for (const T& item : other) push_back(item);
  }
  HeapArray(HeapArray&& other) noexcept
      : items_(std::exchange(other.items_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  HeapArray& operator=(HeapArray other) noexcept {
    std::swap(items_, other.items_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  ~HeapArray() {
    clear();
    HeapRelease(items_);
  }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* data() { return items_; }
  const T* data() const { return items_; }
  T& operator[](size_t i) { return items_[i]; }
  const T& operator[](size_t i) const { return items_[i]; }
  T* begin() { return items_; }
  T* end() { return items_ + size_; }
  const T* begin() const { return items_; }
  const T* end() const { return items_ + size_; }
  T& back() { return items_[size_ - 1]; }

  void push_back(T&& item) {
    T taken(std::move(item));  // item may be an element that the growth moves
    Reserve(size_ + 1);
    new (items_ + size_) T(std::move(taken));
    ++size_;
  }
  void push_back(const T& item) { push_back(T(item)); }
  template <typename... Args>
  void emplace_back(Args&&... args) {
    push_back(T(std::forward<Args>(args)...));
  }
  void reserve(size_t count) { Reserve(count); }
  // New elements are value-initialised (zero for numbers).
  void resize(size_t count) {
    Reserve(count);
    while (size_ < count) new (items_ + size_++) T();
    while (size_ > count) items_[--size_].~T();
  }
  void clear() { resize(0); }

 private:
  void Reserve(size_t count) {
    if (count <= capacity_) return;
    size_t capacity = capacity_ + capacity_ / 2;
    if (capacity < count) capacity = count;
    if (capacity < 8) capacity = 8;
    if (capacity > static_cast<size_t>(-1) / sizeof(T)) ExitOutOfMemory();
    T* items = static_cast<T*>(HeapAllocate(capacity * sizeof(T)));
    for (size_t i = 0; i < size_; ++i) {
      new (items + i) T(std::move(items_[i]));
      items_[i].~T();
    }
    HeapRelease(items_);
    items_ = items;
    capacity_ = capacity;
  }

  T* items_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace base

#endif  // BASE_HEAP_TEXT_H_
