// The builder's PE reader on arbitrary bytes: Parse either reads the image
// or raises EPeFormatError; every resource it reports is found again by its
// type, name and language; the checksum routines never read outside.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "NvExceptions.h"
#include "PeResources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    (void)TPeImage::ComputeChecksum(bytes);
    (void)TPeImage::StoredChecksum(bytes);
  } catch (const Exception&) {
  }
  TPeImage image;
  try {
    image = TPeImage::Parse(bytes);
  } catch (const Exception&) {
    return 0;
  }
  for (const TPeResourceEntry& e : image.Resources()) {
    const TPeResourceEntry* found = image.FindResource(e.Type, e.Name, e.Language);
    NV_FUZZ_CHECK(found != nullptr);
    NV_FUZZ_CHECK(image.FindResource(e.Type, e.Name) != nullptr);
  }
  return 0;
}
