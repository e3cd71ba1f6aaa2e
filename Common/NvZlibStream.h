// Chunked zlib (RFC 1950) compression and decompression over bounded buffers.
// Input is fed in pieces of any size; output leaves through a sink in pieces
// of at most the chunk size, so memory use does not grow with the data.
// Failures raise EZlibError with a message beginning "Compression error: " or
// "Decompression error: ".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "NvStream.h"

// Receives one piece of output; a throwing sink aborts the operation.
using TByteSink = std::function<void(const char* data, std::size_t size)>;

// Sinks that append to a byte string or write at a memory stream's position.
TByteSink StringSink(std::string& out);
TByteSink MemoryStreamSink(TMemoryStream& out);

// The output piece size of both directions unless given otherwise.
constexpr std::size_t kZlibChunkSize = 64 * 1024;

// One zlib stream: 15-bit window, memory level 8, default strategy.
class TZlibDeflater {
public:
  // level 0..9; raises EZlibError when zlib cannot start.
  explicit TZlibDeflater(TByteSink sink, int level = 9, std::size_t chunkSize = kZlibChunkSize);
  ~TZlibDeflater();
  TZlibDeflater(const TZlibDeflater&) = delete;
  TZlibDeflater& operator=(const TZlibDeflater&) = delete;

  // Compresses the next plain bytes; not allowed after Finish.
  void Write(const void* data, std::size_t size);
  // Ends the stream (checksum included) and hands out the rest.
  void Finish();
  uint64_t BytesIn() const { return FBytesIn; }

private:
  void Run(int flush);
  struct TState;
  std::unique_ptr<TState> FState;
  TByteSink FSink;
  std::string FBuffer;
  uint64_t FBytesIn = 0;
  bool FFinished = false;
};

// One zlib stream; bytes after its end are taken but ignored.
class TZlibInflater {
public:
  explicit TZlibInflater(TByteSink sink, std::size_t chunkSize = kZlibChunkSize);
  ~TZlibInflater();
  TZlibInflater(const TZlibInflater&) = delete;
  TZlibInflater& operator=(const TZlibInflater&) = delete;

  // Inflates the next compressed bytes; damaged data raises EZlibError, and
  // so does every later call.
  void Write(const void* data, std::size_t size);
  // Checks that the stream was complete; a stream cut short raises
  // EZlibError. An inflater that was given no byte at all counts as complete
  // (empty data stands for empty content).
  void Finish();
  // The end of the stream, checksum verified, has been reached.
  bool StreamEnded() const { return FEnded; }
  uint64_t BytesIn() const { return FBytesIn; }
  uint64_t BytesOut() const { return FBytesOut; }
  // The Adler-32 of the content, as the stream's trailer gives it (and the
  // inflater has verified): valid once the stream has ended; 1, the Adler-32
  // of no bytes, for an inflater given no bytes.
  uint32_t ContentAdler32() const { return FAdler; }

private:
  [[noreturn]] void Fail(const std::wstring& message);
  struct TState;
  std::unique_ptr<TState> FState;
  TByteSink FSink;
  std::string FBuffer;
  uint64_t FBytesIn = 0, FBytesOut = 0;
  bool FEnded = false, FFailed = false;
  uint32_t FAdler = 1;
};

// Whole-buffer forms over the classes above.
std::string ZlibCompress(const void* data, std::size_t size, int level = 9);
std::string ZlibDecompress(const void* data, std::size_t size);
