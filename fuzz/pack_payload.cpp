// The packer's encoder against the package decoder: any content, coded run by
// run with any plan of region codings, whole or streamed, decodes back to
// itself; so does the packer's own payload. The first input byte chooses the
// plan; the rest is the content.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "PackageCodec.h"
#include "PayloadEncoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  const std::string_view plain(reinterpret_cast<const char*>(data + 1), size - 1);

  // Runs of 1 to 4096 bytes whose codings follow from the choice byte;
  // neighbours of one coding are joined, as a plan has them.
  std::vector<nvbuilder::TRegion> plan;
  uint32_t seed = choice * 2654435761u + 1;
  for (std::size_t at = 0; at < plain.size();) {
    seed = seed * 1103515245u + 12345u;
    const std::size_t run = std::min<std::size_t>(1 + (seed >> 8) % 4096, plain.size() - at);
    const auto coding = static_cast<nvbuilder::TRegionCoding>((seed >> 4) & 3);
    if (!plan.empty() && plan.back().Coding == coding)
      plan.back().Size += run;
    else
      plan.push_back({at, run, coding});
    at += run;
  }
  // Whole buffers, or the streaming coder for all of it.
  const std::size_t limit = (choice & 1) ? plain.size() + 1 : 0;
  std::string stream = nvbuilder::DeflatePlanned(plain, plan, limit);
  MaskPayloadBytes(stream.data(), stream.size(), 0);
  NV_FUZZ_CHECK(DecodePackagePayload(stream) == plain);
  NV_FUZZ_CHECK(DecodePackagePayload(nvbuilder::PackPayload(plain)) == plain);
  return 0;
}
