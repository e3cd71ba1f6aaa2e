#include "PayloadCompressor.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

#include "BuilderText.h"
#include "NvExceptions.h"
#include "PayloadEncoder.h"
#include "Progress.h"

namespace nvbuilder {

unsigned DefaultJobs() {
  unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

std::vector<TPackResult> CompressAll(std::vector<TPackJob>& jobs, unsigned threads, TProgress* progress) {
  std::vector<TPackResult> results(jobs.size());
  // Largest first, so that no large job is left to run alone at the end.
  std::vector<std::size_t> order(jobs.size());
  {
    std::vector<uint64_t> sizes(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      std::error_code ec;
      order[i] = i;
      sizes[i] = jobs[i].HasContent ? jobs[i].Content.size() : std::filesystem::file_size(jobs[i].Source, ec);
      if (ec) sizes[i] = 0;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });
  }
  std::atomic<std::size_t> next{0};
  // The lowest failing job so far; jobs after it are skipped, jobs before it
  // still run, so the error reported does not depend on timing.
  std::atomic<std::size_t> firstError{jobs.size()};
  std::mutex errorLock;
  std::exception_ptr error;

  auto work = [&]() {
    for (;;) {
      std::size_t k = next.fetch_add(1);
      if (k >= order.size()) return;
      const std::size_t i = order[k];
      if (i > firstError.load()) continue;
      try {
        TPackJob& job = jobs[i];
        std::string plain;
        if (job.HasContent)
          plain = std::move(job.Content);
        else
          plain = ReadWholeFile(job.Source);
        results[i].PlainSize = plain.size();
        try {
          results[i].Payload = PackPayload(plain);
          results[i].PayloadDigest = Sha256(results[i].Payload);
        } catch (const EZlibError& e) {
          throw EBuildError((job.HasContent ? std::string("payload") : PathText(job.Source)) + ": " + e.what());
        }
        if (progress) progress->FileDone(plain.size());
      } catch (...) {
        std::lock_guard<std::mutex> guard(errorLock);
        if (i < firstError.load()) {
          firstError.store(i);
          error = std::current_exception();
        }
      }
    }
  };

  if (threads < 1) threads = 1;
  if (threads > jobs.size()) threads = jobs.size() ? static_cast<unsigned>(jobs.size()) : 1;
  if (threads == 1) {
    work();
  } else {
    std::vector<std::thread> pool;
    pool.reserve(threads);
    for (unsigned t = 0; t < threads; ++t) pool.emplace_back(work);
    for (auto& t : pool) t.join();
  }
  if (error) std::rethrow_exception(error);
  return results;
}

}  // namespace nvbuilder
