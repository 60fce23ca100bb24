#pragma once
// The parameter list of one plug-in object and the operations that build and
// change it. Host thread only, except RaiseParamEvent (any thread).
#include <string>
#include <vector>

#include "ffgl/ParamInfo.h"

class CFFGLPluginManager {
 public:
  CFFGLPluginManager() = default;
  virtual ~CFFGLPluginManager() = default;
  CFFGLPluginManager(const CFFGLPluginManager&) = delete;
  CFFGLPluginManager& operator=(const CFFGLPluginManager&) = delete;

  // First definition with this id, or null.
  const ParamInfo* FindParamInfo(FFUInt32 id) const;
  ParamInfo* FindParamInfo(FFUInt32 id);
  const std::vector<ParamInfo>& Params() const { return params_; }
  std::vector<ParamInfo>& Params() { return params_; }
  FFUInt32 GetNumParams() const { return static_cast<FFUInt32>(params_.size()); }

  int GetMinInputs() const { return minInputs_; }
  int GetMaxInputs() const { return maxInputs_; }

 protected:
  void SetMinInputs(int n) { minInputs_ = n; }
  void SetMaxInputs(int n) { maxInputs_ = n; }

  // The appending definitions; they do not look for an existing id.
  void SetParamInfo(FFUInt32 index, const char* name, FFUInt32 type, float defaultValue);
  void SetParamInfo(FFUInt32 index, const char* name, FFUInt32 type, bool defaultValue);
  void SetParamInfo(FFUInt32 index, const char* name, FFUInt32 type, const char* defaultText);
  void SetOptionParamInfo(FFUInt32 index, const char* name, unsigned elementCount,
                          float defaultValue);

 public:
  // These change an existing definition and do nothing when the id is unknown.
  void SetParamElementInfo(FFUInt32 index, unsigned element, const char* name, float value);
  void SetParamElements(FFUInt32 index, const std::vector<std::string>& names,
                        const std::vector<float>& values, bool notify);
  void SetParamDisplayName(FFUInt32 index, const std::string& text, bool notify);
  void SetParamVisibility(FFUInt32 index, bool visible, bool notify);
  void SetParamGroup(FFUInt32 index, const std::string& group);
  // Any thread: the link worker wakes the host through this.
  void RaiseParamEvent(FFUInt32 index, std::uint64_t bits);

 private:
  ParamInfo& Append(FFUInt32 index, const char* name, FFUInt32 type, std::size_t elementCount);

  std::vector<ParamInfo> params_;  // registration order, never reordered
  int minInputs_ = 0;
  int maxInputs_ = 0;
};
