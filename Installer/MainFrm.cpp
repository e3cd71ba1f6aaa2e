#include "MainFrm.h"

#include <cmath>

#include "CopyFileFailureFrm.h"
#include "Glyphs.h"
#include "IndyProxySettingsFrm.h"
#include "LicenseFrm.h"
#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvIndyUtils.h"
#include "NvPlatform.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "PackageFormat.h"
#include "SetupProject.h"
#include "Setupfn.h"

TMainForm* MainForm = nullptr;

namespace {

constexpr int kFormWidth = 750;
constexpr int kFormHeight = 480;
constexpr int kBottomHeight = 100;
const char kPngSignature[] = "\x89PNG\r\n\x1a\n";

TFont MakeFont(const wchar_t* name, int height, COLORREF color, bool bold = false) {
  TFont f;
  f.Name = name;
  f.Height = height;
  f.Color = color;
  f.Bold = bold;
  return f;
}

}  // namespace

// ---- construction ------------------------------------------------------------------
TMainForm::TMainForm()
    : TBaseForm(nullptr, L"TMainForm", kFormWidth, kFormHeight, WS_POPUP | WS_MINIMIZEBOX | WS_SYSMENU,
                WS_EX_APPWINDOW) {
  MainForm = this;
  if (Application && Application->Title.empty()) Application->Title = L"Setup";
  BuildControls();
  StartUp();
}

TMainForm::~TMainForm() {
  if (FPackageHandle) FreeLibrary(FPackageHandle);
  FPackageHandle = nullptr;
  if (!FDownloadFile.empty() && FileExists(FDownloadFile)) RemoveFile(FDownloadFile);
  if (MainForm == this) MainForm = nullptr;
}

