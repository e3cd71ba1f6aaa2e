#include "AuthoringProject.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <system_error>

#include <zlib.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "BuilderText.h"
#include "DefaultPicture.h"
#include "InstallLocation.h"
#include "NvExceptions.h"
#include "NvStream.h"
#include "NvSysUtils.h"
#include "PackageFormat.h"
#include "PeResources.h"
#include "ProjectSchema.h"
#include "Sha256.h"
#include "SourceScan.h"

namespace fs = std::filesystem;

namespace nvbuilder {

namespace {

// The project text as UTF-8: a UTF-8 byte-order mark dropped, UTF-16 (with a
// mark, or starting with "<" and a zero byte) converted.
std::string ProjectText(std::string bytes) {
  auto u8 = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 3 && u8(0) == 0xEF && u8(1) == 0xBB && u8(2) == 0xBF) return bytes.substr(3);
  bool little = false, utf16 = false;
  std::size_t start = 0;
  if (bytes.size() >= 2 && ((u8(0) == 0xFF && u8(1) == 0xFE) || (u8(0) == 0xFE && u8(1) == 0xFF))) {
    utf16 = true;
    little = u8(0) == 0xFF;
    start = 2;
  } else if (bytes.size() >= 2 && ((u8(0) == '<' && u8(1) == 0) || (u8(0) == 0 && u8(1) == '<'))) {
    utf16 = true;
    little = u8(0) == '<';
  }
  if (!utf16) return bytes;
  std::u16string units;
  for (std::size_t i = start; i + 1 < bytes.size(); i += 2)
    units += static_cast<char16_t>(little ? (u8(i) | u8(i + 1) << 8) : (u8(i) << 8 | u8(i + 1)));
  return ToUtf8(FromUtf16(units));
}

// The offset of the first byte that is not part of valid UTF-8, or npos.
std::size_t InvalidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return i;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return i;
    if (n == 2 && c < 0xC2) return i;
    i += n;
  }
  return std::string_view::npos;
}

// A GUID in registry form made from a digest (name-based, version 5 bits).
std::wstring GuidFromDigest(TSha256Digest d) {
  d[6] = static_cast<uint8_t>((d[6] & 0x0F) | 0x50);
  d[8] = static_cast<uint8_t>((d[8] & 0x3F) | 0x80);
  static const char hex[] = "0123456789ABCDEF";
  std::wstring s = L"{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s += L'-';
    s += static_cast<wchar_t>(hex[d[i] >> 4]);
    s += static_cast<wchar_t>(hex[d[i] & 15]);
  }
  return s + L"}";
}

std::wstring DerivedGuid(std::initializer_list<std::string_view> parts) {
  TSha256 h;
  for (std::string_view p : parts) {
    h.Update(p);
    h.Update(std::string_view("\0", 1));
  }
  return GuidFromDigest(h.Final());
}

// SOURCE_DATE_EPOCH as a local TDateTime, or a negative value when unset.
double SourceDateLimit() {
  const char* value = std::getenv("SOURCE_DATE_EPOCH");
  if (!value || !*value) return -1;
  char* end = nullptr;
  const long long seconds = std::strtoll(value, &end, 10);
  if (*end || seconds < 0) throw EBuildError(std::string("SOURCE_DATE_EPOCH=\"") + value + "\" is not a number of seconds");
  return UnixTimeToDateTime(seconds);
}

double ClampedDate(double date) {
  const double limit = SourceDateLimit();
  return limit >= 0 && date > limit ? limit : date;
}

std::string FileNameOnly(const std::wstring& path) {
  const std::size_t cut = path.find_last_of(L"\\/");
  return ToUtf8(cut == std::wstring::npos ? path : path.substr(cut + 1));
}

}  // namespace

