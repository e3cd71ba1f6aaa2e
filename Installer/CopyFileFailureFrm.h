// The copy-failure dialog: a file could not be written; retry, skip or leave.
#pragma once

#include <string>

#include "BaseFrm.h"

class TCopyFileFailureForm : public TBaseForm {
public:
  // Window class "TCopyFileFailureForm", caption "复制文件失败", client 572 x 268.
  explicit TCopyFileFailureForm(TBaseForm* owner);

  std::wstring FileName;  // the destination path that failed
  std::wstring Reason;    // the failure's message

  // lblInfo := "文件：%s\r\n\r\n失败原因：%s" with FileName and Reason.
  void UpdateInfo();

  // Creates the dialog owned by owner, shows fileName and reason modally and
  // frees it. Returns mrRetry ("重试", the default button), mrIgnore ("忽略",
  // also Escape) or mrAbort ("退出安装", also the close box).
  static int Execute(TBaseForm* owner, const std::wstring& fileName, const std::wstring& reason);

  TPanel* TntPanel1 = nullptr;   // above the button bar, border width 32
  TLabel* lblInfo = nullptr;     // word-wrapped, fills TntPanel1
  TPanel* pnlButtons = nullptr;  // bottom, 41 high
  TBevel* bvlButtons = nullptr;  // top line of pnlButtons
  TButton* btnRetry = nullptr;   // 9, 8, 100 x 25
  TButton* btnIgnore = nullptr;  // 121, 8, 100 x 25
  TButton* btnAbort = nullptr;   // 233, 8, 100 x 25

  // Control IDs (stable, for tests).
  static constexpr int idLblInfo = 200;
  static constexpr int idBtnRetry = 201;
  static constexpr int idBtnIgnore = 202;
  static constexpr int idBtnAbort = 203;

  bool CloseQuery() override;
};