void TMainForm::BuildControls() {
  const wchar_t* yahei = L"微软雅黑";
  FColor = clProduct;
  TntPanel2 = Own(new TPanel(this, idTntPanel2, 0, 0, kFormWidth, kFormHeight));
  TntPanel2->SetColor(clProduct);
  TntPanel2->BorderColor = clProductDown;

  const int bottomTop = kFormHeight - 1 - kBottomHeight;
  imgBackground = Own(new TImage(TntPanel2, idImgBackground, 1, 1, kFormWidth - 2, bottomTop - 1));
  imgBackground->OnMouseDown = [this](int b) { DragMouseDown(b); };

  lblAppTitle = Own(new TLabel(TntPanel2, idLblAppTitle, 8, 168, 737, 57, L""));
  lblAppTitle->Alignment = TAlignment::taCenter;
  lblAppTitle->Layout_Center = true;
  lblAppTitle->SetFont(MakeFont(yahei, 37, clWhite));
  lblAppTitle->OnMouseDown = [this](int b) { DragMouseDown(b); };

  lblVersion = Own(new TLabel(TntPanel2, idLblVersion, 8, 232, 737, 33, L"版本：1.0.0.0"));
  lblVersion->Alignment = TAlignment::taCenter;
  lblVersion->Layout_Center = true;
  lblVersion->SetFont(MakeFont(yahei, 21, clWhite));
  lblVersion->OnMouseDown = [this](int b) { DragMouseDown(b); };

  imgMinimize = Own(new TImage(TntPanel2, idImgMinimize, 682, 2, 32, 32));
  imgMinimize->SetBitmap(CreateGlyph(TGlyph::gMinimize));
  imgMinimize->HotTrack = true;
  imgMinimize->SetCursor(TCursor::crHandPoint);
  imgMinimize->OnClick = [this] { imgMinimizeClick(); };

  imgClose = Own(new TImage(TntPanel2, idImgClose, 714, 2, 32, 32));
  imgClose->SetBitmap(CreateGlyph(TGlyph::gClose));
  imgClose->HotTrack = true;
  imgClose->SetCursor(TCursor::crHandPoint);
  imgClose->OnClick = [this] { imgCloseClick(); };

  imgIcon = Own(new TImage(TntPanel2, idImgIcon, 320, 48, 96, 96));
  imgIcon->OnMouseDown = [this](int b) { DragMouseDown(b); };

  btnInstall = Own(new TButton(TntPanel2, idBtnInstall, 264, 280, 200, 50, L"立即安装"));
  btnInstall->SetFont(MakeFont(yahei, 27, clWhite));
  btnInstall->OnClick = [this] { btnInstallClick(); };

  pnlBottom = Own(new TPanel(TntPanel2, idPnlBottom, 1, bottomTop, kFormWidth - 2, kBottomHeight));
  pnlBottom->SetColor(clWhite);
  pnlBottom->SetFont(MakeFont(L"Tahoma", 12, clText));
  pnlBottom->OnMouseDown = [this](int b) { DragMouseDown(b); };

  lblDestDir = Own(new TLabel(pnlBottom, idLblDestDir, 12, 26, 10, 10, L""));
  lblDestDir->AutoSize = true;
  lblDestDir->SetFont(MakeFont(L"Tahoma", 19, clText));
  lblDestDir->SetCaption(L"安装目录：");
  lblDestDir->OnMouseDown = [this](int b) { DragMouseDown(b); };

  edtDestDir = Own(new TEdit(pnlBottom, idEdtDestDir, 108, 25, 112, 25));
  edtDestDir->SetFont(MakeFont(L"Tahoma", 16, clText));

  btnDestDir = Own(new TButton(pnlBottom, idBtnDestDir, 224, 23, 89, 29, L"浏览..."));
  btnDestDir->SetFont(MakeFont(yahei, 16, clProduct));
  btnDestDir->Primary = false;
  btnDestDir->OnClick = [this] { btnDestDirClick(); };

  cbLicense = Own(new TCheckBox(pnlBottom, idCbLicense, 108, 62, 42, 16, L"同意"));
  cbLicense->SetChecked(true);
  cbLicense->OnClick = [this] { cbLicenseClick(); };

  lblLicense = Own(new TLinkLabel(pnlBottom, idLblLicense, 151, 63, L"用户许可协议"));
  lblLicense->OnClick = [this] { lblLicenseClick(); };

  lblProxy = Own(new TLinkLabel(pnlBottom, idLblProxy, 239, 63, L"代理服务器设置"));
  lblProxy->OnClick = [this] { lblProxyClick(); };
  lblProxy->Hide();

  lblWait = Own(new TLabel(pnlBottom, idLblWait, 364, 11, 149, 25, L"请等待"));
  lblWait->Alignment = TAlignment::taCenter;
  lblWait->Layout_Center = true;
  lblWait->SetFont(MakeFont(L"Tahoma", 21, clText));
  lblWait->OnMouseDown = [this](int b) { DragMouseDown(b); };
  lblWait->Hide();

  pbProgress = Own(new TProgressBar(pnlBottom, idPbProgress, 360, 42, 150, 17));
  pbProgress->SetFont(MakeFont(L"Tahoma", 11, clWhite, true));
  pbProgress->Hide();

  lblDetail = Own(new TLabel(pnlBottom, idLblDetail, 361, 63, 36, 14, L"请等待"));
  lblDetail->SetFont(MakeFont(L"Tahoma", 12, RGB(110, 118, 126)));
  lblDetail->OnMouseDown = [this](int b) { DragMouseDown(b); };
  lblDetail->Hide();

  btnRunApp = Own(new TButton(pnlBottom, idBtnRunApp, 536, 23, 200, 50, L"立即体验"));
  btnRunApp->SetFont(MakeFont(yahei, 27, clWhite));
  btnRunApp->OnClick = [this] { btnRunAppClick(); };
  btnRunApp->Hide();

  // The background lies under every other control of the panel.
  SetWindowPos(imgBackground->Handle(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  OnShow = [this] { TntFormShow(); };
}

void TMainForm::StartUp() {
  // 1. The project object and the proxy settings (no proxy at first).
  FScript = std::make_unique<TSetupScript>();
  FProxy = std::make_unique<TNvHttpProxy>();
  // The command line is split now only to know whether messages may block;
  // the switches take effect in their own step below.
  std::vector<std::wstring> args = SplitCommandLine(GetCommandLineW());
  bool silentRequested = args.size() == 2 && SameText(args[1], L"/Silent");
  FSilentInstall = silentRequested;

  // 2. Centre the title column.
  const int cw = ClientWidth();
  for (TControl* c : std::initializer_list<TControl*>{imgIcon, lblAppTitle, lblVersion, btnInstall})
    c->SetLeft((cw - c->Width()) / 2);
  // 3.
  FInstallState = 0;

  // 4. The package is this program's own file, opened for its resources only.
  wchar_t path[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  FPackagePath = path;
  FPackageHandle = LoadLibraryExW(FPackagePath.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!FPackageHandle) FPackageHandle = LoadLibraryExW(FPackagePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);

  // 5. Mode selection.
  std::wstring marker;
  if (ResourceExists(FullPackageMarker)) {
    FFullPackage = true;
    marker = FullPackageMarker;
  } else if (ResourceExists(OnlineStubMarker)) {
    FFullPackage = false;
    marker = OnlineStubMarker;
  } else {
    ExitSetup(kExitOk);
  }

  // 6. The project.
  try {
    TMemoryStream stream;
    ReadResource(marker, stream);
    stream.Rewind();
    FScript->LoadFromStream(stream, 0);
  } catch (const std::exception& e) {
    FailDamaged(ExceptionMessage(e));
  }
  TSetupBaseInfo& info = *FScript->BaseInfo();
  // 7.-10.
  TSetupfn::SetProductTitle(info.AppTitle);
  lblAppTitle->SetCaption(info.AppTitle);
  SetCaption(info.AppTitle);
  if (Application && !info.AppTitle.empty()) Application->Title = info.AppTitle;
  lblVersion->SetCaption(Format(L"版本：%s", {info.Version}));
  edtDestDir->SetText(TSetupfn::ExpandConstants(info.DefInstallPath));
  lblProxy->SetVisible(!FFullPackage);

  // 11. An earlier installation's folder.
  std::wstring keyName = Format(UninstallKeyFormat, {std::wstring(UninstallKeyRoot), info.GUID});
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, NvRegAccess(KEY_READ), &key) == ERROR_SUCCESS) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, L"InstallLocation", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
      std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
      DWORD got = static_cast<DWORD>(value.size() * sizeof(wchar_t));
      if (RegQueryValueExW(key, L"InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &got) ==
          ERROR_SUCCESS) {
        value.resize(got / sizeof(wchar_t));
        while (!value.empty() && value.back() == L'\0') value.pop_back();
        edtDestDir->SetText(value);
      }
    }
    RegCloseKey(key);
  }

  // 12. Picture and agreement.
  try {
    LoadIconImage();
    LoadLicenseText();
  } catch (const std::exception& e) {
    FailDamaged(ExceptionMessage(e));
  }

  // 13. Stretch the folder row.
  btnDestDir->SetLeft(Width() - btnDestDir->Width() - 16);
  edtDestDir->SetWidth(btnDestDir->Left() - edtDestDir->Left() - 8);
  // 14.
  UpdateInstallButton();
  // 15. Exactly one argument, "/Silent" or "/Auto", case ignored.
  FSilentInstall = silentRequested;
  FAutoInstall = args.size() == 2 && SameText(args[1], L"/Auto");

  // 16.
  if (FSilentInstall) {
    btnInstallClick();
    return;
  }
  // 17.
  if (FAutoInstall) {
    FInstallState = 0;
    lblAppTitle->SetCaption(L"正在安装");
    for (TControl* c : std::initializer_list<TControl*>{lblVersion, btnInstall, lblDestDir, edtDestDir, btnDestDir,
                                                         cbLicense, lblLicense, lblProxy})
      c->Hide();
    lblWait->SetLeft((pnlBottom->Width() - lblWait->Width()) / 2);
    lblWait->Show();
    pbProgress->SetBounds(16, pbProgress->Top(), pnlBottom->Width() - 32, pbProgress->Height());
    pbProgress->Show();
    lblDetail->SetBounds(pbProgress->Left(), lblDetail->Top(), pbProgress->Width(), lblDetail->Height());
    lblDetail->SetCaption(L"");
    lblDetail->Show();
    ShowForm();
    Repaint();
    btnInstallClick();
  }
}

