#include "base/bounded_string.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace base {

bool FormatBounded(char* buffer, size_t size, const char* format, ...) {
  if (buffer == nullptr || size == 0) return false;
  va_list args;
  va_start(args, format);
  // The system C library's formatter (msvcrt): the program carries no formatter of its own. It
  // answers -1, or fills the buffer without a terminator, when the text does not fit.
  const int written = _vsnprintf(buffer, size, format, args);
  va_end(args);
  if (written < 0 || static_cast<size_t>(written) >= size) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

bool CopyBounded(char* buffer, size_t size, const char* text) {
  if (buffer == nullptr || size == 0) return false;
  const size_t length = text ? strlen(text) : 0;
  if (length >= size) {
    buffer[0] = '\0';
    return false;
  }
  memcpy(buffer, text ? text : "", length + 1);
  return true;
}

bool AppendBounded(char* buffer, size_t size, const char* text) {
  if (buffer == nullptr || size == 0) return false;
  const size_t used = strnlen(buffer, size);
  const size_t length = text ? strlen(text) : 0;
  if (used >= size || length >= size - used) {
    buffer[0] = '\0';
    return false;
  }
  memcpy(buffer + used, text ? text : "", length + 1);
  return true;
}

bool TerminateRegistryString(char* buffer, size_t size, unsigned long bytes) {
  if (buffer == nullptr || size == 0) return false;
  if (bytes > size) bytes = static_cast<unsigned long>(size);
  if (bytes > 0 && buffer[bytes - 1] == '\0') return true;  // stored with its NUL
  if (bytes < size) {                                       // stored without: add one
    buffer[bytes] = '\0';
    return true;
  }
  buffer[0] = '\0';  // no room left for the terminator
  return false;
}

}  // namespace base
