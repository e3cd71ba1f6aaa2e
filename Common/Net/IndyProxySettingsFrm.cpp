#include "IndyProxySettingsFrm.h"

#include <commctrl.h>

#include <climits>
#include <cmath>
#include <cwchar>

#include "NvIndyUtils.h"
#include "NvSysUtils.h"

// ---- TRadioButton ---------------------------------------------------------------

TRadioButton::TRadioButton(TWinControl* parent, int id, int left, int top, int width, int height,
                           const std::wstring& caption)
    : TCheckBox(parent, id, left, top, width, height, caption) {}

void TRadioButton::Click() {
  if (!FHandle || !IsWindowEnabled(FHandle)) return;
  if (Parent())
    for (TControl* c : Parent()->Controls())
      if (auto* other = dynamic_cast<TRadioButton*>(c); other && other != this) other->SetChecked(false);
  SetChecked(true);
  if (OnClick) OnClick();
}

void TRadioButton::Paint(HDC dc, const RECT& client) {
  FillBackground(dc, client);
  const bool enabled = IsWindowEnabled(FHandle);
  const int size = 14;
  const int top = (client.bottom - size) / 2;
  COLORREF accent = enabled ? (FMouseInside ? clProductHot : clProduct) : clDisabled;
  HPEN pen = CreatePen(PS_SOLID, 1, accent);
  HBRUSH white = CreateSolidBrush(clWhite);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  HGDIOBJ oldBrush = SelectObject(dc, white);
  Ellipse(dc, 0, top, size, top + size);
  if (Checked()) {
    HBRUSH dot = CreateSolidBrush(accent);
    SelectObject(dc, dot);
    Ellipse(dc, 4, top + 4, size - 4, top + size - 4);
    SelectObject(dc, white);
    DeleteObject(dot);
  }
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(white);
  DeleteObject(pen);
  HGDIOBJ oldFont = SelectObject(dc, NvFontHandle(FFont));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, enabled ? FFont.Color : clDisabled);
  RECT r{size + 4, 0, client.right, client.bottom};
  DrawTextW(dc, Caption().c_str(), -1, &r, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, oldFont);
}

// ---- TSpinEdit ---------------------------------------------------------------------

TSpinEdit::TSpinEdit(TWinControl* parent, int id, int left, int top, int width, int height)
    : TEdit(parent, id, left, top, width, height) {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&icc);
  FUpDown = CreateWindowExW(0, UPDOWN_CLASSW, L"",
                            WS_CHILD | WS_VISIBLE | UDS_ALIGNRIGHT | UDS_SETBUDDYINT | UDS_NOTHOUSANDS |
                                UDS_ARROWKEYS,
                            0, 0, 0, 0, parent->Handle(), nullptr, GetModuleHandleW(nullptr), nullptr);
  if (FUpDown) {
    SendMessageW(FUpDown, UDM_SETRANGE32, static_cast<WPARAM>(INT_MIN), static_cast<LPARAM>(INT_MAX));
    SendMessageW(FUpDown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(FHandle), 0);
  }
}

TSpinEdit::~TSpinEdit() {
  if (FUpDown && IsWindow(FUpDown)) DestroyWindow(FUpDown);
}

double TSpinEdit::Value() const {
  std::wstring text = Trim(Text());
  if (text.empty()) return 0;
  wchar_t* end = nullptr;
  double v = std::wcstod(text.c_str(), &end);
  return end && *end == L'\0' ? v : 0;
}

void TSpinEdit::SetValue(int value) {
  SetText(IntToStr(value));
  if (FUpDown) SendMessageW(FUpDown, UDM_SETPOS32, 0, value);
}

LRESULT TSpinEdit::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_ENABLE && FUpDown) EnableWindow(FUpDown, static_cast<BOOL>(wParam));
  return TEdit::WndProc(msg, wParam, lParam);
}

// ---- TIndyProxySettingsForm --------------------------------------------------------

