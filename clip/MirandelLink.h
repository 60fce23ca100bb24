#pragma once
// One host clip: its fixed table of 62 parameters, its state, and the host
// operations. Host thread only, except where an operation says otherwise.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "clip/CameraControls.h"
#include "clip/ClipParams.h"
#include "clip/Discovery.h"
#include "clip/FrameSlot.h"
#include "clip/PhoneSession.h"
#include "clip/PictureRenderer.h"
#include "clip/PressEdge.h"
#include "clip/StreamControl.h"
#include "ffgl/Plugin.h"
#include "link/ControlMessage.h"
#include "link/LinkPort.h"
#include "rack/RackMapping.h"
#include "video/VideoStream.h"

namespace mirandel {

// What a clip is given from outside; the factory passes the process's own.
struct ClipEnvironment {
  LinkPort* link = nullptr;  // the control channel; null: the process's link hub
  ClockFn clock = steadyClock();
  DecoderFactory makeDecoder;  // the video pipeline's decoders; empty: the platform's
};

class MirandelLink : public CFFGLPlugin {
 public:
  explicit MirandelLink(ClipEnvironment env = {});
  ~MirandelLink() override;

  FFResult InitGL(const FFGLViewportStruct* viewport) override;
  FFResult DeInitGL() override;
  char* GetParameterDisplay(FFUInt32 index) override;
  FFResult SetFloatParameter(FFUInt32 index, float value) override;
  FFResult SetTextParameter(FFUInt32 index, const char* text) override;
  float GetFloatParameter(FFUInt32 index) override;
  char* GetTextParameter(FFUInt32 index) override;
  FFResult ProcessOpenGL(ProcessOpenGLStruct* frame) override;

  // The supervision step: takes up what the network and the video pipeline
  // gathered and makes every timed decision. Host thread.
  void superviseClip();

  // Handles one message drained from the inbox. Host thread.
  void dispatchIncoming(const IncomingMessage& message);
  // How much describe work one step does at most. Each description handed
  // over, whole or joined from its parts, is charged its bytes as read (at
  // most kMaxDescriptionBytes) and kDescribeCharge for installing it; a step
  // takes no further message once the charges reach kDescribeWorkPerStep, so
  // it handles that much and one description more, at most 576 KiB of text
  // to parse. 16 KiB is about what installing a reply of the phone's own rack
  // costs beyond its bytes.
  static constexpr std::size_t kDescribeWorkPerStep = 64 << 10;
  static constexpr std::size_t kDescribeCharge = 16 << 10;

  // Adopts a phone address (empty: nothing). Host thread.
  void connectToPhone(const std::string& address);
  // Parses and installs one complete rack description. Host thread.
  void handleDescribeReply(const std::string& text);

  SlotRef slotOf(std::uint32_t index) const { return mirandel::slotOf(rack_, index); }
  const std::vector<SlotRef>& tuneOrder() const { return rack_.tuneOrder; }

  // The receive thread hands decoded pictures over through this.
  FrameSlot& frameSlot() { return frameSlot_; }
  const PictureRenderer& renderer() const { return renderer_; }
  void setGrainAmountForTest(float amount) { stream_.settings().grainAmount = amount; }

  const std::string& statusText() const { return session_.statusText; }
  const std::string& pictureText() const { return stream_.pictureText(); }
  StreamStats streamStats() const { return video_.stats(); }
  const std::string& fpsText() const { return camera_.fpsText; }
  const std::vector<RackEffect>& effects() const { return rack_.effects; }
  std::int32_t currentEffect() const { return rack_.currentEffect; }
  const std::vector<DeviceRecord>& devices() const { return discovery_.devices; }
  float grainAmount() const { return stream_.settings().grainAmount; }
  int subscriptionId() const { return session_.subscriptionId; }
  const std::string& phoneAddress() const { return session_.address; }
  const std::string& phoneIpText() const { return session_.ipText; }

 private:
  void defineParameters();
  // Session with the phone.
  void requestDescribe();
  // Takes up waiting messages, in arrival order, up to a step's describe
  // work; what is left waits for the next step.
  void takeUpMessages();
  void sendCommand(const std::string& address, std::vector<ControlArg> args = {});
  void send(const std::optional<ControlMessage>& message);
  void handleDescribePart(const IncomingMessage& message);
  // "Bad describe reply" in Status; nothing else changes.
  void refuseDescribeReply();
  // Takes `snapshot` (a copy of the discovery table) as the device list and
  // shows it in "Device" when the menu's texts changed; may connect.
  void rebuildDeviceMenu(std::vector<DeviceRecord> snapshot);
  // The host's write limited to the parameter's range; nullopt when the value
  // is not a finite number, or names no phone or effect on offer. Text
  // parameters and unknown indexes pass unchanged.
  std::optional<float> limitHostValue(FFUInt32 index, float value) const;

  Nanos now() const { return clock_(); }

  LinkPort* link_;
  ClockFn clock_;

  // The texts answered to the host, valid until this clip's next call of the
  // same kind. Per clip: a host may call different clips at the same time.
  char textAnswer_[512] = {};
  char displayAnswer_[32] = {};

  PhoneSession session_;
  Discovery discovery_;
  RackMapping rack_ = makeRackMapping();
  CameraControls camera_;
  StreamControl stream_;
  // Held buttons and double clicks: the events, quick toggles and actions
  // send once per press.
  std::array<PressEdge, kParamCount> presses_{};

  FrameSlot frameSlot_;
  PictureRenderer renderer_;
  // Last member: destroyed first, so its receive thread is joined while the
  // frame slot it writes into still exists.
  VideoStream video_;
};

// The factory the information record uses for the prototype and every clip.
FFResult createMirandelLink(CFFGLPlugin** instance);

}  // namespace mirandel
