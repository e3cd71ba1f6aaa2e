// A download into a file that survives the network: the body goes to the file
// as it arrives (memory does not grow with it), a transfer that breaks is
// resumed from the bytes already in the file, and the file is held against
// other writers from its creation until it is kept or discarded.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "NvIndyUtils.h"

class TNvDownload {
public:
  // Nothing happens before Run; fileName's folders are made then.
  TNvDownload(std::wstring url, std::wstring fileName);
  // Discards the file unless it was kept.
  ~TNvDownload();
  TNvDownload(const TNvDownload&) = delete;
  TNvDownload& operator=(const TNvDownload&) = delete;

  // Fetches what the file still lacks; true when the whole body is in it
  // (the file then stays open, see FileHandle). A transfer that breaks in
  // the body (the connection closes or goes silent midway) is tried again
  // after each pause of RetryPauses in turn, from the bytes in the file: a
  // Range request with If-Range on the first answer's ETag (a strong one),
  // else on its Last-Modified date; without either, or when the server
  // answers 200, the file starts over. A try that added ProgressReset bytes
  // or more starts the pauses over. Any other failure (no connection, an
  // error status) ends the run at once. False with ErrorMessage (the last
  // try's); the file keeps what arrived, and a later Run goes on from there.
  // A file that cannot be created or written raises EInOutError naming it;
  // an exception of OnData or OnRetry comes out as it is.
  bool Run();

  const std::wstring& Url() const { return FUrl; }
  const std::wstring& FileName() const { return FFileName; }
  // The bytes in the file, and the whole size when known (-1: unknown).
  int64_t Received() const { return FReceived; }
  int64_t Total() const { return FTotal; }
  bool Complete() const { return FComplete; }
  // The file, open for reading and writing and shared for reading only (no
  // other writer, no deletion), from the first Run until Keep or Discard.
  HANDLE FileHandle() const { return FFile; }

  // Leaves the file on disk for the caller (this object's end does not
  // delete it), still held for reading only: others may read it but not
  // write, delete or rename it until Discard or the end of this object.
  void Keep();
  // Closes and deletes the file (scheduled for deletion at the next restart
  // when it cannot be deleted now); nothing when there is none.
  void Discard();

  std::wstring ErrorMessage;
  // The transfer client (its time-outs may be changed).
  TNvHttp Http;
  // The pauses before the automatic tries after a break, in milliseconds.
  std::vector<int> RetryPauses{2000, 4000, 8000};
  int64_t ProgressReset = 1 << 20;

  // The file starts over from its first byte: what OnData gave so far is void.
  std::function<void()> OnRestart;
  // Every piece written to the file, in file order.
  TNvHttp::TBodySink OnData;
  // Progress of the file: OnWorkBegin with the whole size (0 when unknown)
  // when a try's answer arrives, OnWork with the bytes in the file.
  TWorkBeginEvent OnWorkBegin;
  TWorkEvent OnWork;
  // Before an automatic try: the pause to make (the handler waits it;
  // without one the thread sleeps), the number of the try, the failure.
  std::function<void(int pause, int attempt, const std::wstring& reason)> OnRetry;

private:
  void OpenFile();
  // Empties the file and reports OnRestart.
  void StartOver();
  void Write(const char* data, std::size_t size);

  std::wstring FUrl, FFileName;
  HANDLE FFile = INVALID_HANDLE_VALUE;
  bool FKept = false;
  bool FComplete = false;
  int64_t FReceived = 0;
  int64_t FTotal = -1;
  std::wstring FValidator;  // If-Range of the resumption: a strong ETag or the Last-Modified date
};

// Deletes the file, or schedules it for deletion at the next restart when it
// cannot be deleted now (in use); false when neither worked. A missing file
// is gone already (true).
bool DeleteFileNowOrAtRestart(const std::wstring& fileName);
