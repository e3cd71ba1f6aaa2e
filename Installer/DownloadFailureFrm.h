// The online-failure dialog: the full package could not be fetched; the
// package's address with ways to fetch it by hand, and the choice between
// leaving the setup and going back to the main window.
#pragma once

#include <string>

#include "BaseDialogFrm.h"

class TDownloadFailureForm : public TBaseDialogForm {
public:
  // Window class "TDownloadFailureForm", caption "在线安装失败", client 534 x 261.
  explicit TDownloadFailureForm(TBaseForm* owner);

  // Creates the dialog owned by owner, captioned "%s 在线安装失败" with appTitle,
  // shows url in memUrl, shows it modally and frees it. True exactly when it
  // closed with OK ("退出安装", also Enter); "重试", Escape and the close box
  // give false.
  static bool Execute(TBaseForm* owner, const std::wstring& appTitle, const std::wstring& url);

  void SetUrl(const std::wstring& url);
  const std::wstring& Url() const { return FUrl; }

  // Opens the address with the default handler (iexplore.exe when the shell
  // fails); the dialog stays open.
  void btnBrowserClick();
  // Puts the address on the clipboard as Unicode and as ANSI text, replacing
  // its contents. A clipboard that cannot be opened gives the error message
  // "Cannot open clipboard"; the dialog stays open.
  void btnCopyClick();

  TLabel* TntLabel2 = nullptr;   // "您的电脑可能没有连接到互联网，在线安装失败。"
  TLabel* TntLabel1 = nullptr;   // "如果您是通过代理服务器上网的，……"
  TLabel* TntLabel3 = nullptr;   // "您还可以使用以下地址下载离线安装包，……"
  TEdit* memUrl = nullptr;       // the address; read-only, vertical scroll bar
  TPanel* TntPanel1 = nullptr;   // the strip of the two buttons below, 33 high
  TButton* btnBrowser = nullptr; // 0, 4, 137 x 25; "使用浏览器下载"
  TButton* btnCopy = nullptr;    // 144, 4, 121 x 25; "复制到剪贴板"

  // Control IDs (stable, for tests).
  static constexpr int idTntLabel2 = 500;
  static constexpr int idTntLabel1 = 501;
  static constexpr int idTntLabel3 = 502;
  static constexpr int idMemUrl = 503;
  static constexpr int idTntPanel1 = 504;
  static constexpr int idBtnBrowser = 505;
  static constexpr int idBtnCopy = 506;

private:
  std::wstring FUrl;
};
