// The few POSIX thread calls that the C++ runtime makes in Setup.exe and
// Uninstall.exe (thread-safe local statics, the exception machinery, emulated
// thread-local storage), on the Windows primitives. Neither program creates
// threads through pthreads, and the full library would add some 32 KB to each.
// Both link this unit and leave the library out (-no-pthread): a further call
// fails at link time instead of mixing two implementations.
//
// The value layout is the library's: a mutex or condition variable is a
// pointer-sized word whose static initialisers are -1, -2 and -3, turned into
// an allocated object on first use; a once-control is a long starting at 0.
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <new>

extern "C" {
typedef long pthread_once_t;
typedef intptr_t pthread_mutex_t;
typedef intptr_t pthread_cond_t;
typedef unsigned pthread_key_t;
typedef unsigned pthread_mutexattr_t;
typedef int pthread_condattr_t;
}

namespace {

bool IsStatic(intptr_t value) { return value == -1 || value == -2 || value == -3 || value == 0; }

template <class T>
T* Publish(intptr_t* word, intptr_t seen, T* made) {
  auto* before = InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(word), made,
                                                   reinterpret_cast<PVOID>(seen));
  return static_cast<T*>(before == reinterpret_cast<PVOID>(seen) ? made : before);
}

intptr_t Load(const intptr_t* word) {
  return reinterpret_cast<intptr_t>(
      InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(const_cast<intptr_t*>(word)), nullptr, nullptr));
}

// The critical section behind a mutex word, made on first use (a critical
// section is recursive, which serves all three mutex kinds).
CRITICAL_SECTION* SectionOf(pthread_mutex_t* m) {
  intptr_t value = Load(m);
  if (!IsStatic(value)) return reinterpret_cast<CRITICAL_SECTION*>(value);
  auto* made = static_cast<CRITICAL_SECTION*>(HeapAlloc(GetProcessHeap(), 0, sizeof(CRITICAL_SECTION)));
  if (!made) return nullptr;
  InitializeCriticalSection(made);
  CRITICAL_SECTION* kept = Publish(m, value, made);
  if (kept != made) {
    DeleteCriticalSection(made);
    HeapFree(GetProcessHeap(), 0, made);
  }
  return kept;
}

CONDITION_VARIABLE* ConditionOf(pthread_cond_t* c) {
  intptr_t value = Load(c);
  if (!IsStatic(value)) return reinterpret_cast<CONDITION_VARIABLE*>(value);
  auto* made = static_cast<CONDITION_VARIABLE*>(HeapAlloc(GetProcessHeap(), 0, sizeof(CONDITION_VARIABLE)));
  if (!made) return nullptr;
  InitializeConditionVariable(made);
  CONDITION_VARIABLE* kept = Publish(c, value, made);
  if (kept != made) HeapFree(GetProcessHeap(), 0, made);
  return kept;
}

// Thread-local keys on TLS slots; destructors run when a thread ends.
constexpr unsigned kMaxKeys = 64;
constexpr int kDestructorRounds = 4;
struct TKey {
  DWORD Slot;
  void (*Destructor)(void*);
};
TKey gKeys[kMaxKeys];
volatile LONG gKeyCount = 0;

void NTAPI OnThreadEvent(PVOID, DWORD reason, PVOID) {
  if (reason != DLL_THREAD_DETACH) return;
  LONG count = gKeyCount;
  if (count > static_cast<LONG>(kMaxKeys)) count = kMaxKeys;
  for (int round = 0; round < kDestructorRounds; ++round) {
    bool called = false;
    for (LONG i = 0; i < count; ++i) {
      if (!gKeys[i].Destructor) continue;
      void* value = TlsGetValue(gKeys[i].Slot);
      if (!value) continue;
      TlsSetValue(gKeys[i].Slot, nullptr);
      gKeys[i].Destructor(value);
      called = true;
    }
    if (!called) break;
  }
}

}  // namespace

// Run by the loader for every thread that ends (the C runtime's TLS
// directory lists the callbacks of the .CRT$XL* sections).
extern "C" __attribute__((used, section(".CRT$XLN"))) const PIMAGE_TLS_CALLBACK NvPthreadLiteThreadEvent = OnThreadEvent;

