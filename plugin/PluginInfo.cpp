#include "plugin/PluginInfo.h"

#include <cstring>

namespace {
const CFFGLPluginInfo* gCurrentInfo = nullptr;
}

CFFGLPluginInfo::CFFGLPluginInfo(PluginFactory factory, const char* uniqueId, const char* name,
                                 FFUInt32 apiMajor, FFUInt32 apiMinor, FFUInt32 pluginMajor,
                                 FFUInt32 pluginMinor, FFUInt32 pluginType,
                                 const char* description, const char* about,
                                 FFUInt32 extendedDataSize, const void* extendedData,
                                 PluginStaticHook initialise, PluginStaticHook deinitialise)
    : description_(description ? description : ""),
      about_(about ? about : ""),
      factory_(factory),
      initialise_(initialise),
      deinitialise_(deinitialise) {
  record_.info.APIMajorVersion = apiMajor;
  record_.info.APIMinorVersion = apiMinor;
  // The identifier is four bytes without terminator; the name keeps its
  // terminator only when shorter than its 16-byte field.
  for (int i = 0; uniqueId && i < 4 && uniqueId[i] != 0; ++i)
    record_.info.PluginUniqueID[i] = uniqueId[i];
  for (int i = 0; name && i < 16; ++i) {
    record_.info.PluginName[i] = name[i];
    if (name[i] == 0) break;
  }
  record_.info.PluginType = pluginType;
  record_.extended.PluginMajorVersion = pluginMajor;
  record_.extended.PluginMinorVersion = pluginMinor;
  record_.extended.Description = description_.c_str();
  record_.extended.About = about_.c_str();
  if (extendedDataSize != 0 && extendedData != nullptr) {
    record_.extended.FreeFrameExtendedDataSize = extendedDataSize;
    record_.extended.FreeFrameExtendedDataBlock = const_cast<void*>(extendedData);
  }
  gCurrentInfo = this;
}

CFFGLPluginInfo::~CFFGLPluginInfo() {
  if (gCurrentInfo == this) gCurrentInfo = nullptr;
}

const CFFGLPluginInfo* CFFGLPluginInfo::Current() { return gCurrentInfo; }
