#include "UninstallData.h"

#include "NvFileUtils.h"
#include "NvStream.h"
#include "NvSysUtils.h"
#include "PackageCodec.h"
#include "PackageFormat.h"

TUninstallData::TUninstallData() : FScript(std::make_unique<TSetupScript>()) {}

std::string TUninstallData::DecodeDataFile(const std::string& bytes, char firstPlain) {
  // An encoded file starts with the zlib header byte 0x78 (byte 0 is never
  // masked); the plain forms start with '<' (XML) or 0x89 (PNG).
  if (!bytes.empty() && bytes[0] == firstPlain) return bytes;
  if (bytes.empty()) throw Exception(L"the file is empty");
  return DecodePackagePayload(bytes);
}

void TUninstallData::Load(const std::wstring& folder) {
  const std::wstring dir = IncludeTrailingBackslash(folder);
  const std::wstring projectFile = dir + UninstallProjectFileName;
  if (!FileExists(projectFile)) throw EUninstallDataError(Format(L"找不到卸载数据文件：%s", {projectFile}));
  try {
    TMemoryStream xml(DecodeDataFile(ReadFileBytes(projectFile), '<'));
    auto script = std::make_unique<TSetupScript>();
    script->LoadFromStream(xml, 0);
    FScript = std::move(script);
  } catch (const std::exception& e) {
    throw EUninstallDataError(Format(L"卸载数据文件已损坏：%s：%s", {projectFile, ExceptionMessage(e)}));
  }

  FIconPng.clear();
  try {
    const std::wstring iconFile = dir + UninstallIconFileName;
    if (FileExists(iconFile)) {
      std::string png = DecodeDataFile(ReadFileBytes(iconFile), '\x89');
      if (png.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) == 0) FIconPng = std::move(png);
    }
  } catch (const std::exception&) {
    // The picture only decorates the window.
  }
}
