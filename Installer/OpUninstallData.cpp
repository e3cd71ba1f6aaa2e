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
#include "Setupfn.h"

namespace {

// Writes the stream, container-encoded unless this is a development run.
void WriteDataFile(TMemoryStream& stream, const std::wstring& fileName) {
  if (!TNvSysfn::IsDebugging()) TSetupfn::EncodeStream(stream);
  WriteFileBytes(fileName, stream.Bytes());
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
  WriteDataFile(stream, app + UninstallProjectFileName);
  stream.Assign(IconPng());
  WriteDataFile(stream, app + UninstallIconFileName);
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
  const std::wstring keyPath = Format(UninstallKeyFormat, {std::wstring(UninstallKeyRoot), info->GUID});
  TNvRegKey key;
  if (!key.OpenOrCreate(HKEY_LOCAL_MACHINE, keyPath))
    throw ERegistryException(Format(L"Failed to open the uninstall key 'HKEY_LOCAL_MACHINE\\%s'", {keyPath}));
  const std::wstring app = TSetupfn::AppPath();
  const std::wstring appNoSlash = ExcludeTrailingBackslash(app);
  key.WriteString(L"DisplayName", Format(L"%s 版本 %s", {info->AppTitle, info->Version}));
  key.WriteString(L"DisplayVersion", info->Version);
  key.WriteInteger(L"EstimatedSize", static_cast<uint32_t>(kilobytes));
  key.WriteString(L"HelpLink", info->CompanyUrl);
  key.WriteString(L"InstallDate", InstallDateText());
  key.WriteString(L"InstallLocation", app);
  key.WriteInteger(L"MajorVersion", static_cast<uint32_t>(major));
  key.WriteInteger(L"MinorVersion", static_cast<uint32_t>(minor));
  key.WriteInteger(L"NoModify", 1);
  key.WriteInteger(L"NoRepair", 1);
  key.WriteString(L"Publisher", info->CompanyName);
  const std::wstring uninstaller = L"\"" + appNoSlash + L"\\" + UninstallerFileName + L"\"";
  key.WriteString(L"QuietUninstallString", uninstaller + L" " + UninstallerSilentSwitch);
  key.WriteString(L"UninstallString", uninstaller);
  key.WriteString(L"URLInfoAbout", info->CompanyUrl);
  key.WriteString(L"URLUpdateInfo", info->CompanyUrl);
  key.WriteInteger(L"VersionMajor", static_cast<uint32_t>(major));
  key.WriteInteger(L"VersionMinor", static_cast<uint32_t>(minor));
}
