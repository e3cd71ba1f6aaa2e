// Signing the executables a build makes, with a command the publisher gives
// (osslsigncode on Linux, signtool on Windows).
#pragma once

#include <filesystem>
#include <string>

namespace nvbuilder {

// A new, private folder in the system's temporary folder, removed with
// everything in it (also what a signing command left there) at the end.
class TScratchFolder {
public:
  TScratchFolder();
  ~TScratchFolder();
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;
  const std::filesystem::path& Path() const { return FPath; }

private:
  std::filesystem::path FPath;
};

// Signs an executable held in memory: writes it as `fileName` into its own
// folder inside `scratch`, signs it there with SignFile and returns the
// signed bytes.
std::string SignBytes(const std::string& command, const std::string& bytes, const TScratchFolder& scratch,
                      const std::filesystem::path& fileName, const std::string& what);

// The placeholder that stands for the file to sign.
inline constexpr char SignFilePlaceholder[] = "{file}";

// The command with every "{file}" replaced by `file`, quoted for the shell
// that runs it (/bin/sh: single quotes; cmd.exe: double quotes).
std::string SignCommandLine(const std::string& command, const std::filesystem::path& file);

// Runs the command on `file` through the system's shell and waits for it.
// The command must leave a signed executable at `file`: a non-zero exit, a
// missing file or one without a certificate table raises EBuildError
// "<what>: <cause>" with the command's output.
void SignFile(const std::string& command, const std::filesystem::path& file, const std::string& what);

}  // namespace nvbuilder
