// The online stub's download of the full package and the hand-off to it, and
// the notification visit after every finished install.
#include "ExitCodes.h"
#include "InstallEngine.h"

#include <algorithm>

#include "NvCommandLine.h"
#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvIndyUtils.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "PackageFormat.h"
#include "SetupProject.h"
#include "SetupText.h"

namespace {

int ClampToInt(int64_t value) { return static_cast<int>(std::clamp<int64_t>(value, 0, INT32_MAX)); }

}  // namespace

void TInstallEngine::HttpWorkBegin(TNvHttp*, TWorkMode, int64_t AWorkCountMax) {
  FHost.SetProgressMax(ClampToInt(AWorkCountMax));
  FHost.ProcessMessages();
}

void TInstallEngine::HttpWork(TNvHttp*, TWorkMode, int64_t AWorkCount) {
  FHost.SetProgressPosition(ClampToInt(AWorkCount));
  FHost.ProcessMessages();
}

void TInstallEngine::HttpWorkEnd(TNvHttp*, TWorkMode) {}

TInstallOutcome TInstallEngine::DownloadFullPackage(const TNvHttpProxy& proxy) {
  // The user may have edited the proxy through the link before pressing install.
  GlobalHttpProxy()->Assign(&proxy);
  TNvHttp http;
  http.OnWorkBegin = [this](TNvHttp* s, TWorkMode m, int64_t max) { HttpWorkBegin(s, m, max); };
  http.OnWork = [this](TNvHttp* s, TWorkMode m, int64_t count) { HttpWork(s, m, count); };
  http.OnWorkEnd = [this](TNvHttp* s, TWorkMode m) { HttpWorkEnd(s, m); };
  const std::wstring url = FScript->BaseInfo()->FullDownloadUrl;
  try {
    if (!http.Get(url)) {
      const std::wstring reason = Format(L"在线安装失败：%s：%s", {url, http.ErrorMessage});
      if (FHost.SilentInstall()) {
        FHost.ReportMessage(reason);
        return {kExitDownloadFailed, reason};
      }
      // "退出安装" leaves; "重试" and the close box go back to the idle window,
      // where the proxy can be set before the next try.
      const bool leave = FHost.AskDownloadFailure(url);
      return {kExitDownloadFailed, reason, leave, !leave};
    }
    FDownloadFile = TNvWinfn::GetTempDir() + TNvStrfn::NewGuidString() + L".exe";
    TNvFilefn::ForceFileDir(FDownloadFile);
    WriteFileBytes(FDownloadFile, http.ResponseStream.Bytes());
    // The downloaded program is opened for its resources only, never run or
    // mapped as code, as this program opens its own package.
    if (!FPackage.Open(FDownloadFile) || !ResourceExists(FullPackageMarker)) throw Exception(L"安装包错误。");
    TMemoryStream stream;
    ReadResource(FullPackageMarker, stream);
    // Parsed into a new project first: a rejected text leaves the stub's project whole.
    auto full = std::make_unique<TSetupScript>();
    full->LoadFromStream(stream, 0);
    FScript = std::move(full);
    return {};
  } catch (const std::exception& e) {
    // A rejected download is not kept: back to this program's own package,
    // and the file is deleted before anything can end the process.
    if (!FDownloadFile.empty()) {
      FPackage.Open(FPackagePath);
      RemoveFile(FDownloadFile);
      FDownloadFile.clear();
    }
    const std::wstring message = ExceptionMessage(e);
    FHost.ReportMessage(message);
    return {kExitDownloadFailed, message};
  }
}

void TInstallEngine::VisitGotoUrl() {
  std::wstring address = FScript->BaseInfo()->GotoUrl;
  if (address.empty()) return;
  address = AppendRCode(address);
  if (FScript->BaseInfo()->GotoUrlMode == gumByBrowser) {
    TNvWinfn::OpenUrl(address);
    return;
  }
  // The silent visit: the detail line shows it while it runs. Its answer,
  // a failure and a time-out are all ignored.
  FHost.SetDetail(L"正在验证安装......");
  FHost.ShowDetail(true);
  FHost.ProcessMessages();
  try {
    TNvHttp http;
    http.SetConnectTimeout(5000);
    http.SetTimeLimit(5000);  // connect, send and answer: the visit never holds up the end
    http.Get(address);
  } catch (const std::exception&) {
  }
  FHost.ShowDetail(false);
}

std::wstring TInstallEngine::AppendRCode(const std::wstring& address) const {
  std::vector<std::wstring> args = SplitCommandLine(GetCommandLineW());
  return ::AppendRCode(address, args.empty() ? FPackagePath : args[0]);
}
