#include "named_event.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/futex.h>
#include <mutex>
#include <pthread.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "clock.h"
#include "paths.h"
#include "text.h"

namespace plat {
namespace {

constexpr uint32_t kMagic = 0x56455632;  // "VEV2"
constexpr size_t kMaxEvents = 256;
constexpr size_t kMaxWaiters = 128;

// One named event. Slots are never freed: the system uses a handful of fixed names.
struct EventSlot {
  char name[kEventMaxName + 1];
  uint32_t used;
  uint32_t signaled;
};

// A thread blocked in a wait. Set and pulse hand the event to the oldest live waiter by
// writing `granted`. The waiter holds `alive` (robust, process-shared) for as long as it
// waits; the kernel releases it with OWNER_DIED when the waiter's thread dies, even while
// its process is an unreaped zombie, so liveness never depends on pids (which die late and
// come back).
struct WaiterSlot {
  pthread_mutex_t alive;
  int32_t pid;  // for diagnostics only
  uint32_t used;
  uint64_t seq;  // arrival order
  uint32_t count;
  int32_t events[kEventMaxWait];
  int32_t granted;  // position in events[] that was handed over, or -1
};

struct Segment {
  uint32_t magic;
  uint32_t size;
  pthread_mutex_t mutex;
  uint32_t wake_word;  // futex: bumped whenever a waiter is granted an event
  uint32_t pad;
  uint64_t next_seq;
  EventSlot events[kMaxEvents];
  WaiterSlot waiters[kMaxWaiters];
};

// The segments this process mapped, by path (the last few; the mappings themselves stay for
// the process's life, since handles point into them). Plain arrays with no destructor: a
// thread still opening an event while the process exits never meets a destroyed table.
struct Mapping {
  char path[PATH_MAX];
  Segment* seg;
};
constexpr size_t kRememberedMappings = 16;

std::mutex g_map_lock;
Mapping g_maps[kRememberedMappings];
size_t g_next_mapping = 0;

long futex(uint32_t* word, int op, uint32_t val, const timespec* ts) {
  return syscall(SYS_futex, word, op, val, ts, nullptr, 0);
}

Segment* map_segment() {
  std::string path = run_path("events.shm");
  if (path.empty()) return nullptr;
  if (path.size() >= PATH_MAX) return nullptr;
  std::lock_guard<std::mutex> guard(g_map_lock);
  for (const Mapping& m : g_maps)
    if (m.seg != nullptr && path == m.path) return m.seg;

  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  Segment* seg = nullptr;
  if (flock(fd, LOCK_EX) == 0) {
    struct stat st;
    if (fstat(fd, &st) == 0 &&
        (static_cast<size_t>(st.st_size) >= sizeof(Segment) || ftruncate(fd, sizeof(Segment)) == 0)) {
      void* p = mmap(nullptr, sizeof(Segment), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (p != MAP_FAILED) {
        seg = static_cast<Segment*>(p);
        if (seg->magic != kMagic || seg->size != sizeof(Segment)) {
          std::memset(seg, 0, sizeof(Segment));
          pthread_mutexattr_t attr;
          pthread_mutexattr_init(&attr);
          pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
          pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
          pthread_mutex_init(&seg->mutex, &attr);
          for (WaiterSlot& w : seg->waiters) pthread_mutex_init(&w.alive, &attr);
          pthread_mutexattr_destroy(&attr);
          seg->size = sizeof(Segment);
          __atomic_store_n(&seg->magic, kMagic, __ATOMIC_RELEASE);
        }
      }
    }
    flock(fd, LOCK_UN);
  }
  close(fd);
  if (seg != nullptr) {
    Mapping& m = g_maps[g_next_mapping++ % kRememberedMappings];
    std::memcpy(m.path, path.c_str(), path.size() + 1);
    m.seg = seg;
  }
  return seg;
}

// Locks the segment; a holder that died leaves it consistent enough for our small updates.
class SegmentLock {
 public:
  explicit SegmentLock(Segment* seg) : seg_(seg) {
    int rc = pthread_mutex_lock(&seg_->mutex);
    if (rc == EOWNERDEAD) {
      pthread_mutex_consistent(&seg_->mutex);
      rc = 0;
    }
    locked_ = rc == 0;
  }
  ~SegmentLock() {
    if (locked_) pthread_mutex_unlock(&seg_->mutex);
  }
  bool locked() const { return locked_; }
  void unlock() {
    if (locked_) pthread_mutex_unlock(&seg_->mutex);
    locked_ = false;
  }
  bool relock() {
    int rc = pthread_mutex_lock(&seg_->mutex);
    if (rc == EOWNERDEAD) {
      pthread_mutex_consistent(&seg_->mutex);
      rc = 0;
    }
    return locked_ = rc == 0;
  }

 private:
  Segment* seg_;
  bool locked_;
};

// Wakes every sleeper of the segment (they re-check their slots).
void wake_all(Segment* seg) {
  __atomic_add_fetch(&seg->wake_word, 1, __ATOMIC_SEQ_CST);
  futex(&seg->wake_word, FUTEX_WAKE, INT_MAX, nullptr);
}

// Takes a waiter slot's liveness lock when nobody holds it: true when it is now ours (the
// slot was free, or its waiter died), false while a live waiter holds it.
bool take_alive_lock(WaiterSlot& w) {
  int rc = pthread_mutex_trylock(&w.alive);
  if (rc == EOWNERDEAD) {
    pthread_mutex_consistent(&w.alive);
    rc = 0;
  }
  return rc == 0;
}

// True while the thread that registered a used waiter slot is alive. A slot whose waiter
// died is freed on the way. Caller holds the segment lock.
bool waiter_alive(WaiterSlot& w) {
  if (!w.used) return false;
  if (!take_alive_lock(w)) return true;
  w.used = 0;  // reap: its thread died while waiting
  pthread_mutex_unlock(&w.alive);
  return false;
}

// Hands event `slot` to the oldest live waiter on it. Caller holds the lock.
bool grant_to_waiter(Segment* seg, int32_t slot) {
  WaiterSlot* best = nullptr;
  int32_t best_pos = -1;
  for (WaiterSlot& w : seg->waiters) {
    if (!w.used || w.granted >= 0) continue;
    if (!waiter_alive(w)) continue;
    for (uint32_t i = 0; i < w.count; ++i) {
      if (w.events[i] == slot && (best == nullptr || w.seq < best->seq)) {
        best = &w;
        best_pos = static_cast<int32_t>(i);
        break;
      }
    }
  }
  if (best == nullptr) return false;
  best->granted = best_pos;
  wake_all(seg);
  return true;
}

uint64_t now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace

struct NamedEvent {
  Segment* seg;
  int32_t slot;
};

NamedEvent* event_open(std::string_view name) {
  if (name.empty() || name.size() > kEventMaxName || name.find('\0') != std::string_view::npos) return nullptr;
  Segment* seg = map_segment();
  if (seg == nullptr) return nullptr;
  SegmentLock lock(seg);
  if (!lock.locked()) return nullptr;
  int32_t free_slot = -1;
  for (size_t i = 0; i < kMaxEvents; ++i) {
    EventSlot& e = seg->events[i];
    if (e.used && name == std::string_view(e.name)) return new NamedEvent{seg, static_cast<int32_t>(i)};
    if (!e.used && free_slot < 0) free_slot = static_cast<int32_t>(i);
  }
  if (free_slot < 0) return nullptr;
  EventSlot& e = seg->events[free_slot];
  std::memcpy(e.name, name.data(), name.size());
  e.name[name.size()] = '\0';
  e.signaled = 0;
  e.used = 1;
  return new NamedEvent{seg, free_slot};
}

NamedEvent* event_open(std::u16string_view name) { return event_open(std::string_view(utf16_to_utf8(name))); }

void event_close(NamedEvent* event) { delete event; }

static bool signal_event(NamedEvent* event, bool pulse) {
  if (event == nullptr) return false;
  SegmentLock lock(event->seg);
  if (!lock.locked()) return false;
  if (!grant_to_waiter(event->seg, event->slot) && !pulse) event->seg->events[event->slot].signaled = 1;
  return true;
}

bool event_set(NamedEvent* event) { return signal_event(event, false); }
bool event_pulse(NamedEvent* event) { return signal_event(event, true); }

bool event_reset(NamedEvent* event) {
  if (event == nullptr) return false;
  SegmentLock lock(event->seg);
  if (!lock.locked()) return false;
  event->seg->events[event->slot].signaled = 0;
  return true;
}

int event_waiter_count(NamedEvent* event) {
  if (event == nullptr) return -1;
  SegmentLock lock(event->seg);
  if (!lock.locked()) return -1;
  int n = 0;
  for (WaiterSlot& w : event->seg->waiters) {
    if (!w.used || w.granted >= 0 || !waiter_alive(w)) continue;
    for (uint32_t i = 0; i < w.count; ++i)
      if (w.events[i] == event->slot) {
        ++n;
        break;
      }
  }
  return n;
}

void QuitSignal::set() {
  flag_.store(1);
  futex(reinterpret_cast<uint32_t*>(const_cast<std::atomic<uint32_t>*>(&flag_)), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr);
  // Sleepers load the futex word before they look at their quit signal; bumping it after
  // the store means none can go to sleep without seeing the signal. The segment stays
  // mapped for the process's life, so this holds even during a library's unload.
  if (auto* seg = static_cast<Segment*>(segment_.load())) wake_all(seg);
}

bool QuitSignal::sleep(uint32_t timeout_ms) const {
  const bool forever = timeout_ms == kInfinite;
  const uint64_t deadline = now_ms() + scale_ms(timeout_ms);
  auto* word = reinterpret_cast<uint32_t*>(const_cast<std::atomic<uint32_t>*>(&flag_));
  while (!is_set()) {
    uint64_t now = now_ms();
    if (!forever && now >= deadline) return false;
    uint64_t slice = forever ? 1000 : std::min<uint64_t>(deadline - now, 1000);
    timespec ts{static_cast<time_t>(slice / 1000), static_cast<long>(slice % 1000) * 1000000L};
    futex(word, FUTEX_WAIT_PRIVATE, 0, &ts);
  }
  return true;
}

int event_wait(NamedEvent* event, uint32_t timeout_ms, const QuitSignal* quit) {
  NamedEvent* one[1] = {event};
  int rc = event_wait_any(one, 1, timeout_ms, quit);
  return rc < 0 || rc == kWaitTimeout ? rc : 0;
}

int event_wait_any(NamedEvent* const* events, size_t count, uint32_t timeout_ms, const QuitSignal* quit) {
  if (events == nullptr || count == 0 || count > kEventMaxWait) return kWaitFailed;
  Segment* seg = events[0] ? events[0]->seg : nullptr;
  for (size_t i = 0; i < count; ++i)
    if (events[i] == nullptr || events[i]->seg != seg) return kWaitFailed;
  if (quit != nullptr) {
    quit->segment_.store(seg);
    if (quit->is_set()) return kWaitQuit;
  }

  SegmentLock lock(seg);
  if (!lock.locked()) return kWaitFailed;
  for (size_t i = 0; i < count; ++i) {
    EventSlot& e = seg->events[events[i]->slot];
    if (e.signaled) {
      e.signaled = 0;  // auto-reset: this wait takes it
      return static_cast<int>(i);
    }
  }
  uint32_t real_timeout = scale_ms(timeout_ms);
  if (real_timeout == 0) return kWaitTimeout;

  // A slot whose liveness lock we can take is free (or its waiter died): it is ours, and
  // we hold the lock until we leave.
  WaiterSlot* me = nullptr;
  for (WaiterSlot& w : seg->waiters) {
    if (take_alive_lock(w)) {
      me = &w;
      break;
    }
  }
  if (me == nullptr) return kWaitFailed;
  auto leave = [&](int result) {
    me->used = 0;
    pthread_mutex_unlock(&me->alive);
    return result;
  };
  me->used = 1;
  me->pid = getpid();
  me->seq = ++seg->next_seq;
  me->count = static_cast<uint32_t>(count);
  for (size_t i = 0; i < count; ++i) me->events[i] = events[i]->slot;
  me->granted = -1;

  const bool forever = timeout_ms == kInfinite;
  const uint64_t deadline = now_ms() + real_timeout;
  for (;;) {
    if (me->granted >= 0) return leave(me->granted);
    uint32_t seen = __atomic_load_n(&seg->wake_word, __ATOMIC_SEQ_CST);
    if (quit != nullptr && quit->is_set()) return leave(kWaitQuit);
    uint64_t now = now_ms();
    if (!forever && now >= deadline) return leave(kWaitTimeout);
    lock.unlock();
    timespec ts;
    // Sleep in slices of at most a second, so a waiter never depends on a lost wake-up.
    uint64_t slice = forever ? 1000 : std::min<uint64_t>(deadline - now, 1000);
    ts.tv_sec = static_cast<time_t>(slice / 1000);
    ts.tv_nsec = static_cast<long>(slice % 1000) * 1000000L;
    futex(&seg->wake_word, FUTEX_WAIT, seen, &ts);
    if (!lock.relock()) {
      // The slot cannot be given back without the segment lock; its liveness lock goes, so
      // the next grant reaps it.
      pthread_mutex_unlock(&me->alive);
      return kWaitFailed;
    }
  }
}

}  // namespace plat
