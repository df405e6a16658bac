// Output files handed to the queue: bytes in order whatever the pieces,
// stamps after the last byte, and a failed write that takes its file and
// every later one with it, until the failure is cleared.
#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/result_codes.h"
#include "scratch_folder.h"

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using tvk_test::ReadWholeFile;
using tvk_test::ScratchFolder;

std::string Bytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

tvk::OutputStamp ExactStamp(uint64_t ticks) {
  tvk::OutputStamp stamp{};
  stamp.exact = 1;
  stamp.lastWrite.low = static_cast<uint32_t>(ticks);
  stamp.lastWrite.high = static_cast<uint32_t>(ticks >> 32);
  stamp.creation = stamp.lastAccess = stamp.lastWrite;
  return stamp;
}

// Hands the file over in pieces of varying size; true when it was made.
bool QueueFile(const std::string& path, const std::string& data, std::mt19937* rng, uint64_t ticks) {
  tvk::FileHandle h = tvk::CreateNewFile(path.c_str(), 0644);
  if (h == TVK_INVALID_FILE) return false;
  size_t at = 0;
  while (at < data.size()) {
    size_t piece = std::min<size_t>(data.size() - at, 1 + (*rng)() % (700 * 1024));
    tvk::OutputQueueWrite(h, data.data() + at, static_cast<uint32_t>(piece));
    at += piece;
  }
  // The folder holding it is the target here.
  tvk::OutputQueueFinish(h, ExactStamp(ticks), path.c_str(), static_cast<uint32_t>(path.rfind('\\') + 1));
  return true;
}

TEST(OutputQueue, ManyFilesArriveWholeAndStamped) {
  ScratchFolder dir;
  std::mt19937 rng(7);
  // Small files and files of several pieces; together several laps of the ring.
  std::vector<size_t> sizes;
  for (int i = 0; i < 150; ++i) sizes.push_back(rng() % 20000);
  sizes.push_back(0);
  sizes.push_back(3u << 20);
  sizes.push_back((1u << 20) + 17);
  const uint64_t ticks = 132000000000000000ull;  // 2019, whole seconds
  for (size_t i = 0; i < sizes.size(); ++i) {
    ASSERT_TRUE(QueueFile(dir / ("f" + std::to_string(i)), Bytes(sizes[i], static_cast<unsigned>(i)), &rng,
                          ticks + i * 10000000ull));
  }
  EXPECT_EQ(tvk::OutputQueueWait(), 0u);
  for (size_t i = 0; i < sizes.size(); ++i) {
    std::string path = dir / ("f" + std::to_string(i));
    EXPECT_TRUE(ReadWholeFile(path) == Bytes(sizes[i], static_cast<unsigned>(i))) << i;
    tvk::FindData data;
    ASSERT_EQ(tvk::FileFind(path.c_str(), &data), 1);
    uint64_t written = (static_cast<uint64_t>(data.lastWriteTime.high) << 32) | data.lastWriteTime.low;
    EXPECT_EQ(written, ticks + i * 10000000ull) << i;
  }
}

#if !defined(_WIN32)
// The worker may already run when the process forks (a child has no copy of
// it), and a full disk shows as a file size limit.
TEST(OutputQueue, FailedWriteRemovesItsFileAndLaterOnesUntilCleared) {
  ScratchFolder dir;
  std::mt19937 rng(3);
  ASSERT_TRUE(QueueFile(dir / "before-fork", Bytes(5000, 1), &rng, 132000000000000000ull));
  ASSERT_EQ(tvk::OutputQueueWait(), 0u);
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit r{100000, 100000};
    if (setrlimit(RLIMIT_FSIZE, &r) != 0) _exit(90);
    std::mt19937 childRng(5);
    const uint64_t t = 132000000000000000ull;
    if (!QueueFile(dir / "first", Bytes(4000, 2), &childRng, t)) _exit(91);
    if (!QueueFile(dir / "too-big", Bytes(300000, 3), &childRng, t)) _exit(92);
    if (!QueueFile(dir / "after", Bytes(10, 4), &childRng, t)) _exit(93);
    if (tvk::OutputQueueWait() != tvk::kErrWrite) _exit(1);
    // Kept until cleared: nothing more is made meanwhile.
    if (!QueueFile(dir / "meanwhile", Bytes(10, 6), &childRng, t)) _exit(95);
    if (tvk::OutputQueueWait() != tvk::kErrWrite || tvk::FileExists((dir / "meanwhile").c_str())) _exit(2);
    tvk::OutputQueueClear();
    if (tvk::OutputQueueFailure() != 0) _exit(6);
    if (ReadWholeFile(dir / "first") != Bytes(4000, 2)) _exit(3);
    if (tvk::FileExists((dir / "too-big").c_str()) || tvk::FileExists((dir / "after").c_str())) _exit(4);
    // Afterwards the queue works again.
    if (!QueueFile(dir / "later", Bytes(3000, 5), &childRng, t)) _exit(94);
    if (tvk::OutputQueueWait() != 0 || ReadWholeFile(dir / "later") != Bytes(3000, 5)) _exit(5);
    _exit(0);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

}  // namespace
