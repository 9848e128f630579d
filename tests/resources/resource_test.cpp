// Reads the resources of the built Updater.exe (next to this program) back from the file, the way
// Windows and the shell see them, and compares them with what the wizard must carry: every text of
// the string table, every page template and control, the header bitmap, the icon images, the
// version block, the manifest, and the language of every resource.
#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/scoped.h"
#include "tests/support/test_support.h"

namespace {

constexpr WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);  // 0x0411

// Resource types, in their wide-character form.
const LPCWSTR kBitmapType = MAKEINTRESOURCEW(2);
const LPCWSTR kIconType = MAKEINTRESOURCEW(3);
const LPCWSTR kDialogType = MAKEINTRESOURCEW(5);
const LPCWSTR kStringType = MAKEINTRESOURCEW(6);
const LPCWSTR kGroupIconType = MAKEINTRESOURCEW(14);
const LPCWSTR kVersionType = MAKEINTRESOURCEW(16);
const LPCWSTR kManifestType = MAKEINTRESOURCEW(24);

std::wstring Wide(const std::string& ansi) {
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
  std::wstring out(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &out[0], n);
  return out;
}

std::wstring UpdaterPath() { return Wide(testing_support::ExecutableFolder() + "\\Updater.exe"); }

// For readable failure messages.
std::string Utf8(const std::u16string& text) {
  if (text.empty()) return "";
  const wchar_t* w = reinterpret_cast<const wchar_t*>(text.data());
  int n = WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(text.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::u16string FromWide(const wchar_t* text, size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

std::string Narrow(const std::wstring& text) { return Utf8(FromWide(text.c_str(), text.size())); }

// The updater, loaded once as a data file: nothing of it runs.
HMODULE Updater() {
  static base::ScopedLibrary module(
      LoadLibraryExW(UpdaterPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  return module.get();
}

// The bytes of one resource in Japanese; false when there is none.
bool ReadResource(LPCWSTR type, LPCWSTR name, std::string* bytes) {
  HRSRC info = FindResourceExW(Updater(), type, name, kJapanese);
  if (!info) return false;
  HGLOBAL loaded = LoadResource(Updater(), info);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return false;
  bytes->assign(static_cast<const char*>(data), SizeofResource(Updater(), info));
  return true;
}

// A resource type or name as text: "#<number>" for numeric ones.
std::wstring NameText(LPCWSTR name) {
  return IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name))
                              : std::wstring(name);
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
  reinterpret_cast<std::vector<std::wstring>*>(param)->push_back(NameText(name));
  return TRUE;
}

// The names of all resources of a type: "#<number>" for numeric names.
std::set<std::wstring> ResourceNames(LPCWSTR type) {
  std::vector<std::wstring> names;
  EnumResourceNamesW(Updater(), type, CollectName, reinterpret_cast<LONG_PTR>(&names));
  return std::set<std::wstring>(names.begin(), names.end());
}

std::set<std::wstring> NumberNames(std::initializer_list<int> ids) {
  std::set<std::wstring> names;
  for (int id : ids) names.insert(L"#" + std::to_wstring(id));
  return names;
}

// Sequential little-endian reader that never reads past the end; reading too far marks it failed.
class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  size_t offset() const { return offset_; }
  void Seek(size_t offset) {
    if (offset > bytes_.size()) {
      ok_ = false;
    } else {
      offset_ = offset;
    }
  }
  void AlignTo4() { Seek((offset_ + 3) & ~static_cast<size_t>(3)); }
  template <typename T>
  T Get() {
    T value{};
    if (!ok_ || bytes_.size() - offset_ < sizeof(T)) {
      ok_ = false;
      return value;
    }
    std::memcpy(&value, bytes_.data() + offset_, sizeof(T));
    offset_ += sizeof(T);
    return value;
  }
  std::u16string String() {  // NUL-terminated UTF-16
    std::u16string text;
    for (;;) {
      char16_t c = Get<char16_t>();
      if (!ok_ || c == 0) return text;
      text += c;
    }
  }
  void Skip(size_t n) { Seek(offset_ + n); }

 private:
  const std::string& bytes_;
  size_t offset_ = 0;
  bool ok_ = true;
};

// ---------------------------------------------------------------------------------------------
// String table

const std::map<UINT, std::u16string>& ExpectedStrings() {
  static const std::map<UINT, std::u16string> strings = {
      {1, u"Tidemarkシリーズアップデータ"},
      {2, u"閉じる"},
      {3, u"%sアップデートプログラムへようこそ。"},
      {4, u"このプログラムは、「%s」の更新、または新規インストールを行います。"},
      {5, u"更新／インストール後のバージョンは、「%s」となります。"},
      {7, u"完了"},
      {8, u"%sのインストールは正常に終了しました。"},
      {9, u"%sのインストールは、キャンセルまたはエラーにより中止されました。"},
      {10, u"旧バージョンの%sをアンインストールする必要があります。"},
      {11,
       u"現在インストールされているバージョンの方が新しいか、同じバージョンです。\n"
       u"アップデートの必要はありません。"},
      {12, u"%sが起動しています。\n%sを終了してから、[再試行]をクリックしてください。"},
      {13,
       u"アップデートの開始時に保存したログ ファイル「%s」の控えが見つからないため、"
       u"元に戻すことができませんでした。"},
      {14,
       u"ドライブ %s の空き領域が足りません。アップデートを続けるには、あと %s の空き領域が"
       u"必要です。\n\n不要なファイルを削除して空き領域を増やしてから、もう一度実行してください。"},
      {15, u"（起動しているユーザー: %s）"},
      {1000, u"ようこそ"},
      {1001, u"Tidemarkシリーズアップデータ"},
      {1004, u"アンインストール"},
      {1005, u"旧バージョンを削除します。"},
      {1006, u"インストール"},
      {1007, u"新しいバージョンをインストールします。"},
      {1008, u"再起動"},
      {1009, u"パソコンを再起動してください。"},
      {1010, u"インストールの完了"},
      {1011, u"インストールは正常に完了しました。"},
      {1012, u"インストールの中止"},
      {1013, u"インストールは中止されました。"},
      {1201,
       u"このアップデートプログラムでアップデートするTidemarkは、お使いのOSでは使用出来ない為、"
       u"アップデート出来ません。\n\nアップデートプログラムを終了します。"},
      {1202,
       u"アップデートプログラムを開始できません。別のアップデートプログラムが実行中か、"
       u"他のプログラムが開始を妨げています。\n\n実行中のプログラムを終了してから、"
       u"もう一度実行してください。"},
      {1203,
       u"このアップデートプログラムは、ほかのユーザーが変更できるフォルダーからは実行できません。"
       u"\n\n管理者だけが変更できるフォルダーにコピーしてから実行してください。"},
  };
  return strings;
}

// Every non-empty entry of every Japanese string block, by string id.
std::map<UINT, std::u16string> ReadStringTable() {
  std::map<UINT, std::u16string> strings;
  for (const std::wstring& name : ResourceNames(kStringType)) {
    EXPECT_EQ(L'#', name[0]) << "string block with a text name";
    if (name[0] != L'#') continue;
    const UINT block = std::stoul(name.substr(1));
    std::string bytes;
    EXPECT_TRUE(ReadResource(kStringType, MAKEINTRESOURCEW(block), &bytes))
        << "string block " << block << " has no Japanese version";
    Reader reader(bytes);
    for (UINT i = 0; i < 16; ++i) {
      const WORD length = reader.Get<WORD>();
      std::u16string text;
      for (WORD j = 0; j < length; ++j) text += reader.Get<char16_t>();
      EXPECT_TRUE(reader.ok()) << "string block " << block << " is cut short";
      if (!reader.ok()) break;
      if (length > 0) strings[(block - 1) * 16 + i] = text;
    }
  }
  return strings;
}

TEST(ResourceStrings, EveryTextIsExactlyAsTheWizardShowsIt) {
  ASSERT_NE(nullptr, Updater()) << "cannot load Updater.exe as a data file";
  const std::map<UINT, std::u16string> actual = ReadStringTable();
  for (const auto& [id, text] : ExpectedStrings()) {
    auto found = actual.find(id);
    if (found == actual.end()) {
      ADD_FAILURE() << "string " << id << " is missing";
      continue;
    }
    EXPECT_TRUE(found->second == text) << "string " << id << "\n  actual:   " << Utf8(found->second)
                                       << "\n  expected: " << Utf8(text);
  }
  for (const auto& [id, text] : actual) {
    EXPECT_TRUE(ExpectedStrings().count(id)) << "unexpected string " << id << ": " << Utf8(text);
  }
}

// The program loads its texts with the ANSI loader: each must come through code page 932 intact.
TEST(ResourceStrings, EveryTextSurvivesTheAnsiLoaderInCodePage932) {
  ASSERT_NE(nullptr, Updater());
  ASSERT_EQ(932u, GetACP());
  for (const auto& [id, text] : ExpectedStrings()) {
    char buffer[1024] = {};
    const int length = LoadStringA(Updater(), id, buffer, sizeof(buffer));
    ASSERT_GT(length, 0) << "LoadStringA cannot load string " << id;
    wchar_t back[1024] = {};
    const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, buffer, length, back, 1024);
    EXPECT_TRUE(FromWide(back, n > 0 ? n : 0) == text)
        << "string " << id
        << " does not survive code page 932: " << Utf8(FromWide(back, n > 0 ? n : 0));
  }
}

// ---------------------------------------------------------------------------------------------
// Dialog templates

struct Control {
  DWORD style = 0, exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  WORD id = 0;
  bool classIsAtom = false;
  WORD classAtom = 0;
  std::u16string className;
  std::u16string text;
  WORD creationDataSize = 0;
};

struct Dialog {
  DWORD style = 0, exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  WORD menuMarker = 0, classMarker = 0;
  std::u16string title;
  WORD pointSize = 0;
  std::u16string face;
  std::vector<Control> controls;
};

// A name-or-ordinal field: 0 = none, 0xFFFF = ordinal follows, else a string.
void ReadNameOrOrdinal(Reader& reader, bool* isOrdinal, WORD* ordinal, std::u16string* text) {
  const WORD first = reader.Get<WORD>();
  *isOrdinal = false;
  text->clear();
  if (first == 0) return;
  if (first == 0xFFFF) {
    *isOrdinal = true;
    *ordinal = reader.Get<WORD>();
    return;
  }
  *text += static_cast<char16_t>(first);
  *text += reader.String();
}

bool ParseDialog(const std::string& bytes, Dialog* dialog) {
  Reader reader(bytes);
  dialog->style = reader.Get<DWORD>();
  dialog->exStyle = reader.Get<DWORD>();
  const WORD count = reader.Get<WORD>();
  dialog->x = reader.Get<short>();
  dialog->y = reader.Get<short>();
  dialog->cx = reader.Get<short>();
  dialog->cy = reader.Get<short>();
  dialog->menuMarker = reader.Get<WORD>();
  if (dialog->menuMarker != 0) return false;  // the pages have no menu
  dialog->classMarker = reader.Get<WORD>();
  if (dialog->classMarker != 0) return false;  // ... and no window class
  dialog->title = reader.String();
  if (dialog->style & DS_SETFONT) {
    dialog->pointSize = reader.Get<WORD>();
    dialog->face = reader.String();
  }
  for (WORD i = 0; i < count && reader.ok(); ++i) {
    reader.AlignTo4();
    Control c;
    c.style = reader.Get<DWORD>();
    c.exStyle = reader.Get<DWORD>();
    c.x = reader.Get<short>();
    c.y = reader.Get<short>();
    c.cx = reader.Get<short>();
    c.cy = reader.Get<short>();
    c.id = reader.Get<WORD>();
    ReadNameOrOrdinal(reader, &c.classIsAtom, &c.classAtom, &c.className);
    bool textIsOrdinal = false;
    WORD textOrdinal = 0;
    ReadNameOrOrdinal(reader, &textIsOrdinal, &textOrdinal, &c.text);
    if (textIsOrdinal) return false;
    c.creationDataSize = reader.Get<WORD>();
    reader.Skip(c.creationDataSize);
    dialog->controls.push_back(c);
  }
  return reader.ok();
}

struct ExpectedControl {
  WORD id;
  short x, y, cx, cy;
  const char16_t* text;
};

struct ExpectedDialog {
  int id;
  std::vector<ExpectedControl> controls;
};

const std::vector<ExpectedDialog>& ExpectedDialogs() {
  constexpr WORD kStatic = 0xFFFF;  // IDC_STATIC (-1)
  static const std::vector<ExpectedDialog> dialogs = {
      {129, {{1002, 7, 7, 257, 8, u""}, {1003, 7, 23, 257, 16, u""}, {1004, 7, 47, 257, 8, u""}}},
      {131,
       {{kStatic, 7, 23, 136, 8, u"「次へ」を押すとアンインストールを開始します。"},
        {1009, 7, 7, 257, 8, u""}}},
      {133, {{kStatic, 7, 7, 124, 8, u"「次へ」を押すとインストールを開始します。"}}},
      {134,
       {{kStatic, 7, 7, 198, 8, u"作業を続行する為には、一旦パソコンを再起動する必要があります。"},
        {1010, 7, 23, 124, 8, u"再起動後、自動的に作業が再開されます。"}}},
      {147, {{1007, 7, 7, 257, 8, u""}}},
      {148, {{1008, 7, 7, 257, 8, u""}}},
  };
  return dialogs;
}

TEST(ResourceDialogs, ExactlyTheSixPageTemplatesExist) {
  ASSERT_NE(nullptr, Updater());
  EXPECT_EQ(NumberNames({129, 131, 133, 134, 147, 148}), ResourceNames(kDialogType));
}

TEST(ResourceDialogs, EveryPageTemplateHasTheClassicLayoutStyleAndFont) {
  ASSERT_NE(nullptr, Updater());
  for (const ExpectedDialog& expected : ExpectedDialogs()) {
    SCOPED_TRACE("dialog " + std::to_string(expected.id));
    std::string bytes;
    ASSERT_TRUE(ReadResource(kDialogType, MAKEINTRESOURCEW(expected.id), &bytes));
    DWORD signature = 0;
    std::memcpy(&signature, bytes.data(), bytes.size() >= 4 ? 4 : 0);
    ASSERT_NE(0xFFFF0001u, signature) << "extended template instead of the classic form";
    Dialog dialog;
    ASSERT_TRUE(ParseDialog(bytes, &dialog)) << "template cannot be read, or has a menu or class";
    EXPECT_EQ(0x48C00040u, dialog.style);
    EXPECT_EQ(static_cast<DWORD>(WS_CHILD | WS_DISABLED | WS_CAPTION | DS_SETFONT), dialog.style);
    EXPECT_EQ(0u, dialog.exStyle);
    EXPECT_EQ(0, dialog.x);
    EXPECT_EQ(0, dialog.y);
    EXPECT_EQ(271, dialog.cx);
    EXPECT_EQ(140, dialog.cy);
    EXPECT_TRUE(dialog.title.empty()) << Utf8(dialog.title);
    EXPECT_EQ(9, dialog.pointSize);
    EXPECT_TRUE(dialog.face == u"ＭＳ Ｐゴシック") << Utf8(dialog.face);
  }
}

TEST(ResourceDialogs, EveryControlHasItsIdClassStyleRectangleTextAndPlace) {
  ASSERT_NE(nullptr, Updater());
  for (const ExpectedDialog& expected : ExpectedDialogs()) {
    std::string bytes;
    ASSERT_TRUE(ReadResource(kDialogType, MAKEINTRESOURCEW(expected.id), &bytes)) << expected.id;
    Dialog dialog;
    ASSERT_TRUE(ParseDialog(bytes, &dialog)) << expected.id;
    ASSERT_EQ(expected.controls.size(), dialog.controls.size())
        << "controls of dialog " << expected.id;
    for (size_t i = 0; i < expected.controls.size(); ++i) {
      SCOPED_TRACE("dialog " + std::to_string(expected.id) + ", control #" + std::to_string(i + 1));
      const ExpectedControl& want = expected.controls[i];
      const Control& have = dialog.controls[i];
      EXPECT_EQ(want.id, have.id);
      EXPECT_TRUE(have.classIsAtom) << "class given by name: " << Utf8(have.className);
      EXPECT_EQ(0x0082, have.classAtom) << "not the Static class";
      EXPECT_EQ(0x50020000u, have.style);
      EXPECT_EQ(static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT), have.style);
      EXPECT_EQ(0u, have.exStyle);
      EXPECT_EQ(want.x, have.x);
      EXPECT_EQ(want.y, have.y);
      EXPECT_EQ(want.cx, have.cx);
      EXPECT_EQ(want.cy, have.cy);
      EXPECT_TRUE(have.text == want.text)
          << "\n  actual:   " << Utf8(have.text) << "\n  expected: " << Utf8(want.text);
      EXPECT_EQ(0, have.creationDataSize);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Header bitmap and icon

TEST(ResourceImages, HeaderBitmapIs49By49TrueColourWithoutColourTable) {
  ASSERT_NE(nullptr, Updater());
  EXPECT_EQ(NumberNames({130}), ResourceNames(kBitmapType)) << "the header is the only bitmap";
  std::string bytes;
  ASSERT_TRUE(ReadResource(kBitmapType, MAKEINTRESOURCEW(130), &bytes));
  ASSERT_GE(bytes.size(), sizeof(BITMAPINFOHEADER));
  BITMAPINFOHEADER header;
  std::memcpy(&header, bytes.data(), sizeof(header));
  EXPECT_EQ(sizeof(BITMAPINFOHEADER), header.biSize);
  EXPECT_EQ(49, header.biWidth);
  EXPECT_EQ(49, header.biHeight);
  EXPECT_EQ(1, header.biPlanes);
  EXPECT_EQ(24, header.biBitCount);
  EXPECT_EQ(static_cast<DWORD>(BI_RGB), header.biCompression);
  EXPECT_EQ(0u, header.biClrUsed);
  const size_t stride = (49 * 3 + 3) & ~3u;
  EXPECT_EQ(sizeof(BITMAPINFOHEADER) + stride * 49, bytes.size())
      << "pixels must follow the header directly (no colour table) and fill 49 rows";
  if (header.biSizeImage != 0) {
    EXPECT_EQ(stride * 49, header.biSizeImage);
  }

  // The emblem stands on the white of the wizard's header band: white corners, colour inside.
  if (bytes.size() == sizeof(BITMAPINFOHEADER) + stride * 49) {
    auto pixel = [&](int x, int y) {
      const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data()) +
                               sizeof(BITMAPINFOHEADER) + (48 - y) * stride + x * 3;
      return RGB(p[2], p[1], p[0]);
    };
    EXPECT_EQ(RGB(255, 255, 255), pixel(0, 0));
    EXPECT_EQ(RGB(255, 255, 255), pixel(48, 0));
    EXPECT_EQ(RGB(255, 255, 255), pixel(0, 48));
    EXPECT_EQ(RGB(255, 255, 255), pixel(48, 48));
    EXPECT_NE(RGB(255, 255, 255), pixel(24, 40));
  }
}

#pragma pack(push, 2)
struct GroupIconHeader {
  WORD reserved, type, count;
};
struct GroupIconEntry {
  BYTE width, height, colourCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInResource;
  WORD id;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconEntry) == 14, "group icon entries are 14 bytes");

struct ExpectedIcon {
  WORD id;
  int size;
  int bits;
};
constexpr ExpectedIcon kIcons[] = {{1, 48, 4},  {2, 32, 4}, {3, 16, 4}, {4, 48, 24}, {5, 32, 24},
                                   {6, 16, 24}, {7, 16, 8}, {8, 32, 8}, {9, 48, 8}};

TEST(ResourceImages, IconGroupListsNineImagesInOrder) {
  ASSERT_NE(nullptr, Updater());
  EXPECT_EQ(NumberNames({128}), ResourceNames(kGroupIconType));
  EXPECT_EQ(NumberNames({1, 2, 3, 4, 5, 6, 7, 8, 9}), ResourceNames(kIconType));
  std::string bytes;
  ASSERT_TRUE(ReadResource(kGroupIconType, MAKEINTRESOURCEW(128), &bytes));
  ASSERT_GE(bytes.size(), sizeof(GroupIconHeader));
  GroupIconHeader header;
  std::memcpy(&header, bytes.data(), sizeof(header));
  EXPECT_EQ(0, header.reserved);
  EXPECT_EQ(1, header.type);
  ASSERT_EQ(9, header.count);
  ASSERT_EQ(sizeof(GroupIconHeader) + 9 * sizeof(GroupIconEntry), bytes.size());
  for (int i = 0; i < 9; ++i) {
    SCOPED_TRACE("entry " + std::to_string(i + 1));
    GroupIconEntry entry;
    std::memcpy(&entry, bytes.data() + sizeof(header) + i * sizeof(entry), sizeof(entry));
    const ExpectedIcon& want = kIcons[i];
    EXPECT_EQ(want.id, entry.id);
    EXPECT_EQ(want.size, entry.width);
    EXPECT_EQ(want.size, entry.height);
    EXPECT_EQ(want.bits == 4 ? 16 : 0, entry.colourCount);
    EXPECT_EQ(1, entry.planes);
    EXPECT_EQ(want.bits, entry.bitCount);

    // The image itself agrees with its directory entry.
    std::string image;
    ASSERT_TRUE(ReadResource(kIconType, MAKEINTRESOURCEW(entry.id), &image));
    EXPECT_EQ(entry.bytesInResource, image.size());
    ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER bih;
    std::memcpy(&bih, image.data(), sizeof(bih));
    EXPECT_EQ(want.size, bih.biWidth);
    EXPECT_EQ(want.size * 2, bih.biHeight) << "colour and mask bits";
    EXPECT_EQ(want.bits, bih.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), bih.biCompression);
    const size_t palette = want.bits < 24 ? (size_t{1} << want.bits) * 4 : 0;
    const size_t colourStride = ((want.size * want.bits + 31) / 32) * 4;
    const size_t maskStride = ((want.size + 31) / 32) * 4;
    EXPECT_EQ(sizeof(BITMAPINFOHEADER) + palette + (colourStride + maskStride) * want.size,
              image.size());
  }
}