TAuthoringProject::TAuthoringProject(const fs::path& projectFile)
    : FProjectFile(fs::absolute(projectFile).lexically_normal()), FProjectDir(FProjectFile.parent_path()),
      FScript(std::make_unique<TSetupScript>()) {
  FText = ProjectText(ReadWholeFile(FProjectFile));
  if (const std::size_t bad = InvalidUtf8(FText); bad != std::string::npos) {
    FProblems.Error(bad, "the project is not UTF-8 text: save it as UTF-8 (or UTF-16 with a byte-order mark)");
    ThrowIfProblems(false);
  }
  try {
    FDocument.LoadFromString(FText);
  } catch (const std::exception& e) {
    FProblems.Error(FDocument.ErrorOffset,
                    "not XML: " + (FDocument.ErrorDetail.empty() ? std::string(e.what()) : FDocument.ErrorDetail));
    ThrowIfProblems(false);
  }
  TXmlNode* root = FDocument.Root.get();
  if (!root || !SameText(root->GetName(), L"TSetupScript")) {
    FProblems.Error(root ? root->Offset : std::string::npos,
                    "not a setup project: the root element must be <TSetupScript>" +
                        (root ? ", not <" + root->Name + ">" : std::string(", and there is none")));
    ThrowIfProblems(false);
  }
  CheckProjectForm(*root, FProblems);
  try {
    FScript->LoadFromXmlNode(root, 0);
  } catch (const std::exception& e) {
    FProblems.Error(root->Offset, std::string("not a setup project: ") + e.what());
    ThrowIfProblems(false);
  }
  FPlaces = TProjectPlaces::Of(*root);
  // Without a VarList the default variables hold a new GUID as {GUID}: made
  // from the product's GUID instead, so that builds are the same.
  if (!root->FindChild(std::wstring(L"VarList")))
    if (TSetupVar* guid = FScript->VarList()->FindVar(L"{GUID}"))
      guid->VarValue = DerivedGuid({"variable {GUID}", ToUtf8(UpperCase(FScript->BaseInfo()->GUID))});
  FFileSources.assign(FScript->FileList()->Count(), fs::path());
  FFileNodes.assign(FPlaces.Files.begin(), FPlaces.Files.end());
  FFileNodes.resize(FFileSources.size(), nullptr);
}

std::string TAuthoringProject::Where() const { return PathText(FProjectFile); }

std::vector<std::string> TAuthoringProject::ProblemLines() const { return FormatProblems(Where(), FText, FProblems); }

void TAuthoringProject::ThrowIfProblems(bool warningsAsErrors) const {
  const std::size_t errors = FProblems.Count(TSeverity::Error), warnings = FProblems.Count(TSeverity::Warning);
  if (errors == 0 && (!warningsAsErrors || warnings == 0)) return;
  auto count = [](std::size_t n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); };
  std::string summary = Where() + ": " + count(errors, "error");
  if (warnings) summary += " and " + count(warnings, "warning") + (warningsAsErrors ? " (treated as errors)" : "");
  throw EProjectProblems(summary + "; nothing was built", ProblemLines());
}

std::size_t TAuthoringProject::FileAt(int fileIndex, const char* attribute) const {
  const TXmlNode* node =
      fileIndex >= 0 && static_cast<std::size_t>(fileIndex) < FFileNodes.size() ? FFileNodes[fileIndex] : nullptr;
  return TProjectPlaces::At(node, attribute);
}

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

void TAuthoringProject::CheckRules() { CheckProjectRules(*FScript, FPlaces, FProblems); }

