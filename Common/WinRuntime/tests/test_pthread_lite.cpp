// The thread calls of the C++ runtime in the setup programs, on the Windows
// primitives: local statics, exceptions and thread-local storage under
// threads of their own, once-controls, mutexes and key destructors. A plain
// program rather than a googletest one: googletest needs thread calls beyond
// the few that the setup programs make.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
int pthread_once(long* once, void (*routine)(void));
int pthread_mutex_lock(intptr_t* m);
int pthread_mutex_unlock(intptr_t* m);
int pthread_key_create(unsigned* key, void (*destructor)(void*));
void* pthread_getspecific(unsigned key);
int pthread_setspecific(unsigned key, const void* value);
}

namespace {

int gFailures = 0;

void Fail(const char* test, int line, const std::string& what) {
  std::printf("test_pthread_lite.cpp:%d: %s: %s\n", line, test, what.c_str());
  ++gFailures;
}

#define CHECK_EQ(a, b)                                                                          \
  do {                                                                                          \
    if (!((a) == (b))) Fail(__func__, __LINE__, std::string(#a " == " #b " does not hold"));     \
  } while (0)

struct TThreadArg {
  const std::function<void(int)>* Body;
  int Index;
  HANDLE Go;
};

DWORD WINAPI ThreadStart(void* p) {
  auto* a = static_cast<TThreadArg*>(p);
  WaitForSingleObject(a->Go, INFINITE);
  (*a->Body)(a->Index);
  return 0;
}

// Runs body(i) on `count` threads that start together; waits for all.
void RunThreads(int count, const std::function<void(int)>& body) {
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<TThreadArg> args(count);
  std::vector<HANDLE> threads;
  for (int i = 0; i < count; ++i) {
    args[i] = {&body, i, go};
    HANDLE t = CreateThread(nullptr, 0, ThreadStart, &args[i], 0, nullptr);
    if (!t) {
      Fail(__func__, __LINE__, "CreateThread failed");
      continue;
    }
    threads.push_back(t);
  }
  SetEvent(go);
  for (HANDLE t : threads) {
    CHECK_EQ(WaitForSingleObject(t, 20000), WAIT_OBJECT_0);
    CloseHandle(t);
  }
  CloseHandle(go);
}

std::atomic<int> gConstructions{0};

struct TSlowObject {
  TSlowObject() {
    ++gConstructions;
    Sleep(100);
    Ready = true;
  }
  bool Ready = false;
};

TSlowObject& SharedSlowObject() {
  static TSlowObject object;
  return object;
}

void LocalStaticIsMadeOnceWhileOthersWait() {
  std::atomic<int> sawReady{0};
  std::vector<TSlowObject*> seen(8);
  RunThreads(8, [&](int i) {
    TSlowObject& o = SharedSlowObject();
    seen[i] = &o;
    if (o.Ready) ++sawReady;
  });
  CHECK_EQ(gConstructions.load(), 1);
  CHECK_EQ(sawReady.load(), 8);  // no thread used the object before its constructor ended
  for (TSlowObject* p : seen) CHECK_EQ(p, seen[0]);
}

void ExceptionsOnManyThreadsKeepTheirOwnState() {
  std::atomic<int> wrong{0};
  RunThreads(8, [&](int i) {
    for (int n = 0; n < 500; ++n) {
      try {
        try {
          throw std::runtime_error("outer " + std::to_string(i));
        } catch (const std::runtime_error& outer) {
          try {
            throw i * 1000 + n;
          } catch (int inner) {
            if (inner != i * 1000 + n) ++wrong;
          }
          // the outer exception is still the current one after the inner ended
          if (std::string(outer.what()) != "outer " + std::to_string(i)) ++wrong;
          throw;
        }
      } catch (const std::exception& e) {
        if (std::string(e.what()) != "outer " + std::to_string(i)) ++wrong;
      }
    }
  });
  CHECK_EQ(wrong.load(), 0);
}

std::atomic<int> gThreadObjectsEnded{0};

struct TThreadObject {
  int Value = 0;
  ~TThreadObject() { ++gThreadObjectsEnded; }
};

// Made in each thread on its first call; its destructor is registered then.
TThreadObject& ThreadObject() {
  static thread_local TThreadObject object;
  return object;
}

void ThreadLocalObjectsAreSeparateAndEndWithTheirThread() {
  ThreadObject().Value = -1;
  std::atomic<int> wrong{0};
  RunThreads(4, [&](int i) {
    if (ThreadObject().Value != 0) ++wrong;
    ThreadObject().Value = i + 1;
    Sleep(20);
    if (ThreadObject().Value != i + 1) ++wrong;
  });
  CHECK_EQ(wrong.load(), 0);
  CHECK_EQ(gThreadObjectsEnded.load(), 4);
  CHECK_EQ(ThreadObject().Value, -1);
}

std::atomic<int> gOnceRuns{0};
void CountOnce() {
  ++gOnceRuns;
  Sleep(50);
}
int gFailingRuns = 0;
void FailFirstTime() {
  if (++gFailingRuns == 1) throw std::runtime_error("first run fails");
}

void OnceRunsItsRoutineOnceAndAgainAfterItThrew() {
  static long once = 0;
  RunThreads(6, [&](int) { CHECK_EQ(pthread_once(&once, CountOnce), 0); });
  CHECK_EQ(gOnceRuns.load(), 1);

  static long failing = 0;
  bool threw = false;
  try {
    pthread_once(&failing, FailFirstTime);
  } catch (const std::runtime_error&) {
    threw = true;
  }
  CHECK_EQ(threw, true);
  CHECK_EQ(pthread_once(&failing, FailFirstTime), 0);
  CHECK_EQ(pthread_once(&failing, FailFirstTime), 0);
  CHECK_EQ(gFailingRuns, 2);
}

void StaticMutexesExcludeEachOtherAndNest() {
  static intptr_t mutex = -1;      // normal
  static intptr_t recursive = -3;  // recursive
  long long counter = 0;
  RunThreads(6, [&](int) {
    for (int n = 0; n < 20000; ++n) {
      pthread_mutex_lock(&mutex);
      long long v = counter;
      counter = v + 1;
      pthread_mutex_unlock(&mutex);
    }
  });
  CHECK_EQ(counter, 6 * 20000);
  CHECK_EQ(pthread_mutex_lock(&recursive), 0);
  CHECK_EQ(pthread_mutex_lock(&recursive), 0);
  CHECK_EQ(pthread_mutex_unlock(&recursive), 0);
  CHECK_EQ(pthread_mutex_unlock(&recursive), 0);
}

std::vector<void*> gDestroyed;
void RecordDestroyed(void* value) { gDestroyed.push_back(value); }

void KeyDestructorsRunWhenAThreadEnds() {
  unsigned key = 0;
  CHECK_EQ(pthread_key_create(&key, RecordDestroyed), 0);
  static int mine = 0, theirs = 0;
  CHECK_EQ(pthread_setspecific(key, &mine), 0);
  RunThreads(1, [&](int) {
    CHECK_EQ(pthread_getspecific(key), nullptr);
    pthread_setspecific(key, &theirs);
  });
  CHECK_EQ(gDestroyed.size(), 1u);
  if (!gDestroyed.empty()) CHECK_EQ(gDestroyed[0], static_cast<void*>(&theirs));
  CHECK_EQ(pthread_getspecific(key), &mine);

  SetLastError(ERROR_FILE_NOT_FOUND);
  (void)pthread_getspecific(key);
  CHECK_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));  // reading a key keeps the last error
}

}  // namespace

int main() {
  LocalStaticIsMadeOnceWhileOthersWait();
  ExceptionsOnManyThreadsKeepTheirOwnState();
  ThreadLocalObjectsAreSeparateAndEndWithTheirThread();
  OnceRunsItsRoutineOnceAndAgainAfterItThrew();
  StaticMutexesExcludeEachOtherAndNest();
  KeyDestructorsRunWhenAThreadEnds();
  std::printf(gFailures ? "%d check(s) failed\n" : "all checks passed\n", gFailures);
  return gFailures ? 1 : 0;
}
