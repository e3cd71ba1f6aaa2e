#include "Progress.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace nvbuilder {

TProgressMode DetectProgressMode(std::FILE* out, bool quiet) {
  if (quiet) return TProgressMode::Quiet;
#ifdef _WIN32
  bool tty = _isatty(_fileno(out)) != 0;
#else
  bool tty = isatty(fileno(out)) != 0;
#endif
  return tty ? TProgressMode::Bar : TProgressMode::Lines;
}

TProgress::TProgress(TProgressMode mode, std::FILE* out, uint64_t totalFiles, uint64_t totalBytes)
    : FMode(mode), FOut(out), FTotalFiles(totalFiles), FTotalBytes(totalBytes),
      FStart(std::chrono::steady_clock::now()), FLastDraw(FStart) {}

double TProgress::Elapsed() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
}

std::string TProgress::SizeText(uint64_t bytes) {
  char buf[32];
  if (bytes < 1024)
    std::snprintf(buf, sizeof buf, "%llu B", static_cast<unsigned long long>(bytes));
  else if (bytes < 1024 * 1024)
    std::snprintf(buf, sizeof buf, "%.1f KB", bytes / 1024.0);
  else
    std::snprintf(buf, sizeof buf, "%.1f MB", bytes / (1024.0 * 1024.0));
  return buf;
}

std::string TProgress::BarText(uint64_t files, uint64_t totalFiles, uint64_t bytes, uint64_t totalBytes,
                               double seconds, int width) {
  double fraction = totalBytes ? static_cast<double>(bytes) / totalBytes
                    : totalFiles ? static_cast<double>(files) / totalFiles
                                 : 1.0;
  if (fraction > 1) fraction = 1;
  int filled = static_cast<int>(fraction * width + 0.5);
  std::string bar = "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]";
  char buf[160];
  double rate = seconds > 0 ? bytes / seconds : 0;
  std::snprintf(buf, sizeof buf, " %3d%% %llu/%llu files, %s/%s, %s/s", static_cast<int>(fraction * 100),
                static_cast<unsigned long long>(files), static_cast<unsigned long long>(totalFiles),
                SizeText(bytes).c_str(), SizeText(totalBytes).c_str(), SizeText(static_cast<uint64_t>(rate)).c_str());
  return bar + buf;
}

void TProgress::FileDone(uint64_t plainBytes) {
  std::lock_guard<std::mutex> guard(FLock);
  ++FFiles;
  FBytes += plainBytes;
  Draw(false);
}

void TProgress::Draw(bool force) {
  if (FMode == TProgressMode::Quiet) return;
  auto now = std::chrono::steady_clock::now();
  if (FMode == TProgressMode::Bar) {
    if (!force && now - FLastDraw < std::chrono::milliseconds(100) && FFiles != FTotalFiles) return;
    FLastDraw = now;
    std::fprintf(FOut, "\r%s ", BarText(FFiles, FTotalFiles, FBytes, FTotalBytes, Elapsed(), 30).c_str());
    std::fflush(FOut);
    return;
  }
  // Lines: one at every tenth of the work.
  double fraction = FTotalBytes ? static_cast<double>(FBytes) / FTotalBytes
                    : FTotalFiles ? static_cast<double>(FFiles) / FTotalFiles
                                  : 1.0;
  int decile = static_cast<int>(fraction * 10);
  if (decile > FLastDecile || force) {
    FLastDecile = decile;
    std::string text = BarText(FFiles, FTotalFiles, FBytes, FTotalBytes, Elapsed(), 0);
    std::fprintf(FOut, "packing:%s\n", text.substr(2).c_str());
    std::fflush(FOut);
  }
}

void TProgress::Finish(uint64_t storedBytes) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FMode == TProgressMode::Quiet) return;
  if (FMode == TProgressMode::Bar) {
    Draw(true);
    std::fprintf(FOut, "\n");
  }
  double s = Elapsed();
  std::fprintf(FOut, "packed %llu files, %s into %s in %.2f s (%s/s)\n", static_cast<unsigned long long>(FFiles),
               SizeText(FBytes).c_str(), SizeText(storedBytes).c_str(), s,
               SizeText(static_cast<uint64_t>(s > 0 ? FBytes / s : 0)).c_str());
  std::fflush(FOut);
}

}  // namespace nvbuilder
