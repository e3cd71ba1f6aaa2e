// What the window tests of the setup program share on top of the Wine test
// support: its main window's looks and the packages they start.
#pragma once

#include <memory>

#include "MainFrm.h"
#include "NvSysUtils.h"
#include "WineTestSupport.h"

namespace nvtest {

// How long a window or a dialog may take to appear or to go.
constexpr DWORD kWait = 30000;

// Waits up to ms for the main window's whole done look: the title "安装完成",
// the run button shown, the progress bar and wait line hidden (the setup
// changes them one by one).
inline bool WaitDoneLook(HWND main, DWORD ms) {
  return WaitUntil(
      [&] {
        return Text(Control(main, idLblAppTitle)) == L"安装完成" && Visible(Control(main, idBtnRunApp)) &&
               !Visible(Control(main, idPbProgress)) && !Visible(Control(main, idLblWait));
      },
      ms);
}

// A package made with the resource writer, as the window tests use it:
// version 2.5.0.1, an orange picture with alpha, and an agreement (UTF-8
// with BOM).
class TUiPackage : public TTestPackage {
public:
  TUiPackage(const std::wstring& title, const std::wstring& defDir)
      : TTestPackage(L"", title, defDir, TPackMode::ResourceWriter) {
    Info().Version = L"2.5.0.1";
    SetIconPng(MakePng(48, 48, 0xFFA000, true));
    SetLicense("\xEF\xBB\xBF" + Utf8Encode(L"用户许可协议\r\n第一条：本软件仅供测试。\n第二条：请勿外传。"));
  }
};

// C:\nvtests\pkg-<name>\Setup.exe, in a fresh folder.
inline std::wstring PackagePath(const std::wstring& name) { return FreshDir(L"pkg-" + name) + L"Setup.exe"; }

// A setup program started with args, and its main window (nullptr when none
// appeared).
struct TRunning {
  explicit TRunning(const std::wstring& exe, const std::wstring& args = L"")
      : Setup(std::make_unique<TSetup>(exe, args)), Main(WaitTop(Setup->Id(), L"TMainForm", kWait)) {}
  // The package built as PackagePath(name) first.
  TRunning(TTestPackage& pkg, const std::wstring& name, const std::wstring& args = L"")
      : TRunning(Built(pkg, name), args) {}
  std::unique_ptr<TSetup> Setup;
  HWND Main = nullptr;
  HWND C(int id) const { return Control(Main, id); }

private:
  static std::wstring Built(TTestPackage& pkg, const std::wstring& name) {
    const std::wstring exe = PackagePath(name);
    pkg.Build(exe);
    return exe;
  }
};

}  // namespace nvtest
