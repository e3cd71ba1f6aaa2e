#include "UninstallFrm.h"

#include "NvSysUtils.h"
#include "RemovalSteps.h"
#include "UninstallExitCodes.h"
#include "UninstallMain.h"

namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 300;
constexpr int kBottomHeight = 100;

TFont MakeFont(const wchar_t* name, int height, COLORREF color) {
  TFont f;
  f.Name = name;
  f.Height = height;
  f.Color = color;
  return f;
}

}  // namespace

TUninstallForm::TUninstallForm(const std::wstring& title, const std::string& iconPng, const TRemovalPlan& plan)
    : TBaseForm(nullptr, L"TUninstallForm", kWidth, kHeight, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
      FPlan(plan), FTitle(title) {
  const wchar_t* yahei = L"微软雅黑";
  SetCaption(title);
  FColor = clProduct;
  const int topHeight = kHeight - kBottomHeight;
  pnlTop = Own(new TPanel(this, idUnPanel, 0, 0, kWidth, topHeight));
  pnlTop->SetColor(clProduct);

  imgIcon = Own(new TImage(pnlTop, idUnIcon, (kWidth - 72) / 2, 16, 72, 72));
  if (!iconPng.empty()) {
    try {
      imgIcon->LoadFromBytes(iconPng);
    } catch (const std::exception&) {
      // Without a picture the window still works.
    }
  }
  lblTitle = Own(new TLabel(pnlTop, idUnTitle, 8, 94, kWidth - 16, 44, title));
  lblTitle->Alignment = TAlignment::taCenter;
  lblTitle->Layout_Center = true;
  lblTitle->SetFont(MakeFont(yahei, 30, clWhite));
  lblMessage = Own(new TLabel(pnlTop, idUnMessage, 8, 144, kWidth - 16, 32, Format(L"确定要卸载 %s 吗？", {title})));
  lblMessage->Alignment = TAlignment::taCenter;
  lblMessage->Layout_Center = true;
  lblMessage->SetFont(MakeFont(yahei, 19, clWhite));

  pnlBottom = Own(new TPanel(this, idUnBottom, 0, topHeight, kWidth, kBottomHeight));
  pnlBottom->SetColor(clWhite);
  pnlBottom->SetFont(MakeFont(L"Tahoma", 12, clText));

  btnUninstall = Own(new TButton(pnlBottom, idUnUninstall, 116, 28, 116, 44, L"卸载"));
  btnUninstall->SetFont(MakeFont(yahei, 21, clWhite));
  btnUninstall->OnClick = [this] { btnUninstallClick(); };
  btnCancel = Own(new TButton(pnlBottom, idUnCancel, 248, 28, 116, 44, L"取消"));
  btnCancel->SetFont(MakeFont(yahei, 21, clProduct));
  btnCancel->Primary = false;
  btnCancel->Cancel = true;
  btnCancel->OnClick = [this] { btnCancelClick(); };

  pbProgress = Own(new TProgressBar(pnlBottom, idUnProgress, 16, 30, kWidth - 32, 17));
  pbProgress->SetFont(MakeFont(L"Tahoma", 11, clWhite));
  pbProgress->SetMax(plan.StepCount() > 0 ? plan.StepCount() : 1);
  pbProgress->Hide();
  lblDetail = Own(new TLabel(pnlBottom, idUnDetail, 16, 54, kWidth - 32, 14, L""));
  lblDetail->SetFont(MakeFont(L"Tahoma", 12, RGB(110, 118, 126)));
  lblDetail->Hide();

  edtRemaining = Own(new TEdit(pnlBottom, idUnRemaining, 12, 8, kWidth - 156, kBottomHeight - 16, true, true, true));
  edtRemaining->Hide();
  btnFinish = Own(new TButton(pnlBottom, idUnFinish, (kWidth - 116) / 2, 28, 116, 44, L"完成"));
  btnFinish->SetFont(MakeFont(yahei, 21, clWhite));
  btnFinish->OnClick = [this] { Close(); };
  btnFinish->Hide();
  OnShow = [this] { btnCancel->SetFocus(); };
}

void TUninstallForm::btnUninstallClick() {
  if (FState != 0) return;
  FState = 1;
  btnUninstall->Hide();
  btnCancel->Hide();
  lblMessage->SetCaption(L"正在卸载，请稍候......");
  pbProgress->Show();
  lblDetail->Show();
  Repaint();
  if (Application) Application->ProcessMessages();

  TRemovalRun run(FPlan);
  run.OnStep = [this](const std::wstring& detail, bool advance) {
    if (advance) pbProgress->StepBy(1);
    lblDetail->SetCaption(detail);
    lblDetail->Repaint();
    if (Application) Application->ProcessMessages();
  };
  run.Run();
  ShowDoneLayout(run);
}

void TUninstallForm::btnCancelClick() {
  if (FState == 0) Close();
}

void TUninstallForm::ShowDoneLayout(const TRemovalRun& run) {
  FState = 2;
  FExitCode = RemovalExitCode(run);
  pbProgress->Hide();
  lblDetail->Hide();
  lblTitle->SetCaption(FExitCode == kUninstallPartly ? L"卸载未全部完成" : L"卸载完成");
  std::wstring text;
  for (const std::wstring& item : run.Remaining()) text += Format(L"未能删除：%s", {item}) + L"\r\n";
  for (const std::wstring& item : run.Scheduled()) text += Format(L"重新启动后删除：%s", {item}) + L"\r\n";
  for (const TKeptItem& kept : FPlan.Kept) text += kept.Text() + L"\r\n";
  if (FExitCode == kUninstallPartly)
    lblMessage->SetCaption(L"以下项目未能删除（可能正在使用），再次运行卸载程序可完成卸载：");
  else if (FExitCode == kUninstallRestartNeeded)
    lblMessage->SetCaption(L"重新启动计算机后完成卸载：");
  else
    lblMessage->SetCaption(Format(L"%s 已从您的计算机中删除。", {FTitle}));
  if (!text.empty()) {
    edtRemaining->SetText(text);
    edtRemaining->Show();
    btnFinish->SetLeft(kWidth - 132);
  }
  btnFinish->Show();
  btnFinish->SetFocus();
  Repaint();
}

bool TUninstallForm::CloseQuery() { return FState != 1; }

unsigned TUninstallForm::ExitCode() const {
  if (FState != 2) return kUninstallCancelled;
  return FExitCode;
}
