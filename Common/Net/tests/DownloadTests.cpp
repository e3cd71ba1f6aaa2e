// TNvDownload against the loopback HTTP server of netserver.py, whose served
// files can be cut off, stalled, served without ranges or without
// validators (see serve_file there): what arrives in the file is the served
// file byte for byte, however often the transfer breaks, or the download
// ends after its tries.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "NetTestEnv.h"
#include "NvDownload.h"
#include "NvExceptions.h"
#include "NvRegKey.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"

namespace {

using namespace nvnet;

const TNetConfig& Config() { return TNetConfig::Get(); }

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

class DownloadTest : public ::testing::Test {
protected:
  static constexpr std::size_t kSize = 3 << 20;

  void SetUp() override {
    ASSERT_FALSE(Config().Values.empty()) << "the loopback servers are not running: no net.ini in " << Config().Dir;
    TNvHttpProxy none;
    GlobalHttpProxy()->Assign(&none);
    FServed = UnixToWine(Config().Values.at("www")) + L"\\download-test.bin";
    FContent = RandomBytes(kSize, 11);
    std::ofstream(FServed.c_str(), std::ios::binary).write(FContent.data(), static_cast<std::streamsize>(FContent.size()));
    FTarget = TNvWinfn::GetTempDir() + TNvStrfn::NewGuidString() + L".part";
  }
  void TearDown() override {
    DeleteFileW(FServed.c_str());
    DeleteFileW(FTarget.c_str());
  }
  // The served file's address with these faults, unique to this run (the
  // server counts the requests of each address).
  static std::wstring Address(const std::wstring& faults) {
    return Config().HttpUrl(L"/files/download-test.bin?" + faults + (faults.empty() ? L"" : L"&") + L"run=" +
                            TNvStrfn::NewGuidString().substr(1, 36));
  }
  // The requests the server logged for url: all of them, or those that
  // asked for a range (logged with " [bytes=...]").
  static std::size_t Requests(const std::wstring& url, bool ranges = false) {
    const std::string path = Utf8Encode(url.substr(url.find(L"/files/")));
    return CountOf(ReadFileBytes(Config().File("requests.log")), "GET " + path + (ranges ? " [bytes=" : ""));
  }

  std::wstring FServed, FTarget;
  std::string FContent;
};

// What a download reported through its events.
struct TSeen {
  std::string Data;  // OnData's pieces since the last restart
  int Restarts = 0;
  std::vector<int> Pauses;
  int64_t LastWork = -1;
  void Attach(TNvDownload& d) {
    d.OnData = [this](const char* p, std::size_t n) { Data.append(p, n); };
    d.OnRestart = [this] {
      ++Restarts;
      Data.clear();
    };
    d.OnRetry = [this](int pause, int, const std::wstring&) { Pauses.push_back(pause); };
    d.OnWork = [this](TNvHttp*, TWorkMode, int64_t n) { LastWork = n; };
  }
};

}  // namespace

TEST_F(DownloadTest, BrokenTransfersResumeIntoTheWholeFile) {
  struct TCase {
    const char* Name;
    std::wstring Faults;
    std::size_t Requests;  // GETs of the address in all
    std::size_t Ranges;    // of which asked for the rest of the file
    int Restarts;          // times the file started over
    int64_t ProgressReset = 1 << 20;
  };
  const TCase cases[] = {
      {"no fault", L"", 1, 0, 0},
      {"cut once", L"cut=1000000", 2, 1, 0},
      {"cut three times", L"cut=700000,1500000,2900000", 4, 3, 0},
      // A server that ignores Range answers 200: the file starts over.
      {"no ranges", L"cut=1000000&norange=1", 2, 1, 1},
      // Without ETag or Last-Modified nothing may be resumed.
      {"no validator", L"cut=1000000&novalidator=1", 2, 0, 1},
      // Breaks that each bring new bytes go on past the three pauses.
      {"many breaks with progress", L"cut=400000,800000,1200000,1600000,2000000,2400000", 7, 6, 0, 300000},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::wstring url = Address(c.Faults);
    TSeen seen;
    {
      TNvDownload download(url, FTarget);
      download.RetryPauses = {10, 20, 40};
      download.ProgressReset = c.ProgressReset;
      seen.Attach(download);
      ASSERT_TRUE(download.Run()) << Utf8Encode(download.ErrorMessage);
      EXPECT_TRUE(download.Complete());
      EXPECT_EQ(download.Received(), static_cast<int64_t>(kSize));
      EXPECT_EQ(download.Total(), static_cast<int64_t>(kSize));
      EXPECT_EQ(seen.LastWork, static_cast<int64_t>(kSize));
      // OnData saw exactly what the file holds, in order.
      EXPECT_TRUE(seen.Data == FContent);
      download.Keep();
    }
    EXPECT_TRUE(ReadFileBytes(FTarget) == FContent);
    EXPECT_EQ(Requests(url), c.Requests);
    EXPECT_EQ(Requests(url, true), c.Ranges);
    EXPECT_EQ(seen.Restarts, c.Restarts);
    DeleteFileW(FTarget.c_str());
  }
}

