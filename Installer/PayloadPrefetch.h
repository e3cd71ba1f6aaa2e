// Decoding of the package's payloads ahead of their writing: a thread of its
// own reads and decodes the payloads of the file items in list order while
// the user-interface thread creates and writes the files. Only decoding moves
// off that thread; every file, message and dialog stays where it was, in the
// same order. At most kAheadBytes of decoded content wait at a time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "NvZlibStream.h"

// The check of a payload's decoded size against its file item's: content
// that grows past limit is a damaged payload (EZlibError).
void CheckContentLimit(uint64_t written, uint64_t limit);

class TPayloadPrefetch {
public:
  // One payload: where its bytes lie in the package file, and the most
  // content it may decode to (more is a damaged payload).
  struct TJob {
    uint64_t Offset = 0;
    uint32_t Size = 0;
    uint64_t Limit = 0;
  };

  static constexpr std::size_t kAheadBytes = 2u << 20;
  static constexpr std::size_t kBlockBytes = 256u << 10;

  // Starts decoding jobs in order from packageFile.
  TPayloadPrefetch(const std::wstring& packageFile, std::vector<TJob> jobs);
  // False when the system gave no thread: nothing may be taken then.
  bool Started() const { return FThread != nullptr; }
  // Stops the thread (content not taken is dropped).
  ~TPayloadPrefetch();
  TPayloadPrefetch(const TPayloadPrefetch&) = delete;
  TPayloadPrefetch& operator=(const TPayloadPrefetch&) = delete;

  // Hands job's decoded content to sink in order. Jobs are taken in rising
  // order, each at most once; the content of jobs passed over, or left when
  // a sink raised, is dropped. A damaged payload raises EZlibError, a failed
  // read of the package EInOutError, each with the message the reading on
  // this thread would have given; an exception of the sink comes out as it is.
  // Returns the Adler-32 of the job's content.
  uint32_t Take(std::size_t job, const TByteSink& sink);

private:
  enum class TEnd { None, Done, Damaged, ReadFailed };
  struct TBlock {
    std::size_t Job = 0;
    std::string Bytes;
    TEnd End = TEnd::None;
    std::wstring Message;  // of a failed job
    uint32_t Checksum = 0;  // of a finished job: the content's Adler-32
  };

  static DWORD WINAPI ThreadMain(void* self);
  void Run();
  // No more blocks will come.
  void Finish();
  // Decodes one job, queueing full blocks; what is left for the job's last
  // block stays in block. buffer is the read buffer. Returns the content's
  // Adler-32.
  uint32_t DecodeJob(HANDLE file, std::size_t index, std::string& block, std::string& buffer);
  // Queues a block; false when the prefetch is being stopped.
  bool Push(TBlock block);

  std::wstring FFileName;
  std::vector<TJob> FJobs;
  SRWLOCK FLock = SRWLOCK_INIT;
  CONDITION_VARIABLE FChanged = CONDITION_VARIABLE_INIT;
  std::deque<TBlock> FQueue;
  std::size_t FQueuedBytes = 0;
  bool FStop = false;
  bool FFinished = false;  // the thread has queued the end of every job
  HANDLE FThread = nullptr;
  DWORD FThreadId = 0;
};
