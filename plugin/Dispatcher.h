#pragma once
// Routes every host function code to the prototype or to an instance and
// turns the answer into the host's 64-bit word. The one place where C++ meets
// the host: nothing thrown below escapes it.
#include <functional>
#include <memory>

#include "plugin/FFGL.h"
#include "plugin/Plugin.h"
#include "plugin/PluginInfo.h"

namespace mirandel {

class Dispatcher {
 public:
  // `info` may be null (every code then fails); `loadGL` loads the GL entry
  // points in the current context and is called at most once.
  Dispatcher(const CFFGLPluginInfo* info, std::function<bool()> loadGL);
  ~Dispatcher();
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  // Host thread(s); the host never overlaps calls for one instance.
  FFMixed dispatch(FFUInt32 code, FFMixed input, FFInstanceID instance) noexcept;

  CFFGLPlugin* prototype() const { return prototype_.get(); }

 private:
  FFMixed route(FFUInt32 code, FFMixed input, CFFGLPlugin* instance);
  // Whether the answer to `code` for parameter `index` is a pointer, so that
  // its failure must be null; values and defaults are for text and file
  // parameters.
  bool answersPointer(FFUInt32 code, FFUInt32 index) const noexcept;
  FFResult initialise();
  CFFGLPlugin* ensurePrototype();
  FFMixed instantiate(const FFGLViewportStruct* viewport);
  static FFResult collectEvents(CFFGLPlugin& plugin, GetParamEventsStruct& events);

  const CFFGLPluginInfo* info_;
  std::function<bool()> loadGL_;
  std::unique_ptr<CFFGLPlugin> prototype_;
  bool glLoadAttempted_ = false;
  bool glLoadSucceeded_ = false;
};

}  // namespace mirandel