void TAuthoringProject::ExpandFileMasks() {
  TSetupFileList* list = FScript->FileList();
  std::vector<std::unique_ptr<TSetupFile>> expanded;
  std::vector<fs::path> sources;
  std::vector<const TXmlNode*> nodes;
  for (int i = 0; i < list->Count(); ++i) {
    const TSetupFile* item = list->Items(i);
    const TXmlNode* node = i < static_cast<int>(FFileNodes.size()) ? FFileNodes[i] : nullptr;
    const std::string which = ItemLabel("TSetupFile", i);
    if (item->SourcePath.empty()) {
      if (item->FileBytes > 0 && (i >= static_cast<int>(FFileSources.size()) || FFileSources[i].empty())) {
        FProblems.Error(FileAt(i, "FileBytes"), which + " (\"" + ToUtf8(item->SourceMask) +
                                                    "\") has FileBytes but no SourcePath: its content would be missing "
                                                    "from the package");
        continue;
      }
      if (item->SourceMask.find_first_of(L"*?") != std::wstring::npos) continue;  // reported by the rules
      expanded.push_back(std::make_unique<TSetupFile>(*item));
      sources.push_back(i < static_cast<int>(FFileSources.size()) ? FFileSources[i] : fs::path());
      nodes.push_back(node);
      continue;
    }
    if (item->SourceMask.empty()) continue;  // reported by the rules
    fs::path folder = ResolvePath(FProjectDir, item->SourcePath);
    std::vector<TSourceFile> files;
    try {
      files = ScanSource(folder, item->SourceMask, item->IncludeSubPath);
    } catch (const EBuildError& e) {
      FProblems.Error(FileAt(i, "SourcePath"), which + ": SourcePath: " + e.what());
      continue;
    }
    if (files.empty()) {
      FProblems.Error(FileAt(i, "SourceMask"), which + ": the mask \"" + ToUtf8(item->SourceMask) +
                                                   "\" matches no file in " + PathText(folder) +
                                                   (item->IncludeSubPath ? " or its sub-folders" : ""));
      continue;
    }
    for (const TSourceFile& f : files) {
      if (f.Size > 0x7FFFFFFFull) {
        FProblems.Error(FileAt(i, "SourceMask"),
                        which + ": " + PathText(f.FullPath) + ": the file is too large for a package (over 2 GB)");
        continue;
      }
      auto file = std::make_unique<TSetupFile>();
      file->Checked = item->Checked;
      file->Condition = item->Condition;
      file->DestDir = item->DestDir;
      file->IncludeSubPath = false;
      file->SourceMask = f.RelPath;
      file->FileBytes = static_cast<int32_t>(f.Size);
      file->LastWriteDate = ClampedDate(f.LastWriteDate);
      expanded.push_back(std::move(file));
      sources.push_back(f.FullPath);
      nodes.push_back(node);
    }
  }
  list->Clear();
  for (auto& f : expanded) list->Add(f.release());
  FFileSources = std::move(sources);
  FFileNodes = std::move(nodes);
}

void TAuthoringProject::AddUninstaller(const fs::path& uninstaller) {
  if (uninstaller.empty()) return;
  TSetupFileList* list = FScript->FileList();
  const std::wstring key = LocationKey(std::wstring(L"{app}\\") + UninstallerFileName);
  for (int i = 0; i < list->Count(); ++i)
    if (LocationKey(FileLocationValue(*list->Items(i))) == key) return;
  std::error_code ec;
  if (!fs::is_regular_file(uninstaller, ec)) throw EBuildError(PathText(uninstaller) + ": the uninstaller does not exist");
  auto size = fs::file_size(uninstaller, ec);
  if (ec) throw EBuildError(PathText(uninstaller) + ": cannot read the file size: " + ec.message());
  if (size > 0x7FFFFFFFull) throw EBuildError(PathText(uninstaller) + ": the file is too large for a package (over 2 GB)");
  TSetupFile* file = list->AddNew();
  file->DestDir = L"{app}";
  file->SourceMask = UninstallerFileName;
  file->FileBytes = static_cast<int32_t>(size);
  file->LastWriteDate = ClampedDate(FileTimeToDateTime(fs::last_write_time(uninstaller, ec)));
  FFileSources.push_back(uninstaller);
  FFileNodes.push_back(nullptr);
}

