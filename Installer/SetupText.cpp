#include "SetupText.h"

#include "NvSysUtils.h"

std::wstring DecodeLicenseText(const std::string& bytes, std::wstring (*ansiToWide)(const std::string&)) {
  std::wstring text;
  auto u8 = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 && ((u8(0) == 0xFF && u8(1) == 0xFE) || (u8(0) == 0xFE && u8(1) == 0xFF))) {
    bool little = u8(0) == 0xFF;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      text += static_cast<wchar_t>(little ? (u8(i) | (u8(i + 1) << 8)) : ((u8(i) << 8) | u8(i + 1)));
  } else if (bytes.size() >= 3 && u8(0) == 0xEF && u8(1) == 0xBB && u8(2) == 0xBF) {
    text = Utf8Decode(bytes.substr(3));
  } else {
    text = ansiToWide(bytes);
  }
  std::wstring out;
  size_t i = 0, n = text.size();
  while (i < n) {
    size_t start = i;
    while (i < n && text[i] != L'\r' && text[i] != L'\n' && text[i] != L'\x2028') ++i;
    out.append(text, start, i - start);
    out += L"\r\n";
    if (i < n) {
      if (text[i] == L'\r' && i + 1 < n && text[i + 1] == L'\n') ++i;
      ++i;
    }
  }
  return out;
}

std::wstring AppendRCode(const std::wstring& address, const std::wstring& programPath) {
  const std::wstring name = ExtractFileNameNoExt(programPath);
  size_t underscore = name.find(L'_');
  if (underscore == std::wstring::npos) return address;
  const std::wstring rest = name.substr(underscore + 1);
  size_t digits = 0;
  while (digits < rest.size() && rest[digits] >= L'0' && rest[digits] <= L'9') ++digits;
  if (digits == 0) return address;
  return address + (address.find(L'?') != std::wstring::npos ? L"&" : L"?") +
         Format(L"rcode=%s", {rest.substr(0, digits)});
}

std::wstring DamagedFileMessage(const std::wstring& fileName, const std::wstring& cause) {
  return Format(L"安装包已损坏：%s：%s", {fileName, cause});
}
