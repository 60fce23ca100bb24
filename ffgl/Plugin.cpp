#include "ffgl/Plugin.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
char gEmptyText[1] = {0};  // never written
}  // namespace

CFFGLPlugin::CFFGLPlugin(bool supportsTopLeftTextureOrientation)
    : supportsTopLeft_(supportsTopLeftTextureOrientation) {}

CFFGLPlugin::~CFFGLPlugin() = default;

FFResult CFFGLPlugin::InitGL(const FFGLViewportStruct* viewport) {
  if (viewport) viewport_ = *viewport;
  return FF_SUCCESS;
}

FFResult CFFGLPlugin::DeInitGL() { return FF_SUCCESS; }

char* CFFGLPlugin::GetParameterDisplay(FFUInt32 index) {
  CFFGLPlugin* self = identity_;
  if (!self) return nullptr;
  const ParamInfo* p = self->FindParamInfo(index);
  if (!p || p->type == FF_FAIL) return nullptr;
  if (isTextType(p->type)) return self->GetTextParameter(index);
  char text[64];
  std::snprintf(text, sizeof text, "%f", static_cast<double>(self->GetFloatParameter(index)));
  // Zeroed first, then at most 15 characters: the text always ends in a zero.
  std::memset(displayText_, 0, sizeof displayText_);
  std::memcpy(displayText_, text, std::min(std::strlen(text), sizeof displayText_ - 1));
  return displayText_;
}

FFResult CFFGLPlugin::SetFloatParameter(FFUInt32, float) { return FF_FAIL; }
FFResult CFFGLPlugin::SetTextParameter(FFUInt32, const char*) { return FF_FAIL; }
float CFFGLPlugin::GetFloatParameter(FFUInt32) { return 0.0f; }
char* CFFGLPlugin::GetTextParameter(FFUInt32) { return gEmptyText; }
FFResult CFFGLPlugin::ProcessOpenGL(ProcessOpenGLStruct*) { return FF_FAIL; }

FFResult CFFGLPlugin::SetTime(double seconds) {
  time_ = seconds;
  return FF_SUCCESS;
}

void CFFGLPlugin::SetBeatInfo(float bpm, float barPhase) {
  tempo_ = bpm;
  barPhase_ = barPhase;
}

void CFFGLPlugin::SetHostInfo(const char* name, const char* version) {
  hostName_ = name ? name : "";
  hostVersion_ = version ? version : "";
}

void CFFGLPlugin::SetSampleRate(FFUInt32 rate) { sampleRate_ = rate; }

FFResult CFFGLPlugin::GetInputStatus(FFUInt32 input) {
  return static_cast<long long>(input) < GetMaxInputs() ? 1u : FF_FAIL;
}

char* CFFGLPlugin::GetShortName() { return nullptr; }
FFResult CFFGLPlugin::Connect() { return FF_SUCCESS; }
FFResult CFFGLPlugin::Disconnect() { return FF_SUCCESS; }

FFResult CFFGLPlugin::Resize(const FFGLViewportStruct* viewport) {
  if (viewport) viewport_ = *viewport;
  return FF_SUCCESS;
}
