// The online stub's download of the full package and the hand-off to it, and
// the notification visit after every finished install.
#include "ExitCodes.h"
#include "InstallEngine.h"

#include <windows.h>

#include <algorithm>

#include "DownloadCheck.h"
#include "NvCommandLine.h"
#include "NvDownload.h"
#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvIndyUtils.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "PackageFormat.h"
#include "SetupProject.h"
#include "SetupText.h"
#include "Sha256.h"

namespace {

int ClampToInt(int64_t value) { return static_cast<int>(std::clamp<int64_t>(value, 0, INT32_MAX)); }

// A whole download that the stub's check refuses.
NV_DECLARE_EXCEPTION(EDownloadRefused, Exception);

}  // namespace

void TInstallEngine::HttpWorkBegin(TNvHttp*, TWorkMode, int64_t AWorkCountMax) {
  FDownloadTotal = AWorkCountMax > 0 ? AWorkCountMax : -1;
  FHost.SetProgressMax(ClampToInt(AWorkCountMax));
  // A resumed transfer measures its own rate.
  FDownloadMeter.Begin(GetTickCount64(), FDownload ? FDownload->Received() : 0);
  FHost.ProcessMessages();
}

void TInstallEngine::HttpWork(TNvHttp*, TWorkMode, int64_t AWorkCount) {
  // The window answers at every read; the bar and the detail line change a
  // few times a second.
  if (FDownloadMeter.Sample(GetTickCount64(), AWorkCount)) {
    FHost.SetProgressPosition(ClampToInt(AWorkCount));
    FHost.SetDetail(DownloadDetailText(AWorkCount, FDownloadTotal, FDownloadMeter.Rate()));
  }
  FHost.ProcessMessages();
}

void TInstallEngine::HttpWorkEnd(TNvHttp*, TWorkMode) {}

void TInstallEngine::WaitBeforeRetry(int milliseconds) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(std::max(milliseconds, 0));
  for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
    FHost.SetDetail(DownloadRetryText(static_cast<int>(end - now)));
    FHost.ProcessMessages();
    Sleep(static_cast<DWORD>(std::min<ULONGLONG>(50, end - now)));
  }
}

void TInstallEngine::CheckDownload() {
  TOnlineCheck check;
  if (!ReadOnlineCheck(FPackagePath, check)) return;  // a stub built without a check
  const std::wstring problem =
      check.Rule == TOnlineRule::orPin
          ? PinProblem(check, static_cast<uint64_t>(FDownload->Received()), FDownloadHash->Final())
          : SignerProblem(FDownload->FileHandle(), FDownload->FileName(), FPackagePath);
  if (!problem.empty()) throw EDownloadRefused(problem);
}

void TInstallEngine::RemoveDownload() {
  if (!FDownload) return;
  // The module maps the downloaded file: back to this program's own package first.
  if (FPackage.IsOpen() && FPackage.FileName() == FDownload->FileName()) FPackage.Open(FPackagePath);
  FDownload->Discard();  // deletes the file (kept or not), or has it deleted at the next restart
  FDownload.reset();
  FDownloadHash.reset();
  FDownloadTotal = -1;
}

TInstallOutcome TInstallEngine::DownloadFullPackage(const TNvHttpProxy& proxy) {
  // An install that failed after the hand-off is tried again with the
  // package it checked.
  if (FDownload && FDownload->Complete() && FPackage.FileName() == FDownload->FileName()) return {};
  // The user may have edited the proxy through the link before pressing install.
  GlobalHttpProxy()->Assign(&proxy);
  const std::wstring url = FScript->BaseInfo()->FullDownloadUrl;
  try {
    TOnlineCheck check;
    const uint64_t pinnedSize = ReadOnlineCheck(FPackagePath, check) && check.Rule == TOnlineRule::orPin ? check.Size : 0;
    // A part kept from the last try of this address goes on; anything else
    // starts anew under a new name.
    if (FDownload && (FDownload->Url() != url || FDownload->Complete())) RemoveDownload();
    if (!FDownload) {
      FDownloadHash = std::make_unique<nvbuilder::TSha256>();
      FDownload = std::make_unique<TNvDownload>(url, TNvWinfn::GetTempDir() + TNvStrfn::NewGuidString() + L".exe");
      FDownload->OnRestart = [this] { FDownloadHash = std::make_unique<nvbuilder::TSha256>(); };
      FDownload->OnData = [this, pinnedSize](const char* data, std::size_t size) {
        FDownloadHash->Update(std::string_view(data, size));
        // A download longer than the pinned file is refused as it arrives.
        if (pinnedSize > 0 && static_cast<uint64_t>(FDownload->Received()) > pinnedSize)
          throw EDownloadRefused(Format(L"下载的安装包大小不符：超过了应有的 %s 字节。",
                                        {IntToStr(static_cast<int64_t>(pinnedSize))}));
      };
      FDownload->OnWorkBegin = [this](TNvHttp* s, TWorkMode m, int64_t max) { HttpWorkBegin(s, m, max); };
      FDownload->OnWork = [this](TNvHttp* s, TWorkMode m, int64_t count) { HttpWork(s, m, count); };
      FDownload->OnRetry = [this](int pause, int, const std::wstring&) { WaitBeforeRetry(pause); };
    }
    FHost.SetDetail(DownloadDetailText(FDownload->Received(), FDownload->Total(), -1));
    const bool whole = FDownload->Run();
    HttpWorkEnd(nullptr, wmRead);
    if (!whole) {
      const std::wstring reason = Format(L"在线安装失败：%s：%s", {url, FDownload->ErrorMessage});
      if (FHost.SilentInstall()) {
        FHost.ReportMessage(reason);
        return {kExitDownloadFailed, reason};
      }
      // "退出安装" leaves; "重试" and the close box go back to the idle window,
      // where the proxy can be set before the next try, which resumes.
      const bool leave = FHost.AskDownloadFailure(url);
      return {kExitDownloadFailed, reason, leave, !leave};
    }
    FHost.SetProgressPosition(ClampToInt(FDownload->Received()));
    FHost.SetDetail(DownloadDetailText(FDownload->Received(), FDownload->Received(), -1));
    // Checked while the file is still held against other writers.
    CheckDownload();
    FDownload->Keep();
    // The downloaded program is opened for its resources only, never run or
    // mapped as code, as this program opens its own package.
    if (!FPackage.Open(FDownload->FileName()) || !ResourceExists(FullPackageMarker)) throw Exception(L"安装包错误。");
    TMemoryStream stream;
    ReadResource(FullPackageMarker, stream);
    // Parsed into a new project first: a rejected text leaves the stub's project whole.
    auto full = std::make_unique<TSetupScript>();
    full->LoadFromStream(stream, 0);
    FScript = std::move(full);
    return {};
  } catch (const EDownloadRefused& e) {
    // Never installed, never kept.
    RemoveDownload();
    const std::wstring message = Format(L"在线安装失败：%s：%s", {url, e.Message()});
    FHost.ReportMessage(message);
    return {kExitDownloadFailed, message};
  } catch (const std::exception& e) {
    // A rejected download is not kept: back to this program's own package,
    // and the file is deleted before anything can end the process.
    RemoveDownload();
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
