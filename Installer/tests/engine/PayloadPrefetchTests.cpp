// Payloads decoded ahead on their own thread: content in order, jobs passed
// over or left half-taken, damaged data and content above its limit.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NvExceptions.h"
#include "NvResourceModule.h"
#include "PackageCodec.h"
#include "PackageFormat.h"
#include "PayloadPrefetch.h"
#include "TestFiles.h"

namespace {

std::string Noise(std::size_t size, uint32_t seed) {
  std::string s(size, '\0');
  for (char& c : s) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return s;
}

}  // namespace

TEST(PayloadPrefetch, HandsOutEachJobInOrderWhateverWasLeftBefore) {
  const std::wstring dir = nvtest::FreshDir(L"prefetch");
  const std::wstring package = dir + L"package.exe";
  wchar_t self[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
  ASSERT_TRUE(CopyFileW(self, package.c_str(), FALSE));

  // Larger than the read-ahead window, so that the thread waits for the taker.
  const std::vector<std::string> plain = {"small", Noise(3 * TPayloadPrefetch::kAheadBytes, 7),
                                          Noise(100000, 5), Noise(700000, 9), "tail"};
  std::vector<std::string> payloads;
  for (const std::string& p : plain) payloads.push_back(EncodePackagePayload(p, 1));
  payloads[2][payloads[2].size() / 2] ^= 0x5A;  // damaged
  HANDLE update = BeginUpdateResourceW(package.c_str(), FALSE);
  ASSERT_NE(update, nullptr);
  for (std::size_t i = 0; i < payloads.size(); ++i)
    ASSERT_TRUE(UpdateResourceW(update, RT_RCDATA, (L"P" + std::to_wstring(i)).c_str(), 0, payloads[i].data(),
                                static_cast<DWORD>(payloads[i].size())));
  ASSERT_TRUE(EndUpdateResourceW(update, FALSE));

  TNvResourceModule module;
  ASSERT_TRUE(module.Open(package));
  std::vector<TPayloadPrefetch::TJob> jobs;
  for (std::size_t i = 0; i < plain.size(); ++i) {
    TPayloadPrefetch::TJob job;
    ASSERT_TRUE(module.Locate(L"P" + std::to_wstring(i), PackageResourceType, job.Offset, job.Size));
    job.Limit = plain[i].size();
    jobs.push_back(job);
  }
  jobs[3].Limit = plain[3].size() - 1;  // the content is one byte more than allowed

  TPayloadPrefetch prefetch(module.FileName(), jobs);
  ASSERT_TRUE(prefetch.Started());
  auto take = [&](std::size_t job) {
    std::string out;
    prefetch.Take(job, [&](const char* data, std::size_t size) { out.append(data, size); });
    return out;
  };
  EXPECT_EQ(take(0), plain[0]);
  // A sink that fails after the first piece leaves the rest of the job behind.
  std::size_t pieces = 0;
  EXPECT_THROW(prefetch.Take(1, [&](const char*, std::size_t) {
    if (++pieces == 1) throw EInOutError(L"disk full");
  }),
               EInOutError);
  try {
    take(2);
    ADD_FAILURE() << "damaged payload decoded";
  } catch (const EZlibError& e) {
    EXPECT_EQ(e.Message().rfind(L"Decompression error", 0), 0u) << Utf8Encode(e.Message());
  }
  try {
    take(3);
    ADD_FAILURE() << "content above its limit accepted";
  } catch (const EZlibError& e) {
    EXPECT_NE(e.Message().find(L"larger than the file item says"), std::wstring::npos) << Utf8Encode(e.Message());
  }
  EXPECT_EQ(take(4), plain[4]);
  // A job taken before cannot be taken again (its content is gone).
  EXPECT_THROW(take(4), EInOutError);
}
