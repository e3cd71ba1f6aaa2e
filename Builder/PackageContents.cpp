#include "PackageContents.h"

#include <system_error>

#include "BuilderText.h"
#include "InstallLocation.h"
#include "NvStream.h"
#include "NvSysUtils.h"
#include "PackageFormat.h"
#include "PackageWriter.h"
#include "PayloadCodec.h"

namespace fs = std::filesystem;

namespace nvbuilder {

TPackageReader::TPackageReader(const fs::path& package) : FPath(package), FScript(std::make_unique<TSetupScript>()) {
  const std::string where = PathText(package);
  try {
    FImage = TPeImage::Parse(ReadWholeFile(package));
  } catch (const Exception& e) {
    throw EBuildError(where + ": not a Windows executable: " + e.what());
  }
  const TPeResourceEntry* marker = FImage.FindResource(TPeResId(PackageResourceType), TPeResId(FullPackageMarker));
  FKind = TPackageKind::Full;
  if (!marker) {
    marker = FImage.FindResource(TPeResId(PackageResourceType), TPeResId(OnlineStubMarker));
    FKind = TPackageKind::OnlineStub;
  }
  if (!marker) throw EBuildError(where + ": not a package: it carries no setup project");
  try {
    FProjectXml = DecodePayload(marker->Data);
    TMemoryStream stream(FProjectXml);
    FScript->LoadFromStream(stream, 0);
  } catch (const std::exception& e) {
    throw EBuildError(where + ": the package's project is damaged: " + e.what());
  }
}

std::string TPackageReader::FileContent(const TSetupFile& item) const {
  if (item.FileBytes <= 0) return {};
  const TPeResourceEntry* entry = FImage.FindResource(TPeResId(PackageResourceType), TPeResId(item.ResID));
  const std::string what = PathText(FPath) + ": " + ToUtf8(FileDestination(item));
  if (!entry) throw EBuildError(what + ": its resource " + ToUtf8(item.ResID) + " is missing");
  try {
    return DecodePayload(entry->Data);
  } catch (const EBuildError& e) {
    throw EBuildError(what + ": " + e.what());
  }
}

std::wstring FileDestination(const TSetupFile& item) {
  const TLocation loc = ParseLocation(FileLocationValue(item));
  if (loc.Fault != TLocationFault::lfNone) return {};
  const std::wstring top = loc.Root == TLocationRoot::lrAbsolute ? loc.Base : RootConstant(loc.Root);
  return loc.Rest.empty() ? top : top + L"\\" + loc.Rest;
}

namespace {

std::string Q(const std::wstring& s) { return "\"" + ToUtf8(s) + "\""; }

std::string Padded(std::string s, std::size_t width) {
  std::size_t chars = 0;
  for (unsigned char c : s) chars += (c & 0xC0) != 0x80;
  if (chars < width) s.append(width - chars, ' ');
  return s;
}

}  // namespace

std::string FormatContents(const TPackageReader& package) {
  const TSetupScript& s = package.Script();
  const TSetupBaseInfo& info = *s.BaseInfo();
  std::string out = std::string("package: ") + KindName(package.Kind()) + "\n";
  out += "product: " + ToUtf8(info.AppTitle) + " " + ToUtf8(info.Version) + " " + ToUtf8(info.GUID) + "\n";
  out += "default folder: " + ToUtf8(info.DefInstallPath) + "\n";
  if (package.Kind() == TPackageKind::OnlineStub) {
    out += "downloads the full package from " + ToUtf8(info.FullDownloadUrl) + "; it installs nothing itself\n";
    return out;
  }
  const TSetupFileList& files = *s.FileList();
  uint64_t total = 0;
  for (int i = 0; i < files.Count(); ++i) total += static_cast<uint64_t>(std::max(files.Items(i)->FileBytes, 0));
  out += "files: " + std::to_string(files.Count()) + " (" + std::to_string(total) + " bytes)\n";
  for (int i = 0; i < files.Count(); ++i) {
    const TSetupFile& f = *files.Items(i);
    const std::wstring dest = FileDestination(f);
    out += "  " + Padded(dest.empty() ? "(unusable: " + Q(FileLocationValue(f)) + ")" : ToUtf8(dest), 48) + " " +
           std::to_string(std::max(f.FileBytes, 0)) + "\n";
  }
  const TSetupRegList& regs = *s.RegList();
  out += "registry values: " + std::to_string(regs.Count()) + "\n";
  for (int i = 0; i < regs.Count(); ++i) {
    const TSetupReg& r = *regs.Items(i);
    out += "  " + ToUtf8(RegistryRootName(r.RootKey)) + "\\" + ToUtf8(r.SubKey) + " : " +
           (r.ValueName.empty() ? std::string("(default)") : Q(r.ValueName)) + " = " +
           (r.ValueType == rvtDWord ? ToUtf8(r.ValueData) + " (DWORD)" : Q(r.ValueData) + " (string)") + "\n";
  }
  const TSetupShortCutList& links = *s.ShortCutList();
  out += "shortcuts: " + std::to_string(links.Count()) + "\n";
  for (int i = 0; i < links.Count(); ++i) {
    const TSetupShortCut& l = *links.Items(i);
    std::wstring dir = l.SaveDir;
    while (!dir.empty() && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
    out += "  " + ToUtf8(dir + L"\\" + l.Name + L".lnk") + " -> " + ToUtf8(l.DstFile);
    if (!l.WorkDir.empty()) out += " (in " + ToUtf8(l.WorkDir) + ")";
    out += "\n";
  }
  const TSetupRunList& runs = *s.RunList();
  out += "run entries: " + std::to_string(runs.Count()) + "\n";
  for (int i = 0; i < runs.Count(); ++i) {
    const TSetupRun& r = *runs.Items(i);
    out += "  " + ToUtf8(r.FileName);
    if (!r.Params.empty()) out += " " + ToUtf8(r.Params);
    if (!r.WorkDir.empty()) out += " (in " + ToUtf8(r.WorkDir) + ")";
    out += "\n";
  }
  return out;
}

fs::path ExtractPath(const fs::path& dir, const std::wstring& destination) {
  fs::path p = dir;
  std::wstring rest = destination;
  if (rest.size() >= 2 && rest[0] == L'\\' && rest[1] == L'\\') rest = rest.substr(2);
  else if (rest.size() >= 2 && rest[1] == L':') rest = rest.substr(0, 1) + rest.substr(2);
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = rest.find(L'\\', start);
    if (end == std::wstring::npos) end = rest.size();
    if (end > start) p /= ToPath(rest.substr(start, end - start));
    start = end + 1;
  }
  return p;
}

std::size_t ExtractFiles(const TPackageReader& package, const fs::path& dir, std::FILE* out) {
  if (package.Kind() != TPackageKind::Full)
    throw EBuildError("an online stub holds no files: extract the full package it downloads");
  const TSetupFileList& files = *package.Script().FileList();
  std::size_t n = 0;
  for (int i = 0; i < files.Count(); ++i) {
    const TSetupFile& f = *files.Items(i);
    const std::wstring dest = FileDestination(f);
    if (dest.empty())
      throw EBuildError("file item " + std::to_string(i + 1) + ": its destination " + Q(FileLocationValue(f)) + " is unusable");
    const fs::path target = ExtractPath(dir, dest);
    WriteFileAtomically(target, package.FileContent(f));
    if (out) std::fprintf(out, "%s\n", PathText(target).c_str());
    ++n;
  }
  return n;
}

}  // namespace nvbuilder
