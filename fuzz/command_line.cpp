// Command-line splitting: any line (UTF-16 units from the bytes) splits into
// arguments without quotes or NULs, and the arguments, each quoted and joined
// by blanks, split again into the same list.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "NvCommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring line;
  for (size_t i = 0; i + 1 < size; i += 2) line += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  const std::vector<std::wstring> args = SplitCommandLine(line);
  std::wstring joined;
  for (const std::wstring& arg : args) {
    NV_FUZZ_CHECK(arg.find(L'"') == std::wstring::npos);
    NV_FUZZ_CHECK(arg.find(L'\0') == std::wstring::npos);
    joined += L"\"" + arg + L"\" ";
  }
  NV_FUZZ_CHECK(SplitCommandLine(joined) == args);
  return 0;
}
