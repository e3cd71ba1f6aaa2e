// Progress of the payload packing: a redrawn bar on a terminal, plain lines
// otherwise, nothing when quiet. Safe to call from several threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace nvbuilder {

enum class TProgressMode { Quiet, Lines, Bar };

// The mode for an output stream: a bar when it is a terminal, else lines.
TProgressMode DetectProgressMode(std::FILE* out, bool quiet);

class TProgress {
public:
  TProgress(TProgressMode mode, std::FILE* out, uint64_t totalFiles, uint64_t totalBytes);
  // One file done, of plainBytes bytes.
  void FileDone(uint64_t plainBytes);
  // Final line: counts, sizes, time and rate.
  void Finish(uint64_t storedBytes);
  uint64_t FilesDone() const { return FFiles; }
  uint64_t BytesDone() const { return FBytes; }

  // The bar text for the given state (no line ending): exposed for tests.
  static std::string BarText(uint64_t files, uint64_t totalFiles, uint64_t bytes, uint64_t totalBytes,
                             double seconds, int width);
  // "12.3 MB" style size text.
  static std::string SizeText(uint64_t bytes);

private:
  void Draw(bool force);
  double Elapsed() const;

  TProgressMode FMode;
  std::FILE* FOut;
  uint64_t FTotalFiles, FTotalBytes;
  uint64_t FFiles = 0, FBytes = 0;
  int FLastDecile = 0;
  std::chrono::steady_clock::time_point FStart, FLastDraw;
  std::mutex FLock;
};

}  // namespace nvbuilder
