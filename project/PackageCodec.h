// The package container: every package resource and uninstall data file is
// one zlib stream (15-bit window) whose byte i, counted from the start of the
// payload, is XORed with (i mod 255). Empty content is an empty payload and
// back. The encoder here writes level 9, memory level 8, default strategy;
// the builder's packer (Builder/PayloadEncoder.h) writes streams of its own
// choice of blocks, which decode the same way.
//
// The streaming classes take their input in pieces of any size and hand their
// output to a sink in pieces of at most the chunk size, so that a payload of
// any length is coded in a small, constant amount of memory. Damaged input
// raises EZlibError ("Decompression error: ..."); bytes after the end of the
// zlib stream are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "NvZlibStream.h"

// The compression level of every payload the builder and the installer write.
constexpr int kPackageLevel = 9;

// Applies the position mask to `size` bytes that stand at payload position
// `position`; the mask is its own inverse.
void MaskPayloadBytes(void* data, std::size_t size, uint64_t position);
// As MaskPayloadBytes, from source into dest (which may be the same memory).
void MaskPayloadCopy(void* dest, const void* source, std::size_t size, uint64_t position);

// Payload to plain content, fed in pieces.
class TPackageDecoder {
public:
  explicit TPackageDecoder(TByteSink sink, std::size_t chunkSize = kZlibChunkSize);
  TPackageDecoder(const TPackageDecoder&) = delete;
  TPackageDecoder& operator=(const TPackageDecoder&) = delete;

  // Decodes the next payload bytes; plain content goes to the sink. Damaged
  // data raises EZlibError, and so does every later call.
  void Write(const void* data, std::size_t size);
  // Raises EZlibError when the payload ended inside its zlib stream. A
  // decoder that was given no byte at all has decoded empty content.
  void Finish();
  uint64_t PayloadBytes() const { return FPosition; }
  uint64_t PlainBytes() const { return FInflater.BytesOut(); }
  // The Adler-32 of the content (after Finish), from the payload's own
  // trailer: a checksum of the file that costs nothing more to have.
  uint32_t ContentAdler32() const { return FInflater.ContentAdler32(); }

private:
  TZlibInflater FInflater;
  std::string FScratch;
  uint64_t FPosition = 0;
};

// Plain content to payload, fed in pieces.
class TPackageEncoder {
public:
  explicit TPackageEncoder(TByteSink sink, int level = kPackageLevel, std::size_t chunkSize = kZlibChunkSize);
  TPackageEncoder(const TPackageEncoder&) = delete;
  TPackageEncoder& operator=(const TPackageEncoder&) = delete;

  void Write(const void* data, std::size_t size);
  // Ends the payload. Content of no bytes gives no payload bytes at all.
  void Finish();
  uint64_t PayloadBytes() const { return FPosition; }

private:
  void Emit(const char* data, std::size_t size);
  TByteSink FSink;
  TZlibDeflater FDeflater;
  std::string FScratch;
  uint64_t FPosition = 0;
  bool FAnyInput = false;
};

// Whole-buffer forms.
std::string EncodePackagePayload(std::string_view plain, int level = kPackageLevel);
std::string DecodePackagePayload(std::string_view payload);
// Decodes a payload held in memory (a package resource) straight into a sink,
// in pieces of at most chunkSize bytes; nothing else is held in memory.
void DecodePackagePayload(const void* payload, std::size_t size, const TByteSink& sink,
                          std::size_t chunkSize = kZlibChunkSize);
