// The heap-owned text and array the updater uses instead of the standard containers: each text
// operation gives what std::string gives for the same steps, and the array keeps move-only
// elements whole across its growth.
#include "base/heap_text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "tests/support/test_support.h"

namespace {

std::string Of(const base::Text& text) { return std::string(text.c_str(), text.size()); }

TEST(HeapText, EachStepMatchesStdString) {
  struct Row {
    const char* name;
    std::function<void(base::Text&)> ours;
    std::function<void(std::string&)> model;
  };
  const std::string longer(300, 'z');  // past the first and the second growth
  const Row rows[] = {
      {"assign", [](base::Text& t) { t.assign("abc"); }, [](std::string& s) { s.assign("abc"); }},
      {"append a long text", [&](base::Text& t) { t.append(longer.c_str()); },
       [&](std::string& s) { s.append(longer); }},
      {"append a part of itself", [](base::Text& t) { t.append(t.c_str() + 1, 2); },
       [](std::string& s) { s.append(s.c_str() + 1, 2); }},
      {"assign a part of itself", [](base::Text& t) { t.assign(t.c_str() + 2, 5); },
       [](std::string& s) { s.assign(s.c_str() + 2, 5); }},
      {"grow with a fill", [](base::Text& t) { t.resize(9, '#'); },
       [](std::string& s) { s.resize(9, '#'); }},
      {"cut", [](base::Text& t) { t.resize(4); }, [](std::string& s) { s.resize(4); }},
      {"a character", [](base::Text& t) { t += 'q'; }, [](std::string& s) { s += 'q'; }},
      {"a tail beyond the end", [](base::Text& t) { t = t.substr(3, 100); },
       [](std::string& s) { s = s.substr(3, 100); }},
      {"a start beyond the end", [](base::Text& t) { t.assign(base::Text("xy"), 7); },
       [](std::string& s) { s.clear(); }},
      {"joined", [](base::Text& t) { t = t + "left" + base::Text("right"); },
       [](std::string& s) { s = s + "left" + "right"; }},
      {"cleared", [](base::Text& t) { t.clear(); }, [](std::string& s) { s.clear(); }},
  };
  base::Text ours;
  std::string model;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    row.ours(ours);
    row.model(model);
    EXPECT_EQ(model, Of(ours));
    EXPECT_EQ(model.size(), ours.size());
    EXPECT_EQ('\0', ours.c_str()[ours.size()]) << "always terminated";
    EXPECT_EQ(model.find('e'), ours.find('e'));
  }
}

TEST(HeapText, ComparesLikeStdString) {
  EXPECT_TRUE(base::Text("abc").starts_with(base::Text("ab")));
  EXPECT_TRUE(base::Text("abc").starts_with(base::Text()));
  EXPECT_FALSE(base::Text("ab").starts_with(base::Text("abc")));
  EXPECT_FALSE(base::Text("abc").starts_with(base::Text("b")));
  EXPECT_TRUE(base::Text("ab") < base::Text("abc"));
  EXPECT_TRUE(base::Text("abd") > base::Text("abc"));
  EXPECT_TRUE(base::WideText(L"a\0b", 3) != base::WideText(L"a"));
  // Characters compare as unsigned: a double-byte lead byte sorts after ASCII.
  EXPECT_TRUE(base::Text("\x82\xa0") > base::Text("z"));
  EXPECT_TRUE(base::WideText(L"\xff21") > base::WideText(L"z"));
  // Index size() is the terminator, also of a text that never held anything, read or written to.
  const base::Text constEmpty;
  EXPECT_EQ('\0', constEmpty[0]);
  base::Text neverHeld;
  EXPECT_EQ('\0', neverHeld[0]);
  EXPECT_STREQ("", neverHeld.c_str());
  base::Text moved("kept");
  base::Text taken(std::move(moved));
  EXPECT_EQ("kept", Of(taken));
  EXPECT_STREQ("", moved.c_str());  // NOLINT: a moved-from text is empty and usable
}

TEST(HeapArray, AnElementPushedOntoItsOwnArraySurvivesTheGrowth) {
  base::HeapArray<base::Text> texts;
  texts.push_back("the first element, long enough to live on the heap");
  for (int i = 0; i < 40; ++i) texts.push_back(texts[0]);
  ASSERT_EQ(41u, texts.size());
  for (const base::Text& text : texts) EXPECT_EQ(texts[0], text);
}

TEST(HeapArray, KeepsMoveOnlyElementsAcrossGrowth) {
  base::HeapArray<std::unique_ptr<int>> items;
  for (int i = 0; i < 100; ++i) items.push_back(std::make_unique<int>(i));
  ASSERT_EQ(100u, items.size());
  for (int i = 0; i < 100; ++i) ASSERT_EQ(i, *items[i]);
  auto counter = std::make_shared<int>(0);
  {
    base::HeapArray<std::shared_ptr<int>> copies;
    for (int i = 0; i < 20; ++i) copies.push_back(counter);
    base::HeapArray<std::shared_ptr<int>> more = copies;
    EXPECT_EQ(41, counter.use_count());
    more.resize(5);
    EXPECT_EQ(26, counter.use_count()) << "a cut destroys what it drops";
  }
  EXPECT_EQ(1, counter.use_count()) << "every element is destroyed with the array";
}

HWND g_testOwner = nullptr;

// The out-of-memory box is shown like the program's other boxes: the program's name as caption,
// the exclamation icon, the registered window as owner (none while there is none).
TEST(OutOfMemoryBox, FollowsTheProgramsBoxes) {
  g_testOwner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(nullptr, g_testOwner);
  struct Row {
    const char* name;
    HWND (*owner)();
    HWND expectedOwner;
  };
  const Row rows[] = {
      {"no owner registered", nullptr, nullptr},
      {"the wizard registered", [] { return g_testOwner; }, g_testOwner},
      {"registered, no window yet", []() -> HWND { return nullptr; }, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<testing_support::MessageBoxAnswerer::Box> boxes;
    {
      testing_support::MessageBoxAnswerer answerer(false);
      base::RegisterOutOfMemoryOwner(row.owner);
      base::ShowOutOfMemoryBox();
      boxes = answerer.boxes();
    }
    base::RegisterOutOfMemoryOwner(nullptr);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("engine_tests", boxes[0].caption) << "the executable's name without folder and .exe";
    EXPECT_EQ(row.expectedOwner, boxes[0].owner);
    EXPECT_EQ(LoadIconA(nullptr, IDI_EXCLAMATION), boxes[0].icon) << "the exclamation icon";
    EXPECT_NE(LoadIconA(nullptr, IDI_HAND), boxes[0].icon);
    EXPECT_FALSE(boxes[0].text.empty());
  }
  DestroyWindow(g_testOwner);
}

}  // namespace
