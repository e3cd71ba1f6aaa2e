// The user agreement viewer.
#pragma once

#include <string>

#include "BaseFrm.h"

class TLicenseForm : public TBaseForm {
public:
  // Window class "TLicenseForm", caption "用户许可协议", resizable, client
  // 784 x 461, close and maximise boxes.
  explicit TLicenseForm(TBaseForm* owner);

  // Shows text read-only and word-wrapped, modally, owned by owner; returns
  // when the user closes the window.
  static void Execute(TBaseForm* owner, const std::wstring& text);

  TEdit* memLicense = nullptr;  // fills the client area
  static constexpr int idMemLicense = 300;

  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
};