// The shell can make an icon of every image.
TEST(ResourceImages, EveryIconImageBecomesAnIcon) {
  ASSERT_NE(nullptr, Updater());
  for (const ExpectedIcon& want : kIcons) {
    std::string image;
    ASSERT_TRUE(ReadResource(kIconType, MAKEINTRESOURCEW(want.id), &image)) << want.id;
    HICON icon = CreateIconFromResourceEx(reinterpret_cast<BYTE*>(&image[0]),
                                          static_cast<DWORD>(image.size()), TRUE, 0x00030000,
                                          want.size, want.size, LR_DEFAULTCOLOR);
    EXPECT_NE(nullptr, icon) << "icon image " << want.id;
    if (icon) DestroyIcon(icon);
  }
}

// ---------------------------------------------------------------------------------------------
// Version block

struct VersionNode {
  std::u16string key;
  WORD type = 0;
  WORD valueLength = 0;
  std::string value;
  std::vector<VersionNode> children;
};

bool ParseVersionNode(const std::string& bytes, size_t offset, VersionNode* node) {
  Reader reader(bytes);
  reader.Seek(offset);
  const WORD length = reader.Get<WORD>();
  node->valueLength = reader.Get<WORD>();
  node->type = reader.Get<WORD>();
  node->key = reader.String();
  reader.AlignTo4();
  const size_t end = offset + length;
  if (!reader.ok() || length < 6 || end > bytes.size()) return false;
  size_t valueBytes = node->type == 1 ? node->valueLength * 2u : node->valueLength;
  if (reader.offset() + valueBytes > end) return false;
  node->value = bytes.substr(reader.offset(), valueBytes);
  reader.Skip(valueBytes);
  reader.AlignTo4();
  while (reader.ok() && reader.offset() < end) {
    VersionNode child;
    if (!ParseVersionNode(bytes, reader.offset(), &child)) return false;
    WORD childLength;
    std::memcpy(&childLength, bytes.data() + reader.offset(), 2);
    node->children.push_back(child);
    reader.Skip(childLength);
    reader.AlignTo4();
  }
  return true;
}

