#include "TestPackage.h"

#include <windows.h>
#include <zlib.h>

#include <filesystem>
#include <stdexcept>

#include "NvStream.h"
#include "NvSysUtils.h"
#include "PackageBuilder.h"
#include "PackageFormat.h"
#include "Setupfn.h"
#include "TestFiles.h"

namespace nvtest {

namespace {

void PutBigEndian32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}

void PngChunk(std::string& png, const char* type, const std::string& data) {
  PutBigEndian32(png, static_cast<uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  png += body;
  PutBigEndian32(png, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
}

// A plain zlib stream, as PNG image data is stored.
std::string Deflate(const std::string& plain) {
  uLongf size = compressBound(plain.size());
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(plain.data()), plain.size(),
                9) != Z_OK)
    throw std::runtime_error("compress2 failed");
  out.resize(size);
  return out;
}

}  // namespace

std::string EncodePayload(const std::string& plain) {
  TMemoryStream stream(plain);
  TSetupfn::EncodeStream(stream);
  return stream.Bytes();
}

std::string DecodePayload(const std::string& payload) {
  TMemoryStream stream(payload);
  TSetupfn::DecodeStream(stream);
  return stream.Bytes();
}

std::string MakePng(int width, int height, uint32_t rgb, bool alpha) {
  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string ihdr;
  PutBigEndian32(ihdr, width);
  PutBigEndian32(ihdr, height);
  ihdr += alpha ? std::string("\x08\x06\x00\x00\x00", 5) : std::string("\x08\x02\x00\x00\x00", 5);
  PngChunk(png, "IHDR", ihdr);
  std::string raw;
  for (int y = 0; y < height; ++y) {
    raw.push_back('\0');  // no filter
    for (int x = 0; x < width; ++x) {
      const bool inner = x >= width * 7 / 24 && x < width * 17 / 24 && y >= height * 7 / 24 && y < height * 17 / 24;
      const uint32_t c = inner ? 0xFFFFFF : rgb;
      raw.push_back(static_cast<char>(c >> 16));
      raw.push_back(static_cast<char>(c >> 8));
      raw.push_back(static_cast<char>(c));
      if (alpha) raw.push_back('\xFF');
    }
  }
  PngChunk(png, "IDAT", Deflate(raw));
  PngChunk(png, "IEND", "");
  return png;
}

std::wstring NewGuid() { return TNvStrfn::NewGuidString(); }

TTestPackage::TTestPackage(const std::wstring& workDir, const std::wstring& title, const std::wstring& installDir,
                           TPackMode mode)
    : FMode(mode), FSourceDir(workDir + L"src\\") {
  Info().AppTitle = title;
  Info().Version = L"1.0.0.0";
  Info().GUID = NewGuid();
  Info().DefInstallPath = installDir;
  Info().IconResID = NewGuid();
  SetIconPng(MakePng(48, 48, 0x3366CC));
}

std::wstring TTestPackage::SourceFile(const std::wstring& name, const std::string& content) {
  const std::wstring path = FSourceDir + name;
  WriteBytes(path, content);
  return path;
}

void TTestPackage::SetIconPng(const std::string& png) {
  FIconPng = png;
  if (FMode == TPackMode::Builder)
    Info().IconFile = SourceFile(L"product.png", png);
  else
    SetResource(Info().IconResID, png);
}

void TTestPackage::SetLicense(const std::string& bytes) {
  if (FMode == TPackMode::Builder) {
    Info().LicenseFile = SourceFile(L"license.txt", bytes);
    return;
  }
  if (Info().LicenseResID.empty()) Info().LicenseResID = NewGuid();
  SetResource(Info().LicenseResID, bytes);
}

TSetupFile* TTestPackage::AddFile(const std::wstring& destDir, const std::wstring& sourceMask,
                                  const std::string& content, double lastWriteDate) {
  TSetupFile* f = FScript.FileList()->AddNew();
  f->DestDir = destDir;
  f->SourceMask = sourceMask;
  if (FMode == TPackMode::Builder) {
    // One source folder per item, so that the mask matches this file only.
    const std::wstring folder = std::to_wstring(FScript.FileList()->Count());
    f->SourcePath = FSourceDir + folder;
    const std::wstring source = SourceFile(folder + L"\\" + sourceMask, content);
    if (lastWriteDate != 0) SetLastWriteTicks(source, DateTimeToUtcTicks(lastWriteDate));
    return f;
  }
  f->FileBytes = static_cast<int32_t>(content.size());
  f->LastWriteDate = lastWriteDate;
  if (!content.empty()) {
    f->ResID = NewGuid();
    SetResource(f->ResID, content);
  }
  return f;
}

