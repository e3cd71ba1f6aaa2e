// The packer's encoder: content to one zlib stream that the package codec
// (project/PackageCodec.h) decodes like any other, spending compression time
// where it buys bytes.
//
// Content is looked at in regions of kRegionBytes. A sample of each region is
// compressed with a very fast level; the result classes the region:
// - incompressible (random or already compressed data): stored blocks, which
//   cost no compression time and are as small as any deflate coding of it;
// - highly redundant (long runs, repeated blocks): a fast level, which finds
//   those matches as well as a slow one;
// - everything else: the thorough level (near-optimal parsing where the
//   library offers it) for the first kThoroughBytes of such regions in a
//   payload, a lazy level (about four times faster) after them, so that one
//   very large file does not hold the whole build up.
// Neighbouring regions of one class are coded together, so the coder keeps
// its history across them. Each run of regions is deflated on its own and the
// runs are joined into one stream: a compressed run's final block is made
// non-final and followed by an empty stored block, which brings the stream
// back to a byte boundary.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace nvbuilder {

enum class TRegionCoding { Store, Fast, Lazy, Thorough };

struct TRegion {
  std::size_t Offset = 0, Size = 0;
  TRegionCoding Coding = TRegionCoding::Thorough;
};

// The unit the content is classed in.
constexpr std::size_t kRegionBytes = 512 * 1024;
// Thorough coding per payload, in whole regions.
constexpr std::size_t kThoroughBytes = std::size_t{3} << 20;

// Runs of regions of one class covering `plain` in order, neighbours of
// different classes; empty for empty content.
std::vector<TRegion> PlanRegions(std::string_view plain);

// Content larger than this is coded by zlib's streaming coder (which
// switches its level from run to run) rather than run by run in whole
// buffers: memory stays bounded and very large files take less time. The
// same holds for all content where libdeflate is not available.
constexpr std::size_t kWholeBufferLimit = std::size_t{64} << 20;

// One zlib stream of `plain` coded run by run as `plan` says (runs covering
// plain in order; an empty plan for empty content gives an empty string).
std::string DeflatePlanned(std::string_view plain, const std::vector<TRegion>& plan,
                           std::size_t wholeBufferLimit = kWholeBufferLimit);

// Plain content to a package payload (planned, deflated, masked); empty
// content gives an empty payload. Raises EZlibError when the coder fails.
std::string PackPayload(std::string_view plain);

}  // namespace nvbuilder