void TAuthoringProject::AssignPictureAndLicense() {
  TSetupBaseInfo* info = FScript->BaseInfo();
  const TXmlNode* node = FPlaces.BaseInfo;
  if (!info->IconFile.empty()) {
    FIconPath = ResolvePath(FProjectDir, info->IconFile);
    try {
      FPicture = ReadWholeFile(FIconPath);
      if (!IsPng(FPicture)) throw EBuildError(PathText(FIconPath) + ": the IconFile is not a PNG picture");
      const std::string problem = PngProblem(FPicture);
      if (!problem.empty())
        throw EBuildError(PathText(FIconPath) + ": the IconFile is a damaged PNG picture that cannot be shown: " + problem);
    } catch (const EBuildError& e) {
      FProblems.Error(TProjectPlaces::At(node, "IconFile"), std::string("BaseInfo: IconFile: ") + e.what());
      FPicture = DefaultPicture();
      FIconPath.clear();
    }
    info->IconFile = FromUtf8(FileNameOnly(info->IconFile));
  } else {
    FPicture = DefaultPicture();
  }

  if (!info->LicenseFile.empty()) {
    const fs::path license = ResolvePath(FProjectDir, info->LicenseFile);
    const std::size_t at = TProjectPlaces::At(node, "LicenseFile");
    const std::string what = "BaseInfo: LicenseFile: " + PathText(license);
    bool read = true;
    try {
      FLicense = ReadWholeFile(license);
    } catch (const EBuildError& e) {
      FProblems.Error(at, std::string("BaseInfo: LicenseFile: ") + e.what());
      read = false;
    }
    auto u8 = [&](std::size_t i) { return static_cast<unsigned char>(FLicense[i]); };
    const bool marked =
        (FLicense.size() >= 2 && ((u8(0) == 0xFF && u8(1) == 0xFE) || (u8(0) == 0xFE && u8(1) == 0xFF))) ||
        (FLicense.size() >= 3 && u8(0) == 0xEF && u8(1) == 0xBB && u8(2) == 0xBF);
    const bool ascii = std::all_of(FLicense.begin(), FLicense.end(),
                                   [](char c) { return c != 0 && static_cast<unsigned char>(c) < 0x80; });
    if (!read) {
    } else if (FLicense.empty()) {
      FProblems.Error(at, what + ": the agreement is empty");
    } else if (!marked && !ascii && InvalidUtf8(FLicense) == std::string::npos &&
               FLicense.find('\0') == std::string::npos) {
      FLicense.insert(0, "\xEF\xBB\xBF");
      FNotes.push_back(PathText(license) +
                       ": the agreement is UTF-8 without a byte-order mark; it is packed with one, so that setup shows "
                       "it as UTF-8 and not in the system's ANSI code page");
    } else if (!marked && !ascii) {
      FProblems.Warning(at, what + ": the agreement is neither UTF-8 nor UTF-16 with a byte-order mark: setup shows it "
                                   "in the ANSI code page of the customer's Windows, garbled on a system of another "
                                   "language; save it as UTF-8");
    }
    info->LicenseFile = FromUtf8(FileNameOnly(info->LicenseFile));
  } else {
    FLicense.clear();
    info->LicenseResID.clear();
  }
  if (!info->IconResID.empty() && SameText(info->IconResID, info->LicenseResID))
    FProblems.Error(TProjectPlaces::At(node, "LicenseResID"), "BaseInfo: IconResID and LicenseResID name the same resource");
}

