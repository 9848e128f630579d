// The class layer's wizard on the real comctl32: a three-page wizard run modally and driven from a
// second thread with PSM_PRESSBUTTON, as a user would press the buttons.
#include "framework/property_sheet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "framework/property_page.h"

namespace {

constexpr UINT kPrivateMessage = WM_APP + 7;

struct Journal {
  std::vector<int> activations;  // page number on each PSN_SETACTIVE
  int finishes = 0;
  int privateMessages = 0;
};

class TestPage : public CPropertyPageEx {
 public:
  TestPage(int number, Journal* journal)
      : CPropertyPageEx(200 + number), number_(number), journal_(journal) {}
  std::function<LRESULT()> onNext;

 protected:
  BOOL OnSetActive() override {
    journal_->activations.push_back(number_);
    PostMessageA(GetSheetWindow(), PSM_SETWIZBUTTONS, 0,
                 number_ == 3 ? PSWIZB_FINISH : PSWIZB_NEXT);
    return TRUE;
  }
  LRESULT OnWizardNext() override { return onNext ? onNext() : 0; }
  BOOL OnWizardFinish() override {
    ++journal_->finishes;
    return TRUE;
  }
  BOOL OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT* result) override {
    if (message != kPrivateMessage) return FALSE;
    ++journal_->privateMessages;
    *result = static_cast<LRESULT>(wParam) * 2;
    return TRUE;
  }

 private:
  int number_;
  Journal* journal_;
};

class WizardHarness {
 public:
  WizardHarness()
      : sheet_(0, nullptr, 0, nullptr, nullptr, nullptr),
        page1_(1, &journal_),
        page2_(2, &journal_),
        page3_(3, &journal_) {
    sheet_.AddPage(&page1_);
    sheet_.AddPage(&page2_);
    sheet_.AddPage(&page3_);
    sheet_.m_psh.dwFlags |= PSH_WIZARD;
  }

  // Runs the wizard modally while `drive` presses its buttons from another thread.
  INT_PTR Run(const std::function<void(HWND sheet)>& drive) {
    std::atomic<bool> done{false};
    std::thread driver([&] {
      HWND sheet = nullptr;
      // Presses queued before the first page was shown are refused: the driver waits for it.
      for (int i = 0; i < 400 && !(sheet != nullptr && IsWindowVisible(sheet)); ++i) {
        sheet = sheet_.GetSafeHwnd();
        Sleep(10);
      }
      if (sheet != nullptr && WaitForIndex(sheet, 0)) drive(sheet);
      for (int i = 0; i < 500 && !done; ++i) Sleep(10);
    });
    const INT_PTR result = sheet_.DoModal();
    done = true;
    driver.join();
    return result;
  }

  static int CurrentIndex(HWND sheet) {
    const LRESULT page = SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0);
    return static_cast<int>(SendMessageA(sheet, PSM_HWNDTOINDEX, static_cast<WPARAM>(page), 0));
  }
  static bool WaitForIndex(HWND sheet, int index) {
    for (int i = 0; i < 300; ++i) {
      if (CurrentIndex(sheet) == index) return true;
      Sleep(10);
    }
    return false;
  }

  Journal journal_;
  CPropertySheetEx sheet_;
  TestPage page1_, page2_, page3_;
};

TEST(PropertySheetLayer, FinishEndsTheModalRunWithIdWizFinish) {
  WizardHarness wizard;
  std::vector<int> seen;
  const INT_PTR result = wizard.Run([&](HWND sheet) {
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_NEXT, 0);
    WizardHarness::WaitForIndex(sheet, 1);
    seen.push_back(WizardHarness::CurrentIndex(sheet));
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_NEXT, 0);
    WizardHarness::WaitForIndex(sheet, 2);
    seen.push_back(WizardHarness::CurrentIndex(sheet));
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_FINISH, 0);
  });
  EXPECT_EQ(ID_WIZFINISH, result);
  EXPECT_EQ((std::vector<int>{1, 2}), seen);
  EXPECT_EQ((std::vector<int>{1, 2, 3}), wizard.journal_.activations);
  EXPECT_EQ(1, wizard.journal_.finishes);
  EXPECT_EQ(nullptr, wizard.sheet_.GetSafeHwnd()) << "the window is gone after the run";
}

TEST(PropertySheetLayer, CancelAndCloseBoxEndWithIdCancel) {
  WizardHarness cancelled;
  EXPECT_EQ(IDCANCEL, cancelled.Run([](HWND sheet) {
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
  }));
  // The close box sets the result itself, whatever a page had left there before.
  WizardHarness closed;
  bool nextSeen = false;
  closed.page1_.onNext = [&]() -> LRESULT {
    closed.sheet_.SetModalResult(ID_WIZFINISH);
    nextSeen = true;
    return -1;
  };
  EXPECT_EQ(IDCANCEL, closed.Run([](HWND sheet) {
    SendMessageA(sheet, PSM_PRESSBUTTON, PSBTN_NEXT, 0);
    PostMessageA(sheet, WM_SYSCOMMAND, SC_CLOSE, 0);
  }));
  EXPECT_TRUE(nextSeen);
  EXPECT_EQ(0, closed.journal_.finishes);
}

TEST(PropertySheetLayer, NextHandlerCanRefuseTheMoveAndSelectAnotherPage) {
  WizardHarness wizard;
  wizard.page1_.onNext = [&]() -> LRESULT {
    wizard.sheet_.SelectPage(2);
    return -1;
  };
  std::vector<int> seen;
  const INT_PTR result = wizard.Run([&](HWND sheet) {
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_NEXT, 0);
    WizardHarness::WaitForIndex(sheet, 2);
    seen.push_back(WizardHarness::CurrentIndex(sheet));
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
  });
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_EQ((std::vector<int>{2}), seen);
  EXPECT_EQ((std::vector<int>{1, 3}), wizard.journal_.activations) << "page 2 is never shown";
}

TEST(PropertySheetLayer, PageEndDialogCancelsTheWizard) {
  WizardHarness wizard;
  wizard.page1_.onNext = [&]() -> LRESULT {
    wizard.page1_.EndDialog(IDCANCEL);
    return -1;
  };
  EXPECT_EQ(IDCANCEL,
            wizard.Run([](HWND sheet) { PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_NEXT, 0); }));
}

TEST(PropertySheetLayer, PrivateMessagesReachThePageWithTheirResult) {
  WizardHarness wizard;
  LRESULT answer = 0;
  wizard.Run([&](HWND sheet) {
    HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    answer = SendMessageA(page, kPrivateMessage, 21, 0);
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
  });
  EXPECT_EQ(42, answer);
  EXPECT_EQ(1, wizard.journal_.privateMessages);
}

}  // namespace
