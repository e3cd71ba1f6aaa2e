#include "PackageInspector.h"

#include <set>

#include "BuilderText.h"
#include "NvStream.h"
#include "NvSysUtils.h"
#include "OnlinePin.h"
#include "PackageFormat.h"
#include "PayloadCodec.h"
#include "PeResources.h"
#include "SetupProject.h"

namespace fs = std::filesystem;

namespace nvbuilder {

const char* KindName(TPackageKind kind) {
  switch (kind) {
    case TPackageKind::Full: return "full";
    case TPackageKind::OnlineStub: return "online stub";
    default: return "none";
  }
}

TInspection InspectPackage(const fs::path& package) {
  const std::string where = PathText(package);
  std::string bytes = ReadWholeFile(package);
  TPeImage image;
  try {
    image = TPeImage::Parse(std::move(bytes));
  } catch (const Exception& e) {
    throw EBuildError(where + ": not a Windows executable: " + e.what());
  }
  TInspection result;
  result.Signed = image.HasCertificate();
  try {
    result.IconSizes = MainIconSizes(image);
  } catch (const Exception&) {
    result.IconSizes.clear();
  }
  try {
    result.HasVersion = FindVersionResource(image, result.Version);
  } catch (const Exception& e) {
    result.VersionError = e.what();
  }
  std::set<std::wstring> names;  // upper-case, as the loader compares
  for (const TPeResourceEntry& entry : image.Resources()) {
    if (entry.Type.IsName() || entry.Type.Id() != PackageResourceType) continue;
    TInspectedResource r;
    r.Name = entry.Name.ToString();
    r.StoredSize = entry.Data.size();
    try {
      r.DecodedSize = DecodePayload(entry.Data).size();
      r.Decoded = true;
    } catch (const EBuildError&) {
      r.Decoded = false;
    }
    names.insert(UpperCase(r.Name));
    result.Resources.push_back(std::move(r));
  }
  const TPeResourceEntry* marker = image.FindResource(TPeResId(PackageResourceType), TPeResId(FullPackageMarker));
  result.Kind = TPackageKind::Full;
  if (!marker) {
    marker = image.FindResource(TPeResId(PackageResourceType), TPeResId(OnlineStubMarker));
    result.Kind = marker ? TPackageKind::OnlineStub : TPackageKind::None;
  }
  if (!marker) return result;
  if (result.Kind == TPackageKind::OnlineStub) {
    const TPeResourceEntry* check = image.FindResource(TPeResId(PackageResourceType), TPeResId(OnlineCheckResource));
    result.OnlineCheck = DescribeOnlineCheck(check ? &check->Data : nullptr);
  }
  try {
    result.ProjectXml = DecodePayload(marker->Data);
  } catch (const EBuildError& e) {
    throw EBuildError(where + ": the project resource " + ToUtf8(marker->Name.ToString()) + " is damaged: " + e.what());
  }
  TSetupScript script;
  try {
    TMemoryStream stream(result.ProjectXml);
    script.LoadFromStream(stream, 0);
  } catch (const Exception& e) {
    throw EBuildError(where + ": the project resource is not a setup project: " + e.what());
  }
  auto need = [&](const std::wstring& name) {
    if (!name.empty() && !names.count(UpperCase(name))) result.Missing.push_back(name);
  };
  need(script.BaseInfo()->IconResID);
  need(script.BaseInfo()->LicenseResID);
  const TSetupFileList* files = script.FileList();
  for (int i = 0; i < files->Count(); ++i)
    if (files->Items(i)->FileBytes > 0) need(files->Items(i)->ResID);
  return result;
}

std::string FormatInspection(const TInspection& r) {
  std::string out = std::string("kind: ") + KindName(r.Kind) + "\n";
  out += std::string("signature: ") + (r.Signed ? "present (certificate table)" : "none") + "\n";
  out += "icon sizes: ";
  for (size_t i = 0; i < r.IconSizes.size(); ++i) out += (i ? ", " : "") + std::to_string(r.IconSizes[i]);
  out += r.IconSizes.empty() ? "none\n" : "\n";
  if (!r.VersionError.empty()) {
    out += "version information: damaged: " + r.VersionError + "\n";
  } else if (r.HasVersion) {
    auto numbers = [](const std::array<uint16_t, 4>& v) {
      return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
    };
    char language[32];
    std::snprintf(language, sizeof language, "%04x%04x", r.Version.Language, r.Version.CodePage);
    out += "version information (" + std::string(language) + "): file " + numbers(r.Version.FileVersion) +
           ", product " + numbers(r.Version.ProductVersion) + "\n";
    for (const auto& [name, value] : r.Version.Strings) out += "  " + ToUtf8(name) + ": " + ToUtf8(value) + "\n";
  } else {
    out += "version information: none\n";
  }
  if (!r.OnlineCheck.empty()) out += "online check: " + r.OnlineCheck + "\n";
  out += "resources (RCDATA): " + std::to_string(r.Resources.size()) + "\n";
  char line[256];
  std::snprintf(line, sizeof line, "  %-40s %12s %12s\n", "name", "stored", "decoded");
  out += line;
  for (const auto& res : r.Resources) {
    std::string decoded = res.Decoded ? std::to_string(res.DecodedSize) : "not a payload";
    std::snprintf(line, sizeof line, "  %-40s %12llu %12s\n", ToUtf8(res.Name).c_str(),
                  static_cast<unsigned long long>(res.StoredSize), decoded.c_str());
    out += line;
  }
  for (const auto& m : r.Missing) out += "missing resource: " + ToUtf8(m) + "\n";
  if (r.Kind != TPackageKind::None) {
    out += "project:\n";
    out += r.ProjectXml;
    if (!r.ProjectXml.empty() && r.ProjectXml.back() != '\n') out += "\n";
  }
  return out;
}

}  // namespace nvbuilder