namespace {

// Path constants: each expands to a folder on the target machine.
bool HasPathConstant(const std::wstring& text) {
  const std::wstring lower = LowerCase(text);
  for (const wchar_t* c : {L"{pf}", L"{group}", L"{desktop}", L"{app}", L"{srcexe}"})
    if (lower.find(c) != std::wstring::npos) return true;
  return false;
}

// True when both files hold the same bytes.
bool SameContent(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (a.empty() || b.empty()) {
    const fs::path& other = a.empty() ? b : a;
    return other.empty() || fs::file_size(other, ec) == 0;
  }
  if (fs::equivalent(a, b, ec)) return true;
  if (fs::file_size(a, ec) != fs::file_size(b, ec)) return false;
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  if (!fa || !fb) throw EBuildError(PathText(!fa ? a : b) + ": cannot read the file");
  std::vector<char> ba(1 << 16), bb(1 << 16);
  for (;;) {
    fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
    fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
    if (fa.gcount() != fb.gcount()) return false;
    if (fa.gcount() == 0) return true;
    if (std::memcmp(ba.data(), bb.data(), static_cast<size_t>(fa.gcount())) != 0) return false;
  }
}

}  // namespace

void TAuthoringProject::CheckRegistryItems() {
  const TSetupRegList* regs = FScript->RegList();
  for (int i = 0; i < regs->Count(); ++i) {
    const TSetupReg* item = regs->Items(i);
    if (item->ValueType != rvtDWord) continue;
    const std::size_t at = TProjectPlaces::At(TProjectPlaces::Item(FPlaces.Regs, i), "ValueData");
    const std::string which = ItemLabel("TSetupReg", i) + " (\"" + ToUtf8(item->SubKey) + "\", value \"" +
                              ToUtf8(item->ValueName) + "\"): ValueData";
    if (HasPathConstant(item->ValueData)) {
      FProblems.Error(at, which + ": the DWORD data \"" + ToUtf8(item->ValueData) +
                              "\" holds a path constant, which is never a number");
      continue;
    }
    int32_t value = 0;
    if (!TryStrToInt(item->ValueData, value))
      FProblems.Error(at, which + ": the DWORD data \"" + ToUtf8(item->ValueData) +
                              "\" is not a 32-bit number (decimal, or hexadecimal after $ or 0x)");
  }
}

void TAuthoringProject::MergeSameDestinations() {
  TSetupFileList* list = FScript->FileList();
  std::map<std::wstring, int> first;  // destination key -> the first item installing it
  std::vector<bool> drop(list->Count(), false);
  if (FFileSources.size() < static_cast<size_t>(list->Count())) FFileSources.resize(list->Count());
  if (FFileNodes.size() < static_cast<size_t>(list->Count())) FFileNodes.resize(list->Count());
  auto name = [&](int i) {
    return FFileSources[i].empty() ? std::string("no content") : PathText(FFileSources[i]);
  };
  for (int i = 0; i < list->Count(); ++i) {
    const TSetupFile* item = list->Items(i);
    auto [it, added] = first.emplace(LocationKey(FileLocationValue(*item)), i);
    if (added) continue;
    const int j = it->second;
    if (!SameContent(FFileSources[j], FFileSources[i])) {
      std::wstring dest = item->DestDir;
      if (!dest.empty() && dest.back() != L'\\' && dest.back() != L'/') dest += L'\\';
      const TTextPosition earlier = PositionOf(FText, FileAt(j, nullptr));
      FProblems.Error(FileAt(i, nullptr), "this file item (" + name(i) + ") and the one at line " +
                                              std::to_string(earlier.Line) + " (" + name(j) + ") both install \"" +
                                              ToUtf8(dest + item->SourceMask) + "\" with different content");
    }
    drop[i] = true;
  }
  if (std::find(drop.begin(), drop.end(), true) == drop.end()) return;
  std::vector<std::unique_ptr<TSetupFile>> kept;
  std::vector<fs::path> sources;
  std::vector<const TXmlNode*> nodes;
  for (int i = 0; i < list->Count(); ++i) {
    if (drop[i]) continue;
    kept.push_back(std::make_unique<TSetupFile>(*list->Items(i)));
    sources.push_back(FFileSources[i]);
    nodes.push_back(FFileNodes[i]);
  }
  list->Clear();
  for (auto& f : kept) list->Add(f.release());
  FFileSources = std::move(sources);
  FFileNodes = std::move(nodes);
}

