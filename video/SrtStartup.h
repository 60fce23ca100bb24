#pragma once
// The one place in the process that starts and stops the SRT library, and the list of the
// receive sessions that use it.
//
// The library counts its start-ups. srt_cleanup, when it brings the count back to nought,
// closes every socket and joins every thread of the library; the library's own teardown at
// process exit does the same only when the count is then exactly one. So every part of this
// module starts the library through here, never with srt_startup of its own: an extra,
// unmatched start-up leaves the library's threads running while its globals are destroyed
// under them at exit. Clips start it when a receive session starts, and the plug-in stops it
// again when it is de-initialised with no clip left (stopSrtWhenUnused); the phone emulator
// and test peers start it for the rest of the process.
//
// At process exit (Linux), a hook that runs before the library's own teardown stops every
// receive session still running and then balances this module's start-up, so that no receive
// thread is inside the library while it closes its sockets and frees its state. On Windows the
// plug-in DLL is pinned and its static destructors, the library's among them, run only after
// the system has ended every other thread; there is nothing left to stop then, and locks those
// threads held may never be released, so the hook is left out.
namespace mirandel {

class SrtReceiver;

// Starts the library and quietens its logging unless it runs, and keeps it running for the
// rest of the process: for users that never stop (the phone emulator's sender, test peers).
// Safe against concurrent first use. Any thread.
void startSrtOnce();

// A receiver joins before its receive thread starts, starting the library when it is not
// running, and leaves once that thread has been joined. Leaving twice is harmless. Host thread.
void joinSrtSessions(SrtReceiver& receiver);
void leaveSrtSessions(SrtReceiver& receiver);

// Stops the library when this module started it and nothing of this module uses it any more:
// no receive session and no startSrtOnce user. Its srt_cleanup balances this module's
// srt_startup, which ends the library's threads unless some other module of the process
// started the library too; the next receive session starts it again. Answers whether the
// library is stopped (as far as this module is concerned) now. Host thread; never a receive
// thread, and never under a loader lock (it joins the library's threads).
bool stopSrtWhenUnused();

// Whether this module has the library started now. Any thread.
bool srtStarted();

}  // namespace mirandel
