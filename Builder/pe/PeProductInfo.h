// The product's face of an executable: its icon group and its version
// resource, written into and read back from a TPeImage.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "PeResources.h"

// Chinese (PRC) and the UTF-16 code page: the language of written resources
// and the version resource's string table "080404b0".
constexpr uint16_t PE_LANG_ZH_CN = 0x0804;
constexpr uint16_t PE_CP_UNICODE = 1200;

// One picture of an icon: its side in pixels (1 to 256) and its bytes as
// stored in an RT_ICON resource (a DIB with its AND mask, or a PNG).
struct TPeIconImage {
  uint32_t Size = 0;
  uint16_t BitCount = 32;
  std::string Data;
};

// A 32-bit icon DIB of a square picture: BITMAPINFOHEADER (height doubled),
// the BGRA rows bottom-up and the AND mask (set where alpha is 0).
// `rgba` holds size * size * 4 bytes, top row first, straight alpha.
std::string MakeIconDib(uint32_t size, const std::vector<uint8_t>& rgba);

// Makes `images` the executable's main icon (the first icon group in the
// resource tree, the one the shell shows): that group keeps its name and
// language (ID 1, Chinese (PRC) when there is none), every RT_ICON image it
// named is removed, and the new images get the lowest free RT_ICON IDs.
// Other icon groups stay as they are.
void SetMainIcon(TPeImage& image, const std::vector<TPeIconImage>& images);

// The sides in pixels (256 for a 0 entry) listed by the main icon group, in
// its order; empty without an icon group. A damaged group raises EPeFormatError.
std::vector<uint32_t> MainIconSizes(const TPeImage& image);

// The contents of a version resource.
struct TPeVersionInfo {
  std::array<uint16_t, 4> FileVersion{}, ProductVersion{};  // major, minor, release, build
  uint16_t Language = PE_LANG_ZH_CN;
  uint16_t CodePage = PE_CP_UNICODE;
  // Name and value of every string, in order (FileVersion, ProductName, ...).
  std::vector<std::pair<std::wstring, std::wstring>> Strings;

  // The value of a string; empty when absent.
  std::wstring Get(const std::wstring& name) const;
};

// VS_VERSIONINFO bytes: the fixed part (an application for 32-bit Windows),
// one string table of `info.Language`/`info.CodePage` and the translation.
std::string BuildVersionResource(const TPeVersionInfo& info);

// Reads version resource bytes (the first string table); EPeFormatError
// naming the cause when they are damaged.
TPeVersionInfo ParseVersionResource(const std::string& data);

// Replaces every version resource of the image with one of `info`, under
// the name of the first existing one (ID 1 when there was none) and the
// language of `info`.
void SetVersionResource(TPeImage& image, const TPeVersionInfo& info);

// The image's version resource (the first one), or false when it has none.
bool FindVersionResource(const TPeImage& image, TPeVersionInfo& info);
