#include "ffgl/PluginManager.h"

#include <algorithm>

const ParamInfo* CFFGLPluginManager::FindParamInfo(FFUInt32 id) const {
  for (const ParamInfo& p : params_)
    if (p.id == id) return &p;
  return nullptr;
}

ParamInfo* CFFGLPluginManager::FindParamInfo(FFUInt32 id) {
  for (ParamInfo& p : params_)
    if (p.id == id) return &p;
  return nullptr;
}

ParamInfo& CFFGLPluginManager::Append(FFUInt32 index, const char* name, FFUInt32 type,
                                      std::size_t elementCount) {
  ParamInfo& p = params_.emplace_back();
  p.id = index;
  p.name = name ? name : "";
  p.type = type;
  p.elements.resize(elementCount);
  return p;
}

void CFFGLPluginManager::SetParamInfo(FFUInt32 index, const char* name, FFUInt32 type,
                                      float defaultValue) {
  Append(index, name, type, 1).defaultValue =
      type == FF_TYPE_STANDARD ? std::clamp(defaultValue, 0.0f, 1.0f) : defaultValue;
}

void CFFGLPluginManager::SetParamInfo(FFUInt32 index, const char* name, FFUInt32 type,
                                      bool defaultValue) {
  Append(index, name, type, 0).defaultValue = defaultValue ? 1.0f : 0.0f;
}

void CFFGLPluginManager::SetParamInfo(FFUInt32 index, const char* name, FFUInt32 type,
                                      const char* defaultText) {
  Append(index, name, type, 1).defaultText = defaultText ? defaultText : "";
}

void CFFGLPluginManager::SetOptionParamInfo(FFUInt32 index, const char* name,
                                            unsigned elementCount, float defaultValue) {
  Append(index, name, FF_TYPE_OPTION, elementCount).defaultValue = defaultValue;
}

void CFFGLPluginManager::SetParamElementInfo(FFUInt32 index, unsigned element, const char* name,
                                             float value) {
  ParamInfo* p = FindParamInfo(index);
  if (!p || element >= p->elements.size()) return;
  p->elements[element].name = name ? name : "";
  p->elements[element].value = value;
}

void CFFGLPluginManager::SetParamElements(FFUInt32 index, const std::vector<std::string>& names,
                                          const std::vector<float>& values, bool notify) {
  ParamInfo* p = FindParamInfo(index);
  if (!p || p->type != FF_TYPE_OPTION || names.size() != values.size()) return;
  p->elements.clear();
  p->elements.reserve(names.size());
  for (std::size_t k = 0; k < names.size(); ++k) p->elements.push_back({names[k], values[k]});
  if (notify) p->pendingEvents.raise(FF_EVENT_FLAG_ELEMENTS);
}

void CFFGLPluginManager::SetParamDisplayName(FFUInt32 index, const std::string& text,
                                             bool notify) {
  ParamInfo* p = FindParamInfo(index);
  if (!p) return;
  const bool changed = p->displayName != text;
  p->displayName = text;
  if (notify && changed) p->pendingEvents.raise(FF_EVENT_FLAG_DISPLAY_NAME);
}

void CFFGLPluginManager::SetParamVisibility(FFUInt32 index, bool visible, bool notify) {
  ParamInfo* p = FindParamInfo(index);
  if (!p) return;
  const bool changed = p->visible != visible;
  p->visible = visible;
  if (notify && changed) p->pendingEvents.raise(FF_EVENT_FLAG_VISIBILITY);
}

void CFFGLPluginManager::SetParamGroup(FFUInt32 index, const std::string& group) {
  if (ParamInfo* p = FindParamInfo(index)) p->group = group;
}

void CFFGLPluginManager::RaiseParamEvent(FFUInt32 index, std::uint64_t bits) {
  if (ParamInfo* p = FindParamInfo(index)) p->pendingEvents.raise(bits);
}
