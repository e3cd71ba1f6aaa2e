#include "PayloadPrefetch.h"

#include <algorithm>

#include "NvCallbackBarrier.h"
#include "NvExceptions.h"
#include "NvResourceModule.h"
#include "NvSysUtils.h"
#include "PackageCodec.h"

namespace {

// Raised through the decoder when the prefetch is being stopped.
struct TStopped {};

}  // namespace

void CheckContentLimit(uint64_t written, uint64_t limit) {
  if (written > limit) throw EZlibError(L"Decompression error: the content is larger than the file item says");
}

TPayloadPrefetch::TPayloadPrefetch(const std::wstring& packageFile, std::vector<TJob> jobs)
    : FFileName(packageFile), FJobs(std::move(jobs)) {
  FThread = CreateThread(nullptr, 0, &TPayloadPrefetch::ThreadMain, this, 0, &FThreadId);
}

TPayloadPrefetch::~TPayloadPrefetch() {
  AcquireSRWLockExclusive(&FLock);
  FStop = true;
  ReleaseSRWLockExclusive(&FLock);
  WakeAllConditionVariable(&FChanged);
  if (FThread) {
    WaitForSingleObject(FThread, INFINITE);
    CloseHandle(FThread);
    // What the thread raised beyond its jobs has reached the writer as a
    // failed read already; a later thread of the same number must not find it.
    NvTakeKept(FThreadId);
  }
}

DWORD WINAPI TPayloadPrefetch::ThreadMain(void* self) {
  auto* prefetch = static_cast<TPayloadPrefetch*>(self);
  const DWORD result = NvCallbackBarrier<DWORD>(1, [prefetch] {
    prefetch->Run();
    return DWORD{0};
  });
  // Also after a failure outside the jobs (no memory for the buffers), so
  // that Take ends with a read error instead of waiting for ever.
  prefetch->Finish();
  return result;
}

void TPayloadPrefetch::Finish() {
  AcquireSRWLockExclusive(&FLock);
  FFinished = true;
  ReleaseSRWLockExclusive(&FLock);
  WakeAllConditionVariable(&FChanged);
}

bool TPayloadPrefetch::Push(TBlock block) {
  AcquireSRWLockExclusive(&FLock);
  while (!FStop && FQueuedBytes >= kAheadBytes) SleepConditionVariableSRW(&FChanged, &FLock, INFINITE, 0);
  const bool stopped = FStop;
  if (!stopped) {
    FQueuedBytes += block.Bytes.capacity();
    FQueue.push_back(std::move(block));
  }
  ReleaseSRWLockExclusive(&FLock);
  WakeAllConditionVariable(&FChanged);
  return !stopped;
}

void TPayloadPrefetch::Run() {
  HANDLE file = INVALID_HANDLE_VALUE;
  std::wstring openError;
  try {
    file = OpenForPieces(FFileName);
  } catch (const EInOutError& e) {
    openError = e.Message();
  }
  // Both buffers live across jobs: most payloads are small.
  std::string block, buffer(kBlockBytes, '\0');
  block.reserve(kBlockBytes);
  try {
    for (std::size_t i = 0; i < FJobs.size(); ++i) {
      TBlock end;
      end.Job = i;
      try {
        if (file == INVALID_HANDLE_VALUE) throw EInOutError(openError);
        end.Checksum = DecodeJob(file, i, block, buffer);
        end.End = TEnd::Done;
      } catch (const EZlibError& e) {
        end.End = TEnd::Damaged;
        end.Message = e.Message();
      } catch (const std::exception& e) {
        end.End = TEnd::ReadFailed;
        end.Message = ExceptionMessage(e);
      }
      end.Bytes.assign(block);  // the last piece of a small file holds no more memory than it needs
      block.clear();
      if (!Push(std::move(end))) break;
    }
  } catch (const TStopped&) {
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

uint32_t TPayloadPrefetch::DecodeJob(HANDLE file, std::size_t index, std::string& block, std::string& buffer) {
  const TJob& job = FJobs[index];
  uint64_t written = 0;
  TPackageDecoder decoder([&](const char* data, std::size_t size) {
    CheckContentLimit(written += size, job.Limit);
    while (size > 0) {
      const std::size_t take = std::min(size, kBlockBytes - block.size());
      block.append(data, take);
      data += take;
      size -= take;
      if (block.size() == kBlockBytes) {
        TBlock full;
        full.Job = index;
        full.Bytes = std::move(block);
        block = std::string();
        block.reserve(kBlockBytes);
        if (!Push(std::move(full))) throw TStopped{};
      }
    }
  });
  ReadFileRange(file, FFileName, job.Offset, job.Size, buffer,
                [&](const char* data, std::size_t size) { decoder.Write(data, size); });
  decoder.Finish();
  return decoder.ContentAdler32();
}

uint32_t TPayloadPrefetch::Take(std::size_t job, const TByteSink& sink) {
  for (;;) {
    AcquireSRWLockExclusive(&FLock);
    while (FQueue.empty() && !FFinished) SleepConditionVariableSRW(&FChanged, &FLock, INFINITE, 0);
    if (FQueue.empty() || FQueue.front().Job > job) {  // taken before: its content is gone
      ReleaseSRWLockExclusive(&FLock);
      throw EInOutError(Format(L"Cannot read file \"%s\"", {FFileName}));
    }
    TBlock block = std::move(FQueue.front());
    FQueue.pop_front();
    FQueuedBytes -= block.Bytes.capacity();
    ReleaseSRWLockExclusive(&FLock);
    WakeAllConditionVariable(&FChanged);
    if (block.Job < job) continue;  // passed over, or left by a failed write
    if (!block.Bytes.empty()) sink(block.Bytes.data(), block.Bytes.size());
    switch (block.End) {
      case TEnd::None:
        continue;
      case TEnd::Done:
        return block.Checksum;
      case TEnd::Damaged:
        throw EZlibError(block.Message);
      case TEnd::ReadFailed:
        throw EInOutError(block.Message);
    }
  }
}
