#pragma once
// Locks that clang's thread-safety analysis checks (-Wthread-safety): a field says which mutex
// guards it, a helper says which mutex it needs held or must not hold, and a build with clang
// rejects an access without the lock. Other compilers see plain std::mutex code.
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define MIRANDEL_TSA(x) __attribute__((x))
#else
#define MIRANDEL_TSA(x)
#endif

#define CAPABILITY(name) MIRANDEL_TSA(capability(name))
#define SCOPED_CAPABILITY MIRANDEL_TSA(scoped_lockable)
#define GUARDED_BY(m) MIRANDEL_TSA(guarded_by(m))
#define PT_GUARDED_BY(m) MIRANDEL_TSA(pt_guarded_by(m))
#define REQUIRES(...) MIRANDEL_TSA(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) MIRANDEL_TSA(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) MIRANDEL_TSA(acquire_capability(__VA_ARGS__))
#define RELEASE(...) MIRANDEL_TSA(release_capability(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS MIRANDEL_TSA(no_thread_safety_analysis)

namespace mirandel {

// std::mutex as a capability the analysis knows.
class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { m_.lock(); }
  void unlock() RELEASE() { m_.unlock(); }

 private:
  std::mutex m_;
};

// Holds a Mutex for its scope. It can be let go and taken again inside the scope, which is
// what a condition variable's wait does with it.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& m) ACQUIRE(m) : m_(m) { m_.lock(); }
  ~MutexLock() RELEASE() {
    if (held_) m_.unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void lock() ACQUIRE() {
    m_.lock();
    held_ = true;
  }
  void unlock() RELEASE() {
    held_ = false;
    m_.unlock();
  }

 private:
  Mutex& m_;
  bool held_ = true;
};

// A condition variable that waits with a MutexLock. The wait lets the lock go and takes it
// again, which the analysis cannot follow; to it the lock stays held throughout, which is what
// the caller's code sees.
class ConditionVariable {
 public:
  template <typename Predicate>
  void wait(MutexLock& lock, Predicate done) NO_THREAD_SAFETY_ANALYSIS {
    cv_.wait(lock, done);
  }
  template <typename Duration, typename Predicate>
  bool waitFor(MutexLock& lock, Duration timeout, Predicate done) NO_THREAD_SAFETY_ANALYSIS {
    return cv_.wait_for(lock, timeout, done);
  }
  void notifyOne() { cv_.notify_one(); }
  void notifyAll() { cv_.notify_all(); }

 private:
  std::condition_variable_any cv_;
};

}  // namespace mirandel