TEST_F(DownloadTest, ServerThatKeepsCuttingEndsTheRunAfterEveryPauseAndALaterRunResumes) {
  // Four answers in a row end at the same byte: the first try and the three
  // after the pauses; the fifth answer is whole.
  const std::wstring url = Address(L"cut=1500000,1500000,1500000,1500000");
  TNvDownload download(url, FTarget);
  download.RetryPauses = {10, 20, 40};
  TSeen seen;
  seen.Attach(download);
  EXPECT_FALSE(download.Run());
  EXPECT_NE(download.ErrorMessage.find(L"Connection closed"), std::wstring::npos) << Utf8Encode(download.ErrorMessage);
  EXPECT_EQ(seen.Pauses, (std::vector<int>{10, 20, 40}));
  EXPECT_EQ(Requests(url), 4u);
  EXPECT_EQ(download.Received(), 1500000);
  EXPECT_FALSE(download.Complete());
  // The part stays in the file, held against other writers.
  HANDLE other = CreateFileW(FTarget.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE) << "another program may write the download";
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);

  // A later run goes on from there.
  ASSERT_TRUE(download.Run()) << Utf8Encode(download.ErrorMessage);
  EXPECT_EQ(Requests(url), 5u);
  EXPECT_EQ(seen.Restarts, 0);
  EXPECT_TRUE(seen.Data == FContent);
  download.Discard();
  EXPECT_EQ(GetFileAttributesW(FTarget.c_str()), INVALID_FILE_ATTRIBUTES) << "a discarded download stays";
}

TEST_F(DownloadTest, StalledBodyIsResumedAfterTheSilenceLimit) {
  const std::wstring url = Address(L"cut=1000000&stall=1&hold=20");
  TNvDownload download(url, FTarget);
  download.RetryPauses = {10};
  download.Http.SetReceiveTimeout(1500);
  ASSERT_TRUE(download.Run()) << Utf8Encode(download.ErrorMessage);
  download.Keep();
  EXPECT_TRUE(ReadFileBytes(FTarget) == FContent);
  EXPECT_EQ(Requests(url), 2u);
  // The kept file is still held: read, never changed or swapped underneath.
  HANDLE writer = CreateFileW(FTarget.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "another program may change the kept download";
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_FALSE(MoveFileW(FTarget.c_str(), (FTarget + L".moved").c_str())) << "the kept download can be renamed";
}

TEST_F(DownloadTest, FailureBeforeTheBodyIsNotRetriedAndTheFileGoesWithTheObject) {
  const std::wstring url = Config().HttpUrl(L"/files/no-such-file.bin?run=" + TNvStrfn::NewGuidString().substr(1, 36));
  {
    TNvDownload download(url, FTarget);
    TSeen seen;
    seen.Attach(download);
    EXPECT_FALSE(download.Run());
    EXPECT_NE(download.ErrorMessage.find(L"404"), std::wstring::npos) << Utf8Encode(download.ErrorMessage);
    EXPECT_TRUE(seen.Pauses.empty());
    EXPECT_EQ(Requests(url), 1u);
    EXPECT_NE(GetFileAttributesW(FTarget.c_str()), INVALID_FILE_ATTRIBUTES);
  }
  EXPECT_EQ(GetFileAttributesW(FTarget.c_str()), INVALID_FILE_ATTRIBUTES) << "a download left its file behind";
}

TEST_F(DownloadTest, ExceptionOfTheReceiverEndsTheRunAsItIs) {
  TNvDownload download(Address(L""), FTarget);
  download.OnData = [&](const char*, std::size_t) {
    if (download.Received() > 500000) throw Exception(L"enough");
  };
  try {
    download.Run();
    ADD_FAILURE() << "the receiver's exception did not come out";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"enough");
  }
  EXPECT_FALSE(download.Complete());
}

TEST_F(DownloadTest, FileThatCannotBeDeletedNowIsDeletedAtTheNextRestart) {
  const std::wstring kSession = L"System\\CurrentControlSet\\Control\\Session Manager";
  const std::wstring kPending = L"PendingFileRenameOperations";
  TNvRegKey session;
  ASSERT_TRUE(session.Open(HKEY_LOCAL_MACHINE, kSession));
  uint32_t type = 0;
  std::string before;
  const bool had = session.ReadRaw(kPending, type, before);
  std::ofstream(FTarget.c_str(), std::ios::binary) << "part";
  // Another program holds it without letting it be deleted.
  HANDLE holder = CreateFileW(FTarget.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(DeleteFileNowOrAtRestart(FTarget));
  std::string after;
  ASSERT_TRUE(session.ReadRaw(kPending, type, after));
  const std::string name(reinterpret_cast<const char*>(FTarget.c_str()), FTarget.size() * sizeof(wchar_t));
  EXPECT_NE(after.find(name), std::string::npos) << "the file is not scheduled for deletion at restart";
  CloseHandle(holder);
  if (had)
    session.WriteRaw(kPending, type, before);
  else
    session.DeleteValue(kPending);
  // A file that is gone already is no failure.
  DeleteFileW(FTarget.c_str());
  EXPECT_TRUE(DeleteFileNowOrAtRestart(FTarget));
}
