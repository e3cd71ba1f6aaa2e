// Dialogs with an OK / Cancel button panel at the bottom.
#pragma once

#include "BaseFrm.h"

class TBaseDialogForm : public TBaseForm {
public:
  // A dialog with a fixed border and a caption bar; the client area is
  // clientWidth x clientHeight (design size 475 x 340).
  TBaseDialogForm(TBaseForm* owner, const wchar_t* className, int clientWidth = 475, int clientHeight = 340);

  TPanel* pnlBkClient = nullptr;  // the dialog's own controls; fills the space above pnlButtons
  TPanel* pnlButtons = nullptr;   // bottom, 41 high
  TBevel* bvlButtons = nullptr;   // top line of pnlButtons, 2 high
  TButton* btnOk = nullptr;       // "确定", default, mrOk
  TButton* btnCancel = nullptr;   // "取消", cancel, mrCancel
  TButton* btnApply = nullptr;    // "应用", no modal result, hidden

  // Places the buttons: btnCancel.Left = client width - 8 - its width,
  // btnOk.Left = btnCancel.Left - 8 - its width; OK and Cancel shown, Apply
  // hidden. Run once at creation and again after a resize.
  void LayoutButtons();

  // Control IDs of the panel (stable, for tests).
  static constexpr int idBtnOk = IDOK;
  static constexpr int idBtnCancel = IDCANCEL;
  static constexpr int idBtnApply = 0x3021;
};
