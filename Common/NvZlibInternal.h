// Helpers shared by the two halves of the zlib streams.
#pragma once

#include <zlib.h>

#include <climits>
#include <cstddef>
#include <string>

#include "NvStream.h"

namespace nvzlib {

// zlib counts in 32-bit units: larger inputs are handed over in pieces.
constexpr std::size_t kMaxFeed = UINT_MAX / 2;

// zlib's message for a failed call, or a text for its return code.
std::wstring ZlibText(int code, const z_stream& zs);

inline std::size_t AtLeastOne(std::size_t n) { return n ? n : 1; }

// Runs one whole-buffer conversion of source into dest. The source is read
// before the destination is emptied, so that one stream may serve as both; on
// failure the destination is left empty.
template <typename TConvert>
void ConvertStream(TMemoryStream* source, TMemoryStream* dest, TConvert convert) {
  source->SetPosition(source->Size());
  std::string output;
  try {
    const std::string& input = source->Bytes();
    if (!input.empty()) output = convert(input.data(), input.size());
  } catch (...) {
    dest->Clear();
    throw;
  }
  dest->Clear();
  dest->Write(output);
}

}  // namespace nvzlib
