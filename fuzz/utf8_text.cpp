// UTF-8 decoding, as the agreement text, project values and server answers
// are decoded: any bytes give text (invalid sequences as U+FFFD, cut at the
// first NUL), and that text encodes to UTF-8 that decodes to the same text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "NvSysUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::wstring text = Utf8Decode(bytes);
  NV_FUZZ_CHECK(text.find(L'\0') == std::wstring::npos);
  const std::string encoded = Utf8Encode(text);
  NV_FUZZ_CHECK(Utf8Decode(encoded) == text);
  if (bytes.find('\0') == std::string::npos && encoded == bytes) NV_FUZZ_CHECK(Utf8Encode(Utf8Decode(encoded)) == bytes);
  return 0;
}
