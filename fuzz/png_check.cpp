// The builder's picture check on arbitrary bytes: it answers for every input
// (a cause or nothing) without raising, and pictures the builder's own PNG
// encoder writes always pass.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "AuthoringProject.h"
#include "DefaultPicture.h"
#include "FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  (void)nvbuilder::PngProblem(bytes);
  if (size >= 2 && size <= 1026) {
    // The first two bytes give a size, the rest the pixels (repeated).
    const uint32_t width = 1 + data[0] % 40, height = 1 + data[1] % 40;
    std::vector<uint8_t> rgba(size_t(width) * height * 4);
    for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = size > 2 ? data[2 + i % (size - 2)] : 0;
    const std::string png = nvbuilder::EncodePng(width, height, rgba);
    NV_FUZZ_CHECK(nvbuilder::PngProblem(png).empty());
  }
  return 0;
}