std::u16string TextValue(const VersionNode& node) {
  std::u16string text;
  for (size_t i = 0; i + 1 < node.value.size(); i += 2) {
    char16_t c;
    std::memcpy(&c, node.value.data() + i, 2);
    if (c == 0) break;
    text += c;
  }
  return text;
}

const std::map<std::u16string, std::u16string>& ExpectedVersionStrings() {
  static const std::map<std::u16string, std::u16string> strings = {
      {u"Comments", u"Tidemarkシリーズアップデートプログラム"},
      {u"CompanyName", u"KORVANE SYSTEMS,INC."},
      {u"FileDescription", u"Tidemarkシリーズアップデートプログラム"},
      {u"FileVersion", u"1.04.7"},
      {u"InternalName", u"Updater"},
      {u"LegalCopyright", u"Copyright (C) KORVANE SYSTEMS,INC."},
      {u"LegalTrademarks", u""},
      {u"OriginalFilename", u"Updater.exe"},
      {u"PrivateBuild", u""},
      {u"ProductName", u"Tidemark"},
      {u"ProductVersion", u"2.30"},
      {u"SpecialBuild", u""},
  };
  return strings;
}

std::vector<char> FileVersionInfo() {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(UpdaterPath().c_str(), &handle);
  std::vector<char> data(size);
  if (size == 0 || !GetFileVersionInfoW(UpdaterPath().c_str(), 0, size, data.data())) data.clear();
  return data;
}