void TAuthoringProject::Prepare(const fs::path& uninstaller, bool warningsAsErrors) {
  ApplyVariables();
  CheckRules();
  // The outputs are named on this machine; the packages keep the names only.
  TSetupBaseInfo* info = FScript->BaseInfo();
  FFullSetupName = info->FullSetupFile;
  FMiniSetupName = info->MiniSetupFile;
  info->FullSetupFile = FromUtf8(FileNameOnly(info->FullSetupFile));
  info->MiniSetupFile = FromUtf8(FileNameOnly(info->MiniSetupFile));
  CheckRegistryItems();
  ExpandFileMasks();
  AddUninstaller(uninstaller);
  MergeSameDestinations();
  CheckProjectTargets(*FScript, FPlaces, FProblems);
  AssignPictureAndLicense();
  ThrowIfProblems(warningsAsErrors);
}

std::vector<TPackItem> TAuthoringProject::PackItems() const {
  std::vector<TPackItem> items;
  const TSetupFileList* list = FScript->FileList();
  for (int i = 0; i < list->Count(); ++i) {
    if (i >= static_cast<int>(FFileSources.size()) || FFileSources[i].empty()) continue;
    TPackItem item;
    item.Job.Source = FFileSources[i];
    item.FileIndex = i;
    items.push_back(std::move(item));
  }
  TPackItem picture;
  picture.Role = TPackRole::Picture;
  picture.Job.HasContent = true;
  picture.Job.Content = FPicture;
  items.push_back(std::move(picture));
  if (!FScript->BaseInfo()->LicenseFile.empty()) {
    TPackItem license;
    license.Role = TPackRole::Agreement;
    license.Job.HasContent = true;
    license.Job.Content = FLicense;
    items.push_back(std::move(license));
  }
  return items;
}

void TAuthoringProject::NameResources(std::vector<TPackItem>& items, const std::vector<TSha256Digest>& digests) {
  TSetupBaseInfo* info = FScript->BaseInfo();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string content = HexText(digests.at(i));
    TPackItem& item = items[i];
    switch (item.Role) {
      case TPackRole::File: {
        TSetupFile* file = FScript->FileList()->Items(item.FileIndex);
        file->ResID = DerivedGuid({"file", ToUtf8(LocationKey(FileLocationValue(*file))), content});
        item.ResID = file->ResID;
        break;
      }
      case TPackRole::Picture:
        if (info->IconResID.empty()) info->IconResID = DerivedGuid({"picture", content});
        item.ResID = info->IconResID;
        break;
      case TPackRole::Agreement:
        if (info->LicenseResID.empty()) info->LicenseResID = DerivedGuid({"agreement", content});
        item.ResID = info->LicenseResID;
        break;
    }
  }
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
  return OutputPath(FFullSetupName, outDir);
}

