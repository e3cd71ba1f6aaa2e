#include "DownloadProgress.h"

#include <cstdio>

namespace {

std::wstring OneDecimal(double value, const wchar_t* unit, int decimals = 1) {
  wchar_t text[64];
  std::swprintf(text, 64, L"%.*f %ls", decimals, value, unit);
  return text;
}

}  // namespace

std::wstring DownloadSizeText(int64_t bytes) {
  if (bytes < 0) bytes = 0;
  const double b = static_cast<double>(bytes);
  if (bytes < 1024) return std::to_wstring(bytes) + L" B";
  if (bytes < 1024 * 1024) return OneDecimal(b / 1024, L"KB");
  if (bytes < int64_t{1024} * 1024 * 1024) return OneDecimal(b / (1024 * 1024), L"MB");
  return OneDecimal(b / (1024.0 * 1024 * 1024), L"GB", 2);
}

std::wstring DownloadDetailText(int64_t received, int64_t total, double bytesPerSecond) {
  std::wstring text = L"已下载 " + DownloadSizeText(received);
  if (total >= 0) text += L" / " + DownloadSizeText(total);
  if (bytesPerSecond >= 0) text += L"（" + DownloadSizeText(static_cast<int64_t>(bytesPerSecond)) + L"/s）";
  return text;
}

std::wstring DownloadRetryText(int milliseconds) {
  const int seconds = milliseconds <= 0 ? 0 : (milliseconds + 999) / 1000;
  return L"连接中断，" + std::to_wstring(seconds) + L" 秒后继续下载……";
}

void TDownloadMeter::Begin(uint64_t now, int64_t received) {
  FSamples.clear();
  FSamples.emplace_back(now, received);
  FRefreshed = false;
}

bool TDownloadMeter::Sample(uint64_t now, int64_t received) {
  if (!FRefreshed || now - FLastRefresh >= RefreshMs) {
    FSamples.emplace_back(now, received);
    while (FSamples.size() > 2 && now - FSamples[1].first >= WindowMs) FSamples.pop_front();
    FRefreshed = true;
    FLastRefresh = now;
    return true;
  }
  return false;
}

double TDownloadMeter::Rate() const {
  if (FSamples.size() < 2) return -1;
  const auto& [t0, b0] = FSamples.front();
  const auto& [t1, b1] = FSamples.back();
  if (t1 - t0 < 500) return -1;
  return static_cast<double>(b1 - b0) * 1000.0 / static_cast<double>(t1 - t0);
}
