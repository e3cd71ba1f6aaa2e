// The main window's controls as laid out at design time, and its three
// looks: idle, installing and done.
#include "MainFrm.h"

#include "Glyphs.h"
#include "SetupProject.h"

namespace {

constexpr int kBottomHeight = 100;

TFont MakeFont(const wchar_t* name, int height, COLORREF color, bool bold = false) {
  TFont f;
  f.Name = name;
  f.Height = height;
  f.Color = color;
  f.Bold = bold;
  return f;
}

}  // namespace

void TMainForm::BuildControls() {
  const wchar_t* yahei = L"微软雅黑";
  FColor = clProduct;
  TntPanel2 = Own(new TPanel(this, idTntPanel2, 0, 0, kMainFormWidth, kMainFormHeight));
  TntPanel2->SetColor(clProduct);
  TntPanel2->BorderColor = clProductDown;

  const int bottomTop = kMainFormHeight - 1 - kBottomHeight;
  imgBackground = Own(new TImage(TntPanel2, idImgBackground, 1, 1, kMainFormWidth - 2, bottomTop - 1));
  imgBackground->OnMouseDown = [this](int b) { DragMouseDown(b); };

  lblAppTitle = Own(new TLabel(TntPanel2, idLblAppTitle, 8, 168, 737, 57, L""));
  lblAppTitle->Alignment = TAlignment::taCenter;
  lblAppTitle->Layout_Center = true;
  lblAppTitle->SetFont(MakeFont(yahei, 37, clWhite));
  lblAppTitle->OnMouseDown = [this](int b) { DragMouseDown(b); };

  lblVersion = Own(new TLabel(TntPanel2, idLblVersion, 8, 232, 737, 33, L"版本：1.0.0.0"));
  lblVersion->Alignment = TAlignment::taCenter;
  lblVersion->Layout_Center = true;
  lblVersion->SetFont(MakeFont(yahei, 21, clWhite));
  lblVersion->OnMouseDown = [this](int b) { DragMouseDown(b); };

  imgMinimize = Own(new TImage(TntPanel2, idImgMinimize, 682, 2, 32, 32));
  imgMinimize->SetBitmap(CreateGlyph(TGlyph::gMinimize));
  imgMinimize->HotTrack = true;
  imgMinimize->SetCursor(TCursor::crHandPoint);
  imgMinimize->OnClick = [this] { imgMinimizeClick(); };

  imgClose = Own(new TImage(TntPanel2, idImgClose, 714, 2, 32, 32));
  imgClose->SetBitmap(CreateGlyph(TGlyph::gClose));
  imgClose->HotTrack = true;
  imgClose->SetCursor(TCursor::crHandPoint);
  imgClose->OnClick = [this] { imgCloseClick(); };

  imgIcon = Own(new TImage(TntPanel2, idImgIcon, 320, 48, 96, 96));
  imgIcon->OnMouseDown = [this](int b) { DragMouseDown(b); };

  btnInstall = Own(new TButton(TntPanel2, idBtnInstall, 264, 280, 200, 50, L"立即安装"));
  btnInstall->SetFont(MakeFont(yahei, 27, clWhite));
  btnInstall->OnClick = [this] { btnInstallClick(); };

  pnlBottom = Own(new TPanel(TntPanel2, idPnlBottom, 1, bottomTop, kMainFormWidth - 2, kBottomHeight));
  pnlBottom->SetColor(clWhite);
  pnlBottom->SetFont(MakeFont(L"Tahoma", 12, clText));
  pnlBottom->OnMouseDown = [this](int b) { DragMouseDown(b); };

  lblDestDir = Own(new TLabel(pnlBottom, idLblDestDir, 12, 26, 10, 10, L""));
  lblDestDir->AutoSize = true;
  lblDestDir->SetFont(MakeFont(L"Tahoma", 19, clText));
  lblDestDir->SetCaption(L"安装目录：");
  lblDestDir->OnMouseDown = [this](int b) { DragMouseDown(b); };

  edtDestDir = Own(new TEdit(pnlBottom, idEdtDestDir, 108, 25, 112, 25));
  edtDestDir->SetFont(MakeFont(L"Tahoma", 16, clText));

  btnDestDir = Own(new TButton(pnlBottom, idBtnDestDir, 224, 23, 89, 29, L"浏览..."));
  btnDestDir->SetFont(MakeFont(yahei, 16, clProduct));
  btnDestDir->Primary = false;
  btnDestDir->OnClick = [this] { btnDestDirClick(); };

  cbLicense = Own(new TCheckBox(pnlBottom, idCbLicense, 108, 62, 42, 16, L"同意"));
  cbLicense->SetChecked(true);
  cbLicense->OnClick = [this] { cbLicenseClick(); };

  lblLicense = Own(new TLinkLabel(pnlBottom, idLblLicense, 151, 63, L"用户许可协议"));
  lblLicense->OnClick = [this] { lblLicenseClick(); };

  lblProxy = Own(new TLinkLabel(pnlBottom, idLblProxy, 239, 63, L"代理服务器设置"));
  lblProxy->OnClick = [this] { lblProxyClick(); };
  lblProxy->Hide();

  lblWait = Own(new TLabel(pnlBottom, idLblWait, 364, 11, 149, 25, L"请等待"));
  lblWait->Alignment = TAlignment::taCenter;
  lblWait->Layout_Center = true;
  lblWait->SetFont(MakeFont(L"Tahoma", 21, clText));
  lblWait->OnMouseDown = [this](int b) { DragMouseDown(b); };
  lblWait->Hide();

  pbProgress = Own(new TProgressBar(pnlBottom, idPbProgress, 360, 42, 150, 17));
  pbProgress->SetFont(MakeFont(L"Tahoma", 11, clWhite, true));
  pbProgress->Hide();

  lblDetail = Own(new TLabel(pnlBottom, idLblDetail, 361, 63, 36, 14, L"请等待"));
  lblDetail->SetFont(MakeFont(L"Tahoma", 12, RGB(110, 118, 126)));
  lblDetail->OnMouseDown = [this](int b) { DragMouseDown(b); };
  lblDetail->Hide();

  btnRunApp = Own(new TButton(pnlBottom, idBtnRunApp, 536, 23, 200, 50, L"立即体验"));
  btnRunApp->SetFont(MakeFont(yahei, 27, clWhite));
  btnRunApp->OnClick = [this] { btnRunAppClick(); };
  btnRunApp->Hide();

  // The background lies under every other control of the panel.
  SetWindowPos(imgBackground->Handle(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  OnShow = [this] { TntFormShow(); };
}

void TMainForm::ShowInstallingLayout(bool centreWaitLine) {
  lblAppTitle->SetCaption(L"正在安装");
  for (TControl* c : std::initializer_list<TControl*>{lblVersion, btnInstall, lblDestDir, edtDestDir, btnDestDir,
                                                       cbLicense, lblLicense, lblProxy})
    c->Hide();
  pbProgress->SetBounds(16, pbProgress->Top(), pnlBottom->Width() - 32, pbProgress->Height());
  pbProgress->Show();
  if (centreWaitLine)
    lblWait->SetLeft((pnlBottom->Width() - lblWait->Width()) / 2);
  else
    lblWait->SetBounds(pbProgress->Left(), lblWait->Top(), pbProgress->Width(), lblWait->Height());
  lblWait->Show();
  lblDetail->SetBounds(pbProgress->Left(), lblDetail->Top(), pbProgress->Width(), lblDetail->Height());
  lblDetail->SetCaption(L"");
  lblDetail->Show();
}

void TMainForm::ShowDoneLayout() {
  lblAppTitle->SetCaption(L"安装完成");
  pbProgress->Hide();
  lblWait->Hide();
  lblDetail->Hide();
  btnRunApp->SetLeft((pnlBottom->Width() - btnRunApp->Width()) / 2);
  btnRunApp->Show();
  btnRunApp->SetFocus();
}

void TMainForm::RestoreIdleLayout() {
  FInstallState = 0;
  lblWait->Hide();
  pbProgress->Hide();
  lblDetail->Hide();
  lblWait->SetCaption(L"请等待");
  lblAppTitle->SetCaption(FEngine->Script().BaseInfo()->AppTitle);
  for (TControl* c : std::initializer_list<TControl*>{lblVersion, btnInstall, lblDestDir, edtDestDir, btnDestDir})
    c->Show();
  bool license = !FEngine->Script().BaseInfo()->LicenseResID.empty();
  cbLicense->SetVisible(license);
  lblLicense->SetVisible(license);
  lblProxy->SetVisible(!FFullPackage);
  UpdateInstallButton();
}