fs::path TAuthoringProject::MiniSetupPath(const fs::path& outDir) const {
  return OutputPath(FMiniSetupName, outDir);
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

namespace {

uint32_t Be32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 | uint32_t(uint8_t(b[at + 2])) << 8 |
         uint32_t(uint8_t(b[at + 3]));
}

// Walks the decompressed image data row by row (the seven Adam7 passes of an
// interlaced image one after another) and checks each row's filter byte.
class TPngRows {
public:
  TPngRows(uint64_t width, uint64_t height, uint64_t bitsPerPixel, bool interlaced)
      : FWidth(width), FHeight(height), FBits(bitsPerPixel), FInterlaced(interlaced) {
    NextPass();
  }
  // Takes the next n bytes; false with Problem set at a bad filter byte.
  bool Feed(const unsigned char* data, size_t n) {
    for (size_t i = 0; i < n;) {
      if (FRowsLeft == 0) {
        FExtra += n - i;
        return true;
      }
      if (FOffset == 0 && data[i] > 4) {
        Problem = "a row of the image has the unknown filter type " + std::to_string(data[i]);
        return false;
      }
      const uint64_t take = std::min<uint64_t>(n - i, FRowLength - FOffset);
      i += static_cast<size_t>(take);
      FOffset += take;
      if (FOffset == FRowLength) {
        FOffset = 0;
        if (--FRowsLeft == 0) NextPass();
      }
    }
    return true;
  }
  bool Complete() const { return FRowsLeft == 0; }
  std::string Problem;

private:
  void NextPass() {
    static const int x0[] = {0, 4, 0, 2, 0, 1, 0}, y0[] = {0, 0, 4, 0, 2, 0, 1};
    static const int dx[] = {8, 8, 4, 4, 2, 2, 1}, dy[] = {8, 8, 8, 4, 4, 2, 2};
    while (FPass < (FInterlaced ? 7 : 1)) {
      const int p = FPass++;
      const uint64_t w = !FInterlaced ? FWidth : FWidth > uint64_t(x0[p]) ? (FWidth - x0[p] + dx[p] - 1) / dx[p] : 0;
      const uint64_t h = !FInterlaced ? FHeight : FHeight > uint64_t(y0[p]) ? (FHeight - y0[p] + dy[p] - 1) / dy[p] : 0;
      if (w == 0 || h == 0) continue;
      FRowLength = 1 + (w * FBits + 7) / 8;
      FRowsLeft = h;
      FOffset = 0;
      return;
    }
    FRowsLeft = 0;
  }
  uint64_t FWidth, FHeight, FBits;
  bool FInterlaced;
  int FPass = 0;
  uint64_t FRowLength = 0, FRowsLeft = 0, FOffset = 0, FExtra = 0;
};

}  // namespace

