#include "PayloadCodec.h"

#include "BuilderText.h"
#include "NvExceptions.h"
#include "PackageCodec.h"

namespace nvbuilder {

namespace {

// The cause of a codec failure without the layer's own prefix.
std::string Cause(const EZlibError& e) {
  std::string text = e.what();
  for (const char* prefix : {"Compression error: ", "Decompression error: "}) {
    std::string p = prefix;
    if (text.compare(0, p.size(), p) == 0) return text.substr(p.size());
  }
  return text;
}

}  // namespace

std::string EncodePayload(std::string_view plain) {
  try {
    return EncodePackagePayload(plain, kPackageLevel);
  } catch (const EZlibError& e) {
    throw EBuildError("zlib: " + Cause(e));
  }
}

std::string DecodePayload(std::string_view payload) {
  try {
    return DecodePackagePayload(payload);
  } catch (const EZlibError& e) {
    throw EBuildError("not a payload: " + Cause(e));
  }
}

}  // namespace nvbuilder
