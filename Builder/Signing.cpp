#include "Signing.h"

#include <atomic>
#include <cstdio>
#include <random>
#include <system_error>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "BuilderText.h"
#include "PackageWriter.h"
#include "PeResources.h"

namespace fs = std::filesystem;

namespace nvbuilder {

namespace {

std::string Quoted(const fs::path& file) {
  std::string path = PathText(file);
#ifdef _WIN32
  return "\"" + path + "\"";  // a Windows path holds no double quote
#else
  std::string out = "'";
  for (char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
#endif
}

// Runs the line through the shell; its exit code (-1 when it did not run)
// and what it printed on both streams.
int RunShell(const std::string& line, std::string& output) {
  std::fflush(nullptr);
#ifdef _WIN32
  // cmd /c takes the outer quotes off again.
  std::wstring wide = L"\"" + FromUtf8(line + " 2>&1") + L"\"";
  FILE* pipe = _wpopen(wide.c_str(), L"rb");
#else
  // Grouped, so that every command of a list has its errors caught.
  FILE* pipe = popen(("{ " + line + "\n} 2>&1").c_str(), "r");
#endif
  if (!pipe) return -1;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
#ifdef _WIN32
  return _pclose(pipe);
#else
  int status = pclose(pipe);
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
#endif
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

std::string NewName(const char* prefix) {
  static std::atomic<unsigned> counter{0};
  static const uint64_t seed = std::random_device{}() ^ static_cast<uint64_t>(fs::file_time_type::clock::now().time_since_epoch().count());
  return prefix + std::to_string(seed) + "-" + std::to_string(counter++);
}

}  // namespace

TScratchFolder::TScratchFolder() {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) throw EBuildError("the temporary folder is unknown: " + ec.message());
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / NewName("nvsetup-build-");
    if (fs::create_directory(candidate, ec)) {
      FPath = candidate;
      return;
    }
  }
  throw EBuildError(PathText(base) + ": cannot create a temporary folder" + (ec ? ": " + ec.message() : std::string()));
}

TScratchFolder::~TScratchFolder() {
  std::error_code ec;
  fs::remove_all(FPath, ec);
}

std::string SignBytes(const std::string& command, const std::string& bytes, const TScratchFolder& scratch,
                      const fs::path& fileName, const std::string& what) {
  fs::path dir = scratch.Path() / NewName("sign-");
  std::error_code ec;
  fs::create_directory(dir, ec);
  if (ec) throw EBuildError(PathText(dir) + ": cannot create the folder: " + ec.message());
  fs::path file = dir / fileName;
  WriteFileAtomically(file, bytes);
  SignFile(command, file, what);
  std::string signedBytes = ReadWholeFile(file);
  fs::remove_all(dir, ec);
  return signedBytes;
}

std::string SignCommandLine(const std::string& command, const fs::path& file) {
  const std::string placeholder = SignFilePlaceholder;
  const std::string quoted = Quoted(file);
  std::string out;
  size_t from = 0;
  for (size_t at; (at = command.find(placeholder, from)) != std::string::npos; from = at + placeholder.size())
    out += command.substr(from, at - from) + quoted;
  return out + command.substr(from);
}

void SignFile(const std::string& command, const fs::path& file, const std::string& what) {
  const std::string& where = what;
  std::string output;
  int code = RunShell(SignCommandLine(command, file), output);
  output = Trimmed(output);
  const std::string shown = output.empty() ? std::string() : ": " + output;
  if (code == -1) throw EBuildError(where + ": the signing command could not be started");
  if (code != 0) throw EBuildError(where + ": the signing command failed (exit code " + std::to_string(code) + ")" + shown);
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) throw EBuildError(where + ": the signing command left no file behind" + shown);
  bool signedImage = false;
  try {
    signedImage = TPeImage::Parse(ReadWholeFile(file)).HasCertificate();
  } catch (const Exception& e) {
    throw EBuildError(where + ": the signing command left a damaged executable: " + e.what());
  }
  if (!signedImage) throw EBuildError(where + ": the signing command left the file without a signature" + shown);
}

}  // namespace nvbuilder
