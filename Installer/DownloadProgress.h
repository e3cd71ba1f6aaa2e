// What the detail line says while the online stub downloads the full package:
// how much has arrived of how much, and the rate, refreshed a few times a
// second rather than at every network read.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>

// A size for people: "850 B", "12.0 KB", "120.5 MB", "1.25 GB" (1024-based).
std::wstring DownloadSizeText(int64_t bytes);

// "已下载 120.5 MB / 300.0 MB（2.4 MB/s）": total < 0 (unknown) leaves out
// " / TOTAL", bytesPerSecond < 0 (not measured yet) the rate.
std::wstring DownloadDetailText(int64_t received, int64_t total, double bytesPerSecond);

// "连接中断，N 秒后继续下载……": the wait before an automatic try (seconds
// rounded up).
std::wstring DownloadRetryText(int milliseconds);

// The download's progress as the detail line shows it. Times are
// milliseconds of a steady clock.
class TDownloadMeter {
public:
  // The detail line is rewritten at most this often.
  static constexpr uint64_t RefreshMs = 250;
  // The rate is measured over about this much of the recent past.
  static constexpr uint64_t WindowMs = 3000;

  // A new transfer begins at now with received bytes already in the file
  // (a resumption): the rate starts afresh.
  void Begin(uint64_t now, int64_t received);
  // The bytes in the file at now. True when the line is due for a refresh
  // (the first sample after Begin, then every RefreshMs).
  bool Sample(uint64_t now, int64_t received);
  // Bytes per second over the window; -1 before half a second of data.
  double Rate() const;

private:
  std::deque<std::pair<uint64_t, int64_t>> FSamples;  // (time, bytes), oldest first
  uint64_t FLastRefresh = 0;
  bool FRefreshed = false;
};
