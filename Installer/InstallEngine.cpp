// The engine's package reader, the folder check and the order of the install
// operations (each operation is in its own Op*.cpp).
#include "InstallEngine.h"

#include "ExitCodes.h"
#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvSysUtils.h"
#include "PackageFormat.h"
#include "SetupProject.h"
#include "Setupfn.h"

namespace {

const char kPngSignature[] = "\x89PNG\r\n\x1a\n";

}  // namespace

TInstallEngine::TInstallEngine(TInstallHost& host) : FHost(host), FScript(std::make_unique<TSetupScript>()) {}

TInstallEngine::~TInstallEngine() {
  // The module maps the downloaded file: close it before deleting the file.
  FPackage.Close();
  if (!FDownloadFile.empty() && FileExists(FDownloadFile)) RemoveFile(FDownloadFile);
}

bool TInstallEngine::OpenPackage(const std::wstring& packagePath) {
  FPackagePath = packagePath;
  return FPackage.Open(packagePath);
}

bool TInstallEngine::ResourceExists(const std::wstring& name) const {
  return FPackage.Exists(name, PackageResourceType);
}

bool TInstallEngine::ReadResource(const std::wstring& name, TMemoryStream& stream) {
  std::string bytes;
  if (!FPackage.Read(name, PackageResourceType, bytes)) throw EResNotFound(Format(L"Resource %s not found", {name}));
  stream.Assign(bytes);
  stream.Rewind();
  try {
    TSetupfn::DecodeStream(stream);
  } catch (const Exception& e) {
    throw EZlibError(e.Message() + L" (" + name + L")");
  }
  stream.Rewind();
  return true;
}

bool TInstallEngine::IconIsPng() const {
  return FIconPng.size() >= 8 && FIconPng.compare(0, 8, kPngSignature, 8) == 0;
}

TFolderCheck TInstallEngine::CheckInstallFolder(const std::wstring& folderText) {
  TFolderCheck check;
  std::wstring dir = Trim(folderText);
  TSetupfn::SetAppPath(dir);
  if (dir.empty()) {
    check.Empty = true;
    check.Message = L"安装目录不能为空，请重新输入。";
    return check;
  }
  dir = IncludeTrailingBackslash(dir);
  TSetupfn::SetAppPath(dir);
  if (!DirectoryExists(dir)) {
    // A creation error is not reported itself: the test below is.
    try {
      ForceDirectories(dir);
    } catch (const std::exception&) {
    }
    if (!DirectoryExists(dir)) {
      check.Message = Format(L"创建安装目录失败：%s，请重新输入。", {dir});
      return check;
    }
  }
  // The write test: an empty file of a new name, created exclusively.
  const std::wstring testFile = dir + TNvStrfn::NewGuidString();
  HANDLE file = CreateFileW(testFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  check.Ok = file != INVALID_HANDLE_VALUE;
  if (check.Ok) CloseHandle(file);
  else check.Message = Format(L"尝试在安装目录写入文件失败：%s，请重新输入。", {dir});
  DeleteFileW(testFile.c_str());
  return check;
}

void TInstallEngine::RunInstallSteps() {
  TSetupScript& script = *FScript;
  FHost.SetProgressMax(script.FileList()->Count() + script.RegList()->Count() + script.ShortCutList()->Count());
  FHost.SetStage(L"正在检查旧版本");
  FHost.ProcessMessages();
  RemovePreviousVersion();
  StopRunningPrograms();
  FHost.SetStage(L"正在安装");
  FHost.ProcessMessages();
  InstallFiles();
  WriteRegistryEntries();
  CreateShortcuts();
  WriteUninstallData();
  RegisterUninstall();
}
