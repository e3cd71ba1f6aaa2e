#include "PackageBuilder.h"

#include <chrono>
#include <system_error>

#include "AuthoringProject.h"
#include "BuilderText.h"
#include "PackageFormat.h"
#include "PackageWriter.h"
#include "PayloadEncoder.h"
#include "ProductFace.h"
#include "Progress.h"
#include "Signing.h"

namespace fs = std::filesystem;

namespace nvbuilder {

TRuntimePair DefaultRuntimePair() {
  TRuntimePair pair;
  std::vector<std::pair<fs::path, fs::path>> candidates;
  const fs::path self = SelfDirectory();
  if (!self.empty()) {
    candidates.emplace_back(self / "Setup.exe", self / UninstallerFileName);
    const fs::path installed = (self / ".." / "share" / "nvsetup" / "runtime").lexically_normal();
    candidates.emplace_back(installed / "Setup.exe", installed / UninstallerFileName);
  }
#ifdef NV_RUNTIME_BUILD_DIR
  const fs::path tree = ToPath(FromUtf8(NV_RUNTIME_BUILD_DIR));
  candidates.emplace_back(tree / "Installer" / "Setup.exe", tree / "Uninstaller" / UninstallerFileName);
#endif
  for (const auto& [runtime, uninstaller] : candidates) {
    std::error_code ec;
    if (fs::is_regular_file(runtime, ec)) {
      pair.Runtime = runtime;
      if (fs::is_regular_file(uninstaller, ec)) pair.Uninstaller = uninstaller;
      return pair;
    }
    pair.Searched += (pair.Searched.empty() ? "" : ", ") + PathText(runtime);
  }
  return pair;
}

namespace {

// The uninstaller with the product's icon and version information, signed
// when a command is given, as a file inside `scratch`.
fs::path FinishUninstaller(const TBuildOptions& options, const TProductFace& face, const TSetupBaseInfo& info,
                           const TScratchFolder& scratch) {
  const std::string where = PathText(options.Uninstaller);
  TPeImage image;
  try {
    image = TPeImage::Parse(ReadWholeFile(options.Uninstaller));
  } catch (const Exception& e) {
    throw EBuildError(where + ": the uninstaller is not a Windows executable: " + e.what());
  }
  std::string bytes;
  try {
    ApplyProductFace(image, face, info.UninstallFileDescription, UninstallerFileName);
    bytes = image.Save();
  } catch (const Exception& e) {
    throw EBuildError(where + ": cannot give the uninstaller its icon and version information: " + e.what());
  }
  if (!options.SignCommand.empty())
    bytes = SignBytes(options.SignCommand, bytes, scratch, UninstallerFileName, where + " (its copy " + ToUtf8(UninstallerFileName) + ")");
  fs::path finished = scratch.Path() / UninstallerFileName;
  WriteFileAtomically(finished, bytes);
  return finished;
}

}  // namespace

TBuildReport BuildPackages(const TBuildOptions& options) {
  auto start = std::chrono::steady_clock::now();
  TBuildReport report;

  TAuthoringProject project(options.Project);
  project.Prepare(options.Uninstaller, options.WarningsAsErrors);
  fs::path fullPath = project.FullSetupPath(options.OutDir);
  fs::path stubPath = project.MiniSetupPath(options.OutDir);
  const TSetupBaseInfo& info = *project.Script().BaseInfo();
  const std::string where = PathText(project.ProjectFile());
  for (const std::string& line : project.ProblemLines()) std::fprintf(options.Err, "%s\n", line.c_str());
  std::fflush(options.Err);
  if (!options.Quiet) {
    for (const std::string& note : project.Notes()) std::fprintf(options.Out, "note: %s\n", note.c_str());
    std::fflush(options.Out);
  }
  if (!fullPath.empty() && fullPath == stubPath)
    throw EBuildError(where + ": FullSetupFile and MiniSetupFile name the same file");
  TOnlinePlan onlinePlan;
  if (!stubPath.empty())
    onlinePlan = PlanOnlineCheck(options.OnlineTrust, !fullPath.empty(), !options.SignCommand.empty(),
                                 PathText(stubPath), report.Warnings);
  for (const std::string& warning : report.Warnings) std::fprintf(options.Err, "setup-builder: warning: %s\n", warning.c_str());
  if (options.WarningsAsErrors && !report.Warnings.empty())
    throw EBuildError(where + ": refused under --warnings-as-errors: " + report.Warnings.front());

  TPeImage runtime = LoadRuntime(options.Runtime);
  if (!options.Uninstaller.empty()) {
    TPeImage uninstaller;
    try {
      uninstaller = TPeImage::Parse(ReadWholeFile(options.Uninstaller));
    } catch (const Exception& e) {
      throw EBuildError(PathText(options.Uninstaller) + ": the uninstaller is not a Windows executable: " + e.what());
    }
    if (uninstaller.Machine() != runtime.Machine())
      throw EBuildError(PathText(options.Uninstaller) + ": the uninstaller is a " + (uninstaller.Is64() ? "64" : "32") +
                        "-bit program and the runtime " + PathText(options.Runtime) + " a " + (runtime.Is64() ? "64" : "32") +
                        "-bit one: give both of the same build (the 32-bit build is the product)");
  }
  const TProductFace face =
      MakeProductFace(info, project.IconPath().empty() ? nullptr : &project.Picture(), PathText(project.IconPath()));
  TScratchFolder scratch;

  // Pack: every file with content, the picture and the agreement.
  std::vector<TPackItem> items = project.PackItems();
  if (!options.Uninstaller.empty()) {
    // The bundled uninstaller is packed from a finished copy.
    for (auto& item : items) {
      if (item.FileIndex < 0 || item.Job.Source != options.Uninstaller) continue;
      const TSetupFile& file = *project.Script().FileList()->Items(item.FileIndex);
      if (file.DestDir != L"{app}" || file.SourceMask != UninstallerFileName) continue;
      item.Job.Source = FinishUninstaller(options, face, info, scratch);
    }
  }
  std::vector<TPackJob> jobs;
  uint64_t totalBytes = 0;
  for (auto& item : items) {
    std::error_code ec;
    totalBytes += item.Job.HasContent ? item.Job.Content.size() : fs::file_size(item.Job.Source, ec);
    jobs.push_back(std::move(item.Job));
  }
  TProgress progress(DetectProgressMode(options.Out, options.Quiet), options.Out, jobs.size(), totalBytes);
  std::vector<TPackResult> results = CompressAll(jobs, options.Jobs ? options.Jobs : DefaultJobs(), &progress);
  std::vector<TSha256Digest> digests;
  for (const TPackResult& r : results) digests.push_back(r.PayloadDigest);
  project.NameResources(items, digests);
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

  // Refused before the package is made: what it would weigh at least.
  if (!fullPath.empty()) {
    std::error_code ec;
    uint64_t packageBytes = fs::file_size(options.Runtime, ec);
    for (const auto& [name, payload] : report.Resources) packageBytes += payload.size();
    if (packageBytes > options.MaxPackageBytes)
      throw EBuildError(PathText(fullPath) + ": the full package would be " + TProgress::SizeText(packageBytes) +
                        ", more than the " + TProgress::SizeText(options.MaxPackageBytes) +
                        " a 32-bit setup program can open; move large files into a download of their own");
  }

  std::string fullBytes, stubBytes;
  std::vector<std::pair<fs::path, const std::string*>> outputs;
  try {
    if (!fullPath.empty()) {
      std::string projectPayload = PackPayload(report.FullProjectXml);
      std::vector<TPackageResource> resources;
      resources.push_back({FullPackageMarker, &projectPayload});
      for (const auto& [name, payload] : report.Resources) resources.push_back({name, &payload});
      fullBytes = MakePackage(runtime, resources, [&](TPeImage& image) {
        ApplyProductFace(image, face, info.InstallFileDescription, FromUtf8(PathText(fullPath.filename())));
      });
      // Signed before the stub is made: the stub's pin covers the file as shipped.
      if (!options.SignCommand.empty())
        fullBytes = SignBytes(options.SignCommand, fullBytes, scratch, fullPath.filename(), PathText(fullPath));
      outputs.emplace_back(fullPath, &fullBytes);
      report.Resources[FullPackageMarker] = projectPayload;
    }
    if (!stubPath.empty()) {
      std::string projectPayload = PackPayload(report.StubProjectXml);
      std::vector<TPackageResource> resources;
      resources.push_back({OnlineStubMarker, &projectPayload});
      resources.push_back({info.IconResID, &report.Resources.at(info.IconResID)});
      if (!info.LicenseResID.empty()) resources.push_back({info.LicenseResID, &report.Resources.at(info.LicenseResID)});
      report.OnlineCheck = OnlineCheckPayload(onlinePlan, fullBytes);
      if (!report.OnlineCheck.empty()) resources.push_back({OnlineCheckResource, &report.OnlineCheck});
      stubBytes = MakePackage(runtime, resources, [&](TPeImage& image) {
        ApplyProductFace(image, face, info.InstallFileDescription, FromUtf8(PathText(stubPath.filename())));
      });
      outputs.emplace_back(stubPath, &stubBytes);
      report.Resources[OnlineStubMarker] = projectPayload;
    }
  } catch (const Exception& e) {
    throw EBuildError(PathText(options.Runtime) + ": cannot add the package resources: " + e.what());
  }
  if (!options.SignCommand.empty() && !stubPath.empty())
    stubBytes = SignBytes(options.SignCommand, stubBytes, scratch, stubPath.filename(), PathText(stubPath));
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
