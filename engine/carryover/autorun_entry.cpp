#include "engine/carryover/autorun_entry.h"

#include "base/heap_text.h"
#include "base/scoped.h"
#include "base/system_dlls.h"
#include "engine/core/error_box.h"
#include "engine/core/names.h"
#include "engine/core/product_constants.h"
#include "engine/core/run_log.h"
#include "engine/core/settings_store.h"
#include "engine/carryover/product_start.h"
#include "engine/carryover/profile_hive.h"
#include "engine/carryover/user_hives.h"

namespace {

using ExpandForUserFunction = BOOL(WINAPI*)(HANDLE, LPCWSTR, LPWSTR, DWORD);

// An autorun entry as the registry holds it: its type and its data, whole (UTF-16 units, the
// terminating NUL included as stored).
struct AutoRunEntry {
  DWORD type = REG_NONE;
  base::WideText data;
};

// A saved entry and where its record lives: the updater key's own values (the desktop user's at
// the capture) or a value of its "AutoRun" subkey.
struct AutoRunRecord {
  base::Text hiveName;
  AutoRunEntry entry;
  bool inUpdaterValues = false;
};

// The text of an entry up to its first NUL, as the system reads a command line from it.
base::WideText CommandOf(const AutoRunEntry& entry) {
  return entry.data.substr(0, entry.data.find(L'\0'));
}

// The longest command line Windows can start; an autorun entry longer than that is no command
// anybody could have had started, and is refused rather than carried into the machine's hive.
constexpr size_t kMaxCommandChars = 32767;
// What the run log shows of a command line; its length is logged beside it.
constexpr size_t kLoggedChars = 260;

// The start of a command line in the ANSI code page, for the run log only ("..." when cut).
base::Text LogText(const base::WideText& whole) {
  const base::Text text = ToAnsi(whole.substr(0, kLoggedChars).c_str());
  return whole.size() > kLoggedChars ? text + "..." : text;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// A value read with the wide-character API; its type and data (an odd last byte is not kept).
// Data longer than a command line Windows can start (with its NUL) is not read:
// ERROR_FILE_TOO_LARGE, with its size in bytes in *size when asked.
LONG ReadValue(HKEY key, const wchar_t* name, AutoRunEntry* entry, DWORD* tooLarge = nullptr) {
  for (;;) {
    DWORD size = 0;
    LONG result = RegQueryValueExW(key, name, nullptr, &entry->type, nullptr, &size);
    if (result != ERROR_SUCCESS) return result;
    if (size > (kMaxCommandChars + 1) * sizeof(wchar_t)) {
      if (tooLarge != nullptr) *tooLarge = size;
      return ERROR_FILE_TOO_LARGE;
    }
    base::HeapArray<wchar_t> buffer(size / sizeof(wchar_t) + 1);
    DWORD read = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    result = RegQueryValueExW(key, name, nullptr, &entry->type,
                              reinterpret_cast<BYTE*>(buffer.data()), &read);
    if (result == ERROR_MORE_DATA) continue;  // it grew in between
    if (result != ERROR_SUCCESS) return result;
    entry->data.assign(buffer.data(), read / sizeof(wchar_t));
    return ERROR_SUCCESS;
  }
}

LONG WriteValue(HKEY key, const wchar_t* name, DWORD type, const base::WideText& data) {
  return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

// The hive's Run value "Tidemark": ERROR_SUCCESS with the entry, ERROR_FILE_NOT_FOUND when there
// is no Run key or no such value, another code when it cannot be read.
// A command longer than Windows can start is ERROR_FILE_TOO_LARGE, logged with its length.
LONG ReadAutoRunValue(const UserHive& hive, AutoRunEntry* entry) {
  base::ScopedRegKey runKey;
  const LONG opened = RegOpenKeyExW(hive.root, hive.PathOf(product::kRunKey).c_str(), 0,
                                    KEY_QUERY_VALUE, runKey.receive());
  if (opened != ERROR_SUCCESS) return opened;
  DWORD bytes = 0;
  LONG result = ReadValue(runKey.get(), ToWide(product::kAutoRunValue).c_str(), entry, &bytes);
  if (result == ERROR_SUCCESS && IsStringType(entry->type) &&
      CommandOf(*entry).size() > kMaxCommandChars) {
    bytes = static_cast<DWORD>(entry->data.size() * sizeof(wchar_t));
    result = ERROR_FILE_TOO_LARGE;
  }
  // A value that is no string is no autorun entry, whatever its size.
  if (result == ERROR_FILE_TOO_LARGE && !IsStringType(entry->type)) return ERROR_SUCCESS;
  if (result == ERROR_FILE_TOO_LARGE) {
    entry->data.clear();
    RunLogWrite(
        "capture: the autorun entry of %s has %lu bytes, more than a command line Windows "
        "can start (%u characters); not saved",
        hive.name, static_cast<unsigned long>(bytes), static_cast<unsigned>(kMaxCommandChars));
  }
  return result;
}

LONG OpenUpdaterKey(bool records, REGSAM access, bool create, base::ScopedRegKey* key) {
  char suffix[32] = "";
  if (records) {
    suffix[0] = '\\';
    lstrcpynA(suffix + 1, updater_value::kAutoRunRecords, sizeof(suffix) - 1);
  }
  return OpenTrustedUpdaterKey(records ? suffix : nullptr, access, create, key->receive());
}

// The record in the updater key's own values, when UserID and AutoRunCommandLine are there (of
// whatever shape: the caller judges it). The type is AutoRunType's, REG_SZ unless that is
// REG_EXPAND_SZ.
bool ReadUpdaterValuesRecord(AutoRunRecord* record) {
  char hiveName[kHiveNameSize];
  if (!ReadUpdaterString(nullptr, updater_value::kUserId, hiveName, sizeof(hiveName))) {
    hiveName[0] = '\0';
  }
  base::ScopedRegKey key;
  AutoRunEntry saved;
  const bool hasUser = HasUpdaterValue(updater_value::kUserId) != 0;
  if (OpenUpdaterKey(false, KEY_QUERY_VALUE, false, &key) != ERROR_SUCCESS ||
      ReadValue(key.get(), ToWide(updater_value::kAutoRunCommandLine).c_str(), &saved) !=
          ERROR_SUCCESS) {
    if (!hasUser) return false;
    saved.type = REG_NONE;  // UserID alone: a record no capture completed
  }
  DWORD type = REG_SZ;
  if (!ReadUpdaterDword(nullptr, updater_value::kAutoRunType, &type) || type != REG_EXPAND_SZ) {
    type = REG_SZ;
  }
  record->hiveName = hiveName;
  record->entry.type = IsStringType(saved.type) ? type : REG_NONE;
  record->entry.data = saved.data;
  record->inUpdaterValues = true;
  return true;
}

// Every saved record: the updater key's own first, then those of the "AutoRun" subkey.
base::HeapArray<AutoRunRecord> ReadRecords() {
  base::HeapArray<AutoRunRecord> records;
  AutoRunRecord own;
  if (ReadUpdaterValuesRecord(&own)) records.push_back(own);
  base::ScopedRegKey key;
  if (OpenUpdaterKey(true, KEY_QUERY_VALUE, false, &key) != ERROR_SUCCESS) return records;
  for (DWORD index = 0;; ++index) {
    wchar_t name[kHiveNameSize];
    DWORD nameLength = kHiveNameSize;
    if (RegEnumValueW(key.get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    AutoRunRecord record;
    record.hiveName = ToAnsi(name);  // a SID is ASCII: anything else names no user
    if (ReadValue(key.get(), name, &record.entry) != ERROR_SUCCESS ||
        !IsStringType(record.entry.type)) {
      record.entry.type = REG_NONE;
    }
    records.push_back(record);
  }
  return records;
}

// Removes a record, written through to the disk. The "AutoRun" subkey goes with its last value.
bool DropRecord(const AutoRunRecord& record) {
  if (record.inUpdaterValues) {
    if (!WriteUpdaterString(nullptr, updater_value::kUserId, nullptr) ||
        !WriteUpdaterString(nullptr, updater_value::kAutoRunCommandLine, nullptr) ||
        !WriteUpdaterDword(nullptr, updater_value::kAutoRunType, 0, TRUE)) {
      return false;
    }
  } else {
    base::ScopedRegKey key;
    if (OpenUpdaterKey(true, KEY_SET_VALUE | KEY_QUERY_VALUE, false, &key) == ERROR_SUCCESS) {
      RegDeleteValueW(key.get(), ToWide(record.hiveName.c_str()).c_str());
      DWORD values = 0;
      DWORD subkeys = 0;
      const bool empty =
          RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                           &values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
          values == 0 && subkeys == 0;
      key.reset();
      base::ScopedRegKey updater;
      if (empty &&
          OpenUpdaterKey(false, KEY_ENUMERATE_SUB_KEYS, false, &updater) == ERROR_SUCCESS) {
        RegDeleteKeyW(updater.get(), ToWide(updater_value::kAutoRunRecords).c_str());
      }
    }
  }
  return FlushUpdaterKey() != 0;
}

bool HasRecordFor(const base::HeapArray<AutoRunRecord>& records, const base::Text& hiveName) {
  for (const AutoRunRecord& record : records) {
    if (SameName(record.hiveName.c_str(), hiveName.c_str())) return true;
  }
  return false;
}

// Saves one hive's entry: into the updater key's own values for the desktop user while they are
// free, otherwise into the "AutoRun" subkey under the hive's name. The value names the user last,
// so that a record is whole once it names its user.
LONG SaveRecord(const base::Text& hiveName, const AutoRunEntry& entry, bool ownValues) {
  base::ScopedRegKey key;
  LONG result = OpenUpdaterKey(!ownValues, KEY_SET_VALUE, true, &key);
  if (result != ERROR_SUCCESS) return result;
  if (!ownValues) {
    return WriteValue(key.get(), ToWide(hiveName.c_str()).c_str(), entry.type, entry.data);
  }
  result =
      WriteValue(key.get(), ToWide(updater_value::kAutoRunCommandLine).c_str(), REG_SZ, entry.data);
  if (result == ERROR_SUCCESS &&
      !WriteUpdaterDword(nullptr, updater_value::kAutoRunType, entry.type, FALSE)) {
    result = ERROR_WRITE_FAULT;
  }
  if (result == ERROR_SUCCESS &&
      !WriteUpdaterString(nullptr, updater_value::kUserId, hiveName.c_str())) {
    result = ERROR_WRITE_FAULT;
  }
  return result;
}

// Writes the entry back as the hive's Run value (the Run key is made again if the uninstaller
// took it away with the entry) and through to the disk.
LONG WriteBack(const AutoRunRecord& record, const UserHive& hive) {
  base::ScopedRegKey runKey;
  LONG result =
      RegCreateKeyExW(hive.root, hive.PathOf(product::kRunKey).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, runKey.receive(), nullptr);
  if (result == ERROR_SUCCESS) {
    result = WriteValue(runKey.get(), ToWide(product::kAutoRunValue).c_str(), record.entry.type,
                        record.entry.data);
  }
  if (result == ERROR_SUCCESS) result = RegFlushKey(runKey.get());
  return result;
}

// The entry whole into a new dated key beside the hive's Run key, flushed; its name in *name.
LONG KeepBeside(const AutoRunRecord& record, const UserHive& hive, base::Text* name) {
  base::ScopedRegKey beside;
  LONG result = CreateDatedKeyBeside(hive, product::kAutoRunKeptBesideKey, beside.receive(), name);
  if (result == ERROR_SUCCESS) {
    result = WriteValue(beside.get(), ToWide(product::kAutoRunValue).c_str(), record.entry.type,
                        record.entry.data);
  }
  if (result == ERROR_SUCCESS) result = RegFlushKey(beside.get());
  return result;
}

bool SameEntry(const AutoRunEntry& a, const AutoRunEntry& b) {
  return a.type == b.type && a.data == b.data;
}

// A saved entry into a logged-off user's profile hive by the rule: laid over the Run value, or
// merged (written where no Run value is, kept beside one that differs).
class AutoRunIntoProfile : public ProfileHiveWork {
 public:
  AutoRunIntoProfile(const AutoRunRecord& record, RestoreMode mode)
      : record_(record), mode_(mode) {}

  LONG Write(const UserHive& hive) override {
    besideName_.clear();
    if (mode_ == RestoreMode::kMerge) {
      AutoRunEntry live;
      const LONG read = ReadAutoRunValue(hive, &live);
      if (read == ERROR_SUCCESS && SameEntry(live, record_.entry)) return ERROR_SUCCESS;
      if (read == ERROR_SUCCESS) return KeepBeside(record_, hive, &besideName_);
      if (read != ERROR_FILE_NOT_FOUND) return read;
    }
    return WriteBack(record_, hive);
  }

  bool Holds(const UserHive& hive) override {
    AutoRunEntry held;
    if (besideName_.empty())
      return ReadAutoRunValue(hive, &held) == ERROR_SUCCESS && SameEntry(held, record_.entry);
    base::ScopedRegKey beside;
    return RegOpenKeyExW(hive.root, hive.PathOf(besideName_.c_str()).c_str(), 0, KEY_QUERY_VALUE,
                         beside.receive()) == ERROR_SUCCESS &&
           ReadValue(beside.get(), ToWide(product::kAutoRunValue).c_str(), &held) ==
               ERROR_SUCCESS &&
           SameEntry(held, record_.entry);
  }

  const base::Text& besideName() const { return besideName_; }

 private:
  const AutoRunRecord& record_;
  RestoreMode mode_;
  base::Text besideName_;
};

// The command line with its environment variables expanded in the environment of the user at
// the desktop (the desktop shell's token; where no shell window exists, the user whose hive the
// capture took for the desktop user's, the updater's own), never in the updater's own process
// environment; false when that fails.
bool ExpandForDesktopUser(const base::WideText& commandLine, base::WideText* expanded) {
  base::ScopedHandle token;
  if (!OpenDesktopUserToken(&token, TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE)) {
    return false;
  }
  base::ScopedLibrary userenv(base::LoadSystemLibrary("userenv.dll"));
  if (!userenv) return false;
  const auto expand = reinterpret_cast<ExpandForUserFunction>(
      reinterpret_cast<void*>(GetProcAddress(userenv.get(), "ExpandEnvironmentStringsForUserW")));
  if (expand == nullptr) return false;
  for (DWORD size = static_cast<DWORD>(commandLine.size()) + 256; size <= 65536; size *= 2) {
    base::HeapArray<wchar_t> buffer(size);
    SetLastError(ERROR_SUCCESS);
    if (expand(token.get(), commandLine.c_str(), buffer.data(), size)) {
      // Some implementations report success for a result cut at the buffer's end: one that fills
      // the buffer counts as cut.
      buffer.back() = L'\0';
      expanded->assign(buffer.data());
      if (expanded->size() + 1 < size) return true;
      continue;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER && GetLastError() != ERROR_MORE_DATA) break;
  }
  return false;
}

// Starts the product with the desktop user's restored entry.
void StartWithEntry(const AutoRunEntry& entry) {
  base::WideText commandLine = CommandOf(entry);
  if (entry.type == REG_EXPAND_SZ) {
    base::WideText expanded;
    if (!ExpandForDesktopUser(commandLine, &expanded)) {
      RunLogWrite(
          "restore: the autorun command line cannot be expanded for the user at the "
          "desktop; the product is not started now");
      return;
    }
    commandLine = expanded;
  }
  StartProduct(commandLine.c_str());
}

}  // namespace

BOOL CaptureAutoRun() {
  char desktopHive[kHiveNameSize];
  if (!GetUserHiveName(desktopHive)) return FALSE;
  // Once an update is under way, what an earlier run saved is the user's entry as it was before
  // any uninstaller: a later run adds what is missing and replaces nothing.
  const bool underWay = IsMarkingSet() != 0;
  const base::HeapArray<AutoRunRecord> records = ReadRecords();
  bool ownValuesFree = true;
  for (const AutoRunRecord& record : records) {
    if (record.inUpdaterValues) ownValuesFree = false;
  }

  const LONG walked = ForEachLoadedHive([&](const char* hiveName) -> LONG {
    if (!IsUserHiveName(hiveName)) return ERROR_SUCCESS;  // ".DEFAULT", "<SID>_Classes"
    if (underWay && HasRecordFor(records, hiveName)) {
      RunLogWrite("capture: autorun entry of %s was saved by an earlier run; kept", hiveName);
      return ERROR_SUCCESS;
    }
    AutoRunEntry entry;
    const LONG read = ReadAutoRunValue(UserHive(hiveName), &entry);
    // No Run key, no value, or not a string: nothing to save.
    if (read == ERROR_FILE_NOT_FOUND || (read == ERROR_SUCCESS && !IsStringType(entry.type))) {
      return ERROR_SUCCESS;
    }
    const bool desktopUser = SameName(hiveName, desktopHive);
    const bool ownValues = desktopUser && (ownValuesFree || !underWay);
    const LONG saved = read == ERROR_SUCCESS ? SaveRecord(hiveName, entry, ownValues) : read;
    if (saved != ERROR_SUCCESS) {
      // The administrator is told whose entry stops the update.
      RunLogWrite("capture: the autorun entry of %s cannot be saved (error %ld)", hiveName, saved);
      ShowSystemErrorBoxAbout(static_cast<DWORD>(saved), DescribeUser(hiveName).c_str());
      return ERROR_CANCELLED;
    }
    if (ownValues) {
      // A record of this user in the subkey, from before the update, is replaced by this one.
      AutoRunRecord stale;
      stale.hiveName = hiveName;
      if (HasRecordFor(records, hiveName)) DropRecord(stale);
      ownValuesFree = false;
    }
    RunLogWrite("capture: autorun entry of %s saved (%s, %u characters): %s", hiveName,
                entry.type == REG_EXPAND_SZ ? "REG_EXPAND_SZ" : "REG_SZ",
                static_cast<unsigned>(CommandOf(entry).size()), LogText(CommandOf(entry)).c_str());
    return ERROR_SUCCESS;
  });
  if (walked == ERROR_SUCCESS) return TRUE;
  if (walked != ERROR_CANCELLED) {  // the hives could not be listed; the box is not shown yet
    RunLogWrite("capture: the loaded hives cannot be listed (error %ld)", walked);
    ShowSystemErrorBox(static_cast<DWORD>(walked));
  }
  return FALSE;
}

void ReadSavedAutoRuns(base::HeapArray<SavedUserItem>* items) {
  items->clear();
  for (const AutoRunRecord& record : ReadRecords()) {
    SavedUserItem item;
    item.user = record.hiveName;
    item.usable = IsUserHiveName(record.hiveName.c_str()) && record.entry.type != REG_NONE;
    if (!item.usable) {
      item.live = ItemState::kAbsent;
    } else if (!IsHiveLoaded(record.hiveName.c_str())) {
      // Never counted as in place: the saved entry may be the only one left.
      item.live = ItemState::kNotLoaded;
      item.userGone = IsUserGone(record.hiveName.c_str());
    } else {
      AutoRunEntry live;
      const LONG read = ReadAutoRunValue(UserHive(record.hiveName.c_str()), &live);
      item.live = read != ERROR_SUCCESS           ? ItemState::kAbsent
                  : SameEntry(live, record.entry) ? ItemState::kSame
                                                  : ItemState::kDifferent;
    }
    items->push_back(item);
  }
}

namespace {

// The desktop user's entry written back by this run's restore: the product is started with it.
AutoRunEntry& RestoredDesktopEntry() {
  static AutoRunEntry entry;
  return entry;
}

// The record of a user, or false.
bool FindRecord(const char* hiveName, AutoRunRecord* found) {
  for (const AutoRunRecord& record : ReadRecords()) {
    if (SameName(record.hiveName.c_str(), hiveName)) {
      *found = record;
      return true;
    }
  }
  return false;
}

BOOL AutoRunStepFailed(LONG code, const char* what, const char* hiveName) {
  RunLogWrite("restore: the autorun entry of %s %s (error %ld)", hiveName, what, code);
  ShowSystemErrorBoxAbout(static_cast<DWORD>(code), DescribeUser(hiveName).c_str());
  return FALSE;
}

}  // namespace

BOOL WriteAutoRunBackOf(const char* hiveName) {
  AutoRunRecord record;
  if (!FindRecord(hiveName, &record)) return TRUE;
  // The value is on the disk before its record goes: a restore run again after an interruption
  // finds either the record or the value back.
  const LONG written = WriteBack(record, UserHive(hiveName));
  if (written != ERROR_SUCCESS)
    return AutoRunStepFailed(written, "cannot be written back", hiveName);
  RunLogWrite("restore: autorun entry of %s written back (%s): %s", hiveName,
              record.entry.type == REG_EXPAND_SZ ? "REG_EXPAND_SZ" : "REG_SZ",
              LogText(CommandOf(record.entry)).c_str());
  if (!DropRecord(record)) return FALSE;
  char desktopHive[kHiveNameSize];
  if (GetUserHiveName(desktopHive) && SameName(hiveName, desktopHive)) {
    RestoredDesktopEntry() = record.entry;
  } else {
    RunLogWrite("restore: %s is not the user at the desktop; their logon starts the product",
                hiveName);
  }
  return TRUE;
}

BOOL KeepAutoRunBesideOf(const char* hiveName) {
  AutoRunRecord record;
  if (!FindRecord(hiveName, &record)) return TRUE;
  base::Text name;
  const LONG result = KeepBeside(record, UserHive(hiveName), &name);
  if (result != ERROR_SUCCESS) return AutoRunStepFailed(result, "cannot be kept beside", hiveName);
  RunLogWrite(
      "restore: the saved autorun entry of %s is kept beside the Run value in place, in %s: "
      "%s",
      hiveName, name.c_str(), LogText(CommandOf(record.entry)).c_str());
  return DropRecord(record) ? TRUE : FALSE;
}

BOOL WriteAutoRunIntoProfile(const char* hiveName, RestoreMode mode) {
  AutoRunRecord record;
  if (!FindRecord(hiveName, &record)) return TRUE;
  AutoRunIntoProfile work(record, mode);
  if (WriteIntoProfileHive(hiveName, "autorun entry", &work) != ERROR_SUCCESS) {
    RunLogWrite("restore: the autorun entry of user %s waits until that user's hive is loaded",
                hiveName);
    return FALSE;
  }
  if (work.besideName().empty()) {
    RunLogWrite("restore: autorun entry of user %s written into the profile's hive: %s", hiveName,
                LogText(CommandOf(record.entry)).c_str());
  } else {
    RunLogWrite(
        "restore: the saved autorun entry of user %s is kept beside the Run value in "
        "place in the profile's hive, in %s",
        hiveName, work.besideName().c_str());
  }
  return DropRecord(record) ? TRUE : FALSE;
}

BOOL DropAutoRunRecordOf(const char* hiveName) {
  AutoRunRecord record;
  if (!FindRecord(hiveName, &record)) return TRUE;
  return DropRecord(record) ? TRUE : FALSE;
}

void ForgetRestoredDesktopEntry() { RestoredDesktopEntry() = AutoRunEntry(); }

void StartProductWithRestoredEntry() {
  // Only the desktop user's product is started, and only once its record is gone, so that a
  // restore run again does not start it a second time. Whether it starts now does not change
  // that the entry is back: the user's next logon starts it in any case.
  AutoRunEntry& entry = RestoredDesktopEntry();
  if (entry.type == REG_NONE) return;
  StartWithEntry(entry);
  entry = AutoRunEntry();
}

BOOL KeepAutoRunInFile(const char* hiveName) {
  AutoRunRecord record;
  if (!FindRecord(hiveName, &record)) return TRUE;
  // A registry script an administrator can read, or import to give the entry back.
  base::WideText text = L"\xFEFFWindows Registry Editor Version 5.00\r\n\r\n[HKEY_USERS\\" +
                        ToWide(hiveName) + L"\\" + ToWide(product::kRunKey) + L"]\r\n\"" +
                        ToWide(product::kAutoRunValue) + L"\"=";
  if (record.entry.type == REG_EXPAND_SZ) {
    text += L"hex(2):";
    static const wchar_t kHex[] = L"0123456789abcdef";
    const BYTE* bytes = reinterpret_cast<const BYTE*>(record.entry.data.data());
    const size_t count = record.entry.data.size() * sizeof(wchar_t);
    for (size_t i = 0; i < count; ++i) {
      if (i > 0) text += L",";
      text += kHex[bytes[i] >> 4];
      text += kHex[bytes[i] & 15];
    }
  } else {
    text += L"\"";
    for (const wchar_t c : CommandOf(record.entry)) {
      if (c == L'\\' || c == L'"') text += L'\\';
      text += c;
    }
    text += L"\"";
  }
  text += L"\r\n";
  char path[kPathBufferSize];
  DWORD error = ERROR_SUCCESS;
  if (!BuildKeptFilePath(hiveName, "autorun", "reg", path)) {
    error = ERROR_CANNOT_MAKE;
  } else {
    base::ScopedHandle file(
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (!file || !WriteFile(file.get(), text.c_str(), bytes, &written, nullptr) ||
        written != bytes || !FlushFileBuffers(file.get())) {
      error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
    }
  }
  if (error != ERROR_SUCCESS) {
    return AutoRunStepFailed(static_cast<LONG>(error), "cannot be kept in a file", hiveName);
  }
  RunLogWrite("restore: user %s no longer exists; their saved autorun entry is kept in %s",
              hiveName, path);
  return DropRecord(record) ? TRUE : FALSE;
}
