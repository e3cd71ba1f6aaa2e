#include "BuilderText.h"

#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvSysUtils.h"

namespace nvbuilder {

// Common's conversions stop at the first NUL; the builder's texts keep
// theirs, so each NUL-free run is converted on its own.
std::string ToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (;;) {
    std::size_t nul = text.find(L'\0');
    out += Utf8Encode(std::wstring(text.substr(0, nul)));
    if (nul == std::wstring_view::npos) return out;
    out += '\0';
    text.remove_prefix(nul + 1);
  }
}

std::wstring FromUtf8(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (;;) {
    std::size_t nul = bytes.find('\0');
    out += Utf8Decode(std::string(bytes.substr(0, nul)));
    if (nul == std::string_view::npos) return out;
    out += L'\0';
    bytes.remove_prefix(nul + 1);
  }
}

std::filesystem::path ToPath(std::wstring_view text) {
#ifdef _WIN32
  return std::filesystem::path(std::wstring(text));
#else
  std::string u = ToUtf8(text);
  return std::filesystem::path(std::u8string(u.begin(), u.end()));
#endif
}

std::wstring FromPath(const std::filesystem::path& path) {
#ifdef _WIN32
  return path.wstring();
#else
  return FromUtf8(path.native());
#endif
}

std::string PathText(const std::filesystem::path& path) {
  std::u8string u = path.u8string();
  return std::string(u.begin(), u.end());
}

std::filesystem::path ResolvePath(const std::filesystem::path& base, std::wstring_view projectPath) {
  std::wstring p(projectPath);
#ifndef _WIN32
  for (auto& c : p)
    if (c == L'\\') c = L'/';
#endif
  std::filesystem::path rel = ToPath(p);
  if (rel.is_absolute()) return rel.lexically_normal();
  return (base / rel).lexically_normal();
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  const std::wstring name = FromPath(path);
  try {
    return ReadFileBytes(name);
  } catch (const EInOutError& e) {
    // Common's message repeats the name: "Cannot open file "<name>". <cause>".
    std::wstring cause = e.Message();
    const std::wstring prefix = L"Cannot open file \"" + name + L"\". ";
    if (cause.compare(0, prefix.size(), prefix) == 0) cause.erase(0, prefix.size());
    throw EBuildError(PathText(path) + ": cannot open: " + ToUtf8(cause));
  }
}

}  // namespace nvbuilder
