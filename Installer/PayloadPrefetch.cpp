#include "PayloadPrefetch.h"

#include <algorithm>

#include "NvExceptions.h"
#include "NvSysError.h"
#include "NvSysUtils.h"
#include "PackageCodec.h"

namespace {

// A read of the package failed: its message goes to the writing thread.
class EReadFailed {
public:
  std::wstring Message;
};

}  // namespace

TPayloadPrefetch::TPayloadPrefetch(const std::wstring& packageFile, std::vector<TJob> jobs)
    : FFileName(packageFile), FJobs(std::move(jobs)) {
  FThread = CreateThread(nullptr, 0, &TPayloadPrefetch::ThreadMain, this, 0, nullptr);
}

TPayloadPrefetch::~TPayloadPrefetch() {
  AcquireSRWLockExclusive(&FLock);
  FStop = true;
  ReleaseSRWLockExclusive(&FLock);
  WakeAllConditionVariable(&FChanged);
  if (FThread) {
    WaitForSingleObject(FThread, INFINITE);
    CloseHandle(FThread);
  }
}

DWORD WINAPI TPayloadPrefetch::ThreadMain(void* self) {
  static_cast<TPayloadPrefetch*>(self)->Run();
  return 0;
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
  HANDLE file = CreateFileW(FFileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  const std::wstring openError =
      file == INVALID_HANDLE_VALUE
          ? Format(L"Cannot open file \"%s\". %s", {FFileName, SysErrorMessage(GetLastError())})
          : std::wstring();
  // Both buffers live across jobs: most payloads are small.
  std::string block, buffer(kBlockBytes, '\0');
  block.reserve(kBlockBytes);
  for (std::size_t i = 0; i < FJobs.size(); ++i) {
    TBlock end;
    end.Job = i;
    try {
      if (file == INVALID_HANDLE_VALUE) throw EReadFailed{openError};
      DecodeJob(file, i, block, buffer);
      end.End = TEnd::Done;
    } catch (const EZlibError& e) {
      end.End = TEnd::Damaged;
      end.Message = e.Message();
    } catch (const EReadFailed& e) {
      end.End = TEnd::ReadFailed;
      end.Message = e.Message;
    } catch (const std::exception& e) {
      end.End = TEnd::ReadFailed;
      end.Message = ExceptionMessage(e);
    }
    end.Bytes.assign(block);  // the last piece of a small file holds no more memory than it needs
    block.clear();
    if (!Push(std::move(end))) break;
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  AcquireSRWLockExclusive(&FLock);
  FFinished = true;
  ReleaseSRWLockExclusive(&FLock);
  WakeAllConditionVariable(&FChanged);
}

void TPayloadPrefetch::DecodeJob(HANDLE file, std::size_t index, std::string& block, std::string& buffer) {
  const TJob& job = FJobs[index];
  bool stopped = false;
  uint64_t written = 0;
  TPackageDecoder decoder([&](const char* data, std::size_t size) {
    written += size;
    if (written > job.Limit) throw EZlibError(L"Decompression error: the content is larger than the file item says");
    while (size > 0 && !stopped) {
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
        stopped = !Push(std::move(full));
      }
    }
  });
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(job.Offset);
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN))
    throw EReadFailed{Format(L"Cannot read file \"%s\". %s", {FFileName, SysErrorMessage(GetLastError())})};
  uint32_t left = job.Size;
  while (left > 0 && !stopped) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), left));
    if (!ReadFile(file, buffer.data(), want, &got, nullptr))
      throw EReadFailed{Format(L"Cannot read file \"%s\". %s", {FFileName, SysErrorMessage(GetLastError())})};
    if (got == 0) throw EReadFailed{Format(L"Cannot read file \"%s\". The file ends early", {FFileName})};
    decoder.Write(buffer.data(), got);
    left -= got;
  }
  if (!stopped) decoder.Finish();
}

void TPayloadPrefetch::Take(std::size_t job, const TByteSink& sink) {
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
        return;
      case TEnd::Damaged:
        throw EZlibError(block.Message);
      case TEnd::ReadFailed:
        throw EInOutError(block.Message);
    }
  }
}
