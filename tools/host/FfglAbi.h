#pragma once
// The host's own view of the FFGL 2 binary interface, written down from the
// published function-code table rather than shared with the plug-in: a host
// that reuses the plug-in's header would agree with any layout mistake in it.
// Every record is laid out for a 64-bit little-endian process.
#include <cstddef>
#include <cstdint>

namespace mirandel::host {

// The 64-bit word that plugMain takes and answers: a 32-bit number in the low
// half, or a pointer. A union of exactly this shape is what FFGL hosts pass, so
// the function pointer type uses it rather than a plain integer.
union FfWord {
  std::uint32_t u32;
  void* ptr;
};
static_assert(sizeof(FfWord) == 8);

using PlugMainFn = FfWord (*)(std::uint32_t code, FfWord input, void* instance);
using LogCallbackFn = void (*)(const char* line);
using SetLogCallbackFn = void (*)(LogCallbackFn callback);

inline constexpr std::uint32_t kSuccess = 0;
inline constexpr std::uint32_t kFail = 0xFFFFFFFFu;

// Function codes.
enum Code : std::uint32_t {
  kGetInfo = 0,
  kDeinitialise = 2,
  kGetNumParameters = 4,
  kGetParameterName = 5,
  kGetParameterDefault = 6,
  kGetParameterDisplay = 7,
  kSetParameter = 8,
  kGetParameter = 9,
  kGetPluginCaps = 10,
  kGetExtendedInfo = 13,
  kGetParameterType = 15,
  kGetInputStatus = 16,
  kProcessOpenGL = 17,
  kInstantiateGL = 18,
  kDeinstantiateGL = 19,
  kSetTime = 20,
  kConnect = 21,
  kDisconnect = 22,
  kResize = 23,
  kGetNumElements = 31,
  kGetParameterUsage = 32,
  kGetShortName = 33,
  kInitialise = 34,
  kGetElementName = 35,
  kGetElementValue = 36,
  kSetElementValue = 37,
  kSetBeatInfo = 38,
  kSetHostInfo = 39,
  kSetSampleRate = 40,
  kGetRange = 41,
  kGetThumbnail = 42,
  kGetNumFileExtensions = 43,
  kGetFileExtension = 44,
  kGetParameterVisibility = 45,
  kGetParameterEvents = 46,
  kGetNumElementSeparators = 47,
  kGetSeparatorPosition = 48,
  kEnablePluginCap = 49,
  kGetParameterGroup = 50,
  kGetParameterDisplayName = 51,
};

// Plug-in capability numbers the host asks about.
enum Capability : std::uint32_t {
  kCapSetTime = 5,
  kCapMinInputs = 10,
  kCapMaxInputs = 11,
  kCapTopLeftTextureOrientation = 16,
};

// Parameter types.
enum ParamType : std::uint32_t {
  kTypeBoolean = 0,
  kTypeEvent = 1,
  kTypeStandard = 10,
  kTypeOption = 11,
  kTypeFile = 14,
  kTypeText = 100,
};

// Pending event bits reported by code 46.
enum EventBits : std::uint64_t {
  kEventVisibility = 1,
  kEventDisplayName = 2,
  kEventValue = 4,
  kEventElements = 8,
};

// Records passed by pointer. Offsets are asserted below each one, because the
// whole point of this header is that they are right.

struct ViewportRecord {  // codes 18 and 23
  std::uint32_t x, y, width, height;
};
static_assert(sizeof(ViewportRecord) == 16);

struct SetParameterRecord {  // code 8
  std::uint32_t index;
  std::uint32_t pad;
  std::uint64_t value;  // a float's bits in the low 4 bytes, or a text pointer
};
static_assert(offsetof(SetParameterRecord, value) == 8 && sizeof(SetParameterRecord) == 16);

struct ElementRecord {  // codes 35 and 36
  std::uint32_t index, element;
};
static_assert(sizeof(ElementRecord) == 8);

struct SetElementRecord {  // code 37
  std::uint32_t index, element;
  float value;
};
static_assert(offsetof(SetElementRecord, value) == 8 && sizeof(SetElementRecord) == 12);

struct BeatRecord {  // code 38
  float tempo, barPhase;
};
static_assert(sizeof(BeatRecord) == 8);

struct HostInfoRecord {  // code 39
  const char* name;
  const char* version;
};
static_assert(offsetof(HostInfoRecord, version) == 8);

struct RangeRecord {  // code 41
  std::uint32_t index;
  float min, max;
};
static_assert(offsetof(RangeRecord, max) == 8 && sizeof(RangeRecord) == 12);

struct ThumbnailRecord {  // code 42
  std::uint32_t width, height;
  void* pixels;
};
static_assert(offsetof(ThumbnailRecord, pixels) == 8 && sizeof(ThumbnailRecord) == 16);

struct IndexPairRecord {  // codes 44 and 48: {parameter index, extension or separator}
  std::uint32_t index, second;
};
static_assert(sizeof(IndexPairRecord) == 8);

struct EventEntry {  // one entry written by code 46
  std::uint32_t id;
  std::uint32_t pad;
  std::uint64_t flags;
};
static_assert(offsetof(EventEntry, flags) == 8 && sizeof(EventEntry) == 16);

struct EventsRecord {  // code 46
  std::uint32_t count;
  std::uint32_t pad;
  EventEntry* entries;
};
static_assert(offsetof(EventsRecord, entries) == 8 && sizeof(EventsRecord) == 16);

struct TextBufferRecord {  // codes 50 and 51
  std::uint32_t index;
  std::uint32_t pad;
  char* buffer;
  std::uint32_t size;
};
static_assert(offsetof(TextBufferRecord, buffer) == 8);
static_assert(offsetof(TextBufferRecord, size) == 16);

struct TextureRecord {  // one input texture of a frame record
  std::uint32_t width, height;
  std::uint32_t hardwareWidth, hardwareHeight;
  std::uint32_t handle;
};

struct FrameRecord {  // code 17
  std::uint32_t inputCount;
  std::uint32_t pad;
  TextureRecord** inputs;
  std::uint32_t hostFbo;
};
static_assert(offsetof(FrameRecord, inputs) == 8 && offsetof(FrameRecord, hostFbo) == 16);

// The information record that codes 0 and 13 point into.
inline constexpr std::size_t kInfoRecordSize = 72;
inline constexpr std::size_t kExtendedInfoOffset = 32;

}  // namespace mirandel::host
