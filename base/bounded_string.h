// Bounded text building for fixed-size ANSI buffers. Every routine either produces the whole text,
// NUL-terminated inside the buffer, and returns true, or leaves the buffer empty ("") and returns
// false: a text that does not fit is a failure, never a truncated path and never an overflow.
#ifndef BASE_BOUNDED_STRING_H_
#define BASE_BOUNDED_STRING_H_

#include <cstddef>

namespace base {

// printf-style formatting into buffer[size].
bool FormatBounded(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// buffer := text.
bool CopyBounded(char* buffer, size_t size, const char* text);

// buffer += text. On failure the buffer is emptied as well, so a half-built path is never used.
bool AppendBounded(char* buffer, size_t size, const char* text);

// Makes sure a string read from the registry is terminated inside buffer[size]: `bytes` is the
// data length the registry reported. Returns false when the text fills the whole buffer without
// room for a terminator (the caller treats that as a value too long for its buffer).
bool TerminateRegistryString(char* buffer, size_t size, unsigned long bytes);

}  // namespace base

#endif  // BASE_BOUNDED_STRING_H_
