#include "PackageWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "BuilderText.h"
#include "PackageFormat.h"

namespace fs = std::filesystem;

namespace nvbuilder {

TPeImage LoadRuntime(const fs::path& runtime) {
  std::error_code ec;
  if (!fs::is_regular_file(runtime, ec)) throw EBuildError(PathText(runtime) + ": the runtime executable does not exist");
  std::string bytes = ReadWholeFile(runtime);
  try {
    return TPeImage::Parse(std::move(bytes));
  } catch (const Exception& e) {
    throw EBuildError(PathText(runtime) + ": not a Windows executable: " + e.what());
  }
}

std::string MakePackage(const TPeImage& runtime, const std::vector<TPackageResource>& resources,
                        const std::function<void(TPeImage&)>& finish) {
  TPeImage image = runtime;
  image.RemoveResource(TPeResId(PackageResourceType), TPeResId(FullPackageMarker));
  image.RemoveResource(TPeResId(PackageResourceType), TPeResId(OnlineStubMarker));
  for (const TPackageResource& r : resources) image.SetRcData(r.Name, *r.Payload);
  if (finish) finish(image);
  return image.Save();
}

static bool WriteRaw(const fs::path& path, const std::string& bytes, std::string& error) {
#ifdef _WIN32
  FILE* f = _wfopen(path.c_str(), L"wb");
#else
  FILE* f = std::fopen(path.c_str(), "wb");
#endif
  if (!f) {
    error = std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (!ok) error = std::strerror(errno);
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    error = std::strerror(errno);
  }
  return ok;
}

void WriteOutputs(const std::vector<std::pair<fs::path, const std::string*>>& outputs) {
  std::vector<fs::path> temps, done;
  auto cleanUp = [&]() {
    std::error_code ec;
    for (const auto& t : temps) fs::remove(t, ec);
    for (const auto& d : done) fs::remove(d, ec);
  };
  for (const auto& [path, bytes] : outputs) {
    std::error_code ec;
    fs::path dir = path.parent_path();
    if (!dir.empty() && !fs::is_directory(dir, ec)) {
      fs::create_directories(dir, ec);
      if (ec) {
        cleanUp();
        throw EBuildError(PathText(path) + ": cannot create the folder: " + ec.message());
      }
    }
    fs::path temp = path;
    temp += ".part";
    temps.push_back(temp);
    std::string error;
    if (!WriteRaw(temp, *bytes, error)) {
      cleanUp();
      throw EBuildError(PathText(path) + ": cannot write: " + error);
    }
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    std::error_code ec;
    fs::rename(temps[i], outputs[i].first, ec);
    if (ec) {
      cleanUp();
      throw EBuildError(PathText(outputs[i].first) + ": cannot write: " + ec.message());
    }
    done.push_back(outputs[i].first);
    temps[i].clear();
  }
}

void WriteFileAtomically(const fs::path& path, const std::string& bytes) { WriteOutputs({{path, &bytes}}); }

}  // namespace nvbuilder
