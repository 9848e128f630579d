// The wizard's sheet window: shows the program's title on every page, vetoes AutoPlay while the
// wizard exists, and refuses to be closed while an external program runs.
#ifndef APP_WIZARD_SHEET_H_
#define APP_WIZARD_SHEET_H_

#include "framework/property_sheet.h"

class CUpdaterWizardSheet : public CPropertySheetEx {
 public:
  CUpdaterWizardSheet(UINT captionId, HWND parent, UINT selectPage, HBITMAP watermark,
                      HPALETTE palette, HBITMAP header);

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  LRESULT OnCreate(WPARAM wParam, LPARAM lParam);
  LRESULT OnSysCommand(WPARAM id, LPARAM lParam);
  LRESULT OnSetText(WPARAM wParam, LPARAM lParam);

  UINT m_nQueryCancelAutoPlayMsg = 0;
};

#endif  // APP_WIZARD_SHEET_H_