TEST(ResourceVersion, FixedPartNamesVersion1047OfAWindowsApplication) {
  ASSERT_NE(nullptr, Updater());
  EXPECT_EQ(NumberNames({1}), ResourceNames(kVersionType));
  std::vector<char> data = FileVersionInfo();
  ASSERT_FALSE(data.empty()) << "GetFileVersionInfoW: " << GetLastError();
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
  ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), size);
  EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
  EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
  EXPECT_EQ(0x00040007u, fixed->dwFileVersionLS);
  EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
  EXPECT_EQ(0x00040007u, fixed->dwProductVersionLS);
  EXPECT_EQ(0x3Fu, fixed->dwFileFlagsMask);
  EXPECT_EQ(0u, fixed->dwFileFlags);
  EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), fixed->dwFileOS);
  EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);
  EXPECT_EQ(0u, fixed->dwFileSubtype);
}

TEST(ResourceVersion, OneJapaneseUnicodeStringBlockWithExactlyTheseValues) {
  ASSERT_NE(nullptr, Updater());
  std::string bytes;
  ASSERT_TRUE(ReadResource(kVersionType, MAKEINTRESOURCEW(1), &bytes));
  VersionNode root;
  ASSERT_TRUE(ParseVersionNode(bytes, 0, &root)) << "the version block cannot be read";
  EXPECT_TRUE(root.key == u"VS_VERSION_INFO");
  ASSERT_EQ(2u, root.children.size());
  const VersionNode* stringInfo = nullptr;
  const VersionNode* varInfo = nullptr;
  for (const VersionNode& child : root.children) {
    if (child.key == u"StringFileInfo") stringInfo = &child;
    if (child.key == u"VarFileInfo") varInfo = &child;
  }
  ASSERT_NE(nullptr, stringInfo);
  ASSERT_NE(nullptr, varInfo);

  ASSERT_EQ(1u, stringInfo->children.size()) << "exactly one string block";
  const VersionNode& block = stringInfo->children[0];
  EXPECT_TRUE(block.key == u"041104b0") << Utf8(block.key);
  std::map<std::u16string, std::u16string> values;
  for (const VersionNode& entry : block.children) {
    EXPECT_FALSE(values.count(entry.key)) << "key twice: " << Utf8(entry.key);
    values[entry.key] = TextValue(entry);
  }
  for (const auto& [key, value] : ExpectedVersionStrings()) {
    auto found = values.find(key);
    if (found == values.end()) {
      ADD_FAILURE() << "missing key " << Utf8(key);
      continue;
    }
    EXPECT_TRUE(found->second == value) << Utf8(key) << ": " << Utf8(found->second);
  }
  for (const auto& [key, value] : values) {
    EXPECT_TRUE(ExpectedVersionStrings().count(key)) << "unexpected key " << Utf8(key);
  }

  ASSERT_EQ(1u, varInfo->children.size());
  const VersionNode& translation = varInfo->children[0];
  EXPECT_TRUE(translation.key == u"Translation");
  ASSERT_EQ(4u, translation.value.size()) << "exactly one language and code page pair";
  WORD pair[2];
  std::memcpy(pair, translation.value.data(), 4);
  EXPECT_EQ(0x0411, pair[0]);
  EXPECT_EQ(1200, pair[1]);
}

