#include "clip/ProcessServices.h"

#include "link/LinkHub.h"
#include "video/SrtStartup.h"

namespace mirandel {

bool stopProcessServices() {
  const bool hubStopped = LinkHub::instance().stopWhenUnused();
  const bool srtStopped = stopSrtWhenUnused();
  return hubStopped && srtStopped;
}

}  // namespace mirandel
