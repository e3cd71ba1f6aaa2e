// What the publisher's executables show of the product: the icon made from
// the project's picture and the version information from its base
// information, applied to the packages and to the bundled uninstaller.
#pragma once

#include <string>
#include <vector>

#include "PeProductInfo.h"
#include "PeResources.h"
#include "PngImage.h"
#include "SetupProject.h"

namespace nvbuilder {

// Icon sides written: 16, 32 and 48 as 32-bit DIBs, 256 as PNG.
extern const std::vector<uint32_t> ProductIconSizes;

struct TProductFace {
  std::vector<TPeIconImage> Icon;  // empty: the executable keeps its own icon
  TPeVersionInfo Version;          // without FileDescription and OriginalFilename
};

// The icon pictures of a PNG picture; EBuildError "<what>: <cause>" when it
// cannot be read.
std::vector<TPeIconImage> MakeIconImages(const std::string& png, const std::string& what);

// The face of a project: the icon from `iconPng` (null: none) and the version
// information: FileVersion and ProductVersion from Version (numbers and
// text), ProductName (AppTitle when empty), CompanyName, LegalCopyright.
TProductFace MakeProductFace(const TSetupBaseInfo& info, const std::string* iconPng, const std::string& iconWhat);

// Gives `image` the face's icon and a version resource carrying also
// `description` (FileDescription) and `fileName` (OriginalFilename).
void ApplyProductFace(TPeImage& image, const TProductFace& face, const std::wstring& description,
                      const std::wstring& fileName);

}  // namespace nvbuilder
