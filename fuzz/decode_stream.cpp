// The package container's decoder on arbitrary payloads: it either gives the
// plain content or raises the library's own exception; content it gives
// encodes and decodes back to itself.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "NvExceptions.h"
#include "NvStream.h"
#include "Setupfn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
  try {
    TSetupfn::DecodeStream(stream);
  } catch (const Exception&) {
    return 0;
  }
  NV_FUZZ_CHECK(stream.Position() == 0);
  const std::string plain = stream.Bytes();
  TSetupfn::EncodeStream(stream);
  TSetupfn::DecodeStream(stream);
  NV_FUZZ_CHECK(stream.Bytes() == plain);
  return 0;
}
