// The uninstall data files and the product's uninstall registration.
#include <windows.h>

#include <cstdint>

#include "ExitCodes.h"
#include "InstallEngine.h"
#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvStream.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "NvRegKey.h"
#include "PackageFormat.h"
#include "SetupProject.h"
#include "InstallChanges.h"
#include "InstallLocation.h"
#include "Setupfn.h"

namespace {

// Writes the stream, container-encoded unless this is a development run,
// recorded as the install's.
void WriteDataFile(TInstallChanges& changes, TMemoryStream& stream, const std::wstring& fileName) {
  if (!TNvSysfn::IsDebugging()) TSetupfn::EncodeStream(stream);
  const std::wstring backup = changes.PrepareFile(fileName, TJournalRole::jrUninstallData);
  try {
    WriteFileBytes(fileName, stream.Bytes());
  } catch (const Exception&) {
    changes.FileAbandoned(fileName, backup);
    throw;
  }
  changes.FileWritten(fileName, TJournalRole::jrUninstallData, BytesAdler32(stream.Bytes()));
}

// "yyyymmdd" of the current local date.
std::wstring InstallDateText() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return IntToStr(st.wYear * 10000 + st.wMonth * 100 + st.wDay);  // the year has four digits
}

}  // namespace

void TInstallEngine::WriteUninstallData() {
  NV_ASSERT(IconIsPng(), L"Installer\\MainFrm", 949);
  const std::wstring app = TSetupfn::AppPath();
  TMemoryStream stream;
  FScript->SaveToStream(stream, 0);
  WriteDataFile(Changes(), stream, app + UninstallProjectFileName);
  stream.Assign(IconPng());
  WriteDataFile(Changes(), stream, app + UninstallIconFileName);
}

void TInstallEngine::RegisterUninstall() {
  const TSetupBaseInfo* info = FScript->BaseInfo();
  int32_t major = 0, minor = 0, release = 0, build = 0;
  info->GetVersionNumbers(major, minor, release, build);

  // Windows reads EstimatedSize in kilobytes; the sum is taken in 64 bits so
  // that large products do not wrap.
  TSetupFileList* files = FScript->FileList();
  uint64_t bytes = 0;
  for (int i = 0; i < files->Count(); ++i)
    if (files->Items(i)->FileBytes > 0) bytes += static_cast<uint64_t>(files->Items(i)->FileBytes);
  uint64_t kilobytes = (bytes + 1023) / 1024;
  if (kilobytes > UINT32_MAX) kilobytes = UINT32_MAX;

  // An install without its entry cannot be removed through the system: a key
  // that cannot be written fails the install.
  const std::wstring keyPath = UninstallKeyPath(info->GUID);
  const std::wstring app = TSetupfn::AppPath();
  const std::wstring appNoSlash = ExcludeTrailingBackslash(app);
  const std::wstring uninstaller = L"\"" + appNoSlash + L"\\" + UninstallerFileName + L"\"";
  const std::pair<const wchar_t*, TRegData> values[] = {
      {L"DisplayName", RegStringData(Format(L"%s 版本 %s", {info->AppTitle, info->Version}))},
      {L"DisplayVersion", RegStringData(info->Version)},
      {L"EstimatedSize", RegDWordData(static_cast<uint32_t>(kilobytes))},
      {L"HelpLink", RegStringData(info->CompanyUrl)},
      {L"InstallDate", RegStringData(InstallDateText())},
      {L"InstallLocation", RegStringData(app)},
      {L"MajorVersion", RegDWordData(static_cast<uint32_t>(major))},
      {L"MinorVersion", RegDWordData(static_cast<uint32_t>(minor))},
      {L"NoModify", RegDWordData(1)},
      {L"NoRepair", RegDWordData(1)},
      {L"Publisher", RegStringData(info->CompanyName)},
      {L"QuietUninstallString", RegStringData(uninstaller + L" " + UninstallerSilentSwitch)},
      {L"UninstallString", RegStringData(uninstaller)},
      {L"URLInfoAbout", RegStringData(info->CompanyUrl)},
      {L"URLUpdateInfo", RegStringData(info->CompanyUrl)},
      {L"VersionMajor", RegDWordData(static_cast<uint32_t>(major))},
      {L"VersionMinor", RegDWordData(static_cast<uint32_t>(minor))},
  };
  TInstallChanges& changes = Changes();
  try {
    for (const auto& [name, data] : values)
      changes.SetValue(rrkLocalMachine, keyPath, name, data, TJournalRole::jrUninstallEntry);
  } catch (const ERegistryException& e) {
    // The entry's own words: which key, or which value.
    if (StartsText(L"Failed to open the key", e.Message()))
      throw ERegistryException(Format(L"Failed to open the uninstall key 'HKEY_LOCAL_MACHINE\\%s'", {keyPath}));
    throw;
  }
}
