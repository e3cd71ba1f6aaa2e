// The main window's start-up: the package, the mode, the project, the window
// contents, an earlier installation's folder and the command line; and the
// reading of the picture and the agreement.
#include "MainFrm.h"

#include "InstallLocation.h"
#include "NvExceptions.h"
#include "NvIndyUtils.h"
#include "NvRegKey.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "PackageFormat.h"
#include "SetupProject.h"
#include "Setupfn.h"

namespace {

const char kPngSignature[] = "\x89PNG\r\n\x1a\n";

}  // namespace

void TMainForm::StartUp() {
  FProxy = std::make_unique<TNvHttpProxy>();  // no proxy until the user sets one
  // The command line is split now only to know whether messages may block;
  // the switches take effect once the window is filled.
  const std::vector<std::wstring> args = SplitCommandLine(GetCommandLineW());
  const bool silentRequested = args.size() == 2 && SameText(args[1], L"/Silent");
  FSilentInstall = silentRequested;

  // The title column is centred in the window.
  const int cw = ClientWidth();
  for (TControl* c : std::initializer_list<TControl*>{imgIcon, lblAppTitle, lblVersion, btnInstall})
    c->SetLeft((cw - c->Width()) / 2);
  FInstallState = 0;

  // The package is this program's own file, opened for its resources only.
  wchar_t path[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  FEngine->OpenPackage(path);

  // The mode: a full package, an online stub, or no package at all (a silent end).
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

  try {
    TMemoryStream stream;
    ReadResource(marker, stream);
    Script().LoadFromStream(stream, 0);
  } catch (const std::exception& e) {
    FailDamaged(ExceptionMessage(e));
  }

  // Title, version, default folder and the proxy link (online stubs only).
  TSetupBaseInfo& info = *Script().BaseInfo();
  TSetupfn::SetProductTitle(info.AppTitle);
  lblAppTitle->SetCaption(info.AppTitle);
  SetCaption(info.AppTitle);
  if (Application && !info.AppTitle.empty()) Application->Title = info.AppTitle;
  lblVersion->SetCaption(Format(L"版本：%s", {info.Version}));
  edtDestDir->SetText(TSetupfn::ExpandConstants(info.DefInstallPath));
  lblProxy->SetVisible(!FFullPackage);

  // An earlier installation's folder replaces the default. The key is only
  // read: a value of another type, or none, leaves the default.
  {
    TNvRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, UninstallKeyPath(info.GUID), KEY_READ) &&
        key.ValueExists(L"InstallLocation")) {
      try {
        edtDestDir->SetText(key.ReadString(L"InstallLocation"));
      } catch (const ERegistryException&) {
      }
    }
  }

  try {
    LoadIconImage();
    LoadLicenseText();
  } catch (const std::exception& e) {
    FailDamaged(ExceptionMessage(e));
  }

  // The folder row stretches to the window's right edge.
  btnDestDir->SetLeft(Width() - btnDestDir->Width() - 16);
  edtDestDir->SetWidth(btnDestDir->Left() - edtDestDir->Left() - 8);
  UpdateInstallButton();

  // The switches: exactly one argument, "/Silent" or "/Auto", case ignored.
  FSilentInstall = silentRequested;
  FAutoInstall = args.size() == 2 && SameText(args[1], L"/Auto");
  if (FSilentInstall) {
    // The whole install runs before the window is ever shown.
    btnInstallClick();
    return;
  }
  if (FAutoInstall) {
    // The window is first shown in the installing look (state stays 0 until
    // the folder has passed its check).
    ShowInstallingLayout(true);
    ShowForm();
    Repaint();
    btnInstallClick();
  }
}

void TMainForm::FailDamaged(const std::wstring& cause) {
  ReportMessage(Format(L"安装包已损坏：%s", {cause}));
  ExitSetup(kExitDamagedPackage);
}

bool TMainForm::ResourceExists(const std::wstring& name) const { return FEngine->ResourceExists(name); }

bool TMainForm::ReadResource(const std::wstring& name, TMemoryStream& stream) {
  return FEngine->ReadResource(name, stream);
}

void TMainForm::LoadIconImage() {
  const std::wstring& name = Script().BaseInfo()->IconResID;
  TMemoryStream stream;
  ReadResource(name, stream);
  const std::string& bytes = stream.Bytes();
  if (bytes.compare(0, 8, kPngSignature, 8) != 0)
    throw Exception(Format(L"The picture %s is not a PNG image", {name}));
  imgIcon->LoadFromBytes(bytes);
  FEngine->SetIconPng(bytes);
}

void TMainForm::LoadLicenseText() {
  const std::wstring& name = Script().BaseInfo()->LicenseResID;
  if (name.empty()) {
    cbLicense->Hide();
    lblLicense->Hide();
    return;
  }
  TMemoryStream stream;
  ReadResource(name, stream);
  FLicenseText = DecodeLicenseText(stream.Bytes());
}

void TMainForm::UpdateInstallButton() { btnInstall->SetEnabled(cbLicense->Checked()); }
