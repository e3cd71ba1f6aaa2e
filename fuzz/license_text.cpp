// The agreement text as start-up decodes it: any bytes (a byte-order mark
// picks UTF-16 or UTF-8; without one a stand-in code page of one character a
// byte) give lines each ended with CR LF, with no other line break left.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "SetupText.h"

namespace {

std::wstring Latin1(const std::string& bytes) {
  std::wstring text;
  for (unsigned char c : bytes) text += static_cast<wchar_t>(c);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::wstring text = DecodeLicenseText(bytes, Latin1);
  for (size_t i = 0; i < text.size(); ++i) {
    NV_FUZZ_CHECK(text[i] != L'\x2028');
    if (text[i] == L'\r') NV_FUZZ_CHECK(i + 1 < text.size() && text[i + 1] == L'\n');
    if (text[i] == L'\n') NV_FUZZ_CHECK(i > 0 && text[i - 1] == L'\r');
  }
  if (!text.empty()) NV_FUZZ_CHECK(text.size() >= 2 && text.compare(text.size() - 2, 2, L"\r\n") == 0);
  return 0;
}
