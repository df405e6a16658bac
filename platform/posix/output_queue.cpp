// Output files made and finished on a second thread. Making a file costs the
// kernel about as much as decoding it costs us, so the decoding thread hands
// the making of each fresh file and folder, the bytes, the stamp and the
// close to a worker and goes on with the next entry. One ring of records, one
// producer, one consumer, in order.
#include <pthread.h>
#include <sched.h>
#include <stddef.h>
#include <string.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/result_codes.h"

namespace tvk {

namespace {

constexpr uint32_t kRingSize = 2u << 20;  // one large page
constexpr uint32_t kPieceSize = kRingSize / 4;  // the most one record carries
constexpr uint32_t kAlign = 16;

enum RecordKind : uint32_t {
  kRecordPad = 0,
  kRecordData = 1,
  kRecordFinish = 2,
  kRecordOpen = 3,
  kRecordDiscard = 4,
  kRecordFolder = 5,
};

struct RecordHead {
  uint32_t kind;
  uint32_t length;  // of what follows the head
  FileHandle handle;
};
constexpr uint32_t kHeadSlot = kAlign;
static_assert(sizeof(RecordHead) <= kHeadSlot, "a head fits its slot");

// What every record but data carries; the path is cut to its used length.
struct Body {
  OutputStamp stamp;  // finish
  uint32_t value;     // open: the Unix mode; discard: keep the file
  uint32_t root;      // the length of the target folder that begins path
  char path[kPathSize];
};

struct Queue {
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t filled = PTHREAD_COND_INITIALIZER;   // the worker may go on
  pthread_cond_t drained = PTHREAD_COND_INITIALIZER;  // room was made
  uint8_t* ring = nullptr;
  uint64_t head = 0;  // written up to here (producer)
  uint64_t tail = 0;  // done up to here (worker)
  bool running = false;
  bool unavailable = false;  // no thread or no ring: everything at once
  bool sleeping = false;     // the worker waits for Wake
  uint64_t sleptAt = 0;      // head when it began to
  uint32_t unsignalled = 0;  // records published since
  uint32_t failure = 0;  // read without the lock by the decoding thread
  // The worker's: the file it made for TVK_QUEUED_FILE, until finished.
  FileHandle current = TVK_INVALID_FILE;
  char currentPath[kPathSize] = {};
  // The worker's, read once the queue is through: what failed. A file the
  // caller made is named by its finish or discard record.
  char failedPath[kPathSize] = {};
  FileHandle unnamedFailure = TVK_INVALID_FILE;
};

Queue g_queue;

uint32_t LoadFailure() { return __atomic_load_n(&g_queue.failure, __ATOMIC_RELAXED); }
void StoreFailure(uint32_t code) { __atomic_store_n(&g_queue.failure, code, __ATOMIC_RELAXED); }

uint32_t Round(uint32_t n) { return (n + kAlign - 1) & ~(kAlign - 1); }

// The worker's side of one record. After a failure nothing more is made or
// written, and each file the worker made and finishes from then on is
// removed: the run ends at the failure, and a file cut short must not pass
// for a whole one. A file it could not make is nobody's to remove.
void Perform(const RecordHead& h, const uint8_t* data) {
  Queue& q = g_queue;
  const bool failed = LoadFailure() != 0;
  const Body* body = reinterpret_cast<const Body*>(data);
  FileHandle file = h.handle == TVK_QUEUED_FILE ? q.current : h.handle;
  switch (h.kind) {
    case kRecordOpen:
      q.current = failed ? TVK_INVALID_FILE : CreateNewFileBelow(body->path, body->root, body->value, nullptr);
      StrCopy(q.currentPath, sizeof(q.currentPath), body->path);
      if (!failed && q.current == TVK_INVALID_FILE) {
        StrCopy(q.failedPath, sizeof(q.failedPath), body->path);
        StoreFailure(kErrFileAccess);
      }
      break;
    case kRecordFolder:
      if (!failed && !MakeFoldersBelow(body->path, body->root)) {
        StrCopy(q.failedPath, sizeof(q.failedPath), body->path);
        StoreFailure(kErrFileAccess);
      }
      break;
    case kRecordData:
      if (failed || file == TVK_INVALID_FILE) break;
      if (FileWrite(file, data, h.length) != static_cast<int32_t>(h.length)) {
        // Named now when the queue made the file, else by its closing record.
        if (h.handle == TVK_QUEUED_FILE) {
          StrCopy(q.failedPath, sizeof(q.failedPath), q.currentPath);
        } else {
          q.unnamedFailure = h.handle;
        }
        StoreFailure(kErrWrite);
      }
      break;
    case kRecordFinish:
    case kRecordDiscard: {
      if (h.handle != TVK_QUEUED_FILE && h.handle == q.unnamedFailure) {
        StrCopy(q.failedPath, sizeof(q.failedPath), body->path);
        q.unnamedFailure = TVK_INVALID_FILE;
      }
      if (file == TVK_INVALID_FILE) break;
      bool keep = h.kind == kRecordFinish ? !failed : body->value != 0;
      if (h.kind == kRecordFinish && keep) ApplyOutputStamp(file, body->stamp);
      FileClose(file);
      if (!keep) DeleteBelow(body->path, body->root);
      if (h.handle == TVK_QUEUED_FILE) q.current = TVK_INVALID_FILE;
      break;
    }
    default:
      break;
  }
}

// A sleeping worker is woken once a batch has gathered rather than for each
// record: every wake costs the decoding thread a system call, and in a
// virtual machine an interrupt to the other processor. The producer also
// wakes it whenever it is about to wait itself.
constexpr uint32_t kBatchRecords = 48;
constexpr uint32_t kBatchBytes = kRingSize / 4;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

void WaitForWork(Queue& q) {
  if (q.tail != q.head) return;
  // Records usually follow within a few microseconds: a short look first
  // saves a sleep and a wake.
  pthread_mutex_unlock(&q.lock);
  for (int i = 0; i < 1000 && __atomic_load_n(&q.head, __ATOMIC_RELAXED) == q.tail; ++i) CpuRelax();
  pthread_mutex_lock(&q.lock);
  if (q.tail != q.head) return;
  q.sleeping = true;
  q.sleptAt = q.head;
  q.unsignalled = 0;
  while (q.sleeping) pthread_cond_wait(&q.filled, &q.lock);
}

// Under the lock.
void Wake(Queue& q) {
  if (!q.sleeping) return;
  q.sleeping = false;
  pthread_cond_signal(&q.filled);
}

void* Worker(void*) {
  Queue& q = g_queue;
  pthread_mutex_lock(&q.lock);
  for (;;) {
    WaitForWork(q);
    uint64_t at = q.tail;
    pthread_mutex_unlock(&q.lock);
    // Everything between tail and head is complete and stays put until the
    // tail moves past it.
    uint32_t offset = static_cast<uint32_t>(at % kRingSize);
    RecordHead h;
    memcpy(&h, q.ring + offset, sizeof(h));
    uint32_t size = kHeadSlot + Round(h.length);
    if (h.kind == kRecordPad) {
      size = kRingSize - offset;
    } else {
      Perform(h, q.ring + offset + kHeadSlot);
    }
    pthread_mutex_lock(&q.lock);
    q.tail = at + size;
    pthread_cond_broadcast(&q.drained);
  }
  return nullptr;
}

// A child made by fork has the memory of the queue but not its thread.
void ForgetAfterFork() {
  Queue& q = g_queue;
  pthread_mutex_init(&q.lock, nullptr);
  pthread_cond_init(&q.filled, nullptr);
  pthread_cond_init(&q.drained, nullptr);
  q.head = q.tail = 0;
  q.running = false;
  q.unavailable = false;
  q.sleeping = false;
  q.current = TVK_INVALID_FILE;
  q.failedPath[0] = 0;
  q.unnamedFailure = TVK_INVALID_FILE;
  StoreFailure(0);
}

bool Start() {
  Queue& q = g_queue;
  if (q.running) return true;
  if (q.unavailable) return false;
  static bool forkHandler = false;
  if (!forkHandler) {
    pthread_atfork(nullptr, nullptr, ForgetAfterFork);
    forkHandler = true;
  }
  // With one processor to run on, a second thread only adds its switches.
  cpu_set_t cpus;
  if (sched_getaffinity(0, sizeof(cpus), &cpus) == 0 && CPU_COUNT(&cpus) < 2) {
    q.unavailable = true;
    return false;
  }
  if (!q.ring) q.ring = static_cast<uint8_t*>(MemAllocLarge(kRingSize));
  pthread_attr_t attr;
  pthread_t thread;
  bool made = false;
  if (q.ring && pthread_attr_init(&attr) == 0) {
    // The worker needs little stack; the default would reserve megabytes.
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    made = pthread_create(&thread, &attr, Worker, nullptr) == 0;
    pthread_attr_destroy(&attr);
  }
  q.running = made;
  q.unavailable = !made;
  return made;
}

// Room for size bytes at the producer's end, waiting while the worker is
// behind; a record never wraps, the rest of the lap is padded instead.
uint8_t* Reserve(uint32_t size) {
  Queue& q = g_queue;
  uint32_t offset = static_cast<uint32_t>(q.head % kRingSize);
  uint32_t pad = kRingSize - offset < size ? kRingSize - offset : 0;
  pthread_mutex_lock(&q.lock);
  while (kRingSize - (q.head - q.tail) < pad + size) {
    Wake(q);
    pthread_cond_wait(&q.drained, &q.lock);
  }
  pthread_mutex_unlock(&q.lock);
  if (pad) {
    RecordHead h{kRecordPad, 0, TVK_INVALID_FILE};
    memcpy(q.ring + offset, &h, sizeof(h));
    pthread_mutex_lock(&q.lock);
    __atomic_store_n(&q.head, q.head + pad, __ATOMIC_RELAXED);
    pthread_mutex_unlock(&q.lock);
    offset = 0;
  }
  return q.ring + offset;
}

void Publish(uint32_t size) {
  Queue& q = g_queue;
  pthread_mutex_lock(&q.lock);
  __atomic_store_n(&q.head, q.head + size, __ATOMIC_RELAXED);
  if (q.sleeping && (q.head - q.sleptAt >= kBatchBytes || ++q.unsignalled >= kBatchRecords)) Wake(q);
  pthread_mutex_unlock(&q.lock);
}

}  // namespace

namespace {

// A record other than data: done at once when there is no worker.
void Submit(uint32_t kind, FileHandle h, const Body& body) {
  uint32_t length = static_cast<uint32_t>(offsetof(Body, path) + strlen(body.path) + 1);
  RecordHead head{kind, length, h};
  if (!Start()) {
    Perform(head, reinterpret_cast<const uint8_t*>(&body));
    return;
  }
  uint32_t size = kHeadSlot + Round(length);
  uint8_t* slot = Reserve(size);
  memcpy(slot, &head, sizeof(head));
  memcpy(slot + kHeadSlot, &body, length);
  Publish(size);
}

Body BodyFor(const char* path, uint32_t root, uint32_t value) {
  Body body;
  memset(&body.stamp, 0, sizeof(body.stamp));
  body.value = value;
  body.root = root;
  StrCopy(body.path, sizeof(body.path), path ? path : "");
  return body;
}

}  // namespace

bool OutputQueueOpen(const char* path, uint32_t rootLength, uint32_t unixMode) {
  if (!Start() || !path) return false;
  Submit(kRecordOpen, TVK_QUEUED_FILE, BodyFor(path, rootLength, unixMode));
  return true;
}

bool OutputQueueFolder(const char* path, uint32_t rootLength) {
  if (!Start() || !path) return false;
  Submit(kRecordFolder, TVK_QUEUED_FILE, BodyFor(path, rootLength, 0));
  return true;
}

void OutputQueueWrite(FileHandle h, const void* data, uint32_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (!Start()) {
    RecordHead head{kRecordData, n, h};
    Perform(head, p);
    return;
  }
  while (n > 0) {
    uint32_t piece = n < kPieceSize ? n : kPieceSize;
    uint32_t size = kHeadSlot + Round(piece);
    uint8_t* slot = Reserve(size);
    RecordHead head{kRecordData, piece, h};
    memcpy(slot, &head, sizeof(head));
    memcpy(slot + kHeadSlot, p, piece);
    Publish(size);
    p += piece;
    n -= piece;
  }
}

void OutputQueueFinish(FileHandle h, const OutputStamp& stamp, const char* path, uint32_t rootLength) {
  Body body = BodyFor(path, rootLength, 0);
  body.stamp = stamp;
  Submit(kRecordFinish, h, body);
}

void OutputQueueDiscard(FileHandle h, bool keep, const char* path, uint32_t rootLength) {
  Submit(kRecordDiscard, h, BodyFor(path, rootLength, keep ? 1 : 0));
}

uint32_t OutputQueueFailure() { return LoadFailure(); }

uint32_t OutputQueueWait() {
  Queue& q = g_queue;
  if (q.running) {
    pthread_mutex_lock(&q.lock);
    while (q.tail != q.head) {
      Wake(q);
      pthread_cond_wait(&q.drained, &q.lock);
    }
    pthread_mutex_unlock(&q.lock);
  }
  return LoadFailure();
}

void OutputQueueFailedPath(char* out, uint32_t size) {
  if (size == 0) return;
  out[0] = 0;
  if (LoadFailure() == 0) return;
  // The worker's record of it is complete once everything handed over is.
  OutputQueueWait();
  StrCopy(out, size, g_queue.failedPath);
}

void OutputQueueClear() {
  OutputQueueWait();
  g_queue.failedPath[0] = 0;
  g_queue.unnamedFailure = TVK_INVALID_FILE;
  StoreFailure(0);
}

}  // namespace tvk