TSetupReg* TTestPackage::AddReg(TRegRootKey root, const std::wstring& subKey, const std::wstring& name,
                                const std::wstring& data, TRegValueType type) {
  TSetupReg* r = FScript.RegList()->AddNew();
  r->RootKey = root;
  r->SubKey = subKey;
  r->ValueName = name;
  r->ValueData = data;
  r->ValueType = type;
  return r;
}

TSetupShortCut* TTestPackage::AddShortCut(const std::wstring& saveDir, const std::wstring& name,
                                          const std::wstring& dstFile, const std::wstring& workDir) {
  TSetupShortCut* s = FScript.ShortCutList()->AddNew();
  s->SaveDir = saveDir;
  s->Name = name;
  s->DstFile = dstFile;
  s->WorkDir = workDir;
  return s;
}

TSetupRun* TTestPackage::AddRun(const std::wstring& fileName, const std::wstring& params, const std::wstring& workDir,
                                bool wait) {
  TSetupRun* r = FScript.RunList()->AddNew();
  r->FileName = fileName;
  r->Params = params;
  r->WorkDir = workDir;
  r->Wait = wait;
  return r;
}

void TTestPackage::SetResource(const std::wstring& name, const std::string& bytes, bool raw) {
  RemoveResource(name);
  FResources.push_back({name, bytes, raw});
}

void TTestPackage::RemoveResource(const std::wstring& name) {
  std::erase_if(FResources, [&](const TResource& r) { return r.Name == name; });
}

void TTestPackage::Build(const std::wstring& exePath) {
  std::filesystem::create_directories(std::filesystem::path(exePath).parent_path());
  if (FMode == TPackMode::Builder)
    BuildWithBuilder(exePath);
  else
    BuildWithResourceWriter(exePath);
}

void TTestPackage::BuildWithBuilder(const std::wstring& exePath) {
  Info().FullSetupFile = exePath;
  const std::wstring projectFile = FSourceDir + L"project.xml";
  FScript.SaveToFile(projectFile, 0);
  nvbuilder::TBuildOptions options;
  options.Project = std::filesystem::path(projectFile);
  options.Runtime = std::filesystem::path(SetupExe());
  if (!Uninstaller.empty()) options.Uninstaller = std::filesystem::path(Uninstaller);
  options.Quiet = true;
  options.Jobs = 1;
  options.SignCommand = SignCommand;
  if (!OnlineTrust.empty() && !nvbuilder::ParseOnlineTrust(OnlineTrust, options.OnlineTrust))
    throw std::runtime_error("unknown online trust rule " + OnlineTrust);
  FBuiltXml = nvbuilder::BuildPackages(options).FullProjectXml;
}

void TTestPackage::BuildWithResourceWriter(const std::wstring& exePath) {
  const std::string where = Utf8Encode(exePath) + ": ";
  if (!CopyFileW(SetupExe().c_str(), exePath.c_str(), FALSE)) throw std::runtime_error(where + "cannot copy Setup.exe");
  HANDLE update = BeginUpdateResourceW(exePath.c_str(), FALSE);
  if (!update) throw std::runtime_error(where + "BeginUpdateResourceW failed");
  auto put = [&](const std::wstring& name, const std::string& plain, bool raw) {
    std::string payload = raw ? plain : EncodePayload(plain);
    if (!UpdateResourceW(update, MAKEINTRESOURCEW(PackageResourceType), name.c_str(),
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), payload.empty() ? nullptr : payload.data(),
                         static_cast<DWORD>(payload.size()))) {
      EndUpdateResourceW(update, TRUE);
      throw std::runtime_error(where + "UpdateResourceW failed for " + Utf8Encode(name));
    }
  };
  if (!NoMarker) {
    FBuiltXml = ProjectOverride;
    if (FBuiltXml.empty()) {
      TMemoryStream project;
      FScript.SaveToStream(project, 0);
      FBuiltXml = project.Bytes();
    }
    put(OnlineStub ? OnlineStubMarker : FullPackageMarker, FBuiltXml, ProjectOverrideRaw);
  }
  for (const TResource& r : FResources) put(r.Name, r.Bytes, r.Raw);
  if (!EndUpdateResourceW(update, FALSE)) throw std::runtime_error(where + "EndUpdateResourceW failed");
}

}  // namespace nvtest
