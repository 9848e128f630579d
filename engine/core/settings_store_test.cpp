// The updater key on the real registry.
#include "engine/core/settings_store.h"

#include <sddl.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/core/product_constants.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::CreateKey;
using testing_support::GetRawValue;
using testing_support::KeyExists;
using testing_support::OpenKey;
using testing_support::ScopedRegistryCleanup;
using testing_support::SetRawValue;

class UpdaterKeyTest : public ::testing::Test {
 protected:
  ScopedRegistryCleanup cleanup_{HKEY_LOCAL_MACHINE, product::kUpdaterKey};
};

TEST_F(UpdaterKeyTest, AbsentKeyReadsAsNothingAndIsNeverCreatedByReading) {
  DWORD value = 7;
  char text[16] = "unchanged";
  EXPECT_EQ(0, IsMarkingSet());
  EXPECT_EQ(0, ReadUpdaterDword(nullptr, "Marking", &value));
  EXPECT_EQ(0, ReadUpdaterString(nullptr, "BackupFolder", text, sizeof(text)));
  EXPECT_STREQ("", text);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
  EXPECT_EQ(0, DeleteUpdaterKey());
  EXPECT_EQ(0, FlushUpdaterKey());
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

// The updater key's owner and DACL as SDDL; "" when they cannot be read.
std::string UpdaterKeyDescriptor() {
  const base::ScopedRegKey key = OpenKey(HKEY_LOCAL_MACHINE, product::kUpdaterKey, READ_CONTROL);
  if (!key) return "";
  BYTE descriptor[4096];
  DWORD size = sizeof(descriptor);
  const LONG read = RegGetKeySecurity(
      key.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor, &size);
  LPSTR text = nullptr;
  if (read != ERROR_SUCCESS ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          &text, nullptr)) {
    return "";
  }
  const std::string sddl = text;
  LocalFree(text);
  return sddl;
}

