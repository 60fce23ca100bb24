#pragma once
// Typed calls through a plug-in's plugMain, one per function code, as an FFGL
// host makes them. The host thread makes every call; codes that do GL work
// (17, 18, 19, 21, 22, 23) need the GL context current on it.
//
// Answers mirror the entry point: numbers are the low half of the answer word
// (kSuccess, kFail or a value), pointer answers become optional texts, and
// float answers are nullopt when the plug-in answered kFail.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/host/FfglAbi.h"
#include "tools/host/Framebuffer.h"
#include "tools/host/RgbaImage.h"

namespace mirandel::host {

class PluginLibrary;

using InstanceId = void*;

// The information record, decoded from the bytes that code 0 points at.
struct InfoRecord {
  const void* address = nullptr;
  std::array<std::uint8_t, kInfoRecordSize> raw{};
  std::uint32_t apiMajor = 0, apiMinor = 0;
  std::string id;    // the 4 identifier bytes, up to the first zero
  std::string name;  // at most 16 bytes, up to the first zero
  std::uint32_t type = 0;
  std::uint32_t pluginMajor = 0, pluginMinor = 0;
  std::string description, about;  // empty when the pointer is null
  std::uint32_t extendedSize = 0;
  const void* extendedData = nullptr;
};

struct ParamEvent {
  std::uint32_t id = 0;
  std::uint64_t flags = 0;
  bool operator==(const ParamEvent&) const = default;
};

struct EventsAnswer {
  std::uint32_t result = kFail;
  std::uint32_t count = 0;  // what the plug-in wrote back into the record
  std::vector<ParamEvent> events;
};

struct RangeAnswer {
  std::uint32_t result = kFail;
  float min = 0, max = 0;
};

struct ThumbnailAnswer {
  std::uint32_t result = kFail;
  std::uint32_t width = 0, height = 0;
};

struct Element {
  std::string name;
  float value = 0;
};

// Everything a host shows about one parameter.
struct ParameterRow {
  std::uint32_t index = 0;
  std::string name;
  std::uint32_t type = kFail;
  std::string defaultText;  // the default, a text for text types, else "%g" of the float
  std::string group;
  std::string displayName;
  std::vector<Element> elements;  // only for option parameters
  std::uint32_t visible = kFail;
};

struct DrawAnswer {
  std::uint32_t result = kFail;
  RgbaImage image;
};

bool isTextType(std::uint32_t type);

class FfglHost {
 public:
  explicit FfglHost(const PluginLibrary& library);
  FfglHost(PlugMainFn plugMain, SetLogCallbackFn setLogCallback);

  // --- raw access, for odd inputs -------------------------------------------
  FfWord call(std::uint32_t code, FfWord input, InstanceId instance = nullptr) const;
  std::uint32_t callNumber(std::uint32_t code, std::uint32_t input,
                           InstanceId instance = nullptr) const;
  std::uint32_t callPointer(std::uint32_t code, const void* input,
                            InstanceId instance = nullptr) const;
  // A pointer answer; null when the plug-in answered 0 or kFail.
  const void* callForPointer(std::uint32_t code, FfWord input, InstanceId instance = nullptr) const;
  static FfWord number(std::uint32_t value);
  static FfWord pointer(const void* value);

  // --- logging ----------------------------------------------------------------
  // Hands `callback` (null switches host logging off) to SetLogCallback; false
  // when the plug-in does not export it.
  bool setLogCallback(LogCallbackFn callback) const;
  // Hands over the LogCollector's trampoline.
  bool collectLog() const;

  // --- process (codes 0, 2, 13, 34, 10, 33) ------------------------------------
  std::optional<InfoRecord> info() const;
  const void* extendedInfoAddress() const;
  std::uint32_t initialise() const;
  std::uint32_t deinitialise() const;
  std::uint32_t capability(std::uint32_t capability) const;
  const void* shortName() const;