void TMainForm::FailDamaged(const std::wstring& cause) {
  ReportMessage(Format(L"安装包已损坏：%s", {cause}));
  ExitSetup(kExitDamagedPackage);
}

bool TMainForm::ResourceExists(const std::wstring& name) const {
  std::string ansi = WideToAnsi(name);
  return FindResourceA(FPackageHandle, ansi.c_str(), MAKEINTRESOURCEA(PackageResourceType)) != nullptr;
}

bool TMainForm::ReadResource(const std::wstring& name, TMemoryStream& stream) {
  std::string ansi = WideToAnsi(name);
  HRSRC res = FindResourceA(FPackageHandle, ansi.c_str(), MAKEINTRESOURCEA(PackageResourceType));
  if (!res) throw EResNotFound(Format(L"Resource %s not found", {name}));
  HGLOBAL global = LoadResource(FPackageHandle, res);
  const void* data = global ? LockResource(global) : nullptr;
  DWORD size = SizeofResource(FPackageHandle, res);
  if (!data && size) throw EResNotFound(Format(L"Resource %s not found", {name}));
  stream.Clear();
  stream.Write(data, size);
  stream.Rewind();
  try {
    TSetupfn::DecodeStream(stream);
  } catch (const Exception& e) {
    throw EZlibError(e.Message() + L" (" + name + L")");
  }
  stream.Rewind();
  return true;
}