// Makes path (below HKEY_LOCAL_MACHINE) a registry link to the key `target` (an HKLM path).
bool MakeLink(const std::string& path, const std::string& target) {
  const base::ScopedRegKey link =
      CreateKey(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS | KEY_CREATE_LINK, REG_OPTION_CREATE_LINK);
  const std::string full = "\\Registry\\Machine\\" + target;
  const std::wstring wide(full.begin(), full.end());
  return link && RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                                reinterpret_cast<const BYTE*>(wide.c_str()),
                                static_cast<DWORD>(wide.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Deletes a registry link itself (never its target).
void DeleteLink(const std::string& path) {
  using NtDeleteKeyFunction = LONG(WINAPI*)(HANDLE);
  const auto deleteKey = reinterpret_cast<NtDeleteKeyFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
  const base::ScopedRegKey link = OpenKey(HKEY_LOCAL_MACHINE, path, DELETE, REG_OPTION_OPEN_LINK);
  if (deleteKey && link) deleteKey(link.get());
}

// Makes path (below HKEY_LOCAL_MACHINE) with the given descriptor and a value "Planted".
bool MakeKeyWithDescriptor(const std::string& path, const char* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return false;
  }
  const base::ScopedRegKey key = CreateKey(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS | WRITE_OWNER);
  const bool made =
      key &&
      RegSetKeySecurity(key.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                        descriptor) == ERROR_SUCCESS &&
      RegSetValueExA(key.get(), "Planted", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2) ==
          ERROR_SUCCESS;
  LocalFree(descriptor);
  return made;
}

// What somebody else may have put at the updater key's name or below it before the updater
// writes: nothing of it is read as the updater's, nothing is written through a link, and Cancel
// (the key's deletion) never reaches a link's target. Each row is planted, then the updater sets
// its Marking, writes a value into the subkey "AutoRun", and deletes its key.
TEST_F(UpdaterKeyTest, AKeyThatIsNotWhollyTheUpdatersIsSetAsideAndNoLinkIsFollowed) {
  const std::string key = product::kUpdaterKey;
  const std::string victim = "SOFTWARE\\TidemarkSXVictim";
  enum Plant {
    kLinkAsTheKey,       // the updater key itself is a link to another HKLM key
    kLinkBelow,          // "AutoRun" is a link to another HKLM key
    kUserOwnsSubkey,     // "AutoRun" made first by a user, who keeps owning it
    kUserEntryOnSubkey,  // "AutoRun" owned by Administrators but a user may change it
    kKeyAdmitsUsers,     // the key itself lets Users read (an older release's, or anybody's)
    kNothing,            // a fresh machine
  };
  for (Plant plant : {kLinkAsTheKey, kLinkBelow, kUserOwnsSubkey, kUserEntryOnSubkey,
                      kKeyAdmitsUsers, kNothing}) {
    SCOPED_TRACE(plant);
    DeleteLink(key + "\\AutoRun");
    DeleteLink(key);
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, victim.c_str());
    ASSERT_TRUE(SetRawValue(HKEY_LOCAL_MACHINE, victim, "Keep", REG_SZ, "x", 2));
    switch (plant) {
      case kLinkAsTheKey:
        ASSERT_TRUE(MakeLink(key, victim));
        ASSERT_TRUE(SetRawValue(HKEY_LOCAL_MACHINE, victim, "Marking", REG_DWORD, "\1\0\0\0", 4));
        break;
      case kLinkBelow:
        ASSERT_EQ(1, SetMarking(TRUE));
        ASSERT_TRUE(MakeLink(key + "\\AutoRun", victim));
        break;
      case kUserOwnsSubkey:
        ASSERT_EQ(1, SetMarking(TRUE));
        ASSERT_TRUE(MakeKeyWithDescriptor(key + "\\AutoRun",
                                          "O:S-1-5-21-1-2-3-1001D:P(A;CI;KA;;;S-1-5-21-1-2-3-1001)"
                                          "(A;CI;KA;;;BA)"));
        break;
      case kUserEntryOnSubkey:
        ASSERT_EQ(1, SetMarking(TRUE));
        ASSERT_TRUE(MakeKeyWithDescriptor(key + "\\AutoRun",
                                          "O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KA;;;BU)"));
        break;
      case kKeyAdmitsUsers:
        ASSERT_TRUE(MakeKeyWithDescriptor(key, "O:BAD:(A;CI;KA;;;BA)(A;CI;KR;;;BU)"));
        ASSERT_TRUE(SetRawValue(HKEY_LOCAL_MACHINE, key, "Marking", REG_DWORD, "\1\0\0\0", 4));
        break;
      case kNothing:
        break;
    }
    EXPECT_EQ(0, IsMarkingSet()) << "what is planted is not the updater's";

    EXPECT_EQ(1, SetMarking(TRUE));
    EXPECT_EQ(1, WriteUpdaterString("\\AutoRun", "S-1-5-21-1-2-3-500", "C:\\x.exe"));
    EXPECT_EQ(1, IsMarkingSet());
    EXPECT_EQ("O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)", UpdaterKeyDescriptor());
    DWORD type = 0;
    std::string data;
    EXPECT_FALSE(GetRawValue(HKEY_LOCAL_MACHINE, key, "Planted", &type, &data));
    EXPECT_FALSE(GetRawValue(HKEY_LOCAL_MACHINE, key + "\\AutoRun", "Planted", &type, &data));
    EXPECT_FALSE(GetRawValue(HKEY_LOCAL_MACHINE, victim, "S-1-5-21-1-2-3-500", &type, &data))
        << "nothing is written through a link";
    EXPECT_EQ(1, DeleteUpdaterKey());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key));
    EXPECT_TRUE(GetRawValue(HKEY_LOCAL_MACHINE, victim, "Keep", &type, &data))
        << "the deletion never reaches a link's target";
    // A link left at a name by the deletion would point elsewhere now: the next run's walk.
    ASSERT_TRUE(MakeLink(key, victim));
    EXPECT_EQ(1, DeleteUpdaterKey()) << "a link at the key's name is deleted as a link";
    EXPECT_TRUE(GetRawValue(HKEY_LOCAL_MACHINE, victim, "Keep", &type, &data));
  }
  DeleteLink(key);
  SHDeleteKeyA(HKEY_LOCAL_MACHINE, victim.c_str());
}

TEST_F(UpdaterKeyTest, MarkingIsSetAsDwordOneAndRemovedNotZeroed) {
  ASSERT_EQ(1, SetMarking(TRUE));
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(GetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "Marking", &type, &data));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  ASSERT_EQ(4u, data.size());
  EXPECT_EQ(1, *reinterpret_cast<const DWORD*>(data.data()));
  EXPECT_EQ(1, IsMarkingSet());

  ASSERT_EQ(1, SetMarking(FALSE));
  EXPECT_FALSE(GetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "Marking", &type, &data));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
  EXPECT_EQ(0, IsMarkingSet());
}

TEST_F(UpdaterKeyTest, RemovingFromAnAbsentKeyCreatesItEmptyAndSucceeds) {
  EXPECT_EQ(1, SetMarking(FALSE));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
  EXPECT_EQ(1, WriteUpdaterString(nullptr, "Launcher", nullptr));
  EXPECT_EQ(1, WriteUpdaterDword(nullptr, "Nothing", 0, TRUE));
}

TEST_F(UpdaterKeyTest, MarkingZeroOrTooLongMeansNotSet) {
  const DWORD zero = 0;
  ASSERT_TRUE(
      SetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "Marking", REG_DWORD, &zero, 4));
  EXPECT_EQ(0, IsMarkingSet());
  const unsigned char eight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(
      SetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "Marking", REG_BINARY, eight, 8));
  EXPECT_EQ(0, IsMarkingSet());
  const DWORD one = 1;
  ASSERT_TRUE(
      SetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "Marking", REG_BINARY, &one, 4));
  EXPECT_EQ(1, IsMarkingSet()) << "the stored type is not tested";
}

