// The clip's video stream: when the pipeline runs, the stream requests to the
// phone, and the "Picture" status line. Host thread.
#include "clip/MirandelLink.h"

namespace mirandel {

void MirandelLink::updateStream() {}

void MirandelLink::updateStatusLine() {}

void MirandelLink::stopStream() {}

}  // namespace mirandel
