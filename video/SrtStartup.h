#pragma once
// The one place in the process that starts the SRT library.

namespace mirandel {

// Starts the SRT library and quietens its logging, exactly once per process; safe against
// concurrent first use. Every part of the process that uses the library (receiver, the phone
// emulator's sender, test peers) must come through here instead of calling srt_startup
// itself: the library counts its start-ups, and its own teardown at process exit stops its
// collector thread only when that count is back at one. An extra, unmatched start-up leaves
// the collector running while the library's globals are destroyed under it, which crashes
// the process at exit. Any thread.
void startSrtOnce();

}  // namespace mirandel