TEST_F(UpdaterKeyTest, StringsAreStoredAsRegSzWithTheirNulAndReadBack) {
  ASSERT_EQ(1, WriteUpdaterString(nullptr, "BackupFolder", "C:\\TEMP\\0001a2b3"));
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(GetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "BackupFolder", &type, &data));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(std::string("C:\\TEMP\\0001a2b3\0", 17), data);
  char text[520];
  ASSERT_EQ(1, ReadUpdaterString(nullptr, "BackupFolder", text, sizeof(text)));
  EXPECT_STREQ("C:\\TEMP\\0001a2b3", text);
}

TEST_F(UpdaterKeyTest, EmptyTextIsStoredNotRemoved) {
  ASSERT_EQ(1, WriteUpdaterString(nullptr, "UserID", ""));
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(GetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "UserID", &type, &data));
  EXPECT_EQ(std::string(1, '\0'), data);
  ASSERT_EQ(1, WriteUpdaterString(nullptr, "UserID", nullptr));
  EXPECT_FALSE(GetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "UserID", &type, &data));
}

TEST_F(UpdaterKeyTest, DoubleByteTextSurvivesTheRoundTrip) {
  // "C:\表\ソ" in code page 932: both characters have 0x5C as their second byte.
  const char path[] = "C:\\\x95\x5c\\\x83\x5c";
  ASSERT_EQ(1, WriteUpdaterString(nullptr, "BackupFolder", path));
  char text[520];
  ASSERT_EQ(1, ReadUpdaterString(nullptr, "BackupFolder", text, sizeof(text)));
  EXPECT_STREQ(path, text);
}

TEST_F(UpdaterKeyTest, StringThatDoesNotFitFailsWithAnEmptyBuffer) {
  ASSERT_EQ(1, WriteUpdaterString(nullptr, "AutoRunCommandLine", "0123456789"));
  char text[10];
  EXPECT_EQ(0, ReadUpdaterString(nullptr, "AutoRunCommandLine", text, sizeof(text)));
  EXPECT_STREQ("", text);
  char exact[11];
  EXPECT_EQ(1, ReadUpdaterString(nullptr, "AutoRunCommandLine", exact, sizeof(exact)));
  EXPECT_STREQ("0123456789", exact);
}

TEST_F(UpdaterKeyTest, StringWrittenByOthersWithoutNulIsTerminatedInsideTheBuffer) {
  // Ten bytes without a terminator, read into buffers of 11 and of exactly 10 bytes.
  ASSERT_TRUE(
      SetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "UserID", REG_SZ, "ABCDEFGHIJ", 10));
  char roomy[11];
  memset(roomy, 'x', sizeof(roomy));
  ASSERT_EQ(1, ReadUpdaterString(nullptr, "UserID", roomy, sizeof(roomy)));
  EXPECT_STREQ("ABCDEFGHIJ", roomy);
  char tight[10];
  memset(tight, 'x', sizeof(tight));
  EXPECT_EQ(0, ReadUpdaterString(nullptr, "UserID", tight, sizeof(tight)))
      << "no room for the terminator: the value does not fit";
  EXPECT_EQ('\0', tight[0]);
}

TEST_F(UpdaterKeyTest, DeletingTheKeyTakesSubkeysAlong) {
  ASSERT_EQ(1, SetMarking(TRUE));
  ASSERT_EQ(1, WriteUpdaterString("\\S-1-5-21-1-2-3-1001\\Deep", "Value", "x"));
  ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE,
                        std::string(product::kUpdaterKey) + "\\S-1-5-21-1-2-3-1001\\Deep"));
  EXPECT_EQ(1, DeleteUpdaterKey());
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
  EXPECT_EQ(0, DeleteUpdaterKey()) << "an absent key is a failure";
}

TEST_F(UpdaterKeyTest, SuffixThatMakesThePathTooLongFailsWithoutTouchingTheRegistry) {
  const std::string suffix = "\\" + std::string(300, 'a');
  EXPECT_EQ(0, WriteUpdaterString(suffix.c_str(), "Value", "x"));
  EXPECT_EQ(0, WriteUpdaterDword(suffix.c_str(), "Value", 1, FALSE));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product::kUpdaterKey));
  // The longest path that still fits: 255 characters in all.
  const std::string fits = "\\" + std::string(255 - strlen(product::kUpdaterKey) - 1, 'b');
  EXPECT_EQ(1, WriteUpdaterDword(fits.c_str(), "Value", 1, FALSE));
  DWORD value = 0;
  EXPECT_EQ(1, ReadUpdaterDword(fits.c_str(), "Value", &value));
  EXPECT_EQ(1u, value);
}

}  // namespace
