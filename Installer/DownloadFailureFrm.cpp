#include "DownloadFailureFrm.h"

#include <cstring>

#include "NvCallbackBarrier.h"
#include "NvExceptions.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"

namespace {

constexpr int kClientWidth = 534;
constexpr int kClientHeight = 261;
constexpr int kMargin = 8;
constexpr int kLabelHeight = 30;
constexpr int kStripHeight = 33;

// Global memory holding bytes for SetClipboardData (which takes it over).
HGLOBAL GlobalCopy(const void* data, size_t size) {
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!mem) return nullptr;
  void* p = GlobalLock(mem);
  if (!p) {
    GlobalFree(mem);
    return nullptr;
  }
  memcpy(p, data, size);
  GlobalUnlock(mem);
  return mem;
}

void PutClipboardData(UINT format, const void* data, size_t size) {
  HGLOBAL mem = GlobalCopy(data, size);
  if (mem && !SetClipboardData(format, mem)) GlobalFree(mem);
}

}  // namespace

TDownloadFailureForm::TDownloadFailureForm(TBaseForm* owner)
    : TBaseDialogForm(owner, L"TDownloadFailureForm", kClientWidth, kClientHeight) {
  SetCaption(L"在线安装失败");
  TPanel* p = pnlBkClient;
  const int width = p->Width() - 2 * kMargin;
  int top = kMargin;
  auto line = [&](int id, const wchar_t* text) {
    auto* label = Own(new TLabel(p, id, kMargin, top, width, kLabelHeight, text));
    label->Layout_Center = true;
    top += kLabelHeight;
    return label;
  };
  TntLabel2 = line(idTntLabel2, L"您的电脑可能没有连接到互联网，在线安装失败。");
  TntLabel1 = line(idTntLabel1, L"如果您是通过代理服务器上网的，您可以点击【重试】按钮返回到首页设置代理服务器。");
  TntLabel3 = line(idTntLabel3, L"您还可以使用以下地址下载离线安装包，然后运行离线安装包进行安装。");
  const int stripTop = p->Height() - kMargin - kStripHeight;
  // The address first: it is the first stop of the tab order.
  memUrl = Own(new TEdit(p, idMemUrl, kMargin, top, width, stripTop - top, true, true, true));
  TntPanel1 = Own(new TPanel(p, idTntPanel1, kMargin, stripTop, width, kStripHeight));
  btnBrowser = Own(new TButton(TntPanel1, idBtnBrowser, 0, 4, 137, 25, L"使用浏览器下载"));
  btnCopy = Own(new TButton(TntPanel1, idBtnCopy, 144, 4, 121, 25, L"复制到剪贴板"));
  btnBrowser->Primary = false;
  btnCopy->Primary = false;
  btnBrowser->OnClick = [this] { btnBrowserClick(); };
  btnCopy->OnClick = [this] { btnCopyClick(); };
  btnOk->SetCaption(L"退出安装");
  btnCancel->SetCaption(L"重试");
  LayoutButtons();
  OnShow = [this] { memUrl->SetFocus(); };
}

void TDownloadFailureForm::SetUrl(const std::wstring& url) {
  FUrl = url;
  memUrl->SetText(url);
}

void TDownloadFailureForm::btnBrowserClick() { TNvWinfn::OpenUrl(FUrl); }

void TDownloadFailureForm::btnCopyClick() {
  // Another program may hold the clipboard for a moment.
  bool open = false;
  for (int attempt = 0; attempt < 10 && !(open = OpenClipboard(Handle()) != FALSE); ++attempt) Sleep(20);
  if (!open) {
    MessageBoxW(Handle(), L"Cannot open clipboard", Application ? Application->Title.c_str() : L"",
                MB_OK | MB_ICONERROR);
    NvRethrowKept();
    return;
  }
  EmptyClipboard();
  PutClipboardData(CF_UNICODETEXT, FUrl.c_str(), (FUrl.size() + 1) * sizeof(wchar_t));
  std::string ansi = WideToAnsi(FUrl);
  PutClipboardData(CF_TEXT, ansi.c_str(), ansi.size() + 1);
  CloseClipboard();
}

bool TDownloadFailureForm::Execute(TBaseForm* owner, const std::wstring& appTitle, const std::wstring& url) {
  TDownloadFailureForm form(owner);
  form.SetCaption(Format(L"%s 在线安装失败", {appTitle}));
  form.SetUrl(url);
  return form.ShowModal() == mrOk;
}