void TMainForm::LoadIconImage() {
  const std::wstring& name = FScript->BaseInfo()->IconResID;
  TMemoryStream stream;
  ReadResource(name, stream);
  const std::string& bytes = stream.Bytes();
  if (bytes.compare(0, 8, kPngSignature, 8) != 0)
    throw Exception(Format(L"The picture %s is not a PNG image", {name}));
  imgIcon->LoadFromBytes(bytes);
  FIconPng = bytes;
}

bool TMainForm::IconIsPng() const { return FIconPng.size() >= 8 && FIconPng.compare(0, 8, kPngSignature, 8) == 0; }

void TMainForm::LoadLicenseText() {
  const std::wstring& name = FScript->BaseInfo()->LicenseResID;
  if (name.empty()) {
    cbLicense->Hide();
    lblLicense->Hide();
    return;
  }
  TMemoryStream stream;
  ReadResource(name, stream);
  FLicenseText = DecodeLicenseText(stream.Bytes());
}

std::wstring TMainForm::DecodeLicenseText(const std::string& bytes) {
  std::wstring text;
  auto u8 = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 && ((u8(0) == 0xFF && u8(1) == 0xFE) || (u8(0) == 0xFE && u8(1) == 0xFF))) {
    bool little = u8(0) == 0xFF;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      text += static_cast<wchar_t>(little ? (u8(i) | (u8(i + 1) << 8)) : ((u8(i) << 8) | u8(i + 1)));
  } else if (bytes.size() >= 3 && u8(0) == 0xEF && u8(1) == 0xBB && u8(2) == 0xBF) {
    text = Utf8Decode(bytes.substr(3));
  } else {
    text = AnsiToWide(bytes);
  }
  std::wstring out;
  size_t i = 0, n = text.size();
  while (i < n) {
    size_t start = i;
    while (i < n && text[i] != L'\r' && text[i] != L'\n' && text[i] != L'\x2028') ++i;
    out.append(text, start, i - start);
    out += L"\r\n";
    if (i < n) {
      if (text[i] == L'\r' && i + 1 < n && text[i + 1] == L'\n') ++i;
      ++i;
    }
  }
  return out;
}

