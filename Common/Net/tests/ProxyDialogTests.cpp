// The proxy settings dialog, on real windows: its controls' states, what it
// writes back into the record, and the modal run driven from another thread
// as a user would (clicks, typing, the refusal message).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "IndyProxySettingsFrm.h"
#include "NvIndyUtils.h"

namespace {

using Form = TIndyProxySettingsForm;

HWND WaitWindow(const std::function<HWND()>& find, int ms = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (HWND h = find()) return h;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return nullptr;
}

// The dialog once it is shown (it exists hidden before its modal run).
HWND FindDialog() {
  HWND w = FindWindowW(L"TIndyProxySettingsForm", nullptr);
  return w && IsWindowVisible(w) && IsWindowEnabled(w) ? w : nullptr;
}

struct TFindControl {
  int Id;
  HWND Found;
};

BOOL CALLBACK FindControlProc(HWND w, LPARAM p) {
  auto* f = reinterpret_cast<TFindControl*>(p);
  if (GetDlgCtrlID(w) != f->Id) return TRUE;
  f->Found = w;
  return FALSE;
}

HWND Control(HWND dialog, int id) {
  TFindControl f{id, nullptr};
  EnumChildWindows(dialog, FindControlProc, reinterpret_cast<LPARAM>(&f));
  return f.Found;
}

std::wstring WindowText(HWND w) {
  wchar_t buffer[512] = L"";
  SendMessageW(w, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

// The information box owned by the dialog, if one is open.
HWND FindMessageBox(HWND dialog) {
  HWND w = nullptr;
  while ((w = FindWindowExW(nullptr, w, L"#32770", nullptr)))
    if (GetWindow(w, GW_OWNER) == dialog && IsWindowVisible(w)) return w;
  return nullptr;
}

std::wstring MessageBoxText(HWND box) {
  HWND text = GetDlgItem(box, 0xFFFF);
  return text ? WindowText(text) : L"";
}

TEST(ProxyDialog, FreshRecordShowsNoProxyPort8080AndDisabledFields) {
  TNvHttpProxy proxy;
  Form form(nullptr);
  form.LoadFromProxy(&proxy);
  EXPECT_EQ(form.Caption(), L"代理服务器设置");
  EXPECT_EQ(form.ClientWidth(), 430);
  EXPECT_EQ(form.ClientHeight(), 304);
  EXPECT_TRUE(form.rbNoProxy->Checked());
  EXPECT_FALSE(form.rbUseProxy->Checked());
  EXPECT_EQ(form.edtProxyPort->Text(), L"8080");
  for (TControl* c : std::initializer_list<TControl*>{form.lblProxyAddress, form.edtProxyAddress, form.lblProxyPort,
                                                      form.edtProxyPort, form.lblProxyUser, form.edtProxyUser,
                                                      form.lblProxyPassword, form.edtProxyPassword})
    EXPECT_FALSE(IsWindowEnabled(c->Handle())) << c->Id();
  EXPECT_FALSE(IsWindowVisible(form.btnApply->Handle()));
}

TEST(ProxyDialog, ClickingTheRadioButtonsSwitchesTheFieldsAndEachOther) {
  TNvHttpProxy proxy;
  Form form(nullptr);
  form.LoadFromProxy(&proxy);
  SendMessageW(form.rbUseProxy->Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(form.rbUseProxy->Checked());
  EXPECT_FALSE(form.rbNoProxy->Checked());
  EXPECT_TRUE(IsWindowEnabled(form.edtProxyAddress->Handle()));
  EXPECT_TRUE(IsWindowEnabled(form.lblProxyPassword->Handle()));
  SendMessageW(form.rbNoProxy->Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(form.rbNoProxy->Checked());
  EXPECT_FALSE(form.rbUseProxy->Checked());
  EXPECT_FALSE(IsWindowEnabled(form.edtProxyUser->Handle()));
}

TEST(ProxyDialog, SaveTrimsTheAddressOnlyAndKeepsFieldsWithoutProxy) {
  TNvHttpProxy proxy;
  proxy.Checked = true;
  proxy.Address = L"old";
  Form form(nullptr);
  form.LoadFromProxy(&proxy);
  EXPECT_TRUE(IsWindowEnabled(form.edtProxyAddress->Handle()));
  form.edtProxyAddress->SetText(L"  proxy.example  ");
  form.edtProxyPassword->SetText(L" pass word ");
  form.edtProxyUser->SetText(L" user");
  form.edtProxyPort->SetText(L"3127.6");
  form.SaveToProxy(&proxy);
  EXPECT_TRUE(proxy.Checked);
  EXPECT_EQ(proxy.Address, L"proxy.example");
  EXPECT_EQ(proxy.Password, L" pass word ");
  EXPECT_EQ(proxy.UserName, L" user");
  EXPECT_EQ(proxy.Port, 3128);
  SendMessageW(form.rbNoProxy->Handle(), BM_CLICK, 0, 0);
  form.SaveToProxy(&proxy);
  EXPECT_FALSE(proxy.Checked);
  EXPECT_EQ(proxy.Address, L"proxy.example");
  EXPECT_EQ(proxy.Port, 3128);
}

TEST(ProxyDialog, CancelLeavesTheRecordAndOkWritesIt) {
  TNvHttpProxy proxy;
  proxy.Address = L"kept";
  std::thread user([] {
    HWND dialog = WaitWindow(FindDialog);
    if (!dialog) return;
    SendMessageW(Control(dialog, Form::idRbUseProxy), BM_CLICK, 0, 0);
    SendMessageW(Control(dialog, Form::idEdtProxyAddress), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"changed"));
    PostMessageW(Control(dialog, Form::idBtnCancel), BM_CLICK, 0, 0);
  });
  EXPECT_FALSE(Form::Execute(nullptr, &proxy));
  user.join();
  EXPECT_FALSE(proxy.Checked);
  EXPECT_EQ(proxy.Address, L"kept");

  std::thread user2([] {
    HWND dialog = WaitWindow(FindDialog);
    if (!dialog) return;
    SendMessageW(Control(dialog, Form::idRbUseProxy), BM_CLICK, 0, 0);
    SendMessageW(Control(dialog, Form::idEdtProxyAddress), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L" 10.0.0.1 "));
    SendMessageW(Control(dialog, Form::idEdtProxyPort), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"3128"));
    PostMessageW(Control(dialog, Form::idBtnOk), BM_CLICK, 0, 0);
  });
  EXPECT_TRUE(Form::Execute(nullptr, &proxy));
  user2.join();
  EXPECT_TRUE(proxy.Checked);
  EXPECT_EQ(proxy.Address, L"10.0.0.1");
  EXPECT_EQ(proxy.Port, 3128);
}

TEST(ProxyDialog, BlankAddressIsRefusedWithAMessageAndTheDialogStaysOpen) {
  TNvHttpProxy proxy;
  std::atomic<bool> sawBox{false}, stillOpen{false};
  std::wstring boxText;
  std::thread user([&] {
    HWND dialog = WaitWindow(FindDialog);
    if (!dialog) return;
    SendMessageW(Control(dialog, Form::idRbUseProxy), BM_CLICK, 0, 0);
    SendMessageW(Control(dialog, Form::idEdtProxyAddress), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"   "));
    PostMessageW(Control(dialog, Form::idBtnOk), BM_CLICK, 0, 0);
    HWND box = WaitWindow([&] { return FindMessageBox(dialog); });
    sawBox = box != nullptr;
    if (box) {
      boxText = MessageBoxText(box);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      WaitWindow([&] { return FindMessageBox(dialog) ? nullptr : dialog; });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stillOpen = IsWindowVisible(dialog) != FALSE;
    PostMessageW(Control(dialog, Form::idBtnCancel), BM_CLICK, 0, 0);
  });
  EXPECT_FALSE(Form::Execute(nullptr, &proxy));
  user.join();
  EXPECT_TRUE(sawBox);
  EXPECT_EQ(boxText, L"服务器地址不能为空，请重新输入。");
  EXPECT_TRUE(stillOpen);
  EXPECT_FALSE(proxy.Checked);
  EXPECT_TRUE(proxy.Address.empty());
}

TEST(ProxyDialog, RefusedAddressLeavesTheFocusInTheAddressField) {
  TNvHttpProxy proxy;
  Form form(nullptr);
  form.LoadFromProxy(&proxy);
  form.ShowForm();
  SendMessageW(form.rbUseProxy->Handle(), BM_CLICK, 0, 0);
  form.edtProxyAddress->SetText(L" \t ");
  form.edtProxyUser->SetFocus();
  HWND dialog = form.Handle();
  std::atomic<bool> sawBox{false};
  std::thread user([&] {
    HWND box = WaitWindow([&] { return FindMessageBox(dialog); });
    sawBox = box != nullptr;
    if (box) PostMessageW(box, WM_COMMAND, IDOK, 0);
  });
  EXPECT_FALSE(form.CheckInput());
  user.join();
  EXPECT_TRUE(sawBox);
  EXPECT_EQ(GetFocus(), form.edtProxyAddress->Handle());
  // With no proxy chosen nothing is checked.
  SendMessageW(form.rbNoProxy->Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(form.CheckInput());
}

}  // namespace
