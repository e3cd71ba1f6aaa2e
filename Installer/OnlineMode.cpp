// The online stub's download of the full package and the hand-off to it, and
// the notification visit after every finished install.
#include "MainFrm.h"

#include <algorithm>

#include "DownloadFailureFrm.h"
#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvIndyUtils.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "PackageFormat.h"
#include "SetupProject.h"

namespace {

int ClampToInt(int64_t value) { return static_cast<int>(std::clamp<int64_t>(value, 0, INT32_MAX)); }

}  // namespace

void TMainForm::HttpWorkBegin(TNvHttp*, TWorkMode, int64_t AWorkCountMax) {
  pbProgress->SetMax(ClampToInt(AWorkCountMax));
  pbProgress->SetPosition(0);
  ProcessMessages();
}

void TMainForm::HttpWork(TNvHttp*, TWorkMode, int64_t AWorkCount) {
  pbProgress->SetPosition(ClampToInt(AWorkCount));
  ProcessMessages();
}

void TMainForm::HttpWorkEnd(TNvHttp*, TWorkMode) {}

bool TMainForm::DownloadFullPackage() {
  // The user may have edited the proxy through the link before pressing install.
  GlobalHttpProxy()->Assign(FProxy.get());
  TNvHttp http;
  http.OnWorkBegin = [this](TNvHttp* s, TWorkMode m, int64_t max) { HttpWorkBegin(s, m, max); };
  http.OnWork = [this](TNvHttp* s, TWorkMode m, int64_t count) { HttpWork(s, m, count); };
  http.OnWorkEnd = [this](TNvHttp* s, TWorkMode m) { HttpWorkEnd(s, m); };
  const std::wstring url = FScript->BaseInfo()->FullDownloadUrl;
  try {
    if (!http.Get(url)) {
      if (FSilentInstall) {
        TNvSysfn::WriteStdOut(Format(L"在线安装失败：%s：%s", {url, http.ErrorMessage}));
        ExitSetup(kExitDownloadFailed);
      }
      // "退出安装" leaves; "重试" and the close box go back to the idle window,
      // where the proxy can be set before the next try.
      if (TDownloadFailureForm::Execute(this, FScript->BaseInfo()->AppTitle, url)) ExitSetup(kExitDownloadFailed);
      RestoreIdleLayout();
      return false;
    }
    FDownloadFile = TNvWinfn::GetTempDir() + TNvStrfn::NewGuidString() + L".exe";
    TNvFilefn::ForceFileDir(FDownloadFile);
    WriteFileBytes(FDownloadFile, http.ResponseStream.Bytes());
    // The downloaded program is opened for its resources only, never run or
    // mapped as code, as this program opens its own package.
    if (FPackageHandle) FreeLibrary(FPackageHandle);
    FPackageHandle = LoadLibraryExW(FDownloadFile.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!FPackageHandle) FPackageHandle = LoadLibraryExW(FDownloadFile.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!FPackageHandle || !ResourceExists(FullPackageMarker)) throw Exception(L"安装包错误。");
    TMemoryStream stream;
    ReadResource(FullPackageMarker, stream);
    // Parsed into a new project first: a rejected text leaves the stub's project whole.
    auto full = std::make_unique<TSetupScript>();
    full->LoadFromStream(stream, 0);
    FScript = std::move(full);
    return true;
  } catch (const std::exception& e) {
    ReportMessage(ExceptionMessage(e));
    if (FSilentInstall || FAutoInstall) ExitSetup(kExitDownloadFailed);
    RestoreIdleLayout();
    return false;
  }
}

void TMainForm::VisitGotoUrl() {
  std::wstring address = FScript->BaseInfo()->GotoUrl;
  if (address.empty()) return;
  address = AppendRCode(address);
  if (FScript->BaseInfo()->GotoUrlMode == gumByBrowser) {
    TNvWinfn::OpenUrl(address);
    return;
  }
  // The silent visit: the detail line shows it while it runs. Its answer,
  // a failure and a time-out are all ignored.
  lblDetail->SetCaption(L"正在验证安装......");
  lblDetail->Show();
  ProcessMessages();
  try {
    TNvHttp http;
    http.SetConnectTimeout(5000);
    http.SetTimeLimit(5000);  // connect, send and answer: the visit never holds up the end
    http.Get(address);
  } catch (const std::exception&) {
  }
  lblDetail->Hide();
}

std::wstring TMainForm::AppendRCode(const std::wstring& address) const {
  std::vector<std::wstring> args = SplitCommandLine(GetCommandLineW());
  std::wstring name = ExtractFileNameNoExt(args.empty() ? FPackagePath : args[0]);
  size_t underscore = name.find(L'_');
  if (underscore == std::wstring::npos) return address;
  std::wstring rest = name.substr(underscore + 1);
  size_t digits = 0;
  while (digits < rest.size() && rest[digits] >= L'0' && rest[digits] <= L'9') ++digits;
  if (digits == 0) return address;
  return address + (address.find(L'?') != std::wstring::npos ? L"&" : L"?") +
         Format(L"rcode=%s", {rest.substr(0, digits)});
}