// What the shell's property page reads, through the version API.
TEST(ResourceVersion, VersionApiFindsEveryValueUnderTheTranslation) {
  ASSERT_NE(nullptr, Updater());
  std::vector<char> data = FileVersionInfo();
  ASSERT_FALSE(data.empty());
  WORD* pair = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&pair), &size));
  ASSERT_EQ(4u, size);
  EXPECT_EQ(0x0411, pair[0]);
  EXPECT_EQ(1200, pair[1]);
  for (const auto& [key, value] : ExpectedVersionStrings()) {
    std::wstring query = L"\\StringFileInfo\\041104b0\\" +
                         std::wstring(reinterpret_cast<const wchar_t*>(key.c_str()));
    wchar_t* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &length)) {
      EXPECT_TRUE(value.empty()) << "VerQueryValueW finds no " << Utf8(key);
      continue;
    }
    std::u16string found = text ? FromWide(text, wcsnlen(text, length)) : u"";
    EXPECT_TRUE(found == value) << Utf8(key) << ": " << Utf8(found);
  }
}

// ---------------------------------------------------------------------------------------------
// Manifest

struct XmlElement {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::string text;
  std::vector<XmlElement> children;

  std::vector<const XmlElement*> Children(const std::string& childName) const {
    std::vector<const XmlElement*> found;
    for (const XmlElement& child : children) {
      if (child.name == childName) found.push_back(&child);
    }
    return found;
  }
};

