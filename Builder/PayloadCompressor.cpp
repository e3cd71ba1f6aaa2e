#include "PayloadCompressor.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

#include "BuilderText.h"
#include "NvExceptions.h"
#include "PackageCodec.h"
#include "Progress.h"

namespace nvbuilder {

unsigned DefaultJobs() {
  unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

std::vector<TPackResult> CompressAll(std::vector<TPackJob>& jobs, unsigned threads, TProgress* progress) {
  std::vector<TPackResult> results(jobs.size());
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex errorLock;
  std::size_t errorIndex = jobs.size();
  std::exception_ptr error;

  auto work = [&]() {
    for (;;) {
      if (failed.load()) return;
      std::size_t i = next.fetch_add(1);
      if (i >= jobs.size()) return;
      try {
        TPackJob& job = jobs[i];
        std::string plain;
        if (job.HasContent)
          plain = std::move(job.Content);
        else
          plain = ReadWholeFile(job.Source);
        results[i].PlainSize = plain.size();
        try {
          results[i].Payload = EncodePackagePayload(plain, kPackageLevel);
        } catch (const EZlibError& e) {
          throw EBuildError((job.HasContent ? std::string("payload") : PathText(job.Source)) + ": " + e.what());
        }
        if (progress) progress->FileDone(plain.size());
      } catch (...) {
        std::lock_guard<std::mutex> guard(errorLock);
        if (i < errorIndex) {
          errorIndex = i;
          error = std::current_exception();
        }
        failed.store(true);
        return;
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