TIndyProxySettingsForm::TIndyProxySettingsForm(TBaseForm* owner)
    : TBaseDialogForm(owner, L"TIndyProxySettingsForm", 430, 304) {
  SetCaption(L"代理服务器设置");
  // Positions are inside the panel's 8-pixel margin.
  const int m = 8;
  TPanel* p = pnlBkClient;
  rbNoProxy = Own(new TRadioButton(p, idRbNoProxy, m + 40, m + 40, 114, 16, L"不使用代理服务器"));
  rbUseProxy = Own(new TRadioButton(p, idRbUseProxy, m + 40, m + 72, 162, 16, L"使用以下指定的代理服务器"));
  lblProxyAddress = Own(new TLabel(p, idLblProxyAddress, m + 64, m + 106, 72, 14, L"服务器地址："));
  edtProxyAddress = Own(new TEdit(p, idEdtProxyAddress, m + 136, m + 102, 201, 22));
  lblProxyPort = Own(new TLabel(p, idLblProxyPort, m + 100, m + 135, 36, 14, L"端口："));
  edtProxyPort = Own(new TSpinEdit(p, idEdtProxyPort, m + 136, m + 131, 121, 22));
  lblProxyUser = Own(new TLabel(p, idLblProxyUser, m + 88, m + 164, 48, 14, L"用户名："));
  edtProxyUser = Own(new TEdit(p, idEdtProxyUser, m + 136, m + 160, 201, 22));
  lblProxyPassword = Own(new TLabel(p, idLblProxyPassword, m + 100, m + 194, 36, 14, L"密码："));
  edtProxyPassword = Own(new TEdit(p, idEdtProxyPassword, m + 136, m + 190, 201, 22));
  for (TLabel* l : {lblProxyAddress, lblProxyPort, lblProxyUser, lblProxyPassword})
    l->Alignment = TAlignment::taRightJustify;
  rbNoProxy->OnClick = [this] { rbNoProxyClick(); };
  rbUseProxy->OnClick = [this] { rbUseProxyClick(); };
  // OK closes only after the input is checked.
  btnOk->ModalResult = mrNone;
  btnOk->OnClick = [this] { btnOkClick(); };
}

void TIndyProxySettingsForm::LoadFromProxy(const TNvHttpProxy* proxy) {
  rbNoProxy->SetChecked(!proxy->Checked);
  rbUseProxy->SetChecked(proxy->Checked);
  edtProxyAddress->SetText(proxy->Address);
  edtProxyUser->SetText(proxy->UserName);
  edtProxyPassword->SetText(proxy->Password);
  edtProxyPort->SetValue(proxy->Port);
  UpdateControls();
}

void TIndyProxySettingsForm::SaveToProxy(TNvHttpProxy* proxy) const {
  proxy->Checked = rbUseProxy->Checked();
  proxy->Address = Trim(edtProxyAddress->Text());
  double port = edtProxyPort->Value();
  proxy->Port = port >= INT_MAX ? INT_MAX : port <= INT_MIN ? INT_MIN : static_cast<int32_t>(std::lround(port));
  proxy->UserName = edtProxyUser->Text();
  proxy->Password = edtProxyPassword->Text();
}

void TIndyProxySettingsForm::UpdateControls() {
  const bool use = rbUseProxy->Checked();
  for (TControl* c : std::initializer_list<TControl*>{lblProxyAddress, edtProxyAddress, lblProxyPort, edtProxyPort,
                                                      lblProxyUser, edtProxyUser, lblProxyPassword,
                                                      edtProxyPassword})
    c->SetEnabled(use);
}

bool TIndyProxySettingsForm::CheckInput() {
  if (!rbUseProxy->Checked()) return true;
  if (Trim(edtProxyAddress->Text()).empty()) {
    TNvVclfn::ShowInfo(Handle(), L"服务器地址不能为空，请重新输入。");
    // Also the control that regains the focus when the dialog is activated again.
    FLastFocus = edtProxyAddress->Handle();
    edtProxyAddress->SetFocus();
    return false;
  }
  return true;
}

void TIndyProxySettingsForm::btnOkClick() {
  if (CheckInput()) SetModalResult(mrOk);
}

void TIndyProxySettingsForm::rbNoProxyClick() { UpdateControls(); }

void TIndyProxySettingsForm::rbUseProxyClick() { UpdateControls(); }

bool TIndyProxySettingsForm::Execute(TBaseForm* owner, TNvHttpProxy* proxy) {
  TIndyProxySettingsForm form(owner);
  form.LoadFromProxy(proxy);
  bool ok = form.ShowModal() == mrOk;
  if (ok) form.SaveToProxy(proxy);
  return ok;
}
