#pragma once
// The services that the clips of a process share: the link hub (its worker and sockets) and
// the SRT library (its threads). Each starts on demand: the hub with the first clip, the SRT
// library with the first stream.

namespace mirandel {

// Stops them once nothing uses them any more, and waits until their threads have ended, so that
// a de-initialised plug-in with no clip left leaves no thread of its own running in the host
// (a name lookup stuck on a silent name server excepted: it cannot be interrupted, is one of at
// most a few, and ends by itself). A later clip starts them again. Answers whether both are
// stopped. Host thread, inside a host call: never under a loader lock.
bool stopProcessServices();

}  // namespace mirandel
