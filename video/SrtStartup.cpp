#include "video/SrtStartup.h"

#include <srt/srt.h>

#include <mutex>

namespace mirandel {

namespace {
// syslog's LOG_CRIT. At its default level the library writes a line to stderr for every
// idle receive timeout and every refused connect, which would flood the host's console; the
// receiver reports those through its status text instead.
constexpr int kSrtLogLevel = 2;
}  // namespace

void startSrtOnce() {
  // srt_cleanup is deliberately never called: the library is started once and lives until
  // the process ends, when its own teardown (with the start-up count at one) joins its
  // threads and frees every socket left.
  static std::once_flag once;
  std::call_once(once, [] {
    srt_startup();
    srt_setloglevel(kSrtLogLevel);
  });
}

}  // namespace mirandel
