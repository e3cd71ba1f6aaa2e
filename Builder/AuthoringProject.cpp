#include "AuthoringProject.h"

#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "BuilderText.h"
#include "DefaultPicture.h"
#include "NvExceptions.h"
#include "NvStream.h"
#include "NvSysUtils.h"
#include "PackageFormat.h"
#include "SourceScan.h"

namespace fs = std::filesystem;

namespace nvbuilder {

TAuthoringProject::TAuthoringProject(const fs::path& projectFile)
    : FProjectFile(fs::absolute(projectFile).lexically_normal()), FProjectDir(FProjectFile.parent_path()),
      FScript(std::make_unique<TSetupScript>()) {
  std::string bytes = ReadWholeFile(FProjectFile);
  if (bytes.find("<TSetupScript") == std::string::npos)
    throw EBuildError(Where() + ": not a setup project: no TSetupScript element");
  try {
    TMemoryStream stream(std::move(bytes));
    FScript->LoadFromStream(stream, 0);
  } catch (const Exception& e) {
    throw EBuildError(Where() + ": not a setup project: " + e.what());
  }
  FFileSources.assign(FScript->FileList()->Count(), fs::path());
}

std::string TAuthoringProject::Where() const { return PathText(FProjectFile); }

void TAuthoringProject::ApplyVariables() {
  const TSetupVarList& vars = *FScript->VarList();
  TSetupBaseInfo* info = FScript->BaseInfo();
  for (const TPropInfo& p : info->Props()) {
    if (p.Kind != TTypeKind::tkWString || !p.Get || !p.Set) continue;
    TPropValue v = p.Get(*info);
    v.Text = vars.ExpandVars(v.Text);
    p.Set(*info, v);
  }
  auto expandList = [&](auto* list) {
    for (int i = 0; i < list->Count(); ++i) list->Items(i)->ExpandVars(vars);
  };
  expandList(FScript->FileList());
  expandList(FScript->RegList());
  expandList(FScript->RunList());
  expandList(FScript->ShortCutList());
  expandList(FScript->SwiperList());
}

void TAuthoringProject::ExpandFileMasks() {
  TSetupFileList* list = FScript->FileList();
  std::vector<std::unique_ptr<TSetupFile>> expanded;
  std::vector<fs::path> sources;
  for (int i = 0; i < list->Count(); ++i) {
    const TSetupFile* item = list->Items(i);
    if (item->SourcePath.empty()) {
      if (item->FileBytes > 0 && (i >= static_cast<int>(FFileSources.size()) || FFileSources[i].empty()))
        throw EBuildError(Where() + ": file item " + std::to_string(i + 1) + " (\"" + ToUtf8(item->SourceMask) +
                          "\") has FileBytes but no SourcePath: its content would be missing from the package");
      expanded.push_back(std::make_unique<TSetupFile>(*item));
      sources.push_back(i < static_cast<int>(FFileSources.size()) ? FFileSources[i] : fs::path());
      continue;
    }
    std::string which = Where() + ": file item " + std::to_string(i + 1);
    if (item->SourceMask.empty()) throw EBuildError(which + ": SourcePath \"" + ToUtf8(item->SourcePath) + "\" has no SourceMask");
    fs::path folder = ResolvePath(FProjectDir, item->SourcePath);
    std::vector<TSourceFile> files;
    try {
      files = ScanSource(folder, item->SourceMask, item->IncludeSubPath);
    } catch (const EBuildError& e) {
      throw EBuildError(which + ": " + e.what());
    }
    if (files.empty())
      throw EBuildError(which + ": the mask \"" + ToUtf8(item->SourceMask) + "\" matches no file in " + PathText(folder) +
                        (item->IncludeSubPath ? " or its sub-folders" : ""));
    for (const TSourceFile& f : files) {
      if (f.Size > 0x7FFFFFFFull)
        throw EBuildError(PathText(f.FullPath) + ": the file is too large for a package (over 2 GB)");
      auto file = std::make_unique<TSetupFile>();
      file->Checked = item->Checked;
      file->Condition = item->Condition;
      file->DestDir = item->DestDir;
      file->SourcePath = item->SourcePath;
      file->IncludeSubPath = false;
      file->SourceMask = f.RelPath;
      file->ResID = TNvStrfn::NewGuidString();
      file->FileBytes = static_cast<int32_t>(f.Size);
      file->LastWriteDate = f.LastWriteDate;
      expanded.push_back(std::move(file));
      sources.push_back(f.FullPath);
    }
  }
  list->Clear();
  for (auto& f : expanded) list->Add(f.release());
  FFileSources = std::move(sources);
}

// "{app}\Uninstall.exe" spelled any way: doubled backslashes collapsed, case ignored.
static std::wstring TargetKey(const std::wstring& destDir, const std::wstring& mask) {
  std::wstring t = destDir + L"\\" + mask;
  for (auto& c : t)
    if (c == L'/') c = L'\\';
  std::wstring out;
  for (wchar_t c : t)
    if (!(c == L'\\' && !out.empty() && out.back() == L'\\')) out += c;
  return LowerCase(out);
}

void TAuthoringProject::AddUninstaller(const fs::path& uninstaller) {
  if (uninstaller.empty()) return;
  TSetupFileList* list = FScript->FileList();
  const std::wstring key = TargetKey(L"{app}", UninstallerFileName);
  for (int i = 0; i < list->Count(); ++i)
    if (TargetKey(list->Items(i)->DestDir, list->Items(i)->SourceMask) == key) return;
  std::error_code ec;
  if (!fs::is_regular_file(uninstaller, ec)) throw EBuildError(PathText(uninstaller) + ": the uninstaller does not exist");
  auto size = fs::file_size(uninstaller, ec);
  if (ec) throw EBuildError(PathText(uninstaller) + ": cannot read the file size: " + ec.message());
  if (size > 0x7FFFFFFFull) throw EBuildError(PathText(uninstaller) + ": the file is too large for a package (over 2 GB)");
  TSetupFile* file = list->AddNew();
  file->DestDir = L"{app}";
  file->SourceMask = UninstallerFileName;
  file->ResID = TNvStrfn::NewGuidString();
  file->FileBytes = static_cast<int32_t>(size);
  file->LastWriteDate = FileTimeToDateTime(fs::last_write_time(uninstaller, ec));
  FFileSources.push_back(uninstaller);
}

void TAuthoringProject::AssignPictureAndLicense() {
  TSetupBaseInfo* info = FScript->BaseInfo();
  if (!info->IconFile.empty()) {
    fs::path icon = ResolvePath(FProjectDir, info->IconFile);
    FPicture = ReadWholeFile(icon);
    if (!IsPng(FPicture)) throw EBuildError(PathText(icon) + ": the IconFile is not a PNG picture");
  } else {
    FPicture = DefaultPicture();
  }
  if (info->IconResID.empty()) info->IconResID = TNvStrfn::NewGuidString();

  if (!info->LicenseFile.empty()) {
    fs::path license = ResolvePath(FProjectDir, info->LicenseFile);
    FLicense = ReadWholeFile(license);
    if (FLicense.empty()) throw EBuildError(PathText(license) + ": the LicenseFile is empty");
    if (info->LicenseResID.empty()) info->LicenseResID = TNvStrfn::NewGuidString();
  } else {
    FLicense.clear();
    info->LicenseResID.clear();
  }
  if (SameText(info->IconResID, info->LicenseResID))
    throw EBuildError(Where() + ": IconResID and LicenseResID name the same resource");
}

void TAuthoringProject::Prepare(const fs::path& uninstaller) {
  ApplyVariables();
  ExpandFileMasks();
  AddUninstaller(uninstaller);
  AssignPictureAndLicense();
}

std::vector<TPackItem> TAuthoringProject::PackItems() const {
  std::vector<TPackItem> items;
  const TSetupFileList* list = FScript->FileList();
  for (int i = 0; i < list->Count(); ++i) {
    if (i >= static_cast<int>(FFileSources.size()) || FFileSources[i].empty()) continue;
    TPackItem item;
    item.ResID = list->Items(i)->ResID;
    item.Job.Source = FFileSources[i];
    item.FileIndex = i;
    items.push_back(std::move(item));
  }
  TPackItem picture;
  picture.ResID = FScript->BaseInfo()->IconResID;
  picture.Job.HasContent = true;
  picture.Job.Content = FPicture;
  items.push_back(std::move(picture));
  if (!FScript->BaseInfo()->LicenseResID.empty()) {
    TPackItem license;
    license.ResID = FScript->BaseInfo()->LicenseResID;
    license.Job.HasContent = true;
    license.Job.Content = FLicense;
    items.push_back(std::move(license));
  }
  return items;
}

void TAuthoringProject::SetFileBytes(int fileIndex, uint64_t size) {
  TSetupFile* file = FScript->FileList()->Items(fileIndex);
  if (size > 0x7FFFFFFFull)
    throw EBuildError(PathText(FFileSources[fileIndex]) + ": the file is too large for a package (over 2 GB)");
  file->FileBytes = static_cast<int32_t>(size);
}

fs::path TAuthoringProject::OutputPath(const std::wstring& name, const fs::path& outDir) const {
  if (name.empty()) return {};
  fs::path p = ResolvePath(FProjectDir, name);
  if (!outDir.empty()) p = fs::absolute(outDir).lexically_normal() / p.filename();
  return p;
}

fs::path TAuthoringProject::FullSetupPath(const fs::path& outDir) const {
  return OutputPath(FScript->BaseInfo()->FullSetupFile, outDir);
}

fs::path TAuthoringProject::MiniSetupPath(const fs::path& outDir) const {
  return OutputPath(FScript->BaseInfo()->MiniSetupFile, outDir);
}

std::string TAuthoringProject::FullProjectXml() const {
  TMemoryStream stream;
  FScript->SaveToStream(stream, 0);
  return stream.Bytes();
}

std::string TAuthoringProject::StubProjectXml() const {
  TSetupScript stub;
  *stub.BaseInfo() = *FScript->BaseInfo();
  TSetupVarList* vars = stub.VarList();
  vars->Clear();
  const TSetupVarList* source = FScript->VarList();
  for (int i = 0; i < source->Count(); ++i) vars->Add(new TSetupVar(*source->Items(i)));
  TMemoryStream stream;
  stub.SaveToStream(stream, 0);
  return stream.Bytes();
}

fs::path SelfDirectory() {
#ifdef _WIN32
  std::wstring buffer(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n == 0 || n >= buffer.size()) return {};
  buffer.resize(n);
  return fs::path(buffer).parent_path();
#else
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : self.parent_path();
#endif
}

}  // namespace nvbuilder
