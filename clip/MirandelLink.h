#pragma once
// One host clip: its fixed table of 62 parameters, its state, and the host
// operations. Host thread only, except where an operation says otherwise.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "clip/ClipParams.h"
#include "rack/DescribeParts.h"
#include "clip/FrameSlot.h"
#include "clip/PictureRenderer.h"
#include "clip/PressEdge.h"
#include "rack/Slots.h"
#include "link/ControlMessage.h"
#include "link/DeviceRecord.h"
#include "link/LinkPort.h"
#include "base/Clock.h"
#include "ffgl/Plugin.h"
#include "rack/RackIndex.h"
#include "rack/RackModel.h"
#include "video/StreamConfig.h"
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

  SlotRef slotOf(std::uint32_t index) const;
  const std::vector<SlotRef>& tuneOrder() const { return tuneOrder_; }

  // The receive thread hands decoded pictures over through this.
  FrameSlot& frameSlot() { return frameSlot_; }
  const PictureRenderer& renderer() const { return renderer_; }
  void setGrainAmountForTest(float amount) { grainAmount_ = amount; }

  const std::string& statusText() const { return statusText_; }
  const std::string& pictureText() const { return pictureText_; }
  StreamStats streamStats() const { return video_.stats(); }
  const std::string& fpsText() const { return fpsText_; }
  const std::vector<RackEffect>& effects() const { return effects_; }
  std::int32_t currentEffect() const { return currentEffect_; }
  const std::vector<DeviceRecord>& devices() const { return devices_; }
  float grainAmount() const { return grainAmount_; }
  int subscriptionId() const { return subscriptionId_; }
  const std::string& phoneAddress() const { return phoneAddress_; }
  const std::string& phoneIpText() const { return phoneIpText_; }

 private:
  void defineParameters();
  void defineRackParameters();
  // Session with the phone.
  void requestDescribe();
  // Takes up waiting messages, in arrival order, up to a step's describe
  // work; what is left waits for the next step.
  void takeUpMessages();
  void sendCommand(const std::string& address, std::vector<ControlArg> args = {});
  void handleDescribePart(const IncomingMessage& message);
  void handleStatus(const IncomingMessage& message);
  void handleControlFeedback(const IncomingMessage& message);

  // Rack mapping.
  // Unbinds every slot and hides its host parameter, with notification.
  void resetSlots();
  // Unbinds every slot, leaving names, visibility and values as the host sees
  // them; for when no effect is current any more.
  void unbindSlots();
  void applyEffect(std::int32_t index, bool relayout);
  // Takes `snapshot` (a copy of the discovery table) as the device list and
  // shows it in "Device" when the menu's texts changed; may connect.
  void rebuildDeviceMenu(std::vector<DeviceRecord> snapshot);
  void setDeviceMenu();
  void reannounceValues();
  void setEffectMenu();
  // "Bad describe reply" in Status; nothing else changes.
  void refuseDescribeReply();
  // The host's write limited to the parameter's range; nullopt when the value
  // is not a finite number, or names no phone or effect on offer. Text
  // parameters and unknown indexes pass unchanged.
  std::optional<float> limitHostValue(FFUInt32 index, float value) const;
  FFResult setSlotParameter(FFUInt32 index, float value, bool pressBegins);
  bool recentEffectSwitch(Nanos t) const;

  // Video: the stream step and the "Picture" status line.
  void updateStream();
  void updateStatusLine();
  void stopStream();
  std::int32_t latencyMs() const;

  Nanos now() const { return clock_(); }

  LinkPort* link_;
  ClockFn clock_;

  // The texts answered to the host, valid until this clip's next call of the
  // same kind. Per clip: a host may call different clips at the same time.
  char textAnswer_[512] = {};
  char displayAnswer_[32] = {};

  // Slot map and per-slot tables.
  std::array<SlotRef, kParamCount> slotMap_{};
  std::vector<SlotRef> tuneOrder_;
  std::array<SliderSlot, kSliderSlots> sliders_{};
  std::array<ToggleSlot, kToggleSlots> toggles_{};
  OptionSlot option_{};
  std::array<ActionSlot, kActionSlots> actions_{};
  // Held buttons and double clicks: the events, quick toggles and actions
  // send once per press.
  std::array<PressEdge, kParamCount> presses_{};

  // Clip state.
  bool relayoutRequested_ = false;
  int subscriptionId_ = -1;
  std::string phoneAddress_;
  std::string phoneIpText_;
  std::string statusText_ = text::kSearching;
  std::vector<DeviceRecord> devices_;
  bool devicesSeenThisStep_ = false;  // an announcement already refreshed devices_
  float deviceValue_ = 0.0f;
  Nanos lastProbeAt_ = 0;
  Nanos lastDeviceCheckAt_ = 0;
  Nanos lastDescribeAt_ = 0;
  std::vector<RackEffect> effects_;
  RackIndex rackIndex_;  // of effects_, rebuilt whenever it changes shape
  DescribeParts parts_;
  // Messages drained from the inbox, handled up to backlogNext_: at most one
  // inbox's worth, since the inbox is drained again only once all are handled.
  std::vector<IncomingMessage> backlog_;
  std::size_t backlogNext_ = 0;
  std::size_t describeWork_ = 0;  // charged in this step, see kDescribeWorkPerStep
  std::int32_t currentEffect_ = -1;
  float effectValue_ = 0.0f;
  bool recording_ = false;
  float zoom_ = 0.25f;
  float lastZoomSent_ = -1.0f;
  Nanos lastZoomSentAt_ = 0;
  std::string fpsText_ = text::kDash;
  bool feedbackGuard_ = false;
  bool localEffectChange_ = false;
  Nanos localEffectChangeAt_ = 0;
  Nanos lastEffectSwitchAt_ = 0;
  Nanos lastRelayoutAt_ = 0;
  bool streamActive_ = false;
  StreamConfig streamConfig_;
  std::string streamUnusableReason_;
  bool restartRequested_ = false;
  Nanos lastGrainRequestAt_ = 0;
  Nanos lastStreamRequestAt_ = 0;
  std::uint64_t streamConnectionsSeen_ = 0;  // the pipeline's connection count at the last step
  std::int32_t fitMode_ = 0;
  std::int32_t quality_ = 1;
  float latency_ = 1.0f / 24.0f;
  std::string pictureText_ = text::kDash;
  float grainAmount_ = 0.0f;

  FrameSlot frameSlot_;
  PictureRenderer renderer_;
  // Last member: destroyed first, so its receive thread is joined while the
  // frame slot it writes into still exists.
  VideoStream video_;
};

// The factory the information record uses for the prototype and every clip.
FFResult createMirandelLink(CFFGLPlugin** instance);

}  // namespace mirandel
