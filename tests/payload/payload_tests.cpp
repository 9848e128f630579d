// Extraction of a real payload: this program carries ten "ZELNA" resources scrambled at build
// time from files whose sizes sit on the block edges (0, 1, 1001, 102400, 102401, 819201, 204800,
// 2, 102399 and 65537 bytes). Every extracted file must equal its plain original byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/core/key_stream.h"
#include "engine/core/product_constants.h"
#include "engine/payload.h"
#include "engine/process_runner.h"
#include "tests/payload/payload_test_common.h"
#include "tests/support/test_support.h"
#include "tests/support/worker_done_window.h"

using payload_test::ListFolder;
using payload_test::ReleaseFolder;
using payload_test::SystemText;
using testing_support::MessageBoxAnswerer;
using testing_support::PathExists;
using testing_support::ReadFileBytes;

namespace {

std::string Original(const char* name) {
  std::string bytes;
  EXPECT_TRUE(ReadFileBytes(ReleaseFolder("release-blocks") + "\\" + name, &bytes)) << name;
  return bytes;
}

std::string Resource(unsigned short id) {
  HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(id), product::kPayloadResourceType);
  if (resource == nullptr) return "";
  const char* data = static_cast<const char*>(LockResource(LoadResource(nullptr, resource)));
  return std::string(data, SizeofResource(nullptr, resource));
}

// Every file of the table is in folder, equal to its original; nothing else is there.
void ExpectCompleteExtraction(const std::string& folder) {
  for (const PayloadFile& entry : kPayloadFiles) {
    std::string extracted;
    ASSERT_TRUE(ReadFileBytes(folder + "\\" + entry.fileName, &extracted)) << entry.fileName;
    const std::string original = Original(entry.fileName);
    ASSERT_EQ(original.size(), extracted.size()) << entry.fileName;
    EXPECT_TRUE(original == extracted) << entry.fileName << " differs from its original";
  }
  EXPECT_EQ(10u, ListFolder(folder).size());
}

class ExtractPayloadTest : public testing::Test {
 protected:
  payload_test::ScopedWork work_;
  std::string extraction_ = work_.Setup();
};

}  // namespace

TEST(PayloadFixtureTest, OriginalsSitOnTheBlockEdgesAndResourcesAreScrambled) {
  // The sizes the build gives the files, in table order (tests/payload/CMakeLists.txt).
  const size_t sizes[kPayloadFileCount] = {0,      1,      1001, 102400, 102401,
                                           819201, 204800, 2,    102399, 65537};
  for (int i = 0; i < kPayloadFileCount; ++i) {
    const PayloadFile& file = kPayloadFiles[i];
    const std::string original = Original(file.fileName);
    const std::string resource = Resource(file.resourceId);
    EXPECT_EQ(sizes[i], original.size()) << file.fileName;
    EXPECT_EQ(sizes[i], resource.size()) << file.fileName;
    if (sizes[i] >= 16) {
      EXPECT_NE(original, resource) << file.fileName << " is stored plain";
    }
  }
  // The launcher is not part of this program's resources.
  EXPECT_EQ(nullptr, FindResourceA(nullptr, MAKEINTRESOURCEA(148), product::kPayloadResourceType));
}

TEST_F(ExtractPayloadTest, ExtractsEveryFileByteForByte) {
  char folder[kPathBufferSize];
  std::vector<MessageBoxAnswerer::Box> boxes;
  int result;
  {
    MessageBoxAnswerer answerer;
    result = ExtractPayload(folder);
    boxes = answerer.boxes();
  }
  ASSERT_EQ(1, result);
  EXPECT_EQ(extraction_, folder);
  ExpectCompleteExtraction(folder);
  EXPECT_TRUE(boxes.empty());

  // A second run over the first one's folder gives the same result.
  ASSERT_TRUE(testing_support::WriteFileBytes(extraction_ + "\\data1.cab", "changed since"));
  ASSERT_EQ(1, ExtractPayload(folder));
  ExpectCompleteExtraction(folder);
}

