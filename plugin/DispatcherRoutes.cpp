// Which object answers each host function code, and how: one small handler a
// code, found through a table. Host thread(s).
#include <algorithm>
#include <array>

#include "plugin/AnswerWord.h"
#include "plugin/Dispatcher.h"

namespace mirandel {

// The handlers. A handler runs only when the call has what its route needs
// (Dispatcher::route), and answers every other failure itself.
struct Dispatcher::Routes {
  using Handler = FFMixed (*)(Dispatcher&, const Call&);
  enum class Needs : std::uint8_t {
    kNothing,              // process codes: the handle is not looked at
    kDefinitions,          // answered by the prototype whatever the handle
    kInstanceOrPrototype,  // the instance when one is named, else the prototype
    kInstance,             // a live instance
  };
  struct Route {
    Needs needs = Needs::kInstance;
    Handler handler = nullptr;  // null: a code nothing answers
  };

  static FFMixed fail() { return word(FF_FAIL); }
  // The definition of parameter `index`, or null.
  static const ParamInfo* definition(Dispatcher& d, FFUInt32 index) {
    CFFGLPlugin* proto = d.ensurePrototype();
    return proto ? proto->FindParamInfo(index) : nullptr;
  }

  // --- the process ---------------------------------------------------------
  static FFMixed info(Dispatcher& d, const Call&) {
    return pointer(d.info_ ? d.info_->GetPluginInfo() : nullptr);
  }
  static FFMixed extendedInfo(Dispatcher& d, const Call&) {
    return pointer(d.info_ ? d.info_->GetPluginExtendedInfo() : nullptr);
  }
  static FFMixed initialise(Dispatcher& d, const Call&) { return word(d.initialise()); }
  static FFMixed deinitialise(Dispatcher& d, const Call&) {
    if (!d.info_) return fail();
    d.prototype_.reset();
    if (PluginStaticHook hook = d.info_->GetDeinitialiseHook()) hook();
    d.releaseWhenEmpty();
    return word(FF_SUCCESS);
  }
  static FFMixed instantiate(Dispatcher& d, const Call& c) {
    return d.instantiate(static_cast<const FFGLViewportStruct*>(c.in));
  }

