// The uninstaller's window, in the setup program's look: the product colour,
// picture and title; a confirmation ("卸载" / "取消"), then a progress bar
// with the item being removed, then the done look with what could not be
// removed, if anything.
//
// Finding the window from another program: top-level window class
// "TUninstallForm", caption the product title; every control is a child
// window with the control ID listed in TUninstallFormId.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BaseFrm.h"
#include "RemovalPlan.h"

enum TUninstallFormId : int {
  idUnPanel = 200,
  idUnIcon = 201,
  idUnTitle = 202,
  idUnMessage = 203,
  idUnBottom = 204,
  idUnUninstall = 205,  // "卸载"
  idUnCancel = 206,     // "取消"
  idUnProgress = 207,
  idUnDetail = 208,
  idUnRemaining = 209,  // read-only list of what stayed
  idUnFinish = 210,     // "完成"
};

class TUninstallForm : public TBaseForm {
public:
  // Builds the confirmation look for the product (title, picture as PNG
  // bytes, may be empty) and the plan to carry out.
  TUninstallForm(const std::wstring& title, const std::string& iconPng, const TRemovalPlan& plan);

  TPanel* pnlTop = nullptr;
  TImage* imgIcon = nullptr;
  TLabel* lblTitle = nullptr;
  TLabel* lblMessage = nullptr;
  TPanel* pnlBottom = nullptr;
  TButton* btnUninstall = nullptr;
  TButton* btnCancel = nullptr;
  TProgressBar* pbProgress = nullptr;
  TLabel* lblDetail = nullptr;
  TEdit* edtRemaining = nullptr;
  TButton* btnFinish = nullptr;

  // "卸载": the removal, then the done look.
  void btnUninstallClick();
  void btnCancelClick();

  bool CloseQuery() override;
  // After the message loop: kUninstallCancelled before the removal ran,
  // RemovalExitCode of the removal after it.
  unsigned ExitCode() const;

private:
  // The done look; the list shows what stayed (kept items, items going at
  // the restart, items that could not be removed).
  void ShowDoneLayout(const class TRemovalRun& run);

  const TRemovalPlan& FPlan;
  std::wstring FTitle;
  uint8_t FState = 0;  // 0 asking, 1 removing, 2 done
  unsigned FExitCode = 0;  // of the removal, once done
};