TEST_F(ExtractPayloadTest, LeftoverFolderWithReadOnlyFilesIsReplaced) {
  ASSERT_TRUE(CreateDirectoryA(extraction_.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((extraction_ + "\\sub").c_str(), nullptr));
  const std::string stale[] = {extraction_ + "\\stale.txt", extraction_ + "\\sub\\deep.txt",
                               extraction_ + "\\_Setup.dll", extraction_ + "\\setup.exe"};
  for (const std::string& path : stale) {
    ASSERT_TRUE(testing_support::WriteFileBytes(path, std::string(5000, 'x')));
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  }
  ASSERT_TRUE(SetFileAttributesA((extraction_ + "\\sub").c_str(), FILE_ATTRIBUTE_READONLY));

  char folder[kPathBufferSize];
  ASSERT_EQ(1, ExtractPayload(folder));
  EXPECT_FALSE(PathExists(extraction_ + "\\stale.txt"));
  EXPECT_FALSE(PathExists(extraction_ + "\\sub"));
  ExpectCompleteExtraction(folder);
  // The new file is not the read-only leftover.
  EXPECT_EQ(0u,
            GetFileAttributesA((extraction_ + "\\_Setup.dll").c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(ExtractPayloadTest, LeftoverThatCannotBeRemovedIsNeverExtractedInto) {
  // A leftover "data2.cab" that another program holds open without sharing survives the deletion
  // of the leftover folder, and so may a file planted beside it for the setup to load: nothing is
  // written into that folder, and the user sees why.
  ASSERT_TRUE(CreateDirectoryA(extraction_.c_str(), nullptr));
  const std::string locked = extraction_ + "\\data2.cab";
  HANDLE holder = CreateFileA(locked.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  ASSERT_TRUE(testing_support::WriteFileBytes(extraction_ + "\\version.dll", "planted"));

  char folder[kPathBufferSize] = "stale";
  std::vector<MessageBoxAnswerer::Box> boxes;
  int result;
  {
    MessageBoxAnswerer answerer;
    result = ExtractPayload(folder);
    boxes = answerer.boxes();
  }
  CloseHandle(holder);
  EXPECT_EQ(0, result);
  EXPECT_STREQ("", folder);
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(SystemText(ERROR_SHARING_VIOLATION), boxes[0].text);
  EXPECT_EQ("payload_tests", boxes[0].caption);
  for (const std::string& name : ListFolder(extraction_)) {
    EXPECT_TRUE(name == "data2.cab" || name == "version.dll") << "written: " << name;
  }
  std::string held;
  ASSERT_TRUE(ReadFileBytes(locked, &held));
  EXPECT_EQ(0u, held.size()) << "the held file was not written";

  // Once nothing holds it any more, the next extraction replaces the whole folder.
  ASSERT_EQ(1, ExtractPayload(folder));
  EXPECT_FALSE(PathExists(extraction_ + "\\version.dll"));
  ExpectCompleteExtraction(folder);
}

TEST_F(ExtractPayloadTest, StartInstallFailsQuietlyWhenSetupCannotStart) {
  // This payload's "setup.exe" is two bytes of noise: extraction works, the start does not.
  testing_support::WorkerDoneWindow page;
  base::Text folder = "stale";
  BOOL result;
  std::vector<MessageBoxAnswerer::Box> boxes;
  {
    MessageBoxAnswerer answerer;
    result = StartInstall(page.hwnd(), folder);
    Sleep(100);
    boxes = answerer.boxes();
  }
  EXPECT_FALSE(result);
  EXPECT_EQ("", folder);
  EXPECT_TRUE(boxes.empty());
  // The extracted files stay until the next extraction removes them.
  ExpectCompleteExtraction(extraction_);
  page.PumpFor(300);
  EXPECT_EQ(0, page.count());
}

TEST(UpdaterPayloadTest, UpdaterCarriesTheConfiguredReleaseAndTheLauncher) {
  // Updater.exe, read as data: its ten Japanese "ZELNA" resources unscramble to the files of the
  // release folder it was built from, and 148 is the launcher, stored plain.
  const std::string updater = testing_support::ExecutableFolder() + "\\Updater.exe";
  HMODULE module = LoadLibraryExA(updater.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, module) << updater;
  const WORD japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
  auto resourceBytes = [&](unsigned short id, std::string* bytes) {
    HRSRC resource =
        FindResourceExA(module, product::kPayloadResourceType, MAKEINTRESOURCEA(id), japanese);
    if (resource == nullptr) return false;
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    if (data == nullptr) return false;
    bytes->assign(data, SizeofResource(module, resource));
    return true;
  };

  std::vector<unsigned char> key(kKeyStreamSize);
  FillKeyStream(key.data(), kKeyStreamSize);
  for (const PayloadFile& entry : kPayloadFiles) {
    std::string bytes, original;
    ASSERT_TRUE(resourceBytes(entry.resourceId, &bytes)) << entry.resourceId;
    ASSERT_TRUE(
        ReadFileBytes(std::string(UPDATER_PAYLOAD_SOURCE_DIR) + "\\" + entry.fileName, &original))
        << entry.fileName;
    ASSERT_EQ(original.size(), bytes.size()) << entry.fileName;
    for (size_t offset = 0; offset < bytes.size(); offset += kKeyStreamSize) {
      const size_t chunk = std::min<size_t>(kKeyStreamSize, bytes.size() - offset);
      XorWithKeyStream(reinterpret_cast<unsigned char*>(&bytes[offset]), key.data(),
                       static_cast<unsigned>(chunk));
    }
    EXPECT_TRUE(original == bytes) << entry.fileName << " differs from the release folder";
  }

  std::string launcher, launcherFile;
  ASSERT_TRUE(resourceBytes(product::kLauncherResourceId, &launcher));
  ASSERT_TRUE(
      ReadFileBytes(testing_support::ExecutableFolder() + "\\TmkUpLauncher.exe", &launcherFile));
  EXPECT_TRUE(launcher == launcherFile) << "the embedded launcher is not the built one";
  FreeLibrary(module);
}
