// PNG pictures read into 8-bit RGBA pixels, and scaled for icons.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nvbuilder {

// Pixels row by row, top row first, 4 bytes (R, G, B, A) each; straight
// (not premultiplied) alpha.
struct TRgbaImage {
  uint32_t Width = 0, Height = 0;
  std::vector<uint8_t> Pixels;
};

// Decodes a non-interlaced PNG of colour type grey, RGB, palette, grey with
// alpha or RGBA, at any bit depth PNG allows for that type; a transparency
// chunk (tRNS) is applied. Pictures over 8192 pixels a side are refused.
// Raises EBuildError "<what>: <cause>" for anything else or damaged data.
TRgbaImage DecodePng(const std::string& png, const std::string& what);

// The picture fitted into a size x size square: scaled with its aspect kept
// and centred on transparent pixels. Shrinking averages every source pixel
// by the area it covers (alpha-weighted, so transparent pixels lend no colour
// to the edges); enlarging interpolates bilinearly.
TRgbaImage ScaleToSquare(const TRgbaImage& image, uint32_t size);

}  // namespace nvbuilder
