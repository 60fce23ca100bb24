#include "tools/host/FfglHost.h"

#include "tools/host/GlApi.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "tools/host/LogCollector.h"
#include "tools/host/PluginLibrary.h"

namespace mirandel::host {

namespace {

std::uint64_t bitsOf(FfWord w) {
  std::uint64_t bits;
  std::memcpy(&bits, &w, sizeof bits);
  return bits;
}

std::uint32_t lowHalf(FfWord w) { return static_cast<std::uint32_t>(bitsOf(w)); }

std::optional<float> floatAnswer(FfWord w) {
  const std::uint32_t low = lowHalf(w);
  if (low == kFail) return std::nullopt;
  return std::bit_cast<float>(low);
}

std::optional<std::string> textAt(const void* p) {
  if (p == nullptr) return std::nullopt;
  return std::string(static_cast<const char*>(p));
}

std::string cString(const void* p) { return p != nullptr ? static_cast<const char*>(p) : ""; }

template <typename T>
T readAt(const std::uint8_t* bytes, std::size_t offset) {
  T v;
  std::memcpy(&v, bytes + offset, sizeof v);
  return v;
}

}  // namespace

bool isTextType(std::uint32_t type) { return type == kTypeText || type == kTypeFile; }

FfglHost::FfglHost(const PluginLibrary& library)
    : FfglHost(library.plugMain(), library.setLogCallback()) {}

FfglHost::FfglHost(PlugMainFn plugMain, SetLogCallbackFn setLogCallback)
    : plugMain_(plugMain), setLogCallback_(setLogCallback) {}

FfWord FfglHost::number(std::uint32_t value) {
  FfWord w;
  w.ptr = nullptr;  // the high half travels too: keep it zero
  w.u32 = value;
  return w;
}

FfWord FfglHost::pointer(const void* value) {
  FfWord w;
  w.ptr = const_cast<void*>(value);
  return w;
}

FfWord FfglHost::call(std::uint32_t code, FfWord input, InstanceId instance) const {
  return plugMain_(code, input, instance);
}

std::uint32_t FfglHost::callNumber(std::uint32_t code, std::uint32_t input,
                                   InstanceId instance) const {
  return lowHalf(call(code, number(input), instance));
}

std::uint32_t FfglHost::callPointer(std::uint32_t code, const void* input,
                                    InstanceId instance) const {
  return lowHalf(call(code, pointer(input), instance));
}

const void* FfglHost::callForPointer(std::uint32_t code, FfWord input, InstanceId instance) const {
  const FfWord w = call(code, input, instance);
  // A failed pointer answer is 0, or FF_FAIL in the low half with the high
  // half left as it was; no text or record lives at such an address.
  if (bitsOf(w) == 0 || lowHalf(w) == kFail) return nullptr;
  return w.ptr;
}

bool FfglHost::setLogCallback(LogCallbackFn callback) const {
  if (setLogCallback_ == nullptr) return false;
  setLogCallback_(callback);
  return true;
}

bool FfglHost::collectLog() const { return setLogCallback(LogCollector::callback()); }

std::optional<InfoRecord> FfglHost::info() const {
  const void* p = callForPointer(kGetInfo, number(0));
  if (p == nullptr) return std::nullopt;
  InfoRecord r;
  r.address = p;
  std::memcpy(r.raw.data(), p, kInfoRecordSize);
  const std::uint8_t* b = r.raw.data();
  r.apiMajor = readAt<std::uint32_t>(b, 0);
  r.apiMinor = readAt<std::uint32_t>(b, 4);
  r.id.assign(reinterpret_cast<const char*>(b + 8),
              strnlen(reinterpret_cast<const char*>(b + 8), 4));
  r.name.assign(reinterpret_cast<const char*>(b + 12),
                strnlen(reinterpret_cast<const char*>(b + 12), 16));
  r.type = readAt<std::uint32_t>(b, 28);
  r.pluginMajor = readAt<std::uint32_t>(b, 32);
  r.pluginMinor = readAt<std::uint32_t>(b, 36);
  r.description = cString(readAt<const char*>(b, 40));
  r.about = cString(readAt<const char*>(b, 48));
  r.extendedSize = readAt<std::uint32_t>(b, 56);
  r.extendedData = readAt<const void*>(b, 64);
  return r;
}

const void* FfglHost::extendedInfoAddress() const {
  return callForPointer(kGetExtendedInfo, number(0));
}

std::uint32_t FfglHost::initialise() const { return callNumber(kInitialise, 0); }
std::uint32_t FfglHost::deinitialise() const { return callNumber(kDeinitialise, 0); }
std::uint32_t FfglHost::capability(std::uint32_t cap) const {
  return callNumber(kGetPluginCaps, cap);
}
const void* FfglHost::shortName() const { return callForPointer(kGetShortName, number(0)); }

std::uint32_t FfglHost::parameterCount() const { return callNumber(kGetNumParameters, 0); }

std::optional<std::string> FfglHost::parameterName(std::uint32_t index) const {
  return textAt(callForPointer(kGetParameterName, number(index)));
}

std::uint32_t FfglHost::parameterType(std::uint32_t index) const {
  return callNumber(kGetParameterType, index);
}

std::optional<float> FfglHost::parameterDefaultFloat(std::uint32_t index) const {
  return floatAnswer(call(kGetParameterDefault, number(index)));
}

std::optional<std::string> FfglHost::parameterDefaultText(std::uint32_t index) const {
  return textAt(callForPointer(kGetParameterDefault, number(index)));
}

std::uint32_t FfglHost::parameterUsage(std::uint32_t index) const {
  return callNumber(kGetParameterUsage, index);
}

RangeAnswer FfglHost::parameterRange(std::uint32_t index) const {
  // Pre-filled with values the plug-in never writes, so a missing write shows.
  RangeRecord rec{index, -7.0f, -7.0f};
  RangeAnswer a;
  a.result = callPointer(kGetRange, &rec);
  a.min = rec.min;
  a.max = rec.max;
  return a;
}

std::uint32_t FfglHost::fileExtensionCount(std::uint32_t index) const {
  return callNumber(kGetNumFileExtensions, index);
}

std::optional<std::string> FfglHost::fileExtension(std::uint32_t index,
                                                   std::uint32_t extension) const {
  IndexPairRecord rec{index, extension};
  return textAt(callForPointer(kGetFileExtension, pointer(&rec)));
}

std::uint32_t FfglHost::separatorCount(std::uint32_t index) const {
  return callNumber(kGetNumElementSeparators, index);
}

std::uint32_t FfglHost::separatorPosition(std::uint32_t index, std::uint32_t separator) const {
  IndexPairRecord rec{index, separator};
  return callPointer(kGetSeparatorPosition, &rec);
}

std::uint32_t FfglHost::parameterGroupInto(std::uint32_t index, char* buffer,
                                           std::uint32_t size) const {
  TextBufferRecord rec{index, 0, buffer, size};
  return callPointer(kGetParameterGroup, &rec);
}

std::string FfglHost::parameterGroup(std::uint32_t index) const {
  char buf[256] = {};
  if (parameterGroupInto(index, buf, sizeof buf - 1) != kSuccess) return {};
  return buf;
}

std::uint32_t FfglHost::elementCount(std::uint32_t index, InstanceId instance) const {
  return callNumber(kGetNumElements, index, instance);
}

std::optional<std::string> FfglHost::elementName(std::uint32_t index, std::uint32_t element,
                                                 InstanceId instance) const {
  ElementRecord rec{index, element};
  return textAt(callForPointer(kGetElementName, pointer(&rec), instance));
}

std::optional<float> FfglHost::elementValue(std::uint32_t index, std::uint32_t element,
                                            InstanceId instance) const {
  ElementRecord rec{index, element};
  return floatAnswer(call(kGetElementValue, pointer(&rec), instance));
}

std::vector<Element> FfglHost::elements(std::uint32_t index, InstanceId instance) const {
  std::vector<Element> out;
  const std::uint32_t n = elementCount(index, instance);
  if (n == kFail) return out;
  for (std::uint32_t k = 0; k < n; ++k) {
    Element e;
    e.name = elementName(index, k, instance).value_or("");
    e.value = elementValue(index, k, instance).value_or(0.0f);
    out.push_back(std::move(e));
  }
  return out;
}

std::uint32_t FfglHost::visibility(std::uint32_t index, InstanceId instance) const {
  return callNumber(kGetParameterVisibility, index, instance);
}

std::optional<InstanceId> FfglHost::instantiate(const ViewportRecord& viewport) const {
  ViewportRecord copy = viewport;
  const void* handle = callForPointer(kInstantiateGL, pointer(&copy));
  if (handle == nullptr) return std::nullopt;
  return const_cast<void*>(handle);
}

std::uint32_t FfglHost::deinstantiate(InstanceId instance) const {
  return callNumber(kDeinstantiateGL, 0, instance);
}

std::optional<std::string> FfglHost::parameterDisplay(InstanceId instance,
                                                      std::uint32_t index) const {
  return textAt(callForPointer(kGetParameterDisplay, number(index), instance));
}

std::uint32_t FfglHost::setFloat(InstanceId instance, std::uint32_t index, float value) const {
  SetParameterRecord rec{index, 0, std::bit_cast<std::uint32_t>(value)};
  return callPointer(kSetParameter, &rec, instance);
}

std::uint32_t FfglHost::setText(InstanceId instance, std::uint32_t index, const char* text) const {
  SetParameterRecord rec{index, 0, reinterpret_cast<std::uintptr_t>(text)};
  return callPointer(kSetParameter, &rec, instance);
}

std::optional<float> FfglHost::getFloat(InstanceId instance, std::uint32_t index) const {
  return floatAnswer(call(kGetParameter, number(index), instance));
}

std::optional<std::string> FfglHost::getText(InstanceId instance, std::uint32_t index) const {
  return textAt(callForPointer(kGetParameter, number(index), instance));
}

std::uint32_t FfglHost::setElementValue(InstanceId instance, std::uint32_t index,
                                        std::uint32_t element, float value) const {
  SetElementRecord rec{index, element, value};
  return callPointer(kSetElementValue, &rec, instance);
}

std::uint32_t FfglHost::displayNameInto(InstanceId instance, std::uint32_t index, char* buffer,
                                        std::uint32_t size) const {
  TextBufferRecord rec{index, 0, buffer, size};
  return callPointer(kGetParameterDisplayName, &rec, instance);
}

std::string FfglHost::displayName(InstanceId instance, std::uint32_t index) const {
  char buf[256] = {};
  if (displayNameInto(instance, index, buf, sizeof buf - 1) != kSuccess) return {};
  return buf;
}

EventsAnswer FfglHost::parameterEvents(InstanceId instance, std::uint32_t capacity) const {
  // One spare entry filled with a marker shows a plug-in writing past capacity.
  std::vector<EventEntry> entries(capacity + 1, EventEntry{0xA5A5A5A5u, 0, ~0ull});
  EventsRecord rec{capacity, 0, entries.data()};
  EventsAnswer a;
  a.result = callPointer(kGetParameterEvents, &rec, instance);
  a.count = rec.count;
  if (a.result == kSuccess) {
    const std::uint32_t n = std::min(rec.count, capacity);
    for (std::uint32_t k = 0; k < n; ++k) a.events.push_back({entries[k].id, entries[k].flags});
    if (entries[capacity].id != 0xA5A5A5A5u) a.result = kFail;  // overran the host's array
  }
  return a;
}

EventsAnswer FfglHost::pendingEventCount(InstanceId instance) const {
  EventsRecord rec{0, 0, nullptr};
  EventsAnswer a;
  a.result = callPointer(kGetParameterEvents, &rec, instance);
  a.count = rec.count;
  return a;
}

std::uint32_t FfglHost::setTime(InstanceId instance, double seconds) const {
  return callPointer(kSetTime, &seconds, instance);
}

std::uint32_t FfglHost::beatInfo(InstanceId instance, float tempo, float barPhase) const {
  BeatRecord rec{tempo, barPhase};
  return callPointer(kSetBeatInfo, &rec, instance);
}

std::uint32_t FfglHost::hostInfo(InstanceId instance, const char* name, const char* version) const {
  HostInfoRecord rec{name, version};
  return callPointer(kSetHostInfo, &rec, instance);
}

std::uint32_t FfglHost::sampleRate(InstanceId instance, std::uint32_t rate) const {
  return callNumber(kSetSampleRate, rate, instance);
}

std::uint32_t FfglHost::inputStatus(InstanceId instance, std::uint32_t input) const {
  return callNumber(kGetInputStatus, input, instance);
}

std::uint32_t FfglHost::connect(InstanceId instance) const {
  return callNumber(kConnect, 0, instance);
}

std::uint32_t FfglHost::disconnect(InstanceId instance) const {
  return callNumber(kDisconnect, 0, instance);
}

std::uint32_t FfglHost::resize(InstanceId instance, const ViewportRecord& viewport) const {
  ViewportRecord copy = viewport;
  return callPointer(kResize, &copy, instance);
}

std::uint32_t FfglHost::enableCapability(InstanceId instance, std::uint32_t cap) const {
  return callNumber(kEnablePluginCap, cap, instance);
}

ThumbnailAnswer FfglHost::thumbnail(InstanceId instance) const {
  ThumbnailRecord rec{77, 77, nullptr};
  ThumbnailAnswer a;
  a.result = callPointer(kGetThumbnail, &rec, instance);
  a.width = rec.width;
  a.height = rec.height;
  return a;
}

std::uint32_t FfglHost::draw(InstanceId instance, const Framebuffer& target) const {
  target.bind();
  FrameRecord frame{0, 0, nullptr, target.id()};
  return callPointer(kProcessOpenGL, &frame, instance);
}

DrawAnswer FfglHost::drawFrame(InstanceId instance, const Framebuffer& target,
                               std::optional<ViewportRecord> viewport) const {
  target.bind();
  if (viewport) {
    glViewport(static_cast<GLint>(viewport->x), static_cast<GLint>(viewport->y),
               static_cast<GLsizei>(viewport->width), static_cast<GLsizei>(viewport->height));
  }
  FrameRecord frame{0, 0, nullptr, target.id()};
  DrawAnswer a;
  a.result = callPointer(kProcessOpenGL, &frame, instance);
  a.image = target.read();
  return a;
}

ParameterRow FfglHost::parameterRow(std::uint32_t index, InstanceId instance) const {
  ParameterRow row;
  row.index = index;
  row.name = parameterName(index).value_or("");
  row.type = parameterType(index);
  if (isTextType(row.type)) {
    row.defaultText = parameterDefaultText(index).value_or("");
  } else if (auto v = parameterDefaultFloat(index)) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(*v));
    row.defaultText = buf;
  }
  row.group = parameterGroup(index);
  if (instance != nullptr) row.displayName = displayName(instance, index);
  if (row.type == kTypeOption) row.elements = elements(index, instance);
  row.visible = visibility(index, instance);
  return row;
}

}  // namespace mirandel::host
