#include "PackageBuilder.h"

#include <chrono>
#include <system_error>

#include "AuthoringProject.h"
#include "BuilderText.h"
#include "PackageFormat.h"
#include "PackageWriter.h"
#include "PayloadCodec.h"
#include "Progress.h"

namespace fs = std::filesystem;

namespace nvbuilder {

fs::path DefaultUninstaller() {
  fs::path dir = SelfDirectory();
  if (dir.empty()) return {};
  std::error_code ec;
  fs::path p = dir / UninstallerFileName;
  return fs::is_regular_file(p, ec) ? p : fs::path();
}

fs::path DefaultRuntime() {
  fs::path dir = SelfDirectory();
  return dir.empty() ? fs::path("Setup.exe") : dir / "Setup.exe";
}

TBuildReport BuildPackages(const TBuildOptions& options) {
  auto start = std::chrono::steady_clock::now();
  TBuildReport report;

  TAuthoringProject project(options.Project);
  project.Prepare(options.Uninstaller);
  const TSetupBaseInfo& info = *project.Script().BaseInfo();
  fs::path fullPath = project.FullSetupPath(options.OutDir);
  fs::path stubPath = project.MiniSetupPath(options.OutDir);
  const std::string where = PathText(project.ProjectFile());
  if (fullPath.empty() && stubPath.empty())
    throw EBuildError(where + ": neither FullSetupFile nor MiniSetupFile is set: nothing to build");
  if (!stubPath.empty() && info.FullDownloadUrl.empty())
    throw EBuildError(where + ": the online stub (MiniSetupFile) needs a FullDownloadUrl");
  if (!fullPath.empty() && fullPath == stubPath)
    throw EBuildError(where + ": FullSetupFile and MiniSetupFile name the same file");

  TPeImage runtime = LoadRuntime(options.Runtime);

  // Pack: every file with content, the picture and the agreement.
  std::vector<TPackItem> items = project.PackItems();
  std::vector<TPackJob> jobs;
  uint64_t totalBytes = 0;
  for (auto& item : items) {
    std::error_code ec;
    totalBytes += item.Job.HasContent ? item.Job.Content.size() : fs::file_size(item.Job.Source, ec);
    jobs.push_back(std::move(item.Job));
  }
  TProgress progress(DetectProgressMode(options.Out, options.Quiet), options.Out, jobs.size(), totalBytes);
  std::vector<TPackResult> results = CompressAll(jobs, options.Jobs ? options.Jobs : DefaultJobs(), &progress);
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].FileIndex >= 0) project.SetFileBytes(items[i].FileIndex, results[i].PlainSize);
    report.PlainBytes += results[i].PlainSize;
    report.StoredBytes += results[i].Payload.size();
  }
  report.Files = items.size();
  progress.Finish(report.StoredBytes);

  for (std::size_t i = 0; i < items.size(); ++i) report.Resources[items[i].ResID] = std::move(results[i].Payload);
  report.FullProjectXml = project.FullProjectXml();
  report.StubProjectXml = project.StubProjectXml();

  std::string fullBytes, stubBytes;
  std::vector<std::pair<fs::path, const std::string*>> outputs;
  try {
    if (!fullPath.empty()) {
      std::string projectPayload = EncodePayload(report.FullProjectXml);
      std::vector<TPackageResource> resources;
      resources.push_back({FullPackageMarker, &projectPayload});
      for (const auto& [name, payload] : report.Resources) resources.push_back({name, &payload});
      fullBytes = MakePackage(runtime, resources);
      outputs.emplace_back(fullPath, &fullBytes);
      report.Resources[FullPackageMarker] = projectPayload;
    }
    if (!stubPath.empty()) {
      std::string projectPayload = EncodePayload(report.StubProjectXml);
      std::vector<TPackageResource> resources;
      resources.push_back({OnlineStubMarker, &projectPayload});
      resources.push_back({info.IconResID, &report.Resources.at(info.IconResID)});
      if (!info.LicenseResID.empty()) resources.push_back({info.LicenseResID, &report.Resources.at(info.LicenseResID)});
      stubBytes = MakePackage(runtime, resources);
      outputs.emplace_back(stubPath, &stubBytes);
      report.Resources[OnlineStubMarker] = projectPayload;
    }
  } catch (const Exception& e) {
    throw EBuildError(PathText(options.Runtime) + ": cannot add the package resources: " + e.what());
  }
  WriteOutputs(outputs);
  report.FullPackage = fullPath;
  report.OnlineStub = stubPath;
  report.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!options.Quiet) {
    if (!fullPath.empty())
      std::fprintf(options.Out, "full package: %s (%s)\n", PathText(fullPath).c_str(), TProgress::SizeText(fullBytes.size()).c_str());
    if (!stubPath.empty())
      std::fprintf(options.Out, "online stub: %s (%s)\n", PathText(stubPath).c_str(), TProgress::SizeText(stubBytes.size()).c_str());
    std::fflush(options.Out);
  }
  return report;
}

}  // namespace nvbuilder
