// A full disk met by the output queue is reported against the file that
// failed: the queue finishes files behind the run, so by the time the
// failure shows the run may have reached later entries.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "../archive/archive_test_util.h"
#include "platform/result_codes.h"

namespace tvk {
namespace {

using namespace testutil;


bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

using FailedOutput = ArchiveTest;

TEST_F(FailedOutput, TheQueueNamesTheFileWhoseWriteFailed) {
  Bytes big(300000, 'b');
  std::string made = Internal(dir_ / "made.bin");
  std::string own = Internal(dir_ / "own.bin");
  // Everything below the test's folder: the output calls walk from there.
  const uint32_t root = static_cast<uint32_t>(Internal(dir_).size() + 1);
  int status = WithFileSizeLimit(64 * 1024, [&] {
    OutputStamp stamp{};
    // A file the queue makes, then one behind it that would have fitted.
    if (!OutputQueueOpen(Internal(dir_ / "a.bin").c_str(), root, 0644)) return 0;  // no second thread
    OutputQueueWrite(TVK_QUEUED_FILE, big.data(), 10);
    OutputQueueFinish(TVK_QUEUED_FILE, stamp, Internal(dir_ / "a.bin").c_str(), root);
    OutputQueueOpen(made.c_str(), root, 0644);
    OutputQueueWrite(TVK_QUEUED_FILE, big.data(), static_cast<uint32_t>(big.size()));
    OutputQueueFinish(TVK_QUEUED_FILE, stamp, made.c_str(), root);
    OutputQueueOpen(Internal(dir_ / "later.bin").c_str(), root, 0644);
    OutputQueueWrite(TVK_QUEUED_FILE, big.data(), 10);
    OutputQueueFinish(TVK_QUEUED_FILE, stamp, Internal(dir_ / "later.bin").c_str(), root);
    if (OutputQueueWait() != kErrWrite) return 1;
    char failed[kPathSize];
    OutputQueueFailedPath(failed, sizeof(failed));
    if (made != failed) return 2;
    OutputQueueClear();
    OutputQueueFailedPath(failed, sizeof(failed));
    if (failed[0]) return 3;

    // A file the caller made, its bytes and its close through the queue.
    FileHandle h = CreateNewFile(own.c_str(), 0644);
    if (h == TVK_INVALID_FILE) return 4;
    OutputQueueWrite(h, big.data(), static_cast<uint32_t>(big.size()));
    OutputQueueFinish(h, stamp, own.c_str(), root);
    if (OutputQueueWait() != kErrWrite) return 5;
    OutputQueueFailedPath(failed, sizeof(failed));
    if (own != failed) return 6;
    OutputQueueClear();
    return 0;
  });
  EXPECT_EQ(status, 0);
}

TEST_F(FailedOutput, TheReaderNamesTheFileThatFailedNotTheLastEntryStarted) {
  Bytes big(1u << 20);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
  fs::path a = Write({}, {{File("a.txt"), B("finished")},
                          {File("c.bin"), big},
                          {File("d.bin"), Bytes(100, 'd')},
                          {File("e.bin"), Bytes(100, 'e')}});
  for (bool ask : {true, false}) {
    SCOPED_TRACE(ask);
    int status = WithFileSizeLimit(256 * 1024, [&] {
      Host host;
      ExtractOptions o = Options();
      // Without the question the reader makes the files and the queue only
      // writes and closes them.
      o.replaceWithoutAsking = ask ? 0 : 1;
      uint32_t err = Extract(a, &host, {"*.*"}, &o);
      std::string failed = reader_.FailedOutputPath();
      reader_.Close();
      if (err != kErrWrite) return 1;
      if (!EndsWith(failed, "c.bin")) return 2;
      if (fs::exists(out_ / "c.bin")) return 3;
      return 0;
    });
    EXPECT_EQ(status, 0);
    ForceRemove(out_);
  }
  // A run that ends well names nothing.
  Host host;
  ASSERT_EQ(Extract(a, &host), 0u);
  EXPECT_STREQ(reader_.FailedOutputPath(), "");
}

}  // namespace
}  // namespace tvk
#endif