// A small, strict reader for the manifest's XML: declaration, comments, elements, attributes in
// double or single quotes, text. Tags must nest and close properly.
class XmlReader {
 public:
  explicit XmlReader(const std::string& text) : s_(text) {}

  bool ReadDocument(XmlElement* root, std::string* error) {
    SkipMisc();
    if (s_.compare(pos_, 5, "<?xml") == 0) {
      size_t end = s_.find("?>", pos_);
      if (end == std::string::npos) return Fail(error, "unterminated declaration");
      pos_ = end + 2;
    }
    SkipMisc();
    if (!ReadElement(root, error)) return false;
    SkipMisc();
    if (pos_ != s_.size()) return Fail(error, "text after the root element");
    return true;
  }

 private:
  bool Fail(std::string* error, const std::string& what) {
    *error = what + " at offset " + std::to_string(pos_);
    return false;
  }
  void SkipSpace() {
    while (pos_ < s_.size() && std::strchr(" \t\r\n", s_[pos_])) ++pos_;
  }
  void SkipMisc() {
    for (;;) {
      SkipSpace();
      if (s_.compare(pos_, 4, "<!--") != 0) return;
      size_t end = s_.find("-->", pos_);
      pos_ = end == std::string::npos ? s_.size() : end + 3;
    }
  }
  std::string Name() {
    size_t start = pos_;
    while (pos_ < s_.size() &&
           (std::isalnum(static_cast<unsigned char>(s_[pos_])) || std::strchr(":_-.", s_[pos_]))) {
      ++pos_;
    }
    return s_.substr(start, pos_ - start);
  }
  bool ReadElement(XmlElement* element, std::string* error) {
    if (pos_ >= s_.size() || s_[pos_] != '<') return Fail(error, "element expected");
    ++pos_;
    element->name = Name();
    if (element->name.empty()) return Fail(error, "element name expected");
    for (;;) {
      SkipSpace();
      if (pos_ >= s_.size()) return Fail(error, "unterminated tag");
      if (s_.compare(pos_, 2, "/>") == 0) {
        pos_ += 2;
        return true;
      }
      if (s_[pos_] == '>') {
        ++pos_;
        break;
      }
      std::string attribute = Name();
      if (attribute.empty()) return Fail(error, "attribute name expected");
      SkipSpace();
      if (pos_ >= s_.size() || s_[pos_] != '=') return Fail(error, "'=' expected");
      ++pos_;
      SkipSpace();
      if (pos_ >= s_.size() || (s_[pos_] != '"' && s_[pos_] != '\'')) {
        return Fail(error, "quoted value expected");
      }
      const char quote = s_[pos_++];
      size_t end = s_.find(quote, pos_);
      if (end == std::string::npos) return Fail(error, "unterminated value");
      if (element->attributes.count(attribute)) return Fail(error, "attribute twice: " + attribute);
      element->attributes[attribute] = s_.substr(pos_, end - pos_);
      pos_ = end + 1;
    }
    for (;;) {
      size_t next = s_.find('<', pos_);
      if (next == std::string::npos) return Fail(error, "unclosed element " + element->name);
      element->text += s_.substr(pos_, next - pos_);
      pos_ = next;
      if (s_.compare(pos_, 4, "<!--") == 0) {
        SkipMisc();
        continue;
      }
      if (s_.compare(pos_, 2, "</") == 0) {
        pos_ += 2;
        if (Name() != element->name) return Fail(error, "mismatched end of " + element->name);
        SkipSpace();
        if (pos_ >= s_.size() || s_[pos_] != '>') return Fail(error, "'>' expected");
        ++pos_;
        size_t first = element->text.find_first_not_of(" \t\r\n");
        size_t last = element->text.find_last_not_of(" \t\r\n");
        element->text =
            first == std::string::npos ? "" : element->text.substr(first, last - first + 1);
        return true;
      }
      XmlElement child;
      if (!ReadElement(&child, error)) return false;
      element->children.push_back(child);
    }
  }

