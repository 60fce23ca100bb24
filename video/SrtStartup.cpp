#include "video/SrtStartup.h"

#include <srt/srt.h>

#include <algorithm>
#include <vector>

#include "base/ThreadSafety.h"
#include "video/SrtReceiver.h"

namespace mirandel {

namespace {

// syslog's LOG_CRIT. At its default level the library writes a line to stderr for every
// idle receive timeout and every refused connect, which would flood the host's console; the
// receiver reports those through its status text instead.
constexpr int kSrtLogLevel = 2;

// All constant-initialised and never destroyed, so that a receiver destroyed late at exit, or
// the exit hook, never finds them gone.
Mutex gMutex;
bool gStarted GUARDED_BY(gMutex) = false;
bool gPinned GUARDED_BY(gMutex) = false;                            // a startSrtOnce user exists
std::vector<SrtReceiver*>* gSessions GUARDED_BY(gMutex) = nullptr;  // made once, kept

void stopAtExit() EXCLUDES(gMutex);

void startLocked() REQUIRES(gMutex) {
  if (gStarted) return;
  srt_startup();
  srt_setloglevel(kSrtLogLevel);
  gStarted = true;
#ifndef _WIN32
  // Registered after the library made its global state (inside srt_startup), so that at exit
  // it runs before the library's teardown. Once per process: a restarted library keeps the
  // state it made the first time.
  static const bool registered = [] {
    struct Hook {
      ~Hook() { stopAtExit(); }
    };
    static Hook hook;
    return true;
  }();
  (void)registered;
#endif
}

bool stopLocked() REQUIRES(gMutex) {
  if (!gStarted) return true;
  if (gPinned || (gSessions && !gSessions->empty())) return false;
  // Joins the library's threads, a few tens of milliseconds (they notice the stop at their next
  // poll). The lock stays held on purpose, as around srt_startup: the library never calls back
  // into this module, and a session starting meanwhile must find the library either running or
  // fully stopped.
  srt_cleanup();
  gStarted = false;
  return true;
}

// The thread that calls exit(), normally the host's. Receive threads are stopped one by one
// without the lock: stop() leaves the list itself.
[[maybe_unused]] void stopAtExit() EXCLUDES(gMutex) {
  std::vector<SrtReceiver*> live;
  {
    MutexLock lock(gMutex);
    if (gSessions) live = *gSessions;
  }
  for (SrtReceiver* receiver : live) {
    try {
      receiver->stop();
    } catch (...) {
      // exit() called from that receiver's own thread: it cannot be joined, and it is not
      // inside the library while it runs this.
    }
  }
  MutexLock lock(gMutex);
  stopLocked();
}

}  // namespace

void startSrtOnce() {
  MutexLock lock(gMutex);
  gPinned = true;
  startLocked();
}

void joinSrtSessions(SrtReceiver& receiver) {
  MutexLock lock(gMutex);
  startLocked();
  if (!gSessions) gSessions = new std::vector<SrtReceiver*>();
  if (std::find(gSessions->begin(), gSessions->end(), &receiver) == gSessions->end())
    gSessions->push_back(&receiver);
}

void leaveSrtSessions(SrtReceiver& receiver) {
  MutexLock lock(gMutex);
  if (gSessions) std::erase(*gSessions, &receiver);
}

bool stopSrtWhenUnused() {
  MutexLock lock(gMutex);
  return stopLocked();
}

bool srtStarted() {
  MutexLock lock(gMutex);
  return gStarted;
}

}  // namespace mirandel
