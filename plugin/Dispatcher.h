#pragma once
// Routes every host function code to the prototype or to an instance and
// turns the answer into the host's 64-bit word. The one place where C++ meets
// the host: nothing thrown below escapes it.
#include <functional>
#include <memory>
#include <vector>

#include "base/ThreadSafety.h"
#include "ffgl/FFGL.h"
#include "ffgl/Plugin.h"
#include "plugin/PluginInfo.h"

namespace mirandel {

class Dispatcher {
 public:
  // `info` may be null (every code then fails); `loadGL` loads the GL entry
  // points in the current context and is called at most once. `release`
  // (may be empty) is called whenever the plug-in is left holding no object
  // after code 2 or 19, that is de-initialised with its last instance gone:
  // the process-wide services may stop then, to start again on demand.
  Dispatcher(const CFFGLPluginInfo* info, std::function<bool()> loadGL,
             std::function<void()> release = {});
  // Destroys the instances a host left behind (without DeInitGL: no GL
  // context can be assumed then).
  ~Dispatcher();
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  // Host thread(s); the host never overlaps calls for one instance.
  FFMixed dispatch(FFUInt32 code, FFMixed input, FFInstanceID instance) noexcept;

  CFFGLPlugin* prototype() const { return prototype_.get(); }
  std::size_t instanceCount() const;

 private:
  // What one call brings its code's handler.
  struct Call {
    void* in;               // the input word as a pointer
    FFUInt32 n;             // and as a number
    CFFGLPlugin* instance;  // the live instance the handle names, or null
  };
  struct Routes;  // the handler of each code (DispatcherRoutes.cpp)
  FFMixed route(FFUInt32 code, FFMixed input, FFInstanceID handle);
  // Whether the answer to `code` for parameter `index` is a pointer, so that
  // its failure must be null; values and defaults are for text and file
  // parameters.
  bool answersPointer(FFUInt32 code, FFUInt32 index) const noexcept;
  FFResult initialise();
  CFFGLPlugin* ensurePrototype();
  FFMixed instantiate(const FFGLViewportStruct* viewport);
  FFMixed deinstantiate(CFFGLPlugin* instance);
  // The instance behind a host's handle, or null when the handle is not one
  // this dispatcher made and has not destroyed yet: a destroyed instance's
  // handle is a dangling pointer, and hosts do pass those (and the prototype,
  // which is no instance) by mistake.
  CFFGLPlugin* liveInstance(FFInstanceID handle) const;
  void releaseWhenEmpty();
  static FFResult collectEvents(CFFGLPlugin& plugin, GetParamEventsStruct& events);

  const CFFGLPluginInfo* info_;
  std::function<bool()> loadGL_;
  std::function<void()> release_;
  std::unique_ptr<CFFGLPlugin> prototype_;
  // Every instance made by code 18 and not yet destroyed by code 19, ordered
  // by address for the lookup that every instance code makes. A host may call
  // different instances from different threads at once, so the list has a
  // lock of its own, held for the lookup only, never during a call into an
  // instance.
  mutable Mutex instancesMutex_;
  std::vector<std::unique_ptr<CFFGLPlugin>> instances_ GUARDED_BY(instancesMutex_);
  bool glLoadAttempted_ = false;
  bool glLoadSucceeded_ = false;
};

}  // namespace mirandel
