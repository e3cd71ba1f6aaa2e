// Packing on several threads: same payloads in the same order whatever the
// thread count; each source read once; the first failure reported.
#include <gtest/gtest.h>

#include "PayloadCodec.h"
#include "PayloadCompressor.h"
#include "Progress.h"
#include "TestSupport.h"

using namespace nvbuilder;

namespace {

std::vector<TPackJob> MakeJobs(const test::TScratch& dir, int count) {
  std::vector<TPackJob> jobs;
  for (int i = 0; i < count; ++i) {
    auto path = dir / ("f" + std::to_string(i) + ".bin");
    test::WriteFile(path, i % 3 ? test::TextBytes(1000 + i * 997, i) : test::RandomBytes(500 + i * 13, i));
    TPackJob job;
    job.Source = path;
    jobs.push_back(job);
  }
  TPackJob inlineJob;
  inlineJob.HasContent = true;
  inlineJob.Content = "in-memory content";
  jobs.push_back(inlineJob);
  return jobs;
}

}  // namespace

TEST(PayloadCompressor, OutputDoesNotDependOnThreadCount) {
  test::TScratch dir;
  auto jobs1 = MakeJobs(dir, 40), jobs4 = MakeJobs(dir, 40);
  auto one = CompressAll(jobs1, 1, nullptr);
  auto four = CompressAll(jobs4, 4, nullptr);
  ASSERT_EQ(one.size(), 41u);
  ASSERT_EQ(four.size(), 41u);
  for (std::size_t i = 0; i < one.size(); ++i) {
    EXPECT_EQ(one[i].Payload, four[i].Payload) << i;
    EXPECT_EQ(one[i].PlainSize, four[i].PlainSize) << i;
  }
  for (int i = 0; i < 40; ++i)
    EXPECT_EQ(DecodePayload(four[i].Payload), ReadWholeFile(dir / ("f" + std::to_string(i) + ".bin"))) << i;
  EXPECT_EQ(DecodePayload(four[40].Payload), "in-memory content");
  EXPECT_EQ(four[40].PlainSize, 17u);
}

TEST(PayloadCompressor, ProgressCountsEveryFileAndByte) {
  test::TScratch dir;
  auto jobs = MakeJobs(dir, 12);
  uint64_t total = 0;
  for (auto& j : jobs) total += j.HasContent ? j.Content.size() : std::filesystem::file_size(j.Source);
  TProgress progress(TProgressMode::Quiet, stdout, jobs.size(), total);
  CompressAll(jobs, 3, &progress);
  EXPECT_EQ(progress.FilesDone(), 13u);
  EXPECT_EQ(progress.BytesDone(), total);
}

TEST(PayloadCompressor, MissingSourceNamesTheFirstFailingFile) {
  test::TScratch dir;
  auto jobs = MakeJobs(dir, 20);
  std::filesystem::remove(jobs[5].Source);
  std::filesystem::remove(jobs[15].Source);
  for (unsigned threads : {1u, 2u, 8u}) {
    auto work = jobs;
    try {
      CompressAll(work, threads, nullptr);
      FAIL() << "no error";
    } catch (const EBuildError& e) {
      EXPECT_NE(std::string(e.what()).find("f5.bin"), std::string::npos) << e.what();
    }
  }
}

TEST(PayloadCompressor, NoJobsIsNoWork) {
  std::vector<TPackJob> none;
  EXPECT_TRUE(CompressAll(none, 4, nullptr).empty());
}
