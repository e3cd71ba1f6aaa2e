#include "ProductFace.h"

#include <algorithm>

#include "BuilderText.h"
#include "DefaultPicture.h"

namespace nvbuilder {

const std::vector<uint32_t> ProductIconSizes = {16, 32, 48, 256};

std::vector<TPeIconImage> MakeIconImages(const std::string& png, const std::string& what) {
  TRgbaImage picture = DecodePng(png, what);
  std::vector<TPeIconImage> images;
  for (uint32_t size : ProductIconSizes) {
    TRgbaImage scaled = ScaleToSquare(picture, size);
    TPeIconImage icon;
    icon.Size = size;
    icon.Data = size >= 256 ? EncodePng(size, size, scaled.Pixels) : MakeIconDib(size, scaled.Pixels);
    images.push_back(std::move(icon));
  }
  return images;
}

TProductFace MakeProductFace(const TSetupBaseInfo& info, const std::string* iconPng, const std::string& iconWhat) {
  TProductFace face;
  if (iconPng) face.Icon = MakeIconImages(*iconPng, iconWhat);
  int32_t numbers[4] = {0, 0, 0, 0};
  info.GetVersionNumbers(numbers[0], numbers[1], numbers[2], numbers[3]);
  for (int i = 0; i < 4; ++i) {
    face.Version.FileVersion[i] = static_cast<uint16_t>(std::clamp<int32_t>(numbers[i], 0, 0xFFFF));
    face.Version.ProductVersion[i] = face.Version.FileVersion[i];
  }
  face.Version.Strings = {
      {L"CompanyName", info.CompanyName},
      {L"FileVersion", info.Version},
      {L"LegalCopyright", info.LegalCopyright},
      {L"ProductName", info.ProductName.empty() ? info.AppTitle : info.ProductName},
      {L"ProductVersion", info.Version},
  };
  return face;
}

void ApplyProductFace(TPeImage& image, const TProductFace& face, const std::wstring& description,
                      const std::wstring& fileName) {
  if (!face.Icon.empty()) SetMainIcon(image, face.Icon);
  TPeVersionInfo version = face.Version;
  version.Strings.insert(version.Strings.begin() + 1, {L"FileDescription", description});
  version.Strings.insert(version.Strings.begin() + 4, {L"OriginalFilename", fileName});
  SetVersionResource(image, version);
}

}  // namespace nvbuilder
