// Text and path conversions of the package builder: UTF-8 for the command
// line, messages and the host file system; wide text for the project model.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace nvbuilder {

// A failure of the builder: the message names the file and the cause, in UTF-8.
class EBuildError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// UTF-8 <-> wide text (UTF-16 on Windows, UTF-32 on the host). Invalid input
// sequences become U+FFFD.
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view bytes);

// File-system paths from and to wide text, with no dependence on the locale.
std::filesystem::path ToPath(std::wstring_view text);
std::wstring FromPath(const std::filesystem::path& path);
// A path for messages, in UTF-8.
std::string PathText(const std::filesystem::path& path);

// A project path (backslashes or slashes, relative to base unless absolute)
// as a file-system path.
std::filesystem::path ResolvePath(const std::filesystem::path& base, std::wstring_view projectPath);

// Whole-file reading and writing; failures raise EBuildError naming the file.
std::string ReadWholeFile(const std::filesystem::path& path);

}  // namespace nvbuilder
