// Path and folder routines, on strings and on the real (Wine) file system, in code page 932.
#include "engine/core/error_box.h"
#include "engine/core/file_utils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <sddl.h>

#include "tests/support/test_support.h"

namespace {

using testing_support::PathExists;
using testing_support::ScopedTempFolder;
using testing_support::WriteFileBytes;

// Code page 932 characters whose second byte is 0x5C, and one whose trail byte is itself a valid
// lead byte (亜 = 0x88 0x9F).
const std::string kHyo = "\x95\x5c";  // 表
const std::string kSo = "\x83\x5c";   // ソ
const std::string kA = "\x88\x9f";    // 亜

TEST(TrailingBackslash, RealBackslashesOnly) {
  EXPECT_EQ(1, HasTrailingBackslash("C:\\"));
  EXPECT_EQ(1, HasTrailingBackslash("\\"));
  EXPECT_EQ(1, HasTrailingBackslash("C:\\Temp\\"));
  EXPECT_EQ(0, HasTrailingBackslash("C:\\Temp"));
  EXPECT_EQ(0, HasTrailingBackslash(""));
  EXPECT_EQ(0, HasTrailingBackslash(("C:\\" + kHyo).c_str()));
  EXPECT_EQ(0, HasTrailingBackslash(("C:\\" + kSo).c_str()));
  EXPECT_EQ(1, HasTrailingBackslash(("C:\\" + kHyo + "\\").c_str()));
  // The byte before the backslash (0x9F) could start a character, but here it ends one.
  EXPECT_EQ(1, HasTrailingBackslash(("C:\\" + kA + "\\").c_str()));
}

TEST(TrailingBackslash, LastBackslashSkipsSecondBytes) {
  const std::string path = "C:\\" + kHyo + kSo + "\\file" + kSo;
  const char* last = FindLastBackslash(path.c_str());
  ASSERT_NE(nullptr, last);
  EXPECT_EQ(path.find("\\file"), static_cast<size_t>(last - path.c_str()));
  EXPECT_EQ(nullptr, FindLastBackslash(kHyo.c_str()));
  // A lead byte at the very end ends the search without a match.
  EXPECT_EQ(nullptr, FindLastBackslash("ab\x95"));
}

TEST(UncPath, ServerShareButNotLongPathPrefix) {
  EXPECT_EQ(1, IsUncPath("\\\\server\\share"));
  EXPECT_EQ(1, IsUncPath("\\\\server\\share\\folder"));
  EXPECT_EQ(0, IsUncPath("\\\\?\\C:\\folder"));
  EXPECT_EQ(0, IsUncPath("C:\\folder"));
  EXPECT_EQ(0, IsUncPath("\\folder"));
}

class FolderTest : public ::testing::Test {
 protected:
  ScopedTempFolder root_{"fs-test " + kHyo + kSo};
};

TEST_F(FolderTest, CreatesEveryMissingLevelWithDoubleByteNames) {
  const std::string deep = root_.Child(kHyo + "\\" + kSo + " folder\\" + kA + "\\last");
  ASSERT_NE(0, CreateFolderPath(deep.c_str()));
  EXPECT_TRUE(PathExists(deep));
  EXPECT_TRUE(PathExists(root_.Child(kHyo)));
  // A 0x5C second byte taken for a separator would have made other folders.
  WIN32_FIND_DATAA entry;
  HANDLE listing = FindFirstFileA(root_.Child("*").c_str(), &entry);
  ASSERT_NE(INVALID_HANDLE_VALUE, listing);
  std::vector<std::string> names;
  do {
    if (entry.cFileName[0] != '.') names.push_back(entry.cFileName);
  } while (FindNextFileA(listing, &entry));
  FindClose(listing);
  EXPECT_EQ(std::vector<std::string>{kHyo}, names);
  // Again: everything exists, nothing to create, success.
  EXPECT_NE(0, CreateFolderPath(deep.c_str()));
  EXPECT_NE(0, CreateFolderPath((deep + "\\").c_str()));
}

TEST_F(FolderTest, ExistingFileCountsAsExistingButBlocksDeeperLevels) {
  const std::string file = root_.Child("plain.txt");
  ASSERT_TRUE(WriteFileBytes(file, "x"));
  EXPECT_NE(0, CreateFolderPath(file.c_str()));
  EXPECT_EQ(0, CreateFolderPath((file + "\\below").c_str()));
}

TEST_F(FolderTest, EmptinessOfFolders) {
  EXPECT_EQ(1, IsFolderEmpty(root_.path().c_str()));
  EXPECT_EQ(1, IsFolderEmpty(root_.Child("absent").c_str()));
  ASSERT_TRUE(CreateDirectoryA(root_.Child(kSo).c_str(), nullptr));
  EXPECT_EQ(0, IsFolderEmpty(root_.path().c_str())) << "an empty subfolder is an entry";
  EXPECT_EQ(1, IsFolderEmpty(root_.Child(kSo).c_str()));
  ASSERT_TRUE(WriteFileBytes(root_.Child(kSo + "\\" + kHyo + ".log"), "log"));
  EXPECT_EQ(0, IsFolderEmpty(root_.Child(kSo).c_str()));
  EXPECT_EQ(0, IsFolderEmpty(root_.Child(kSo + "\\").c_str()));
}

TEST_F(FolderTest, DeletesTreeWithReadOnlyFilesAndFoldersAndDoubleByteNames) {
  const std::string tree = root_.Child("tree");
  const std::string sub = tree + "\\" + kHyo + "\\" + kSo;
  ASSERT_NE(0, CreateFolderPath(sub.c_str()));
  ASSERT_TRUE(WriteFileBytes(tree + "\\a.txt", "a"));
  ASSERT_TRUE(WriteFileBytes(sub + "\\" + kHyo + ".dat", "b"));
  ASSERT_TRUE(SetFileAttributesA((tree + "\\a.txt").c_str(),
                                 FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(SetFileAttributesA((sub + "\\" + kHyo + ".dat").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesA(sub.c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesA(tree.c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));

  EXPECT_NE(0, DeleteFolderTree(tree.c_str()));
  EXPECT_FALSE(PathExists(tree));
  EXPECT_TRUE(PathExists(root_.path()));
}

TEST_F(FolderTest, AbsentFolderIsAFailure) {
  EXPECT_EQ(0, DeleteFolderTree(root_.Child("absent").c_str()));
}

TEST_F(FolderTest, RefusesEmptyAndRelativePathsAndDeletesNothing) {
  const std::string keep = root_.Child("keep.txt");
  ASSERT_TRUE(WriteFileBytes(keep, "k"));
  char previous[MAX_PATH * 2];
  GetCurrentDirectoryA(sizeof(previous), previous);
  ASSERT_TRUE(SetCurrentDirectoryA(root_.path().c_str()));
  ASSERT_TRUE(CreateDirectoryA("relative", nullptr));
  EXPECT_EQ(0, DeleteFolderTree(""));
  EXPECT_EQ(0, DeleteFolderTree("relative"));
  EXPECT_EQ(0, DeleteFolderTree(".\\relative"));
  EXPECT_EQ(0, DeleteFolderTree("\\"));
  EXPECT_EQ(0, DeleteFolderTree(nullptr));
  SetCurrentDirectoryA(previous);
  EXPECT_TRUE(PathExists(keep));
  EXPECT_TRUE(PathExists(root_.Child("relative")));
}

TEST_F(FolderTest, TreeTooDeepForThePathBuffersIsReportedAsAFailure) {
  // Made with the long-path form of the wide API; the ANSI routines cannot reach its bottom.
  wchar_t wide[MAX_PATH * 2];
  ASSERT_LT(0, MultiByteToWideChar(CP_ACP, 0, root_.path().c_str(), -1, wide, MAX_PATH * 2));
  std::wstring deep = std::wstring(L"\\\\?\\") + wide;
  const std::wstring top = deep + L"\\" + std::wstring(60, L'd');
  deep = top;
  while (deep.size() < 620) {
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    deep += L"\\" + std::wstring(60, L'd');
  }
  const std::wstring file = deep.substr(0, deep.rfind(L'\\')) + L"\\bottom.txt";
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, handle);
  CloseHandle(handle);

  EXPECT_EQ(0, DeleteFolderTree(root_.Child(std::string(60, 'd')).c_str()));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file.c_str()));
  DeleteFileW(file.c_str());
  for (std::wstring level = deep.substr(0, deep.rfind(L'\\')); level.size() >= top.size();
       level = level.substr(0, level.rfind(L'\\'))) {
    RemoveDirectoryW(level.c_str());
  }
}

// The fixture step (tests/harness/fs-fixture.sh) plants, from the Linux side, a symbolic link to a
// folder outside the tree and maps drive T: to a scratch folder.
TEST(DeleteFolderTreeLinks, NeverDeletesThroughALinkInTheTree) {
  const std::string tree = "C:\\fs-fixture\\tree";
  const std::string target = "C:\\fs-fixture\\target";
  ASSERT_TRUE(PathExists(tree + "\\link")) << "fixture missing: run the suite through ctest";
  const DWORD attributes = GetFileAttributesA((tree + "\\link").c_str());
  ASSERT_NE(0u, attributes & FILE_ATTRIBUTE_REPARSE_POINT);

  const int result = DeleteFolderTree(tree.c_str());

  EXPECT_TRUE(PathExists(target + "\\precious.txt"));
  EXPECT_TRUE(PathExists(target + "\\sub\\deep.txt"));
  if (PathExists(tree + "\\link")) {
    EXPECT_EQ(0, result) << "the link could not be removed, so the tree is not gone";
  } else {
    EXPECT_NE(0, result);
  }
}

TEST(DeleteFolderTreeLinks, PathThatIsItselfALinkIsRemovedAsALink) {
  const std::string link = "C:\\fs-fixture\\toplink";
  ASSERT_TRUE(PathExists(link)) << "fixture missing: run the suite through ctest";
  // Written with a trailing backslash, the path would list the target's contents.
  for (const std::string& path : {link + "\\", link}) {
    SCOPED_TRACE(path);
    if (!PathExists(link)) break;  // removed by the first form
    const int result = DeleteFolderTree(path.c_str());
    EXPECT_TRUE(PathExists("C:\\fs-fixture\\target2\\precious.txt"));
    EXPECT_EQ(PathExists(link) ? 0 : 1, result != 0 ? 1 : 0);
  }
}

TEST(DeleteFolderTreeRoots, DriveRootIsEmptiedButKept) {
  ASSERT_TRUE(PathExists("T:\\scratch.txt")) << "fixture missing: run the suite through ctest";
  EXPECT_NE(0, DeleteFolderTree("T:\\"));
  EXPECT_EQ(1, IsFolderEmpty("T:\\"));
  EXPECT_TRUE(PathExists("T:\\"));
}

TEST(SystemErrorBox, ShowsTheSystemTextOrANumberWithTheProgramNameAsCaption) {
  testing_support::MessageBoxAnswerer answerer;
  ShowSystemErrorBox(ERROR_ACCESS_DENIED);
  ShowSystemErrorBox(0x2000ABCD);  // a code the system has no text for
  const auto boxes = answerer.boxes();
  ASSERT_EQ(2u, boxes.size());
  char* expected = GetSystemErrorText(ERROR_ACCESS_DENIED);
  ASSERT_NE(nullptr, expected);
  EXPECT_EQ(std::string(expected), boxes[0].text);
  LocalFree(expected);
  EXPECT_EQ("engine_tests", boxes[0].caption);
  EXPECT_EQ(nullptr, GetSystemErrorText(0x2000ABCD));
  EXPECT_EQ("System error 536914893 (0x2000ABCD).", boxes[1].text);
}

TEST(SystemErrorBox, WithoutARegisteredBoxTheFailureIsOnlyLogged) {
  testing_support::MessageBoxAnswerer answerer(false);
  ShowSystemErrorBox(ERROR_ACCESS_DENIED);
  EXPECT_TRUE(answerer.boxes().empty());
}

// Whether a folder's descriptor lets anybody but the administrators add or replace its files
// (what a planted DLL needs), as SDDL. Wine turns descriptors into Unix permission bits, so the
// table is of descriptors, not of folders.
TEST(FolderSecurity, OnlyAdministratorsSystemAndTrustedInstallerMayWrite) {
  const std::string kInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  const struct {
    std::string sddl;
    int othersWrite;
  } kRows[] = {
      {"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", 0},  // the work folder's
      {"O:" + kInstaller + "D:(A;;FA;;;" + kInstaller + ")(A;;0x1301bf;;;SY)(A;;GR;;;WD)", 0},
      {"O:SYD:(A;OICIIO;GA;;;CO)(A;;FA;;;BA)(A;;0x1200a9;;;AU)", 0},  // only inherited by children
      {"O:BAD:(D;;FA;;;BU)(A;;FA;;;BA)", 0},
      {"O:BUD:P(A;;FA;;;SY)(A;;FA;;;BA)", 1},                    // owned by a user
      {"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200af;;;BU)", 1},  // Users may add files
      {"O:BAD:(A;;0x40;;;AU)", 1},                               // ... or delete them
      {"O:BAD:(A;;WD;;;WD)", 1},                                 // ... or change the access list
      {"O:BAD:(A;;GW;;;S-1-5-21-0-0-0-1000)", 1},
      {"O:BAD:(A;OICI;FA;;;BU)", 1},  // the Downloads folder's kind
      {"O:BA", 1},                    // no access list at all
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.sddl);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        row.sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_EQ(row.othersWrite, DescriptorLetsOthersWrite(descriptor));
    LocalFree(descriptor);
  }
  EXPECT_EQ(1, DescriptorLetsOthersWrite(nullptr));
  // A NULL access list admits everybody.
  SECURITY_DESCRIPTOR open;
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(administrators);
  ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
  ASSERT_TRUE(SetSecurityDescriptorOwner(&open, administrators, FALSE));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
  EXPECT_EQ(1, DescriptorLetsOthersWrite(&open));
}

}  // namespace
