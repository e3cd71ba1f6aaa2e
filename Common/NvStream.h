// An in-memory byte stream: the container that package payloads, stored
// projects and downloaded bodies pass through.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

class TMemoryStream {
public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes) : FData(std::move(bytes)) {}

  // The whole content, independent of the position.
  std::string& Bytes() { return FData; }
  const std::string& Bytes() const { return FData; }
  std::size_t Size() const { return FData.size(); }

  std::size_t Position() const { return FPosition; }
  // Positions beyond the end are clamped to the end.
  void SetPosition(std::size_t pos) { FPosition = pos > FData.size() ? FData.size() : pos; }
  void Rewind() { FPosition = 0; }

  // Empties the stream: size and position 0.
  void Clear() {
    FData.clear();
    FPosition = 0;
  }
  // Replaces the content; position 0.
  void Assign(std::string bytes) {
    FData = std::move(bytes);
    FPosition = 0;
  }

  // Reads up to n bytes from the position; returns the count read.
  std::size_t Read(void* buffer, std::size_t n) {
    std::size_t avail = FData.size() - FPosition;
    if (n > avail) n = avail;
    if (n) std::memcpy(buffer, FData.data() + FPosition, n);
    FPosition += n;
    return n;
  }
  // The bytes from the position to the end; the position moves to the end.
  std::string ReadRest() {
    std::string rest = FData.substr(FPosition);
    FPosition = FData.size();
    return rest;
  }
  // Writes at the position, overwriting and growing as needed.
  void Write(const void* buffer, std::size_t n) {
    if (FPosition + n > FData.size()) FData.resize(FPosition + n);
    if (n) std::memcpy(FData.data() + FPosition, buffer, n);
    FPosition += n;
  }
  void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }

private:
  std::string FData;
  std::size_t FPosition = 0;
};