  const std::string& s_;
  size_t pos_ = 0;
};

// The architecture this build's manifest names: the shipped program is 32-bit; a 64-bit build
// exists only to run the tests and names the amd64 assemblies.
#ifdef _WIN64
const char kArchitecture[] = "amd64";
#else
const char kArchitecture[] = "X86";
#endif

std::multiset<std::string> ChildNames(const XmlElement& element) {
  std::multiset<std::string> names;
  for (const XmlElement& child : element.children) names.insert(child.name);
  return names;
}

TEST(ResourceManifest, ExactlyOneManifestWithId1) {
  ASSERT_NE(nullptr, Updater());
  EXPECT_EQ(NumberNames({1}), ResourceNames(kManifestType))
      << "a second manifest (for example the toolchain's default one) would be ignored or refused";
}

TEST(ResourceManifest, DeclaresIdentityDescriptionCommonControls6AndAdministrator) {
  ASSERT_NE(nullptr, Updater());
  std::string text;
  ASSERT_TRUE(ReadResource(kManifestType, MAKEINTRESOURCEW(1), &text));
  XmlElement root;
  std::string error;
  ASSERT_TRUE(XmlReader(text).ReadDocument(&root, &error)) << error << "\n" << text;

  EXPECT_EQ("assembly", root.name);
  EXPECT_EQ((std::map<std::string, std::string>{{"xmlns", "urn:schemas-microsoft-com:asm.v1"},
                                                {"manifestVersion", "1.0"}}),
            root.attributes);
  EXPECT_EQ(
      (std::multiset<std::string>{"assemblyIdentity", "description", "dependency", "trustInfo"}),
      ChildNames(root));

  auto identity = root.Children("assemblyIdentity");
  ASSERT_EQ(1u, identity.size());
  EXPECT_EQ((std::map<std::string, std::string>{{"type", "win32"},
                                                {"name", "KORVANE.Updater.Updater"},
                                                {"version", "1.0.0.0"},
                                                {"processorArchitecture", kArchitecture}}),
            identity[0]->attributes);

  auto description = root.Children("description");
  ASSERT_EQ(1u, description.size());
  EXPECT_EQ("Updater", description[0]->text);

  auto dependency = root.Children("dependency");
  ASSERT_EQ(1u, dependency.size());
  EXPECT_EQ((std::multiset<std::string>{"dependentAssembly"}), ChildNames(*dependency[0]));
  auto dependent = dependency[0]->Children("dependentAssembly");
  ASSERT_EQ(1u, dependent.size());
  EXPECT_EQ((std::multiset<std::string>{"assemblyIdentity"}), ChildNames(*dependent[0]));
  auto controls = dependent[0]->Children("assemblyIdentity");
  ASSERT_EQ(1u, controls.size());
  EXPECT_EQ((std::map<std::string, std::string>{{"type", "win32"},
                                                {"name", "Microsoft.Windows.Common-Controls"},
                                                {"version", "6.0.0.0"},
                                                {"processorArchitecture", kArchitecture},
                                                {"publicKeyToken", "6595b64144ccf1df"},
                                                {"language", "*"}}),
            controls[0]->attributes);

  auto trust = root.Children("trustInfo");
  ASSERT_EQ(1u, trust.size());
  EXPECT_EQ((std::map<std::string, std::string>{{"xmlns", "urn:schemas-microsoft-com:asm.v3"}}),
            trust[0]->attributes);
  auto security = trust[0]->Children("security");
  ASSERT_EQ(1u, security.size());
  auto privileges = security[0]->Children("requestedPrivileges");
  ASSERT_EQ(1u, privileges.size());
  auto level = privileges[0]->Children("requestedExecutionLevel");
  ASSERT_EQ(1u, level.size());
  EXPECT_EQ((std::map<std::string, std::string>{{"level", "requireAdministrator"}}),
            level[0]->attributes)
      << "administrator rights, and no uiAccess";
}

