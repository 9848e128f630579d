#include "tests/wizard/page_checks.h"

#include <gtest/gtest.h>

namespace wizard_testing {

namespace {
// The header band holds the page's title and subtitle beside the 49-pixel emblem; a page of a
// classic wizard starts a few pixels from the top.
constexpr int kLowestHeaderBand = 40;
}  // namespace

void ExpectPageFrame(const WizardDriver& wizard) {
  const int page = wizard.CurrentPage();
  EXPECT_FALSE(wizard.Button(IDHELP).visible) << "no page offers Help (page " << page << ")";
  EXPECT_GE(wizard.PageTop(), kLowestHeaderBand) << "page " << page << " has no header band";
}

}  // namespace wizard_testing
