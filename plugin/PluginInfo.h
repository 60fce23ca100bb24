#pragma once
// The process's plug-in information record. The host reads its first 72 bytes
// through the pointers answered by codes 0 and 13, so that part is laid out
// exactly as the host expects.
#include <cstddef>
#include <string>

#include "ffgl/FFGL.h"

class CFFGLPlugin;

// Creates one plug-in object; answers FF_SUCCESS with *instance set, or FF_FAIL.
using PluginFactory = FFResult (*)(CFFGLPlugin** instance);
using PluginStaticHook = FFResult (*)();

struct PluginInfoRecord {
  PluginInfoStruct info;             // offset 0, answered by code 0
  PluginExtendedInfoStruct extended;  // offset 32, answered by code 13
};
static_assert(offsetof(PluginInfoRecord, extended) == 32);
static_assert(sizeof(PluginInfoRecord) == 72);

class CFFGLPluginInfo {
 public:
  // Registers the record as the process's current one.
  CFFGLPluginInfo(PluginFactory factory, const char* uniqueId, const char* name,
                  FFUInt32 apiMajor, FFUInt32 apiMinor, FFUInt32 pluginMajor,
                  FFUInt32 pluginMinor, FFUInt32 pluginType, const char* description,
                  const char* about, FFUInt32 extendedDataSize = 0,
                  const void* extendedData = nullptr, PluginStaticHook initialise = nullptr,
                  PluginStaticHook deinitialise = nullptr);
  ~CFFGLPluginInfo();
  CFFGLPluginInfo(const CFFGLPluginInfo&) = delete;
  CFFGLPluginInfo& operator=(const CFFGLPluginInfo&) = delete;

  const PluginInfoStruct* GetPluginInfo() const { return &record_.info; }
  const PluginExtendedInfoStruct* GetPluginExtendedInfo() const { return &record_.extended; }
  PluginFactory GetFactory() const { return factory_; }
  PluginStaticHook GetInitialiseHook() const { return initialise_; }
  PluginStaticHook GetDeinitialiseHook() const { return deinitialise_; }

  // The record registered by the most recent construction, or null.
  static const CFFGLPluginInfo* Current();

 private:
  PluginInfoRecord record_{};
  std::string description_;
  std::string about_;
  PluginFactory factory_;
  PluginStaticHook initialise_;
  PluginStaticHook deinitialise_;
};
