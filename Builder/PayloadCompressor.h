// Packing of many payloads on several threads with the packer
// (PayloadEncoder.h). Each source is read once and compressed by one worker;
// the results are in job order, so the output does not depend on the number
// of threads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "Sha256.h"

namespace nvbuilder {

class TProgress;

struct TPackJob {
  std::filesystem::path Source;  // read when Content is not given
  bool HasContent = false;
  std::string Content;           // in-memory content (picture, agreement, project)
};

struct TPackResult {
  std::string Payload;     // the container form
  uint64_t PlainSize = 0;  // bytes read from the source
  TSha256Digest PayloadDigest{};  // SHA-256 of Payload
};

// The worker count for a --jobs value of 0: the machine's cores.
unsigned DefaultJobs();

// Compresses every job with `threads` workers (at least 1), the largest
// first, each with PackPayload. A failure (an unreadable source) skips the
// jobs after it in job order and raises the error of the lowest failing job,
// an EBuildError naming its file.
std::vector<TPackResult> CompressAll(std::vector<TPackJob>& jobs, unsigned threads, TProgress* progress);

}  // namespace nvbuilder
