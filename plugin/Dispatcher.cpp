#include "plugin/Dispatcher.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace mirandel {
namespace {

FFMixed word(FFUInt32 value) {
  FFMixed m;
  m.PointerValue = nullptr;
  m.UIntValue = value;
  return m;
}

FFMixed pointer(const void* p) {
  FFMixed m;
  m.PointerValue = const_cast<void*>(p);
  return m;
}

FFMixed floatWord(float value) {
  FFUInt32 bits;
  std::memcpy(&bits, &value, sizeof bits);
  return word(bits);
}

float wordFloat(FFMixed m) {
  float value;
  std::memcpy(&value, &m.UIntValue, sizeof value);
  return value;
}

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

void copyText(const std::string& text, const GetParameterGroupStruct& target) {
  const std::size_t n = std::min<std::size_t>(text.size(), target.targetBufferSize);
  std::memcpy(target.targetBuffer, text.data(), n);
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
  std::lock_guard lock(instancesMutex_);
  return instances_.size();
}

CFFGLPlugin* Dispatcher::liveInstance(FFInstanceID handle) const {
  if (!handle) return nullptr;
  // Compared as an address only: a handle that is not ours is never
  // dereferenced.
  const auto* address = static_cast<const CFFGLPlugin*>(handle);
  std::lock_guard lock(instancesMutex_);
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
  std::lock_guard lock(instancesMutex_);
  instances_.insert(std::lower_bound(instances_.begin(), instances_.end(), handle, byAddress),
                    std::move(object));
  return pointer(handle);
}

FFMixed Dispatcher::deinstantiate(CFFGLPlugin* instance) {
  std::unique_ptr<CFFGLPlugin> owned;
  {
    std::lock_guard lock(instancesMutex_);
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

FFMixed Dispatcher::route(FFUInt32 code, FFMixed input, FFInstanceID handle) {
  void* in = input.PointerValue;
  const FFUInt32 n = input.UIntValue;
  const FFMixed fail = word(FF_FAIL);
  CFFGLPlugin* const instance = liveInstance(handle);
  // A handle that names no live instance: refused, and where the answer is a
  // pointer with null, which a host can tell from a text.
  const bool deadHandle = handle && !instance;
  const FFMixed refused = answersPointer(code, n) ? pointer(nullptr) : fail;

  switch (code) {
    case FF_GET_INFO:
      return pointer(info_ ? info_->GetPluginInfo() : nullptr);

    case FF_GET_EXTENDED_INFO:
      return pointer(info_ ? info_->GetPluginExtendedInfo() : nullptr);

    case FF_INITIALISE_V2:
      return word(initialise());

    case FF_DEINITIALISE: {
      if (!info_) return fail;
      prototype_.reset();
      if (PluginStaticHook hook = info_->GetDeinitialiseHook()) hook();
      releaseWhenEmpty();
      return word(FF_SUCCESS);
    }

    case FF_INSTANTIATE_GL:
      return instantiate(static_cast<const FFGLViewportStruct*>(in));

    default:
      break;
  }

  // Questions about definitions go to the prototype.
  switch (code) {
    case FF_GET_NUM_PARAMETERS: {
      CFFGLPlugin* proto = ensurePrototype();
      return proto ? word(proto->GetNumParams()) : fail;
    }
    case FF_GET_PARAMETER_NAME: {
      CFFGLPlugin* proto = ensurePrototype();
      const ParamInfo* p = proto ? proto->FindParamInfo(n) : nullptr;
      return pointer(p ? p->name.c_str() : nullptr);
    }
    case FF_GET_PARAMETER_DEFAULT: {
      CFFGLPlugin* proto = ensurePrototype();
      const ParamInfo* p = proto ? proto->FindParamInfo(n) : nullptr;
      if (!p) return fail;
      return isTextType(p->type) ? pointer(p->defaultText.c_str()) : floatWord(p->defaultValue);
    }
    case FF_GET_PLUGIN_CAPS: {
      CFFGLPlugin* proto = ensurePrototype();
      if (!proto) return fail;
      switch (n) {
        case FF_CAP_SET_TIME:
          return word(proto->IsTimeSupported() ? 1 : 0);
        case FF_CAP_MINIMUM_INPUT_FRAMES:
          return word(static_cast<FFUInt32>(std::max(proto->GetMinInputs(), 0)));
        case FF_CAP_MAXIMUM_INPUT_FRAMES:
          return word(static_cast<FFUInt32>(std::max(proto->GetMaxInputs(), 0)));
        case FF_CAP_TOP_LEFT_TEXTURE_ORIENTATION:
          return word(proto->SupportsTopLeftTextureOrientation() ? 1 : 0);
        default:
          return word(0);
      }
    }
    case FF_GET_PARAMETER_TYPE: {
      CFFGLPlugin* proto = ensurePrototype();
      const ParamInfo* p = proto ? proto->FindParamInfo(n) : nullptr;
      return p ? word(p->type) : fail;
    }
    case FF_GET_PARAMETER_USAGE: {
      CFFGLPlugin* proto = ensurePrototype();
      const ParamInfo* p = proto ? proto->FindParamInfo(n) : nullptr;
      return p ? word(p->usage) : fail;
    }
    case FF_GET_PLUGIN_SHORT_NAME: {
      CFFGLPlugin* proto = ensurePrototype();
      return pointer(proto ? proto->GetShortName() : nullptr);
    }
    case FF_GET_RANGE: {
      if (!in) return fail;
      CFFGLPlugin* proto = ensurePrototype();
      if (!proto) return fail;
      auto* r = static_cast<GetRangeStruct*>(in);
      const ParamInfo* p = proto->FindParamInfo(r->parameterNumber);
      r->range.min = p ? p->rangeMin : 0.0f;
      r->range.max = p ? p->rangeMax : 1.0f;
      return word(FF_SUCCESS);
    }
    case FF_GET_THUMBNAIL: {
      if (!in) return fail;
      auto* t = static_cast<GetThumbnailStruct*>(in);
      t->width = 0;
      t->height = 0;
      return fail;
    }
    case FF_GET_NUM_FILE_PARAMETER_EXTENSIONS: {
      CFFGLPlugin* proto = ensurePrototype();
      if (!proto) return fail;
      const ParamInfo* p = proto->FindParamInfo(n);
      return word(p ? static_cast<FFUInt32>(p->fileExtensions.size()) : 0);
    }
    case FF_GET_FILE_PARAMETER_EXTENSION: {
      if (!in) return pointer(nullptr);
      CFFGLPlugin* proto = ensurePrototype();
      const auto* q = static_cast<const GetFileParameterExtensionStruct*>(in);
      const ParamInfo* p = proto ? proto->FindParamInfo(q->ParameterNumber) : nullptr;
      if (!p || q->ExtensionNumber >= p->fileExtensions.size()) return pointer(nullptr);
      return pointer(p->fileExtensions[q->ExtensionNumber].c_str());
    }
    case FF_GET_NUM_ELEMENT_SEPARATORS: {
      CFFGLPlugin* proto = ensurePrototype();
      const ParamInfo* p = proto ? proto->FindParamInfo(n) : nullptr;
      return word(p ? static_cast<FFUInt32>(p->elementSeparators.size()) : 0);
    }
    case FF_GET_ELEMENT_SEPARATOR: {
      if (!in) return fail;
      CFFGLPlugin* proto = ensurePrototype();
      const auto* q = static_cast<const GetElementSeparatorStruct*>(in);
      const ParamInfo* p = proto ? proto->FindParamInfo(q->ParameterNumber) : nullptr;
      if (!p || q->SeparatorNumber >= p->elementSeparators.size()) return fail;
      return word(p->elementSeparators[q->SeparatorNumber]);
    }
    case FF_GET_PARAMETER_GROUP: {
      auto* g = static_cast<GetParameterGroupStruct*>(in);
      if (!g || g->targetBufferSize == 0 || !g->targetBuffer) return fail;
      CFFGLPlugin* proto = ensurePrototype();
      if (!proto) return fail;
      const ParamInfo* p = proto->FindParamInfo(g->parameterNumber);
      copyText(p ? p->group : std::string(), *g);
      return word(FF_SUCCESS);
    }
    default:
      break;
  }

  // Codes answered by the instance when given, else by the prototype.
  switch (code) {
    case FF_GET_NUM_PARAMETER_ELEMENTS:
    case FF_GET_PARAMETER_ELEMENT_NAME:
    case FF_GET_PARAMETER_ELEMENT_VALUE:
    case FF_GET_PARAMETER_VISIBILITY: {
      if (deadHandle) return refused;
      CFFGLPlugin* target = instance ? instance : ensurePrototype();
      if (code == FF_GET_NUM_PARAMETER_ELEMENTS || code == FF_GET_PARAMETER_VISIBILITY) {
        const ParamInfo* p = target ? target->FindParamInfo(n) : nullptr;
        if (!p) return fail;
        if (code == FF_GET_PARAMETER_VISIBILITY) return word(p->visible ? 1 : 0);
        return word(static_cast<FFUInt32>(p->elements.size()));
      }
      const auto* q = static_cast<const GetParameterElementNameStruct*>(in);
      const bool isName = code == FF_GET_PARAMETER_ELEMENT_NAME;
      const FFMixed none = isName ? pointer(nullptr) : fail;
      if (!q || !target) return none;
      const ParamInfo* p = target->FindParamInfo(q->ParameterNumber);
      if (!p || q->ElementNumber >= p->elements.size()) return none;
      const ParamElement& e = p->elements[q->ElementNumber];
      return isName ? pointer(e.name.c_str()) : floatWord(e.value);
    }
    default:
      break;
  }

  // Everything else needs an instance.
  if (!instance) return deadHandle ? refused : fail;

  switch (code) {
    case FF_GET_PARAMETER_DISPLAY:
      return pointer(instance->GetParameterDisplay(n));

    case FF_SET_PARAMETER: {
      const auto* s = static_cast<const SetParameterStruct*>(in);
      if (!s) return fail;
      CFFGLPlugin* proto = ensurePrototype();
      if (!proto) return fail;
      const ParamInfo* p = proto->FindParamInfo(s->ParameterNumber);
      if (p && isTextType(p->type))
        return word(instance->SetTextParameter(
            s->ParameterNumber, static_cast<const char*>(s->NewParameterValue.PointerValue)));
      return word(instance->SetFloatParameter(s->ParameterNumber, wordFloat(s->NewParameterValue)));
    }

    case FF_GET_PARAMETER: {
      CFFGLPlugin* proto = ensurePrototype();
      if (!proto) return fail;
      const ParamInfo* p = proto->FindParamInfo(n);
      if (p && isTextType(p->type)) return pointer(instance->GetTextParameter(n));
      return floatWord(instance->GetFloatParameter(n));
    }

    case FF_GET_INPUT_STATUS:
      return word(instance->GetInputStatus(n));

    case FF_PROCESS_OPENGL: {
      if (!in) return fail;
      if (!instance->IsConnected()) {
        instance->Connect();
        instance->SetConnected(true);
      }
      return word(instance->ProcessOpenGL(static_cast<ProcessOpenGLStruct*>(in)));
    }

    case FF_DEINSTANTIATE_GL:
      return deinstantiate(instance);

    case FF_SET_TIME: {
      if (!in) return fail;
      return word(instance->SetTime(*static_cast<const double*>(in)));
    }

    case FF_CONNECT: {
      const FFResult r = instance->Connect();
      if (r == FF_SUCCESS) instance->SetConnected(true);
      return word(r);
    }

    case FF_DISCONNECT: {
      const FFResult r = instance->Disconnect();
      if (r == FF_SUCCESS) instance->SetConnected(false);
      return word(r);
    }

    case FF_RESIZE:
      if (!in) return fail;
      return word(instance->Resize(static_cast<const FFGLViewportStruct*>(in)));

    case FF_SET_PARAMETER_ELEMENT_VALUE: {
      const auto* q = static_cast<const SetParameterElementValueStruct*>(in);
      if (!q) return fail;
      ParamInfo* p = instance->FindParamInfo(q->ParameterNumber);
      if (!p || q->ElementNumber >= p->elements.size()) return fail;
      p->elements[q->ElementNumber].value = q->NewParameterValue;
      return word(FF_SUCCESS);
    }

    case FF_SET_BEAT_INFO: {
      const auto* b = static_cast<const SetBeatinfoStruct*>(in);
      if (!b) return fail;
      instance->SetBeatInfo(b->bpm, b->barPhase);
      return word(FF_SUCCESS);
    }

    case FF_SET_HOST_INFO: {
      const auto* h = static_cast<const SetHostinfoStruct*>(in);
      if (!h) return fail;
      instance->SetHostInfo(h->name, h->version);
      return word(FF_SUCCESS);
    }

    case FF_SET_SAMPLE_RATE:
      instance->SetSampleRate(n);
      return word(FF_SUCCESS);

    case FF_GET_PARAMETER_EVENTS: {
      auto* e = static_cast<GetParamEventsStruct*>(in);
      if (!e) return fail;
      return word(collectEvents(*instance, *e));
    }

    case FF_ENABLE_PLUGIN_CAP: {
      CFFGLPlugin* proto = ensurePrototype();
      if (n == FF_CAP_TOP_LEFT_TEXTURE_ORIENTATION && proto &&
          proto->SupportsTopLeftTextureOrientation())
        instance->EnableTopLeftTextureOrientation();
      return fail;
    }

    case FF_GET_PARAMETER_DISPLAY_NAME: {
      auto* g = static_cast<GetParameterGroupStruct*>(in);
      if (!g || g->targetBufferSize == 0 || !g->targetBuffer) return fail;
      const ParamInfo* p = instance->FindParamInfo(g->parameterNumber);
      copyText(p ? p->displayName : std::string(), *g);
      return word(FF_SUCCESS);
    }

    default:
      return fail;  // unused codes: 1, 3, 11, 12, 14, 24..30, above 51
  }
}

}  // namespace mirandel
