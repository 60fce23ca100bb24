// The plug-in's two exported functions and its information record. Everything
// else in the library is hidden.
#include <new>

#include "clip/MirandelLink.h"
#include "clip/ProcessServices.h"
#include "plugin/Dispatcher.h"
#include "ffgl/FFGL.h"
#include "plugin/GLLoader.h"
#include "base/Log.h"
#include "plugin/PluginInfo.h"
#include "plugin/Version.h"

#if defined(_WIN32)
#define MIRANDEL_EXPORT extern "C" __declspec(dllexport)
#else
#define MIRANDEL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

const CFFGLPluginInfo gPluginInfo(
    &mirandel::createMirandelLink, "MRD1", "Mirandel Link", 2, 1, MIRANDEL_VERSION_MAJOR,
    MIRANDEL_VERSION_MINOR, FF_SOURCE,
    "A Mirandel iPhone as a source: its live output over SRT, its controls as this clip's "
    "parameters.",
    "Mirandel \xE2\x80\x94 https://mirandel.app");

// Never destroyed: at unload, other statics (the link hub) may already be
// gone, and a prototype destroyed then would reach them. Hosts free the
// prototype with code 2. Once the plug-in is de-initialised and its last
// clip is gone, the shared services stop with their threads, so that a host
// that unloads the plug-in (or rescans its plug-ins) keeps no thread of ours.
// Built in static storage rather than on the heap: nothing may throw out of
// plugMain, and the first call has no dispatcher yet to catch for it.
mirandel::Dispatcher& dispatcher() {
  alignas(mirandel::Dispatcher) static unsigned char storage[sizeof(mirandel::Dispatcher)];
  static mirandel::Dispatcher* d = ::new (storage) mirandel::Dispatcher(
      &gPluginInfo, &mirandel::loadGLEntryPoints, [] { mirandel::stopProcessServices(); });
  return *d;
}

}  // namespace

MIRANDEL_EXPORT FFMixed plugMain(FFUInt32 functionCode, FFMixed inputValue,
                                 FFInstanceID instanceID) {
  return dispatcher().dispatch(functionCode, inputValue, instanceID);
}

MIRANDEL_EXPORT void SetLogCallback(LogCallback callback) { mirandel::setLogCallback(callback); }
