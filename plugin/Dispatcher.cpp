#include "plugin/Dispatcher.h"

#include <algorithm>
#include <functional>

#include "plugin/AnswerWord.h"

namespace mirandel {
namespace {

// Codes whose answer is always a pointer: a failure there must be null, never
// FF_FAIL, which a host would dereference.
bool alwaysAnswersPointer(FFUInt32 code) {
  switch (code) {
    case FF_GET_INFO:
    case FF_GET_PARAMETER_NAME:
    case FF_GET_PARAMETER_DISPLAY:
    case FF_GET_EXTENDED_INFO:
    case FF_GET_PLUGIN_SHORT_NAME:
    case FF_GET_PARAMETER_ELEMENT_NAME:
    case FF_GET_FILE_PARAMETER_EXTENSION:
      return true;
    default:
      return false;
  }
}

// The order of the live-instance list.
bool byAddress(const std::unique_ptr<CFFGLPlugin>& entry, const CFFGLPlugin* address) {
  return std::less<const CFFGLPlugin*>()(entry.get(), address);
}

}  // namespace

Dispatcher::Dispatcher(const CFFGLPluginInfo* info, std::function<bool()> loadGL,
                       std::function<void()> release)
    : info_(info), loadGL_(std::move(loadGL)), release_(std::move(release)) {}

Dispatcher::~Dispatcher() = default;

FFMixed Dispatcher::dispatch(FFUInt32 code, FFMixed input, FFInstanceID instance) noexcept {
  try {
    return route(code, input, instance);
  } catch (...) {
    return answersPointer(code, input.UIntValue) ? pointer(nullptr) : word(FF_FAIL);
  }
}

std::size_t Dispatcher::instanceCount() const {
  MutexLock lock(instancesMutex_);
  return instances_.size();
}

CFFGLPlugin* Dispatcher::liveInstance(FFInstanceID handle) const {
  if (!handle) return nullptr;
  // Compared as an address only: a handle that is not ours is never
  // dereferenced.
  const auto* address = static_cast<const CFFGLPlugin*>(handle);
  MutexLock lock(instancesMutex_);
  auto it = std::lower_bound(instances_.begin(), instances_.end(), address, byAddress);
  return it != instances_.end() && it->get() == address ? it->get() : nullptr;
}

void Dispatcher::releaseWhenEmpty() {
  if (prototype_ || instanceCount() != 0 || !release_) return;
  release_();
}

bool Dispatcher::answersPointer(FFUInt32 code, FFUInt32 index) const noexcept {
  if (alwaysAnswersPointer(code)) return true;
  if (code != FF_GET_PARAMETER_DEFAULT && code != FF_GET_PARAMETER) return false;
  // Only the definitions are read: no plug-in code runs and nothing is made,
  // so this is safe right after whatever threw. Without a prototype the type
  // is unknown, and null is safe either way: it also reads as the float 0.
  const ParamInfo* p = prototype_ ? prototype_->FindParamInfo(index) : nullptr;
  return !p || isTextType(p->type);
}

FFResult Dispatcher::initialise() {
  if (!info_) return FF_FAIL;
  if (PluginStaticHook hook = info_->GetInitialiseHook()) {
    const FFResult r = hook();
    if (r != FF_SUCCESS) return r;
  }
  if (prototype_) return FF_SUCCESS;
  PluginFactory factory = info_->GetFactory();
  if (!factory) return FF_FAIL;
  CFFGLPlugin* made = nullptr;
  const FFResult r = factory(&made);
  std::unique_ptr<CFFGLPlugin> owned(made);
  if (r == FF_FAIL || !owned) return FF_FAIL;
  prototype_ = std::move(owned);
  return FF_SUCCESS;
}

CFFGLPlugin* Dispatcher::ensurePrototype() {
  if (!prototype_) initialise();
  return prototype_.get();
}

FFMixed Dispatcher::instantiate(const FFGLViewportStruct* viewport) {
  if (!info_ || !viewport) return word(FF_FAIL);
  CFFGLPlugin* proto = ensurePrototype();
  if (!proto) return word(FF_FAIL);
  PluginFactory factory = info_->GetFactory();
  if (!factory) return word(FF_FAIL);
  CFFGLPlugin* made = nullptr;
  const FFResult r = factory(&made);
  std::unique_ptr<CFFGLPlugin> object(made);
  if (r == FF_FAIL || !object) return word(FF_FAIL);
  object->SetIdentity(object.get());

  for (FFUInt32 i = 0; i < proto->GetNumParams(); ++i) {
    const ParamInfo* p = proto->FindParamInfo(i);
    if (!p) return word(FF_FAIL);
    const FFResult set = isTextType(p->type) ? object->SetTextParameter(i, p->defaultText.c_str())
                                             : object->SetFloatParameter(i, p->defaultValue);
    if (set == FF_FAIL) return word(FF_FAIL);
  }

  if (!glLoadAttempted_) {
    glLoadAttempted_ = true;
    glLoadSucceeded_ = loadGL_ && loadGL_();
  }
  if (!glLoadSucceeded_) return word(FF_FAIL);

  if (object->InitGL(viewport) != FF_SUCCESS) {
    object->DeInitGL();
    return word(FF_FAIL);
  }
  CFFGLPlugin* handle = object.get();
  MutexLock lock(instancesMutex_);
  instances_.insert(std::lower_bound(instances_.begin(), instances_.end(), handle, byAddress),
                    std::move(object));
  return pointer(handle);
}

FFMixed Dispatcher::deinstantiate(CFFGLPlugin* instance) {
  std::unique_ptr<CFFGLPlugin> owned;
  {
    MutexLock lock(instancesMutex_);
    auto it = std::lower_bound(instances_.begin(), instances_.end(), instance, byAddress);
    if (it == instances_.end() || it->get() != instance) return word(FF_FAIL);
    owned = std::move(*it);
    instances_.erase(it);
  }
  // Out of the list first: whatever happens below, the handle is dead.
  if (owned->IsConnected()) {
    owned->Disconnect();
    owned->SetConnected(false);
  }
  owned->DeInitGL();
  owned.reset();
  releaseWhenEmpty();
  return word(FF_SUCCESS);
}

FFResult Dispatcher::collectEvents(CFFGLPlugin& plugin, GetParamEventsStruct& events) {
  std::vector<ParamInfo>& params = plugin.Params();
  if (events.events == nullptr) {
    events.numEvents = static_cast<FFUInt32>(std::count_if(
        params.begin(), params.end(), [](const ParamInfo& p) { return p.pendingEvents.peek(); }));
    return FF_SUCCESS;
  }
  FFUInt32 written = 0;
  for (ParamInfo& p : params) {
    if (written >= events.numEvents) break;
    const std::uint64_t bits = p.pendingEvents.take();
    if (bits == 0) continue;
    events.events[written].ParameterNumber = p.id;
    events.events[written].eventFlags = bits;
    ++written;
  }
  events.numEvents = written;
  return FF_SUCCESS;
}

}  // namespace mirandel
