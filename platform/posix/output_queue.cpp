// Output files finished on a second thread. Making a file costs the kernel
// about as much as decoding it costs us, so the decoding thread hands each
// fresh file's bytes, stamp and close to a worker and goes on with the next
// entry. One ring of records, one producer, one consumer, in order.
#include <pthread.h>
#include <string.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/result_codes.h"

namespace tvk {

namespace {

constexpr uint32_t kRingSize = 1u << 20;
constexpr uint32_t kPieceSize = kRingSize / 4;  // the most one record carries
constexpr uint32_t kAlign = 16;

enum RecordKind : uint32_t { kRecordPad = 0, kRecordData = 1, kRecordFinish = 2 };

struct RecordHead {
  uint32_t kind;
  uint32_t length;  // of what follows the head
  FileHandle handle;
};
constexpr uint32_t kHeadSlot = kAlign;
static_assert(sizeof(RecordHead) <= kHeadSlot, "a head fits its slot");

struct FinishBody {
  OutputStamp stamp;
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
  uint32_t failure = 0;  // read without the lock by the decoding thread
};

Queue g_queue;

uint32_t LoadFailure() { return __atomic_load_n(&g_queue.failure, __ATOMIC_RELAXED); }
void StoreFailure(uint32_t code) { __atomic_store_n(&g_queue.failure, code, __ATOMIC_RELAXED); }

uint32_t Round(uint32_t n) { return (n + kAlign - 1) & ~(kAlign - 1); }

// The worker's side of one file operation. After a failure nothing more is
// written, and each file finished from then on is removed: the run ends at
// the failure, and a file cut short must not pass for a whole one.
void Perform(const RecordHead& h, const uint8_t* body) {
  bool failed = LoadFailure() != 0;
  if (h.kind == kRecordData) {
    if (failed) return;
    int32_t written = FileWrite(h.handle, body, h.length);
    if (written < 0 || static_cast<uint32_t>(written) != h.length) {
      StoreFailure(kErrWrite);
    }
  } else if (h.kind == kRecordFinish) {
    const FinishBody* f = reinterpret_cast<const FinishBody*>(body);
    if (!failed) ApplyOutputStamp(h.handle, f->stamp);
    FileClose(h.handle);
    if (failed) FileDelete(f->path);
  }
}

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Files come every few dozen microseconds. Waking a sleeping thread costs the
// waker a system call and, in a virtual machine, an interrupt to the other
// processor each time; a worker that looks a little longer before it sleeps
// is usually found awake, and the decoding thread then pays nothing.
void WaitForWork(Queue& q) {
  if (q.tail != q.head) return;
  pthread_mutex_unlock(&q.lock);
  for (int i = 0; i < 4000 && __atomic_load_n(&q.head, __ATOMIC_ACQUIRE) == q.tail; ++i) CpuRelax();
  pthread_mutex_lock(&q.lock);
  while (q.tail == q.head) pthread_cond_wait(&q.filled, &q.lock);
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
  if (!q.ring) q.ring = static_cast<uint8_t*>(MemAlloc(kRingSize));
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
  while (kRingSize - (q.head - q.tail) < pad + size) pthread_cond_wait(&q.drained, &q.lock);
  pthread_mutex_unlock(&q.lock);
  if (pad) {
    RecordHead h{kRecordPad, 0, TVK_INVALID_FILE};
    memcpy(q.ring + offset, &h, sizeof(h));
    pthread_mutex_lock(&q.lock);
    __atomic_store_n(&q.head, q.head + pad, __ATOMIC_RELEASE);
    pthread_cond_signal(&q.filled);
    pthread_mutex_unlock(&q.lock);
    offset = 0;
  }
  return q.ring + offset;
}

void Publish(uint32_t size) {
  Queue& q = g_queue;
  pthread_mutex_lock(&q.lock);
  __atomic_store_n(&q.head, q.head + size, __ATOMIC_RELEASE);
  pthread_cond_signal(&q.filled);
  pthread_mutex_unlock(&q.lock);
}

}  // namespace

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

void OutputQueueFinish(FileHandle h, const OutputStamp& stamp, const char* path) {
  FinishBody body;
  body.stamp = stamp;
  StrCopy(body.path, sizeof(body.path), path);
  if (!Start()) {
    RecordHead head{kRecordFinish, sizeof(body), h};
    Perform(head, reinterpret_cast<const uint8_t*>(&body));
    return;
  }
  uint32_t size = kHeadSlot + Round(sizeof(body));
  uint8_t* slot = Reserve(size);
  RecordHead head{kRecordFinish, sizeof(body), h};
  memcpy(slot, &head, sizeof(head));
  memcpy(slot + kHeadSlot, &body, sizeof(body));
  Publish(size);
}

uint32_t OutputQueueFailure() { return LoadFailure(); }

uint32_t OutputQueueWait() {
  Queue& q = g_queue;
  if (q.running) {
    pthread_mutex_lock(&q.lock);
    while (q.tail != q.head) pthread_cond_wait(&q.drained, &q.lock);
    pthread_mutex_unlock(&q.lock);
  }
  return __atomic_exchange_n(&q.failure, 0u, __ATOMIC_RELAXED);
}

}  // namespace tvk
