#include "tools/tvk/pack_ahead.h"

#include <algorithm>
#include <utility>

#include "tools/tvk/os.h"
#include "tools/tvk/packing.h"

namespace tvk::cli {

PackAhead::PackAhead(std::vector<File> files, Reader read, int level, bool verify, unsigned threads,
                     uint64_t memoryBudget)
    : files_(std::move(files)), read_(std::move(read)), budget_(memoryBudget), maxJobs_(size_t(threads) * 4) {
  for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this, level, verify] { Work(level, verify); });
}

PackAhead::~PackAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  work_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void PackAhead::Work(int level, bool verify) {
  // A packer of this worker's own: its encoder and checker state never
  // meet another worker's.
  Packing packing(level, false);
  packing.SetVerify(verify);
  packing.SetEntriesApart(true);
  std::vector<std::string>* notices = nullptr;
  packing.SetNotice([&notices](const std::string& message) {
    if (notices) notices->push_back(message);
  });
  Packer packer = packing.Packer();
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      job = queue_.front();
      queue_.pop_front();
    }
    Done& done = job->done;
    const File& file = files_[job->index];
    notices = &done.notices;
    PackRequest request{done.data.data(), done.data.size(), file.method, file.dictCode, false, &file.name};
    done.packed.method = file.method;
    // The encoder giving up means store. Anything thrown past it (memory
    // running out in the audio encoder or the read-back check) would end
    // the process on this thread: the file goes back to the writer's
    // thread, which packs it as one thread alone would.
    bool packed = false;
    try {
      packed = packer(request, &done.packed);
    } catch (...) {
      done.handBack = true;
    }
    if (!packed) done.packed = PackResult();
    notices = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job->finished = true;
    }
    finished_.notify_all();
  }
}

void PackAhead::Submit() {
  // Reading happens here, on the taking thread, so that the disk is read
  // in the archive's order.
  while (nextToRead_ < files_.size() && inOrder_.size() < maxJobs_ &&
         (inOrder_.empty() || aheadBytes_ < budget_)) {
    auto job = std::make_shared<Job>();
    job->index = nextToRead_++;
    Done& done = job->done;
    done.ok = read_(files_[job->index].diskPath, &done.data, &done.error);
    aheadBytes_ += done.data.size();
    std::lock_guard<std::mutex> lock(mutex_);
    inOrder_.push_back(job);
    if (done.ok) {
      queue_.push_back(job);
      work_.notify_one();
    } else {
      job->finished = true;
    }
  }
}

PackAhead::Done PackAhead::Take(size_t item) {
  std::shared_ptr<Job> job;
  for (;;) {
    Submit();
    if (inOrder_.empty()) return Done{false, "it was not read ahead", {}, {}, {}, false};
    job = inOrder_.front();
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&job] { return job->finished; });
    inOrder_.pop_front();
    lock.unlock();
    aheadBytes_ -= job->done.data.size();
    if (files_[job->index].item >= item) break;
  }
  if (files_[job->index].item != item) return Done{false, "it was not read ahead", {}, {}, {}, false};
  Done done = std::move(job->done);
  // Keep the workers fed while the writer works on this one.
  Submit();
  return done;
}

unsigned DefaultPackThreads() { return os::ProcessorCount(); }

unsigned PackWorkersWithin(int level, unsigned threads, uint64_t memoryLimit) {
  // The most one worker added at a level, measured on 30 MB files (as
  // large as go ahead) of random bytes, text and programs: the file, its
  // packed stream and the check, the finder's tables, the ops of a
  // segment.
  const uint64_t perWorker = (level >= 4 ? uint64_t(300) : level == 3 ? 260 : 220) << 20;
  const uint64_t fit = memoryLimit / perWorker;
  return unsigned(std::min<uint64_t>(threads, std::max<uint64_t>(fit, 2)));
}

}  // namespace tvk::cli
