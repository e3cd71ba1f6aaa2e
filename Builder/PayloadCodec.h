// The container form of every package resource and uninstall data file:
// one zlib stream (level 9, 15-bit window, memory level 8, default
// strategy) whose byte i is XORed with (i mod 255).
#pragma once

#include <string>
#include <string_view>

namespace nvbuilder {

// Applies the position mask in place (its own inverse).
void XorMask(std::string& bytes);
// Plain content to payload; empty content gives an empty payload.
std::string EncodePayload(std::string_view plain);
// Payload to plain content; bytes after the zlib stream are ignored, an empty
// payload gives empty content. A damaged or cut stream raises EBuildError
// (message without a file name: the caller adds it).
std::string DecodePayload(std::string_view payload);

}  // namespace nvbuilder
