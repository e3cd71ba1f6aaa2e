// The package container (project/PackageCodec.h) as the builder uses it:
// whole buffers, failures as EBuildError.
#pragma once

#include <string>
#include <string_view>

namespace nvbuilder {

// Plain content to payload at the package level; empty content gives an
// empty payload.
std::string EncodePayload(std::string_view plain);
// Payload to plain content; bytes after the zlib stream are ignored, an empty
// payload gives empty content. A damaged or cut stream raises EBuildError
// "not a payload: <cause>" (without a file name: the caller adds it).
std::string DecodePayload(std::string_view payload);

}  // namespace nvbuilder
