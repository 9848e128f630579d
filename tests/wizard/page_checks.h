// Checks that hold on every page of the wizard, shared by the flow and journey tests.
#ifndef TESTS_WIZARD_PAGE_CHECKS_H_
#define TESTS_WIZARD_PAGE_CHECKS_H_

#include "tests/wizard/wizard_driver.h"

namespace wizard_testing {

// The page the wizard is on has the wizard's frame: no Help button, and the page sits below the
// Wizard97 header band (a classic wizard page starts at the top of the sheet).
void ExpectPageFrame(const WizardDriver& wizard);

}  // namespace wizard_testing

#endif  // TESTS_WIZARD_PAGE_CHECKS_H_
