// The proxy settings dialog: no proxy, or a proxy server with port and
// optional credentials, edited on a TNvHttpProxy record.
#pragma once

#include "BaseDialogFrm.h"

class TNvHttpProxy;

// A radio button: a check box that, when clicked, checks itself and clears
// the other radio buttons of its parent (BM_CLICK selects it).
class TRadioButton : public TCheckBox {
public:
  TRadioButton(TWinControl* parent, int id, int left, int top, int width, int height, const std::wstring& caption);
  // A click selects this button (clears its siblings), then OnClick.
  void Click() override;

protected:
  void Paint(HDC dc, const RECT& client) override;
};

// An integer field: an edit box with up and down arrows, step 1, no bounds.
class TSpinEdit : public TEdit {
public:
  TSpinEdit(TWinControl* parent, int id, int left, int top, int width, int height);
  ~TSpinEdit() override;
  // The number in the field; 0 when its text is not a number.
  double Value() const;
  void SetValue(int value);
  // Internal: the arrows' window (a system up-down control).
  HWND UpDown() const { return FUpDown; }
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
  HWND FUpDown = nullptr;
};

class TIndyProxySettingsForm : public TBaseDialogForm {
public:
  // Window class "TIndyProxySettingsForm", caption "代理服务器设置", client 430 x 304.
  explicit TIndyProxySettingsForm(TBaseForm* owner);

  // Creates the dialog owned by owner, loads proxy into it, shows it modally,
  // writes it back into proxy only on OK, frees it; true when closed with OK.
  static bool Execute(TBaseForm* owner, TNvHttpProxy* proxy);

  // Record to controls (then UpdateControls).
  void LoadFromProxy(const TNvHttpProxy* proxy);
  // Controls to record: the address trimmed, user name and password as typed,
  // the port rounded; all fields also when no proxy is chosen.
  void SaveToProxy(TNvHttpProxy* proxy) const;
  // The labels and fields are enabled exactly when rbUseProxy is checked.
  void UpdateControls();
  // With a proxy chosen, an address of blanks only is refused with a message
  // and the focus moves to the address field.
  bool CheckInput();

  void btnOkClick();
  void rbNoProxyClick();
  void rbUseProxyClick();

  TRadioButton* rbNoProxy = nullptr;
  TRadioButton* rbUseProxy = nullptr;
  TLabel* lblProxyAddress = nullptr;
  TEdit* edtProxyAddress = nullptr;
  TLabel* lblProxyPort = nullptr;
  TSpinEdit* edtProxyPort = nullptr;
  TLabel* lblProxyUser = nullptr;
  TEdit* edtProxyUser = nullptr;
  TLabel* lblProxyPassword = nullptr;
  TEdit* edtProxyPassword = nullptr;

  // Control IDs (stable, for tests).
  static constexpr int idRbNoProxy = 400;
  static constexpr int idRbUseProxy = 401;
  static constexpr int idLblProxyAddress = 402;
  static constexpr int idEdtProxyAddress = 403;
  static constexpr int idLblProxyPort = 404;
  static constexpr int idEdtProxyPort = 405;
  static constexpr int idLblProxyUser = 406;
  static constexpr int idEdtProxyUser = 407;
  static constexpr int idLblProxyPassword = 408;
  static constexpr int idEdtProxyPassword = 409;
};
