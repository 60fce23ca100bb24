// Windows only, linked into the plug-in DLL alone (not into the static
// libraries that tests and tools use).
//
// The DLL pins itself as it is loaded, so it stays mapped until the process
// ends whatever the host does with FreeLibrary: the Windows counterpart of
// linking with -z nodelete on Linux.
//
// Why: threads of ours may outlive the last plug-in object and even a host's
// unload. The link hub's worker is detached and never waited for; a name lookup
// runs on a detached thread for as long as the name server takes; libsrt keeps
// its collector thread from the first srt_startup to the end of the process.
// None of them may ever find its code unmapped. Ending them instead is not an
// option at unload: DllMain and the static destructors run under the loader
// lock, and a thread that is ending needs that lock itself, so joining one
// there deadlocks. Pinned, the DLL runs its static destructors only as the
// process ends, after Windows has ended every other thread; libsrt's, which
// joins its collector thread, then finds that thread already gone.
//
// Why here and not when the first thread starts: threads start in several
// places (libsrt's as soon as a clip is built, the hub's with the first
// subscription, lookups when a stream starts), and a place that forgets to pin
// would bring back a hang at unload or a crash in unmapped code. Pinning at
// load covers them all, present and future. The cost is only that a host which
// loads the DLL just to read its information record cannot unload it either.
// GetModuleHandleExW takes the loader lock, which this thread already holds,
// and loads nothing, so it is safe in DllMain.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&DllMain), &self);
  }
  return TRUE;
}
