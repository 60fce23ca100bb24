#pragma once
// A clip on a scripted link and a hand-driven clock, and a phone talking to it.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/Log.h"
#include "clip/MirandelLink.h"
#include "support/FakeLink.h"
#include "support/TagLetters.h"
#include "support/TestSupport.h"

namespace mirandel::test {

inline std::vector<std::string>& hostLines() {
  static std::vector<std::string> lines;
  return lines;
}

using Messages = std::vector<ControlMessage>;

// Steps `clip` until `done` holds; answers whether it did within `timeout`.
inline bool stepUntil(MirandelLink& clip, const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  return waitFor(
      [&] {
        clip.superviseClip();
        return done();
      },
      timeout);
}

// A "/mirandel/status" of a phone at 30 of 30 fps with no drops.
inline std::vector<ControlArg> statusArgs(ControlArg zoomFactor, int recording = 0) {
  return {F(30), F(30), F(0), std::move(zoomFactor), I(recording), I(0), I(0)};
}

// A discovered phone with one route, its best address.
inline DeviceRecord device(const std::string& name, const std::string& best, Nanos firstSeen) {
  return {.address = name + "-id",
          .bestAddress = best,
          .name = name,
          .lastSeen = firstSeen,
          .firstSeen = firstSeen,
          .routes = {{best, RouteEntry{LinkKind::Other, firstSeen}}}};
}

// "Grain" fully described, "Glow" without controls yet, "Echo" a slider, two actions.
inline const char* kRackJson = R"({
  "name": "Mirandel Cam", "version": "2.3", "active": 0,
  "effects": [
    {"index": 0, "name": "Grain", "address": "grain", "hero": "amount",
     "params": [
       {"field": "amount", "label": "Amount", "normalized": 0.4},
       {"field": "size", "label": "Size", "normalized": 0.2},
       {"field": "colour", "type": "bool", "value": true},
       {"field": "mode", "label": "Mode", "type": "option", "value": "fine",
        "options": ["fine", "coarse"]},
       {"field": "clump", "label": "Clump", "normalized": 0.7}
     ],
     "heroByMode": {"field": "mode", "heroes": {"coarse": "size"}},
     "actions": ["reset", "randomize"],
     "toggles": [{"slot": 2, "label": "Shuffle"}],
     "layout": [
       {"section": "Quick row", "fields": ["colour", "randomize"]},
       {"section": "Look", "fields": ["mode", "size", "clump", "reset"]}
     ]},
    {"index": 1, "name": "Glow", "address": "glow"},
    {"index": 2, "name": "Echo", "address": "echo",
     "params": [{"field": "decay", "label": "Decay", "normalized": 0.5}],
     "actions": ["tap", "clear"]}
  ]})";

// A new clip, the events of its construction collected.
class ClipTest : public ::testing::Test {
 protected:
  static constexpr const char* kPhone = "10.0.0.5";

  ClipTest() {
    hostLines().clear();
    setLogCallback([](const char* line) { hostLines().emplace_back(line); });
    clip_ = std::make_unique<MirandelLink>(ClipEnvironment{&link_, clock_.fn()});
    clip_->SetIdentity(clip_.get());
    takeEvents();
  }
  ~ClipTest() override {
    clip_.reset();
    setLogCallback(nullptr);
  }

  // Queues a message for the clip as its link would.
  void fromPhone(const std::string& address, std::vector<ControlArg> args = {},
                 const std::string& sender = kPhone) {
    link_.deliver({sender, address, std::move(args)});
  }
  // The same, taken up at once by a supervision step.
  void receive(const std::string& address, std::vector<ControlArg> args = {},
               const std::string& sender = kPhone) {
    fromPhone(address, std::move(args), sender);
    step();
  }
  void step() { clip_->superviseClip(); }
  void advance(Nanos d) { clock_.advance(d); }
  void stepAfter(Nanos d) {
    advance(d);
    step();
  }

  // Connected to kPhone with the rack installed, events and sends cleared.
  void connectWithRack() {
    clip_->SetTextParameter(1, kPhone);
    receive("/mirandel/describe", {ControlArg::ofText(kRackJson)});
    stepAfter(2 * kSecond);  // past the window after the effect switch
    takeEvents();
    link_.sent.clear();
  }

  // Every pending event bit, by host index; clears them.
  std::map<std::uint32_t, std::uint64_t> takeEvents() {
    std::map<std::uint32_t, std::uint64_t> out;
    for (ParamInfo& p : clip_->Params())
      if (auto bits = p.pendingEvents.take()) out[p.id] = bits;
    return out;
  }
  // What the clip sent since the last call; clears it.
  Messages takeSent() {
    Messages out;
    for (const FakeLink::Sent& s : link_.sent) out.push_back(s.message);
    link_.sent.clear();
    return out;
  }
  const ParamInfo& param(std::uint32_t i) { return *clip_->FindParamInfo(i); }
  std::vector<std::string> elementNames(std::uint32_t i) {
    std::vector<std::string> out;
    for (const ParamElement& e : param(i).elements) out.push_back(e.name);
    return out;
  }

  ManualClock clock_{100 * kSecond};
  FakeLink link_;
  std::unique_ptr<MirandelLink> clip_;
};

}  // namespace mirandel::test
