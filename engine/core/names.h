// Paths and names: the one rule that compares them, and the two conversions between the ANSI code
// page and wide characters.
//
// Two paths or names are the same when they are equal ordinally with case ignored, the way the
// file system and the registry match names: no locale, no normalisation, every character matters.
// A path is under a folder when it is that folder or begins with it followed by a backslash.
#ifndef ENGINE_CORE_NAMES_H_
#define ENGINE_CORE_NAMES_H_

#include <windows.h>

#include "base/heap_text.h"

// The ANSI text in wide characters; empty when it holds a byte sequence the code page does not
// define.
base::WideText ToWide(const char* text);

// The wide text in the ANSI code page. *exact (when asked) tells whether every character has a
// code in it: without one it is written as '?', which is only fit for showing or logging, never
// for naming a file or a key.
base::Text ToAnsi(const wchar_t* text, bool* exact = nullptr);

bool SameName(const wchar_t* a, const wchar_t* b);
bool SameName(const char* a, const char* b);

// True when the first `length` characters of both are the same by the rule above.
bool SameNamePrefix(const wchar_t* a, const wchar_t* b, int length);

bool IsUnder(const wchar_t* path, const wchar_t* folder);
bool IsUnder(const char* path, const char* folder);

#endif  // ENGINE_CORE_NAMES_H_
