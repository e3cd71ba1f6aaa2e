#include "AuthoringProject.h"

#include <algorithm>
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
    const std::string problem = PngProblem(FPicture);
    if (!problem.empty())
      throw EBuildError(PathText(icon) + ": the IconFile is a damaged PNG picture that cannot be shown: " + problem);
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

void TAuthoringProject::CheckRegistryItems() const {
  const TSetupRegList* regs = FScript->RegList();
  for (int i = 0; i < regs->Count(); ++i) {
    const TSetupReg* item = regs->Items(i);
    if (item->ValueType != rvtDWord) continue;
    const std::string which = Where() + ": registry item " + std::to_string(i + 1) + " (\"" + ToUtf8(item->SubKey) +
                              "\", value \"" + ToUtf8(item->ValueName) + "\")";
    if (HasPathConstant(item->ValueData))
      throw EBuildError(which + ": the DWORD data \"" + ToUtf8(item->ValueData) +
                        "\" holds a path constant, which is never a number");
    int32_t value = 0;
    if (!TryStrToInt(item->ValueData, value))
      throw EBuildError(which + ": the DWORD data \"" + ToUtf8(item->ValueData) + "\" is not a 32-bit number");
  }
}

void TAuthoringProject::MergeSameDestinations() {
  TSetupFileList* list = FScript->FileList();
  std::map<std::wstring, int> first;  // destination key -> the first item installing it
  std::vector<bool> drop(list->Count(), false);
  if (FFileSources.size() < static_cast<size_t>(list->Count())) FFileSources.resize(list->Count());
  auto name = [&](int i) {
    std::string text = std::to_string(i + 1) + " (";
    text += FFileSources[i].empty() ? std::string("no content") : PathText(FFileSources[i]);
    return text + ")";
  };
  for (int i = 0; i < list->Count(); ++i) {
    const TSetupFile* item = list->Items(i);
    auto [it, added] = first.emplace(LocationKey(FileLocationValue(*item)), i);
    if (added) continue;
    const int j = it->second;
    if (!SameContent(FFileSources[j], FFileSources[i])) {
      std::wstring dest = item->DestDir;
      if (!dest.empty() && dest.back() != L'\\' && dest.back() != L'/') dest += L'\\';
      throw EBuildError(Where() + ": file items " + name(j) + " and " + name(i) + " both install \"" +
                        ToUtf8(dest + item->SourceMask) + "\" with different content");
    }
    drop[i] = true;
  }
  if (std::find(drop.begin(), drop.end(), true) == drop.end()) return;
  std::vector<std::unique_ptr<TSetupFile>> kept;
  std::vector<fs::path> sources;
  for (int i = 0; i < list->Count(); ++i) {
    if (drop[i]) continue;
    kept.push_back(std::make_unique<TSetupFile>(*list->Items(i)));
    sources.push_back(FFileSources[i]);
  }
  list->Clear();
  for (auto& f : kept) list->Add(f.release());
  FFileSources = std::move(sources);
}

void TAuthoringProject::Prepare(const fs::path& uninstaller) {
  ApplyVariables();
  CheckRegistryItems();
  ExpandFileMasks();
  AddUninstaller(uninstaller);
  MergeSameDestinations();
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