// The manifest is not only well formed but binds: inside its activation context "comctl32.dll"
// is the side-by-side common-controls 6 assembly, and it is new enough for the Wizard97 style.
TEST(ResourceManifest, ActivationContextBindsTheCommonControls6Assembly) {
  const std::wstring path = UpdaterPath();
  ACTCTXW context = {};
  context.cbSize = sizeof(context);
  context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  context.lpSource = path.c_str();
  context.lpResourceName = MAKEINTRESOURCEW(1);
  HANDLE handle = CreateActCtxW(&context);
  ASSERT_NE(INVALID_HANDLE_VALUE, handle) << "CreateActCtxW: " << GetLastError();
  ULONG_PTR cookie = 0;
  const BOOL activated = ActivateActCtx(handle, &cookie);
  base::ScopedLibrary comctl(activated ? LoadLibraryW(L"comctl32.dll") : nullptr);
  if (activated) DeactivateActCtx(0, cookie);
  ReleaseActCtx(handle);
  ASSERT_TRUE(activated);
  ASSERT_TRUE(comctl);

  wchar_t file[MAX_PATH] = {};
  GetModuleFileNameW(comctl.get(), file, MAX_PATH);
  std::wstring lower(file);
  for (wchar_t& c : lower) c = towlower(c);
  EXPECT_NE(std::wstring::npos, lower.find(L"\\winsxs\\")) << Narrow(lower);
  EXPECT_NE(std::wstring::npos,
            lower.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6."))
      << Narrow(lower);

  auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
      reinterpret_cast<void*>(GetProcAddress(comctl.get(), "DllGetVersion")));
  ASSERT_NE(nullptr, getVersion);
  DLLVERSIONINFO info = {};
  info.cbSize = sizeof(info);
  ASSERT_EQ(S_OK, getVersion(&info));
  EXPECT_GE(MAKELONG(info.dwMinorVersion, info.dwMajorVersion), MAKELONG(80, 5))
      << "common controls " << info.dwMajorVersion << "." << info.dwMinorVersion;
}

// ---------------------------------------------------------------------------------------------
// Languages

struct ResourceEntry {
  std::wstring type, name;
  WORD language;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param) {
  reinterpret_cast<std::vector<ResourceEntry>*>(param)->push_back(
      {NameText(type), NameText(name), language});
  return TRUE;
}

BOOL CALLBACK CollectNamesOfType(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
  EnumResourceLanguagesW(module, type, name, CollectLanguage, param);
  return TRUE;
}

BOOL CALLBACK CollectType(HMODULE module, LPWSTR type, LONG_PTR param) {
  EnumResourceNamesW(module, type, CollectNamesOfType, param);
  return TRUE;
}

TEST(ResourceLanguages, EveryResourceIsJapaneseOnly) {
  ASSERT_NE(nullptr, Updater());
  std::vector<ResourceEntry> entries;
  EnumResourceTypesW(Updater(), CollectType, reinterpret_cast<LONG_PTR>(&entries));
  std::set<std::wstring> types;
  for (const ResourceEntry& entry : entries) {
    types.insert(entry.type);
    EXPECT_EQ(kJapanese, entry.language)
        << "type " << Narrow(entry.type) << ", name " << Narrow(entry.name) << " has language 0x"
        << std::hex << entry.language;
  }
  // The enumeration reached every kind of resource the wizard uses.
  for (int type :
       {2, 3, 5, 6, 14, 16, 24}) {  // bitmap, icon, dialog, string, group icon, version, manifest
    EXPECT_TRUE(types.count(L"#" + std::to_wstring(type))) << "no resource of type " << type;
  }
}

}  // namespace
