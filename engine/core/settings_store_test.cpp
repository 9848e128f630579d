// The updater key on the real registry.
#include "engine/core/settings_store.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/core/product_constants.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::GetRawValue;
using testing_support::KeyExists;
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

TEST_F(UpdaterKeyTest, AKeyThatAdmitsOthersGetsTheAdminOnlyDescriptorAtTheNextWrite) {
  // Made by somebody else with the system's default descriptor (Users may read).
  ASSERT_TRUE(SetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "Other", REG_SZ, "x", 2));
  ASSERT_EQ(1, WriteUpdaterString(nullptr, "UserID", "S-1-5-21-1-2-3-1001"));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, product::kUpdaterKey, 0, READ_CONTROL, &key));
  BYTE descriptor[4096];
  DWORD size = sizeof(descriptor);
  const LONG read = RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      descriptor, &size);
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS, read);
  LPSTR text = nullptr;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
      descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
      nullptr));
  const std::string sddl = text;
  LocalFree(text);
  EXPECT_EQ("O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)", sddl);
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
  ASSERT_TRUE(SetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "Marking", REG_DWORD, &zero, 4));
  EXPECT_EQ(0, IsMarkingSet());
  const unsigned char eight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(SetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "Marking", REG_BINARY, eight, 8));
  EXPECT_EQ(0, IsMarkingSet());
  const DWORD one = 1;
  ASSERT_TRUE(SetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "Marking", REG_BINARY, &one, 4));
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
  ASSERT_TRUE(SetRawValue(HKEY_LOCAL_MACHINE, product::kUpdaterKey, "UserID", REG_SZ, "ABCDEFGHIJ", 10));
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
  ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(product::kUpdaterKey) + "\\S-1-5-21-1-2-3-1001\\Deep"));
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