  // --- parameter definitions, answered by the prototype -----------------------
  std::uint32_t parameterCount() const;
  std::optional<std::string> parameterName(std::uint32_t index) const;
  std::uint32_t parameterType(std::uint32_t index) const;
  std::optional<float> parameterDefaultFloat(std::uint32_t index) const;
  std::optional<std::string> parameterDefaultText(std::uint32_t index) const;
  std::uint32_t parameterUsage(std::uint32_t index) const;
  RangeAnswer parameterRange(std::uint32_t index) const;
  std::uint32_t fileExtensionCount(std::uint32_t index) const;
  std::optional<std::string> fileExtension(std::uint32_t index, std::uint32_t extension) const;
  std::uint32_t separatorCount(std::uint32_t index) const;
  std::uint32_t separatorPosition(std::uint32_t index, std::uint32_t separator) const;
  // Code 50 into a host buffer of `size` bytes; answers the result word.
  std::uint32_t parameterGroupInto(std::uint32_t index, char* buffer, std::uint32_t size) const;
  // Code 50 into a zeroed 256-byte buffer, read up to the first zero.
  std::string parameterGroup(std::uint32_t index) const;

  // --- instance or prototype (null instance asks the prototype) --------------
  std::uint32_t elementCount(std::uint32_t index, InstanceId instance = nullptr) const;
  std::optional<std::string> elementName(std::uint32_t index, std::uint32_t element,
                                         InstanceId instance = nullptr) const;
  std::optional<float> elementValue(std::uint32_t index, std::uint32_t element,
                                    InstanceId instance = nullptr) const;
  std::vector<Element> elements(std::uint32_t index, InstanceId instance = nullptr) const;
  std::uint32_t visibility(std::uint32_t index, InstanceId instance = nullptr) const;

  // --- instances ----------------------------------------------------------------
  std::optional<InstanceId> instantiate(const ViewportRecord& viewport) const;
  std::uint32_t deinstantiate(InstanceId instance) const;
  std::optional<std::string> parameterDisplay(InstanceId instance, std::uint32_t index) const;
  std::uint32_t setFloat(InstanceId instance, std::uint32_t index, float value) const;
  std::uint32_t setText(InstanceId instance, std::uint32_t index, const char* text) const;
  std::optional<float> getFloat(InstanceId instance, std::uint32_t index) const;
  std::optional<std::string> getText(InstanceId instance, std::uint32_t index) const;
  std::uint32_t setElementValue(InstanceId instance, std::uint32_t index, std::uint32_t element,
                                float value) const;
  std::uint32_t displayNameInto(InstanceId instance, std::uint32_t index, char* buffer,
                                std::uint32_t size) const;
  std::string displayName(InstanceId instance, std::uint32_t index) const;
  // Code 46 with room for `capacity` entries.
  EventsAnswer parameterEvents(InstanceId instance, std::uint32_t capacity) const;
  // Code 46 with a null entries pointer: how many parameters have pending events.
  EventsAnswer pendingEventCount(InstanceId instance) const;
  std::uint32_t setTime(InstanceId instance, double seconds) const;
  std::uint32_t beatInfo(InstanceId instance, float tempo, float barPhase) const;
  std::uint32_t hostInfo(InstanceId instance, const char* name, const char* version) const;
  std::uint32_t sampleRate(InstanceId instance, std::uint32_t rate) const;
  std::uint32_t inputStatus(InstanceId instance, std::uint32_t input) const;
  std::uint32_t connect(InstanceId instance) const;
  std::uint32_t disconnect(InstanceId instance) const;
  std::uint32_t resize(InstanceId instance, const ViewportRecord& viewport) const;
  std::uint32_t enableCapability(InstanceId instance, std::uint32_t capability) const;
  ThumbnailAnswer thumbnail(InstanceId instance) const;
  // Binds `target`, sets the viewport (the whole target unless `viewport` is
  // given), calls code 17 with a frame record naming the target as the host's
  // framebuffer and no inputs, then reads the target back.
  // The same without the read-back, for hosts that read only part of the target.
  std::uint32_t draw(InstanceId instance, const Framebuffer& target) const;
  DrawAnswer drawFrame(InstanceId instance, const Framebuffer& target,
                       std::optional<ViewportRecord> viewport = std::nullopt) const;

  // Everything about parameter `index`, asked the way a host fills its
  // parameter panel: definitions from the prototype, elements and visibility
  // from `instance` when given.
  ParameterRow parameterRow(std::uint32_t index, InstanceId instance = nullptr) const;

 private:
  PlugMainFn plugMain_;
  SetLogCallbackFn setLogCallback_;
};

}  // namespace mirandel::host
