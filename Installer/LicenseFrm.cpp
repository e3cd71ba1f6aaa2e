#include "LicenseFrm.h"

TLicenseForm::TLicenseForm(TBaseForm* owner)
    : TBaseForm(owner, L"TLicenseForm", 784, 461,
                WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MAXIMIZEBOX) {
  SetCaption(L"用户许可协议");
  FColor = clWhite;
  memLicense = Own(new TEdit(this, idMemLicense, 0, 0, ClientWidth(), ClientHeight(), true, true, true));
  OnShow = [this] {
    memLicense->SetFocus();
    SendMessageW(memLicense->Handle(), EM_SETSEL, 0, 0);
  };
}

LRESULT TLicenseForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_SIZE && memLicense) memLicense->SetBounds(0, 0, LOWORD(lParam), HIWORD(lParam));
  return TBaseForm::WndProc(msg, wParam, lParam);
}

void TLicenseForm::Execute(TBaseForm* owner, const std::wstring& text) {
  TLicenseForm form(owner);
  form.memLicense->SetText(text);
  form.ShowModal();
}
