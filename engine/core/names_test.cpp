// The one rule for paths and names, and the two conversions, as tables.
#include "engine/core/names.h"

#include <gtest/gtest.h>

namespace {

struct NameRow {
  const wchar_t* a;
  const wchar_t* b;
  bool same;
  bool under;  // a is under b
};

const NameRow kNames[] = {
    {L"C:\\Program Files\\KORVANE", L"c:\\program files\\korvane", true, true},
    {L"C:\\Program Files\\KORVANE\\Tidemark.exe", L"C:\\Program Files\\KORVANE", false, true},
    {L"C:\\Program Files\\KORVANE\\", L"C:\\Program Files\\KORVANE", false, true},
    {L"C:\\Program Files\\KORVANE", L"C:\\Program Files\\KORVANE\\", false, true},
    {L"C:\\Program Files\\KORVANEX\\a.exe", L"C:\\Program Files\\KORVANE", false, false},
    {L"C:\\Program", L"C:\\Program Files", false, false},
    {L"C:\\CAF\u00C9\\x", L"c:\\caf\u00E9", false, true},  // beyond ASCII, case still ignored
    {L"stra\u00DFe", L"STRASSE", false, false},            // no linguistic expansion
    {L"\u30C6\u30B9\u30C8", L"\u30C6\u30B9\u30C8", true, true},
    {L"", L"", true, false},  // an empty folder holds nothing
};

TEST(NamesTest, OrdinalIgnoringCaseAndUnderAFolder) {
  for (const NameRow& row : kNames) {
    SCOPED_TRACE(testing::Message() << "row " << (&row - kNames));
    EXPECT_EQ(row.same, SameName(row.a, row.b));
    EXPECT_EQ(row.under, IsUnder(row.a, row.b));
  }
}

TEST(NamesTest, ConversionsTellWhatTheCodePageCannotHold) {
  // Code page 932, as the tests run.
  EXPECT_EQ(base::WideText(L"\u30C6\u30B9\u30C8"), ToWide("\x83\x65\x83\x58\x83\x67"));
  EXPECT_TRUE(ToWide("\x83").empty());  // a lead byte without its trail byte
  bool exact = false;
  EXPECT_EQ(base::Text("\x83\x65\x83\x58\x83\x67"), ToAnsi(L"\u30C6\u30B9\u30C8", &exact));
  EXPECT_TRUE(exact);
  EXPECT_EQ(base::Text("caf?"), ToAnsi(L"caf\u00E9", &exact));  // no best fit "cafe"
  EXPECT_FALSE(exact);
  EXPECT_TRUE(SameName("C:\\TEMP\\\x83\x65", "c:\\temp\\\x83\x65"));
  EXPECT_FALSE(SameName("\x83", "\x83"));  // text that is no text names nothing
}

}  // namespace
