#pragma once
// A plug-in object as the host sees it: the parameter list plus host-facing
// values and the operations a concrete plug-in overrides. The host calls every
// operation on its own thread and never overlaps calls for one object; GL
// operations come with the host's context current.
#include <string>

#include "ffgl/FFGL.h"
#include "ffgl/PluginManager.h"

class CFFGLPlugin : public CFFGLPluginManager {
 public:
  explicit CFFGLPlugin(bool supportsTopLeftTextureOrientation = false);
  ~CFFGLPlugin() override;

  virtual FFResult InitGL(const FFGLViewportStruct* viewport);
  virtual FFResult DeInitGL();
  // Answers a text valid until the next display call on this object.
  virtual char* GetParameterDisplay(FFUInt32 index);
  virtual FFResult SetFloatParameter(FFUInt32 index, float value);
  virtual FFResult SetTextParameter(FFUInt32 index, const char* text);
  virtual float GetFloatParameter(FFUInt32 index);
  virtual char* GetTextParameter(FFUInt32 index);
  virtual FFResult ProcessOpenGL(ProcessOpenGLStruct* frame);
  virtual FFResult SetTime(double seconds);
  virtual void SetBeatInfo(float bpm, float barPhase);
  virtual void SetHostInfo(const char* name, const char* version);
  virtual void SetSampleRate(FFUInt32 rate);
  virtual FFResult GetInputStatus(FFUInt32 input);
  virtual char* GetShortName();
  virtual FFResult Connect();
  virtual FFResult Disconnect();
  virtual FFResult Resize(const FFGLViewportStruct* viewport);

  // Host-facing values.
  bool IsTimeSupported() const { return timeSupported_; }
  bool SupportsTopLeftTextureOrientation() const { return supportsTopLeft_; }
  bool TopLeftTextureOrientationEnabled() const { return topLeftEnabled_ != 0; }
  void EnableTopLeftTextureOrientation() { topLeftEnabled_ = 1; }
  bool IsConnected() const { return connected_; }
  void SetConnected(bool connected) { connected_ = connected; }
  CFFGLPlugin* Identity() const { return identity_; }
  void SetIdentity(CFFGLPlugin* identity) { identity_ = identity; }
  const FFGLViewportStruct& CurrentViewport() const { return viewport_; }
  float Tempo() const { return tempo_; }
  float BarPhase() const { return barPhase_; }
  const std::string& HostName() const { return hostName_; }
  const std::string& HostVersion() const { return hostVersion_; }
  double Time() const { return time_; }
  FFUInt32 SampleRate() const { return sampleRate_; }

 protected:
  void SetCurrentViewport(const FFGLViewportStruct& viewport) { viewport_ = viewport; }

 private:
  bool timeSupported_ = true;
  bool supportsTopLeft_;
  FFUInt32 topLeftEnabled_ = 0;
  bool connected_ = false;
  CFFGLPlugin* identity_ = nullptr;
  FFGLViewportStruct viewport_{};
  float tempo_ = 120.0f;
  float barPhase_ = 0.0f;
  std::string hostName_;
  std::string hostVersion_;
  double time_ = 0.0;
  FFUInt32 sampleRate_ = 0;
  // The default display's answer. Per object, since a host may call
  // different instances at the same time.
  char displayText_[16] = {};
};
