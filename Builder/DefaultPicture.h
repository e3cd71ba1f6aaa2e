// The product picture used when a project names none, and the small PNG
// encoder that draws it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nvbuilder {

// An 8-bit RGBA PNG (colour type 6, no interlace) of width x height pixels,
// rgba holding width * height * 4 bytes row by row.
std::string EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgba);

// The builder's own 96 x 96 product picture, in PNG form.
const std::string& DefaultPicture();

// True when bytes start with the PNG signature.
bool IsPng(const std::string& bytes);

}  // namespace nvbuilder
