#include "CopyFileFailureFrm.h"

#include "NvSysUtils.h"

namespace {
constexpr int kClientWidth = 572;
constexpr int kClientHeight = 268;
constexpr int kButtonBar = 41;
constexpr int kBorder = 32;
}  // namespace

TCopyFileFailureForm::TCopyFileFailureForm(TBaseForm* owner)
    : TBaseForm(owner, L"TCopyFileFailureForm", kClientWidth, kClientHeight, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                WS_EX_DLGMODALFRAME) {
  SetCaption(L"复制文件失败");
  FColor = clWhite;
  TntPanel1 = Own(new TPanel(this, 0x3101, 0, 0, kClientWidth, kClientHeight - kButtonBar));
  lblInfo = Own(new TLabel(TntPanel1, idLblInfo, kBorder, kBorder, kClientWidth - 2 * kBorder,
                           kClientHeight - kButtonBar - 2 * kBorder, L""));
  lblInfo->WordWrap = true;
  pnlButtons = Own(new TPanel(this, 0x3102, 0, kClientHeight - kButtonBar, kClientWidth, kButtonBar));
  pnlButtons->SetColor(clFace);
  bvlButtons = Own(new TBevel(pnlButtons, 0x3103, 0, 0, kClientWidth, 2));
  // Creation order is the tab order: retry, exit, ignore.
  btnRetry = Own(new TButton(pnlButtons, idBtnRetry, 9, 8, 100, 25, L"重试"));
  btnAbort = Own(new TButton(pnlButtons, idBtnAbort, 233, 8, 100, 25, L"退出安装"));
  btnIgnore = Own(new TButton(pnlButtons, idBtnIgnore, 121, 8, 100, 25, L"忽略"));
  btnRetry->Default = true;
  btnRetry->ModalResult = mrRetry;
  btnIgnore->Cancel = true;
  btnIgnore->ModalResult = mrIgnore;
  btnIgnore->Primary = false;
  btnAbort->ModalResult = mrAbort;
  btnAbort->Primary = false;
  OnShow = [this] { btnRetry->SetFocus(); };
}

void TCopyFileFailureForm::UpdateInfo() {
  lblInfo->SetCaption(Format(L"文件：%s\r\n\r\n失败原因：%s", {FileName, Reason}));
}

bool TCopyFileFailureForm::CloseQuery() { return true; }

int TCopyFileFailureForm::Execute(TBaseForm* owner, const std::wstring& fileName, const std::wstring& reason) {
  TCopyFileFailureForm form(owner);
  form.FileName = fileName;
  form.Reason = reason;
  form.UpdateInfo();
  int result = form.ShowModal();
  // The close box (mrCancel) counts as leaving the setup.
  return result == mrRetry || result == mrIgnore ? result : mrAbort;
}
