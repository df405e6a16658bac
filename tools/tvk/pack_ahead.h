// Packs the files of a non-solid archive on worker threads ahead of the
// writer, which takes them in the archive's order. In such an archive every
// entry starts from a fresh state, and each worker packs every file as if it
// were its first, so the archive is the same whichever worker took which
// file and however many there were. (One thread alone, -mt1, keeps the best
// level's habit of starting each entry from the statistics of the last.)
#ifndef TVK_TOOLS_PACK_AHEAD_H
#define TVK_TOOLS_PACK_AHEAD_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "writer/archive_writer.h"

namespace tvk::cli {

class PackAhead {
 public:
  // One file to pack: where it is, its name in messages, and the level's
  // method and window for its size.
  struct File {
    size_t item = 0;  // the caller's number for it
    std::string diskPath;
    std::string name;
    uint8_t method = 0;
    uint32_t dictCode = 0;
  };
  // What became of it. ok false: the file could not be read (error says
  // why); data is what was read, packed.method 0 means store it.
  struct Done {
    bool ok = false;
    std::string error;
    Bytes data;
    PackResult packed;
    std::vector<std::string> notices;  // repacked streams, said by the caller
    bool handBack = false;             // not packed: the caller packs data itself
  };

  using Reader = std::function<bool(const std::string& path, Bytes* data, std::string* error)>;

  // files in the order the writer takes them; threads workers (at least 2).
  // Files are read by the taking thread with read, at most memoryBudget
  // bytes of them ahead of the writer.
  PackAhead(std::vector<File> files, Reader read, int level, bool verify, unsigned threads,
            uint64_t memoryBudget);
  ~PackAhead();
  PackAhead(const PackAhead&) = delete;
  PackAhead& operator=(const PackAhead&) = delete;

  // The file of this item number, once packed. Files of earlier numbers
  // not taken are dropped: the caller skipped them.
  Done Take(size_t item);

 private:
  struct Job {
    size_t index = 0;
    bool finished = false;
    Done done;
  };
  void Submit();
  void Work(int level, bool verify);

  std::vector<File> files_;
  Reader read_;
  uint64_t budget_;
  size_t maxJobs_;
  size_t nextToRead_ = 0;
  uint64_t aheadBytes_ = 0;  // read and not yet taken
  std::deque<std::shared_ptr<Job>> inOrder_;  // submitted, not yet taken
  std::deque<std::shared_ptr<Job>> queue_;    // waiting for a worker
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable finished_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

// The threads `tvk a` packs with when -mt does not say: the processors this
// process may run on.
unsigned DefaultPackThreads();

// The workers, of threads, that pack at a level in memoryLimit bytes (at
// least two: one would be no gain).
unsigned PackWorkersWithin(int level, unsigned threads, uint64_t memoryLimit);

}  // namespace tvk::cli

#endif