std::string PngProblem(const std::string& bytes) {
  static const char kSignature[8] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1A', '\n'};
  if (bytes.size() < 8 || std::memcmp(bytes.data(), kSignature, 8) != 0) return "no PNG signature";
  // The largest side a decoder takes by default (libpng's limit).
  constexpr uint32_t kMaxSide = 1000000;
  size_t pos = 8;
  bool header = false, palette = false, inData = false, dataDone = false;
  uint32_t width = 0, height = 0;
  uint8_t depth = 0, color = 0, interlace = 0;
  std::unique_ptr<TPngRows> rows;
  z_stream zs{};
  bool zOpen = false, zEnd = false;
  struct TEnd {
    z_stream* Z;
    bool* Open;
    ~TEnd() {
      if (*Open) inflateEnd(Z);
    }
  } closeZ{&zs, &zOpen};

  for (;;) {
    if (bytes.size() - pos < 12) return pos == bytes.size() ? "no IEND chunk" : "the file ends inside a chunk";
    const uint32_t length = Be32(bytes, pos);
    const std::string type = bytes.substr(pos + 4, 4);
    for (char c : type)
      if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return "damaged chunk structure at byte " + std::to_string(pos);
    if (length > 0x7FFFFFFFu || bytes.size() - pos - 12 < length) return "the " + type + " chunk is cut short";
    const bool critical = !(type[0] & 0x20);
    const char* data = bytes.data() + pos + 8;
    if (critical) {
      uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(bytes.data() + pos + 4), 4);
      crc = crc32(crc, reinterpret_cast<const Bytef*>(data), length);
      if (crc != Be32(bytes, pos + 8 + length)) return "the CRC of the " + type + " chunk is wrong";
    }
    if (!header && type != "IHDR") return "the first chunk is " + type + ", not IHDR";
    if (inData && type != "IDAT") {
      inData = false;
      dataDone = true;
    }
    if (type == "IHDR") {
      if (header) return "a second IHDR chunk";
      if (length != 13) return "the IHDR chunk has " + std::to_string(length) + " bytes, not 13";
      header = true;
      width = Be32(bytes, pos + 8);
      height = Be32(bytes, pos + 12);
      depth = uint8_t(data[8]);
      color = uint8_t(data[9]);
      interlace = uint8_t(data[12]);
      if (width == 0 || height == 0) return "the picture has no pixels (" + std::to_string(width) + " x " + std::to_string(height) + ")";
      if (width > kMaxSide || height > kMaxSide)
        return "the picture is too large (" + std::to_string(width) + " x " + std::to_string(height) + " pixels)";
      int channels = 0;
      bool depthOk = false;
      switch (color) {
        case 0: channels = 1; depthOk = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16; break;
        case 2: channels = 3; depthOk = depth == 8 || depth == 16; break;
        case 3: channels = 1; depthOk = depth == 1 || depth == 2 || depth == 4 || depth == 8; break;
        case 4: channels = 2; depthOk = depth == 8 || depth == 16; break;
        case 6: channels = 4; depthOk = depth == 8 || depth == 16; break;
        default: return "unknown colour type " + std::to_string(color);
      }
      if (!depthOk) return "bit depth " + std::to_string(depth) + " is not allowed with colour type " + std::to_string(color);
      if (data[10] != 0) return "unknown compression method " + std::to_string(uint8_t(data[10]));
      if (data[11] != 0) return "unknown filter method " + std::to_string(uint8_t(data[11]));
      if (interlace > 1) return "unknown interlace method " + std::to_string(interlace);
      rows = std::make_unique<TPngRows>(width, height, uint64_t(channels) * depth, interlace == 1);
    } else if (type == "PLTE") {
      if (inData || dataDone) return "the PLTE chunk comes after the image data";
      if (palette) return "a second PLTE chunk";
      if (color == 0 || color == 4) return "a PLTE chunk in a grey picture";
      if (length == 0 || length % 3 != 0 || length > 768) return "the PLTE chunk has " + std::to_string(length) + " bytes";
      palette = true;
    } else if (type == "IDAT") {
      if (dataDone) return "the IDAT chunks are not consecutive";
      if (color == 3 && !palette) return "no PLTE chunk before the image data";
      if (!inData) {
        inData = true;
        if (inflateInit(&zs) != Z_OK) return "zlib cannot start";
        zOpen = true;
      }
      zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
      zs.avail_in = length;
      unsigned char out[1 << 14];
      while (!zEnd && zs.avail_in > 0) {
        zs.next_out = out;
        zs.avail_out = sizeof out;
        int rc = inflate(&zs, Z_NO_FLUSH);
        if (!rows->Feed(out, sizeof out - zs.avail_out)) return rows->Problem;
        if (rc == Z_STREAM_END) zEnd = true;
        else if (rc == Z_NEED_DICT) return "the image data needs a preset zlib dictionary";
        else if (rc != Z_OK && rc != Z_BUF_ERROR) return std::string("the image data is damaged (zlib: ") + (zs.msg ? zs.msg : "error") + ")";
        else if (rc == Z_BUF_ERROR && zs.avail_out != 0) break;
      }
    } else if (type == "IEND") {
      break;
    } else if (critical) {
      return "unknown critical chunk " + type;
    }
    pos += 12 + size_t(length);
  }
  if (!inData && !dataDone) return "no image data (IDAT chunk)";
  // Flush what zlib still holds once all input is given.
  while (!zEnd) {
    unsigned char out[1 << 14];
    zs.next_in = nullptr;
    zs.avail_in = 0;
    zs.next_out = out;
    zs.avail_out = sizeof out;
    int rc = inflate(&zs, Z_NO_FLUSH);
    if (!rows->Feed(out, sizeof out - zs.avail_out)) return rows->Problem;
    if (rc == Z_STREAM_END) zEnd = true;
    else if (rc != Z_OK || zs.avail_out != 0) return "the image data ends before its zlib stream does";
  }
  if (!rows->Complete())
    return "the image data holds fewer rows than the " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels the header announces";
  return {};
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
