#pragma once
// The host ABI: result words, function codes, parameter types, event bits and
// the records that travel through plugMain's 64-bit input word.
#include <cstdint>

using FFUInt32 = std::uint32_t;
using FFResult = std::uint32_t;

// One 64-bit word: a 32-bit number (or a float's bit pattern) in the low half,
// or a pointer.
union FFMixed {
  FFUInt32 UIntValue;
  void* PointerValue;
};
static_assert(sizeof(FFMixed) == 8, "plugMain's word is 64 bits wide");

using FFInstanceID = void*;

inline constexpr FFResult FF_SUCCESS = 0;
inline constexpr FFResult FF_FAIL = 0xFFFFFFFFu;

enum FFFunctionCode : FFUInt32 {
  FF_GET_INFO = 0,
  FF_DEINITIALISE = 2,
  FF_GET_NUM_PARAMETERS = 4,
  FF_GET_PARAMETER_NAME = 5,
  FF_GET_PARAMETER_DEFAULT = 6,
  FF_GET_PARAMETER_DISPLAY = 7,
  FF_SET_PARAMETER = 8,
  FF_GET_PARAMETER = 9,
  FF_GET_PLUGIN_CAPS = 10,
  FF_GET_EXTENDED_INFO = 13,
  FF_GET_PARAMETER_TYPE = 15,
  FF_GET_INPUT_STATUS = 16,
  FF_PROCESS_OPENGL = 17,
  FF_INSTANTIATE_GL = 18,
  FF_DEINSTANTIATE_GL = 19,
  FF_SET_TIME = 20,
  FF_CONNECT = 21,
  FF_DISCONNECT = 22,
  FF_RESIZE = 23,
  FF_GET_NUM_PARAMETER_ELEMENTS = 31,
  FF_GET_PARAMETER_USAGE = 32,
  FF_GET_PLUGIN_SHORT_NAME = 33,
  FF_INITIALISE_V2 = 34,
  FF_GET_PARAMETER_ELEMENT_NAME = 35,
  FF_GET_PARAMETER_ELEMENT_VALUE = 36,
  FF_SET_PARAMETER_ELEMENT_VALUE = 37,
  FF_SET_BEAT_INFO = 38,
  FF_SET_HOST_INFO = 39,
  FF_SET_SAMPLE_RATE = 40,
  FF_GET_RANGE = 41,
  FF_GET_THUMBNAIL = 42,
  FF_GET_NUM_FILE_PARAMETER_EXTENSIONS = 43,
  FF_GET_FILE_PARAMETER_EXTENSION = 44,
  FF_GET_PARAMETER_VISIBILITY = 45,
  FF_GET_PARAMETER_EVENTS = 46,
  FF_GET_NUM_ELEMENT_SEPARATORS = 47,
  FF_GET_ELEMENT_SEPARATOR = 48,
  FF_ENABLE_PLUGIN_CAP = 49,
  FF_GET_PARAMETER_GROUP = 50,
  FF_GET_PARAMETER_DISPLAY_NAME = 51,
};

// Capability numbers of codes 10 and 49.
enum FFCapability : FFUInt32 {
  FF_CAP_SET_TIME = 5,
  FF_CAP_MINIMUM_INPUT_FRAMES = 10,
  FF_CAP_MAXIMUM_INPUT_FRAMES = 11,
  FF_CAP_TOP_LEFT_TEXTURE_ORIENTATION = 16,
};

// Parameter types.
enum FFParamType : FFUInt32 {
  FF_TYPE_BOOLEAN = 0,
  FF_TYPE_EVENT = 1,
  FF_TYPE_STANDARD = 10,
  FF_TYPE_OPTION = 11,
  FF_TYPE_FILE = 14,
  FF_TYPE_TEXT = 100,
};

// Types that carry a text instead of a float, wherever the two paths split.
inline constexpr bool isTextType(FFUInt32 type) {
  return type == FF_TYPE_TEXT || type == FF_TYPE_FILE;
}

// Pending parameter event bits, collected by the host with code 46.
enum FFParamEvent : std::uint64_t {
  FF_EVENT_FLAG_VISIBILITY = 1,
  FF_EVENT_FLAG_DISPLAY_NAME = 2,
  FF_EVENT_FLAG_VALUE = 4,
  FF_EVENT_FLAG_ELEMENTS = 8,
};

inline constexpr FFUInt32 FF_SOURCE = 1;

// Records the host passes by pointer. Layouts are those of a 64-bit host.
struct FFGLViewportStruct {
  FFUInt32 x, y, width, height;
};
static_assert(sizeof(FFGLViewportStruct) == 16);

struct ProcessOpenGLStruct;  // never read by this plug-in

struct SetParameterStruct {
  FFUInt32 ParameterNumber;
  FFMixed NewParameterValue;
};
static_assert(sizeof(SetParameterStruct) == 16);

struct GetParameterElementNameStruct {
  FFUInt32 ParameterNumber;
  FFUInt32 ElementNumber;
};

struct GetParameterElementValueStruct {
  FFUInt32 ParameterNumber;
  FFUInt32 ElementNumber;
};

struct SetParameterElementValueStruct {
  FFUInt32 ParameterNumber;
  FFUInt32 ElementNumber;
  float NewParameterValue;
};

struct SetBeatinfoStruct {
  float bpm;
  float barPhase;
};

struct SetHostinfoStruct {
  const char* name;
  const char* version;
};

struct RangeStruct {
  float min;
  float max;
};

struct GetRangeStruct {
  FFUInt32 parameterNumber;
  RangeStruct range;
};

struct GetThumbnailStruct {
  FFUInt32 width;
  FFUInt32 height;
  void* rgbaPixelBuffer;
};
static_assert(sizeof(GetThumbnailStruct) == 16);

struct GetFileParameterExtensionStruct {
  FFUInt32 ParameterNumber;
  FFUInt32 ExtensionNumber;
};

struct ParamEventStruct {
  FFUInt32 ParameterNumber;
  std::uint64_t eventFlags;
};
static_assert(sizeof(ParamEventStruct) == 16);

struct GetParamEventsStruct {
  FFUInt32 numEvents;
  ParamEventStruct* events;
};
static_assert(sizeof(GetParamEventsStruct) == 16);

struct GetElementSeparatorStruct {
  FFUInt32 ParameterNumber;
  FFUInt32 SeparatorNumber;
};

struct GetParameterGroupStruct {
  FFUInt32 parameterNumber;
  char* targetBuffer;
  FFUInt32 targetBufferSize;
};
static_assert(sizeof(GetParameterGroupStruct) == 24);

// The part of the information record the host reads through codes 0 and 13.
struct PluginInfoStruct {
  FFUInt32 APIMajorVersion;
  FFUInt32 APIMinorVersion;
  char PluginUniqueID[4];
  char PluginName[16];
  FFUInt32 PluginType;
};
static_assert(sizeof(PluginInfoStruct) == 32);

struct PluginExtendedInfoStruct {
  FFUInt32 PluginMajorVersion;
  FFUInt32 PluginMinorVersion;
  const char* Description;
  const char* About;
  FFUInt32 FreeFrameExtendedDataSize;
  void* FreeFrameExtendedDataBlock;
};
static_assert(sizeof(PluginExtendedInfoStruct) == 40);