std::vector<std::wstring> TMainForm::SplitCommandLine(const std::wstring& commandLine) {
  std::vector<std::wstring> args;
  size_t i = 0, n = commandLine.size();
  while (true) {
    while (i < n && commandLine[i] >= 1 && commandLine[i] <= 32) ++i;
    if (i >= n || commandLine[i] == 0) break;
    std::wstring arg;
    while (i < n && commandLine[i] > 32) {
      if (commandLine[i] == L'"') {
        ++i;
        while (i < n && commandLine[i] != 0 && commandLine[i] != L'"') arg += commandLine[i++];
        if (i < n && commandLine[i] == L'"') ++i;
      } else {
        arg += commandLine[i++];
      }
    }
    args.push_back(arg);
  }
  return args;
}

void TMainForm::UpdateInstallButton() { btnInstall->SetEnabled(cbLicense->Checked()); }

// ---- handlers ---------------------------------------------------------------------
void TMainForm::btnDestDirClick() {
  std::wstring path = Trim(edtDestDir->Text());
  if (TNvVclfn::SelectDirectory(Handle(), L"选择安装目录", path)) edtDestDir->SetText(path);
}

void TMainForm::btnRunAppClick() { PostMessageW(Handle(), WM_RUNAPP, 0, 0); }

void TMainForm::cbLicenseClick() { UpdateInstallButton(); }

void TMainForm::lblLicenseClick() { TLicenseForm::Execute(this, FLicenseText); }

void TMainForm::lblProxyClick() { TIndyProxySettingsForm::Execute(this, FProxy.get()); }

void TMainForm::imgMinimizeClick() {
  if (Application) Application->Minimize();
}

void TMainForm::imgCloseClick() {
  if (FInstallState != 1) PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void TMainForm::DragMouseDown(int) {
  ReleaseCapture();
  SendMessageW(Handle(), WM_SYSCOMMAND, 0xF012, 0);
}

void TMainForm::TntFormShow() {
  if (btnInstall->Handle() && IsWindowVisible(btnInstall->Handle())) ::SetFocus(btnInstall->Handle());
}

void TMainForm::WMRunApp() {
  try {
    RunPrograms();
  } catch (const std::exception& e) {
    if (FSilentInstall) TNvSysfn::WriteStdOut(ExceptionMessage(e));
  }
  ExitSetup(kExitOk);
}

LRESULT TMainForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_RUNAPP) {
    WMRunApp();
    return 0;
  }
  return TBaseForm::WndProc(msg, wParam, lParam);
}

bool TMainForm::CloseQuery() { return FInstallState != 1; }

unsigned TMainForm::ExitCode() const { return FInstallState == 2 ? kExitOk : kExitNotInstalled; }

// ---- services -------------------------------------------------------------------------
void TMainForm::ProcessMessages() {
  if (Application) Application->ProcessMessages();
}

void TMainForm::StepProgress() {
  pbProgress->StepBy(1);
  ProcessMessages();
}

void TMainForm::SetDetail(const std::wstring& text) {
  lblDetail->SetCaption(text);
  lblDetail->Repaint();
  ProcessMessages();
}

void TMainForm::ReportMessage(const std::wstring& text) {
  if (FSilentInstall) {
    TNvSysfn::WriteStdOut(text);
    return;
  }
  TNvVclfn::ShowInfo(Handle(), text);
}

int TMainForm::AskCopyFailure(const std::wstring& fileName, const std::wstring& reason) {
  if (FSilentInstall) {
    TNvSysfn::WriteStdOut(Format(L"复制文件失败：%s：%s", {fileName, reason}));
    return mrAbort;
  }
  return TCopyFileFailureForm::Execute(this, fileName, reason);
}

void TMainForm::ExitSetup(unsigned code) { ExitProcess(code); }