extern "C" {

int pthread_once(pthread_once_t* once, void (*routine)(void)) {
  // 0: not run, 1: running, 2: done; a routine that throws leaves it at 0.
  for (;;) {
    LONG state = InterlockedCompareExchange(once, 1, 0);
    if (state == 2) return 0;
    if (state == 0) {
      try {
        routine();
      } catch (...) {
        InterlockedExchange(once, 0);
        throw;
      }
      InterlockedExchange(once, 2);
      return 0;
    }
    SwitchToThread();
  }
}

int pthread_mutex_init(pthread_mutex_t* m, const pthread_mutexattr_t*) {
  *m = -1;
  return SectionOf(m) ? 0 : ENOMEM;
}

int pthread_mutex_destroy(pthread_mutex_t* m) {
  intptr_t value = Load(m);
  if (!IsStatic(value)) {
    auto* section = reinterpret_cast<CRITICAL_SECTION*>(value);
    DeleteCriticalSection(section);
    HeapFree(GetProcessHeap(), 0, section);
  }
  *m = -1;
  return 0;
}

int pthread_mutex_lock(pthread_mutex_t* m) {
  CRITICAL_SECTION* section = SectionOf(m);
  if (!section) return ENOMEM;
  EnterCriticalSection(section);
  return 0;
}

int pthread_mutex_unlock(pthread_mutex_t* m) {
  intptr_t value = Load(m);
  if (IsStatic(value)) return EPERM;
  LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(value));
  return 0;
}

int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m) {
  CONDITION_VARIABLE* condition = ConditionOf(c);
  intptr_t value = Load(m);
  if (!condition) return ENOMEM;
  if (IsStatic(value)) return EPERM;
  return SleepConditionVariableCS(condition, reinterpret_cast<CRITICAL_SECTION*>(value), INFINITE) ? 0 : EINVAL;
}

int pthread_cond_init(pthread_cond_t* c, const pthread_condattr_t*) {
  *c = -1;
  return ConditionOf(c) ? 0 : ENOMEM;
}

int pthread_cond_destroy(pthread_cond_t* c) {
  intptr_t value = Load(c);
  if (!IsStatic(value)) HeapFree(GetProcessHeap(), 0, reinterpret_cast<CONDITION_VARIABLE*>(value));
  *c = -1;
  return 0;
}

int pthread_cond_signal(pthread_cond_t* c) {
  CONDITION_VARIABLE* condition = ConditionOf(c);
  if (!condition) return ENOMEM;
  WakeConditionVariable(condition);
  return 0;
}

int pthread_cond_broadcast(pthread_cond_t* c) {
  CONDITION_VARIABLE* condition = ConditionOf(c);
  if (!condition) return ENOMEM;
  WakeAllConditionVariable(condition);
  return 0;
}

int pthread_key_create(pthread_key_t* key, void (*destructor)(void*)) {
  DWORD slot = TlsAlloc();
  if (slot == TLS_OUT_OF_INDEXES) return EAGAIN;
  LONG index = InterlockedIncrement(&gKeyCount) - 1;
  if (index >= static_cast<LONG>(kMaxKeys)) {
    InterlockedDecrement(&gKeyCount);
    TlsFree(slot);
    return EAGAIN;
  }
  gKeys[index].Slot = slot;
  MemoryBarrier();  // a thread ending now sees the slot before the destructor
  gKeys[index].Destructor = destructor;
  *key = static_cast<pthread_key_t>(index);
  return 0;
}

int pthread_key_delete(pthread_key_t key) {
  if (key >= kMaxKeys || key >= static_cast<unsigned>(gKeyCount)) return EINVAL;
  gKeys[key].Destructor = nullptr;
  MemoryBarrier();
  return TlsFree(gKeys[key].Slot) ? 0 : EINVAL;
}

void* pthread_getspecific(pthread_key_t key) {
  if (key >= kMaxKeys) return nullptr;
  DWORD error = GetLastError();  // callers do not expect the thread's last error to change
  void* value = TlsGetValue(gKeys[key].Slot);
  SetLastError(error);
  return value;
}

int pthread_setspecific(pthread_key_t key, const void* value) {
  if (key >= kMaxKeys) return EINVAL;
  return TlsSetValue(gKeys[key].Slot, const_cast<void*>(value)) ? 0 : ENOMEM;
}

// The clocks of std::chrono: the wall clock (0) and the monotonic one (1).
int clock_gettime(int clock, struct timespec* tp) {
  if (!tp) return EINVAL;
  if (clock == 0) {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    // 100 ns ticks since 1601 to the Unix epoch.
    const uint64_t ticks = ((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) - 116444736000000000ULL;
    tp->tv_sec = static_cast<time_t>(ticks / 10000000);
    tp->tv_nsec = static_cast<long>((ticks % 10000000) * 100);
    return 0;
  }
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  const uint64_t c = static_cast<uint64_t>(count.QuadPart), f = static_cast<uint64_t>(frequency.QuadPart);
  tp->tv_sec = static_cast<time_t>(c / f);
  tp->tv_nsec = static_cast<long>((c % f) * 1000000000ULL / f);
  return 0;
}

}  // extern "C"
