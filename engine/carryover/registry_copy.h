// A key tree copied from one open key into another, and compared with a saved copy, by one rule:
// the wide-character registry API, and the way the settings snapshots are taken and laid back
// with administrator rights: a registry link is
// never followed (every subkey is opened with REG_OPTION_OPEN_LINK and a link is passed over, in
// the source and in the target), and the walk is bounded in depth and in size.
#ifndef ENGINE_CARRYOVER_REGISTRY_COPY_H_
#define ENGINE_CARRYOVER_REGISTRY_COPY_H_

#include <windows.h>

#include "base/heap_text.h"

// Levels below the copied key. A deeper subkey fails the copy with ERROR_STACK_OVERFLOW.
constexpr int kMaxCopyDepth = 64;
// Names and data of all values and subkeys together. More fails the copy with ERROR_FILE_TOO_LARGE.
// The product's settings take a few kilobytes; 16 MiB leaves room for any settings a user can
// have, and bounds what an elevated copy reads into memory and writes into the machine's hive.
constexpr unsigned long long kMaxCopyBytes = 16ull * 1024 * 1024;

// What becomes of a value the target already has.
enum class CopyRule {
  kOverwrite,   // the source's value replaces it
  kKeepTarget,  // it stays as it is; only values and subkeys the target lacks are added
};

// One copy of a tree. Copy gives ERROR_SUCCESS or the error that ended the walk; any error of the
// system's other than the end of an enumeration ends it. A value of type REG_LINK and a subkey
// that is a link (on either side) are passed over. UndoAdditions removes again what the copy
// added to the target: the values it wrote where none was, and the subkeys it created.
class KeyTreeCopy {
 public:
  explicit KeyTreeCopy(CopyRule rule);
  LONG Copy(HKEY source, HKEY target);
  void UndoAdditions(HKEY target);

 private:
  LONG CopyKey(HKEY source, HKEY target, int depth);
  LONG CopySubkey(HKEY source, HKEY target, const wchar_t* name, int depth);
  LONG CopyValues(HKEY source, HKEY target);
  LONG Count(size_t bytes);

  CopyRule rule_;
  unsigned long long total_ = 0;
  base::HeapArray<wchar_t> valueName_;
  base::HeapArray<BYTE> data_;
  // The subkey path below the target now being copied, and what was added: (path, value name)
  // for a value, (path of the subkey, "") for a created subkey.
  base::WideText path_;
  base::HeapArray<std::pair<base::WideText, base::WideText>> added_;
};

// True when `live` holds every value of `saved` with the same type and data, and likewise in every
// sub-key of `saved`, by the copy's rule: names read with the wide-character API (any name matches
// itself), a sub-key that is a link (on either side) holds nothing, and more than the copy's depth
// or size does not count as held. Values and sub-keys that only `live` has do not count. False
// also when a key or value cannot be read.
bool KeyHoldsSavedCopy(HKEY live, HKEY saved);

// True when the key, opened with REG_OPTION_OPEN_LINK, is a registry link (it holds the link's
// "SymbolicLinkValue" of type REG_LINK).
bool IsRegistryLink(HKEY key);

// What OpenKeyWithoutLinks answers for a key on the path that is a registry link, so that a link
// is told apart from a real refusal (ERROR_ACCESS_DENIED).
constexpr LONG kErrorRegistryLink = ERROR_CANT_RESOLVE_FILENAME;

// Opens path (names separated by backslashes) below root one name at a time, each with
// REG_OPTION_OPEN_LINK, creating what is missing when create is true. A link on the way is not
// followed: kErrorRegistryLink.
LONG OpenKeyWithoutLinks(HKEY root, const wchar_t* path, REGSAM access, bool create, HKEY* key);

#endif  // ENGINE_CARRYOVER_REGISTRY_COPY_H_