  // --- definitions, from the prototype ---------------------------------------
  static FFMixed parameterCount(Dispatcher& d, const Call&) {
    CFFGLPlugin* proto = d.ensurePrototype();
    return proto ? word(proto->GetNumParams()) : fail();
  }
  static FFMixed parameterName(Dispatcher& d, const Call& c) {
    const ParamInfo* p = definition(d, c.n);
    return pointer(p ? p->name.c_str() : nullptr);
  }
  static FFMixed parameterDefault(Dispatcher& d, const Call& c) {
    const ParamInfo* p = definition(d, c.n);
    if (!p) return fail();
    return isTextType(p->type) ? pointer(p->defaultText.c_str()) : floatWord(p->defaultValue);
  }
  static FFMixed capability(Dispatcher& d, const Call& c) {
    CFFGLPlugin* proto = d.ensurePrototype();
    if (!proto) return fail();
    switch (c.n) {
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
  static FFMixed parameterType(Dispatcher& d, const Call& c) {
    const ParamInfo* p = definition(d, c.n);
    return p ? word(p->type) : fail();
  }
  static FFMixed parameterUsage(Dispatcher& d, const Call& c) {
    const ParamInfo* p = definition(d, c.n);
    return p ? word(p->usage) : fail();
  }
  static FFMixed shortName(Dispatcher& d, const Call&) {
    CFFGLPlugin* proto = d.ensurePrototype();
    return pointer(proto ? proto->GetShortName() : nullptr);
  }
  static FFMixed range(Dispatcher& d, const Call& c) {
    if (!c.in) return fail();
    CFFGLPlugin* proto = d.ensurePrototype();
    if (!proto) return fail();
    auto* r = static_cast<GetRangeStruct*>(c.in);
    const ParamInfo* p = proto->FindParamInfo(r->parameterNumber);
    r->range.min = p ? p->rangeMin : 0.0f;
    r->range.max = p ? p->rangeMax : 1.0f;
    return word(FF_SUCCESS);
  }
  static FFMixed thumbnail(Dispatcher&, const Call& c) {
    if (!c.in) return fail();
    auto* t = static_cast<GetThumbnailStruct*>(c.in);
    t->width = 0;
    t->height = 0;
    return fail();
  }
  static FFMixed fileExtensionCount(Dispatcher& d, const Call& c) {
    if (!d.ensurePrototype()) return fail();
    const ParamInfo* p = definition(d, c.n);
    return word(p ? static_cast<FFUInt32>(p->fileExtensions.size()) : 0);
  }
  static FFMixed fileExtension(Dispatcher& d, const Call& c) {
    if (!c.in) return pointer(nullptr);
    const auto* q = static_cast<const GetFileParameterExtensionStruct*>(c.in);
    const ParamInfo* p = definition(d, q->ParameterNumber);
    if (!p || q->ExtensionNumber >= p->fileExtensions.size()) return pointer(nullptr);
    return pointer(p->fileExtensions[q->ExtensionNumber].c_str());
  }
  static FFMixed separatorCount(Dispatcher& d, const Call& c) {
    const ParamInfo* p = definition(d, c.n);
    return word(p ? static_cast<FFUInt32>(p->elementSeparators.size()) : 0);
  }
  static FFMixed separator(Dispatcher& d, const Call& c) {
    if (!c.in) return fail();
    const auto* q = static_cast<const GetElementSeparatorStruct*>(c.in);
    const ParamInfo* p = definition(d, q->ParameterNumber);
    if (!p || q->SeparatorNumber >= p->elementSeparators.size()) return fail();
    return word(p->elementSeparators[q->SeparatorNumber]);
  }
  static FFMixed group(Dispatcher& d, const Call& c) {
    auto* g = static_cast<GetParameterGroupStruct*>(c.in);
    if (!g || g->targetBufferSize == 0 || !g->targetBuffer) return fail();
    CFFGLPlugin* proto = d.ensurePrototype();
    if (!proto) return fail();
    const ParamInfo* p = proto->FindParamInfo(g->parameterNumber);
    copyText(p ? p->group : std::string(), *g);
    return word(FF_SUCCESS);
  }

  // --- the instance named, else the prototype --------------------------------
  static CFFGLPlugin* instanceOrPrototype(Dispatcher& d, const Call& c) {
    return c.instance ? c.instance : d.ensurePrototype();
  }
  static FFMixed elementCount(Dispatcher& d, const Call& c) {
    CFFGLPlugin* target = instanceOrPrototype(d, c);
    const ParamInfo* p = target ? target->FindParamInfo(c.n) : nullptr;
    return p ? word(static_cast<FFUInt32>(p->elements.size())) : fail();
  }
  static FFMixed visibility(Dispatcher& d, const Call& c) {
    CFFGLPlugin* target = instanceOrPrototype(d, c);
    const ParamInfo* p = target ? target->FindParamInfo(c.n) : nullptr;
    return p ? word(p->visible ? 1 : 0) : fail();
  }
  // The element a name or value question points at, or null.
  static const ParamElement* element(Dispatcher& d, const Call& c) {
    const auto* q = static_cast<const GetParameterElementNameStruct*>(c.in);
    CFFGLPlugin* target = instanceOrPrototype(d, c);
    if (!q || !target) return nullptr;
    const ParamInfo* p = target->FindParamInfo(q->ParameterNumber);
    if (!p || q->ElementNumber >= p->elements.size()) return nullptr;
    return &p->elements[q->ElementNumber];
  }
  static FFMixed elementName(Dispatcher& d, const Call& c) {
    const ParamElement* e = element(d, c);
    return pointer(e ? e->name.c_str() : nullptr);
  }
  static FFMixed elementValue(Dispatcher& d, const Call& c) {
    const ParamElement* e = element(d, c);
    return e ? floatWord(e->value) : fail();
  }

  // --- a live instance --------------------------------------------------------
  static FFMixed display(Dispatcher&, const Call& c) {
    return pointer(c.instance->GetParameterDisplay(c.n));
  }
  static FFMixed setParameter(Dispatcher& d, const Call& c) {
    const auto* s = static_cast<const SetParameterStruct*>(c.in);
    if (!s || !d.ensurePrototype()) return fail();
    const ParamInfo* p = definition(d, s->ParameterNumber);
    if (p && isTextType(p->type))
      return word(c.instance->SetTextParameter(
          s->ParameterNumber, static_cast<const char*>(s->NewParameterValue.PointerValue)));
    return word(c.instance->SetFloatParameter(s->ParameterNumber, wordFloat(s->NewParameterValue)));
  }
  static FFMixed getParameter(Dispatcher& d, const Call& c) {
    if (!d.ensurePrototype()) return fail();
    const ParamInfo* p = definition(d, c.n);
    if (p && isTextType(p->type)) return pointer(c.instance->GetTextParameter(c.n));
    return floatWord(c.instance->GetFloatParameter(c.n));
  }
  static FFMixed inputStatus(Dispatcher&, const Call& c) {
    return word(c.instance->GetInputStatus(c.n));
  }
  static FFMixed processOpenGL(Dispatcher&, const Call& c) {
    if (!c.in) return fail();
    if (!c.instance->IsConnected()) {
      c.instance->Connect();
      c.instance->SetConnected(true);
    }
    return word(c.instance->ProcessOpenGL(static_cast<ProcessOpenGLStruct*>(c.in)));
  }
  static FFMixed deinstantiate(Dispatcher& d, const Call& c) { return d.deinstantiate(c.instance); }
  static FFMixed setTime(Dispatcher&, const Call& c) {
    if (!c.in) return fail();
    return word(c.instance->SetTime(*static_cast<const double*>(c.in)));
  }
  static FFMixed connect(Dispatcher&, const Call& c) {
    const FFResult r = c.instance->Connect();
    if (r == FF_SUCCESS) c.instance->SetConnected(true);
    return word(r);
  }
  static FFMixed disconnect(Dispatcher&, const Call& c) {
    const FFResult r = c.instance->Disconnect();
    if (r == FF_SUCCESS) c.instance->SetConnected(false);
    return word(r);
  }
  static FFMixed resize(Dispatcher&, const Call& c) {
    if (!c.in) return fail();
    return word(c.instance->Resize(static_cast<const FFGLViewportStruct*>(c.in)));
  }
  static FFMixed setElementValue(Dispatcher&, const Call& c) {
    const auto* q = static_cast<const SetParameterElementValueStruct*>(c.in);
    if (!q) return fail();
    ParamInfo* p = c.instance->FindParamInfo(q->ParameterNumber);
    if (!p || q->ElementNumber >= p->elements.size()) return fail();
    p->elements[q->ElementNumber].value = q->NewParameterValue;
    return word(FF_SUCCESS);
  }
  static FFMixed beatInfo(Dispatcher&, const Call& c) {
    const auto* b = static_cast<const SetBeatinfoStruct*>(c.in);
    if (!b) return fail();
    c.instance->SetBeatInfo(b->bpm, b->barPhase);
    return word(FF_SUCCESS);
  }
  static FFMixed hostInfo(Dispatcher&, const Call& c) {
    const auto* h = static_cast<const SetHostinfoStruct*>(c.in);
    if (!h) return fail();
    c.instance->SetHostInfo(h->name, h->version);
    return word(FF_SUCCESS);
  }
  static FFMixed sampleRate(Dispatcher&, const Call& c) {
    c.instance->SetSampleRate(c.n);
    return word(FF_SUCCESS);
  }
  static FFMixed events(Dispatcher&, const Call& c) {
    auto* e = static_cast<GetParamEventsStruct*>(c.in);
    if (!e) return fail();
    return word(collectEvents(*c.instance, *e));
  }
  static FFMixed enableCapability(Dispatcher& d, const Call& c) {
    CFFGLPlugin* proto = d.ensurePrototype();
    if (c.n == FF_CAP_TOP_LEFT_TEXTURE_ORIENTATION && proto &&
        proto->SupportsTopLeftTextureOrientation())
      c.instance->EnableTopLeftTextureOrientation();
    return fail();
  }
  static FFMixed displayName(Dispatcher&, const Call& c) {
    auto* g = static_cast<GetParameterGroupStruct*>(c.in);
    if (!g || g->targetBufferSize == 0 || !g->targetBuffer) return fail();
    const ParamInfo* p = c.instance->FindParamInfo(g->parameterNumber);
    copyText(p ? p->displayName : std::string(), *g);
    return word(FF_SUCCESS);
  }

  // Every code with its handler; the unused ones (1, 3, 11, 12, 14, 24 to 30,
  // above 51) have none and fail.
  static constexpr std::array<Route, FF_GET_PARAMETER_DISPLAY_NAME + 1> table() {
    std::array<Route, FF_GET_PARAMETER_DISPLAY_NAME + 1> t{};
    const auto set = [&t](FFUInt32 code, Needs needs, Handler handler) {
      t[code] = {needs, handler};
    };
    set(FF_GET_INFO, Needs::kNothing, &info);
    set(FF_GET_EXTENDED_INFO, Needs::kNothing, &extendedInfo);
    set(FF_INITIALISE_V2, Needs::kNothing, &initialise);
    set(FF_DEINITIALISE, Needs::kNothing, &deinitialise);
    set(FF_INSTANTIATE_GL, Needs::kNothing, &instantiate);

    set(FF_GET_NUM_PARAMETERS, Needs::kDefinitions, &parameterCount);
    set(FF_GET_PARAMETER_NAME, Needs::kDefinitions, &parameterName);
    set(FF_GET_PARAMETER_DEFAULT, Needs::kDefinitions, &parameterDefault);
    set(FF_GET_PLUGIN_CAPS, Needs::kDefinitions, &capability);
    set(FF_GET_PARAMETER_TYPE, Needs::kDefinitions, &parameterType);
    set(FF_GET_PARAMETER_USAGE, Needs::kDefinitions, &parameterUsage);
    set(FF_GET_PLUGIN_SHORT_NAME, Needs::kDefinitions, &shortName);
    set(FF_GET_RANGE, Needs::kDefinitions, &range);
    set(FF_GET_THUMBNAIL, Needs::kDefinitions, &thumbnail);
    set(FF_GET_NUM_FILE_PARAMETER_EXTENSIONS, Needs::kDefinitions, &fileExtensionCount);
    set(FF_GET_FILE_PARAMETER_EXTENSION, Needs::kDefinitions, &fileExtension);
    set(FF_GET_NUM_ELEMENT_SEPARATORS, Needs::kDefinitions, &separatorCount);
    set(FF_GET_ELEMENT_SEPARATOR, Needs::kDefinitions, &separator);
    set(FF_GET_PARAMETER_GROUP, Needs::kDefinitions, &group);

    set(FF_GET_NUM_PARAMETER_ELEMENTS, Needs::kInstanceOrPrototype, &elementCount);
    set(FF_GET_PARAMETER_ELEMENT_NAME, Needs::kInstanceOrPrototype, &elementName);
    set(FF_GET_PARAMETER_ELEMENT_VALUE, Needs::kInstanceOrPrototype, &elementValue);
    set(FF_GET_PARAMETER_VISIBILITY, Needs::kInstanceOrPrototype, &visibility);

    set(FF_GET_PARAMETER_DISPLAY, Needs::kInstance, &display);
    set(FF_SET_PARAMETER, Needs::kInstance, &setParameter);
    set(FF_GET_PARAMETER, Needs::kInstance, &getParameter);
    set(FF_GET_INPUT_STATUS, Needs::kInstance, &inputStatus);
    set(FF_PROCESS_OPENGL, Needs::kInstance, &processOpenGL);
    set(FF_DEINSTANTIATE_GL, Needs::kInstance, &deinstantiate);
    set(FF_SET_TIME, Needs::kInstance, &setTime);
    set(FF_CONNECT, Needs::kInstance, &connect);
    set(FF_DISCONNECT, Needs::kInstance, &disconnect);
    set(FF_RESIZE, Needs::kInstance, &resize);
    set(FF_SET_PARAMETER_ELEMENT_VALUE, Needs::kInstance, &setElementValue);
    set(FF_SET_BEAT_INFO, Needs::kInstance, &beatInfo);
    set(FF_SET_HOST_INFO, Needs::kInstance, &hostInfo);
    set(FF_SET_SAMPLE_RATE, Needs::kInstance, &sampleRate);
    set(FF_GET_PARAMETER_EVENTS, Needs::kInstance, &events);
    set(FF_ENABLE_PLUGIN_CAP, Needs::kInstance, &enableCapability);
    set(FF_GET_PARAMETER_DISPLAY_NAME, Needs::kInstance, &displayName);
    return t;
  }
};

FFMixed Dispatcher::route(FFUInt32 code, FFMixed input, FFInstanceID handle) {
  static constexpr auto kTable = Routes::table();
  const Call call{input.PointerValue, input.UIntValue, liveInstance(handle)};
  // A handle that names no live instance: refused, and where the answer is a
  // pointer with null, which a host can tell from a text.
  const bool deadHandle = handle && !call.instance;
  const FFMixed refused = answersPointer(code, call.n) ? pointer(nullptr) : word(FF_FAIL);
  const Routes::Route route = code < kTable.size() ? kTable[code] : Routes::Route{};
  switch (route.needs) {
    case Routes::Needs::kNothing:
    case Routes::Needs::kDefinitions:
      break;
    case Routes::Needs::kInstanceOrPrototype:
      if (deadHandle) return refused;
      break;
    case Routes::Needs::kInstance:
      if (!call.instance) return deadHandle ? refused : word(FF_FAIL);
      break;
  }
  return route.handler ? route.handler(*this, call) : word(FF_FAIL);
}

}  // namespace mirandel
