#include "BaseDialogFrm.h"

TBaseDialogForm::TBaseDialogForm(TBaseForm* owner, const wchar_t* className, int clientWidth, int clientHeight)
    : TBaseForm(owner, className, clientWidth, clientHeight, WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME) {
  FColor = clFace;
  pnlBkClient = Own(new TPanel(this, 0x3010, 0, 0, clientWidth, clientHeight - 41));
  pnlButtons = Own(new TPanel(this, 0x3011, 0, clientHeight - 41, clientWidth, 41));
  bvlButtons = Own(new TBevel(pnlButtons, 0x3012, 0, 0, clientWidth, 2));
  btnOk = Own(new TButton(pnlButtons, idBtnOk, 0, 8, 75, 25, L"确定"));
  btnCancel = Own(new TButton(pnlButtons, idBtnCancel, 0, 8, 75, 25, L"取消"));
  btnApply = Own(new TButton(pnlButtons, idBtnApply, 0, 8, 75, 25, L"应用"));
  btnOk->Default = true;
  btnOk->ModalResult = mrOk;
  btnCancel->Cancel = true;
  btnCancel->ModalResult = mrCancel;
  btnCancel->Primary = false;
  btnApply->Primary = false;
  LayoutButtons();
}

void TBaseDialogForm::LayoutButtons() {
  int width = ClientWidth();
  btnCancel->SetLeft(width - 8 - btnCancel->Width());
  btnOk->SetLeft(btnCancel->Left() - 8 - btnOk->Width());
  btnOk->Show();
  btnCancel->Show();
  btnApply->Hide();
}
