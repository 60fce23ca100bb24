#pragma once
// The clip's rack: the phone's effects, the current one, and how it is shown on the generic
// host parameters. Plain data that the clip owns; the functions below work on it and on the
// clip's parameter list, and answer what to send the phone rather than sending it. Host
// thread only.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "ffgl/PluginManager.h"
#include "link/ControlMessage.h"
#include "rack/DescribeParts.h"
#include "rack/RackIndex.h"
#include "rack/RackModel.h"
#include "rack/RackParser.h"
#include "rack/Slots.h"

namespace mirandel {

// After an effect switch the host pushes the values it still shows for the old effect, and
// after a relayout those of re-labelled slots: both are ignored for a while, and the values
// of the new mapping are announced again once the switch has settled.
struct EchoWindows {
  Nanos lastEffectSwitchAt = 0;
  Nanos lastRelayoutAt = 0;
  bool reannounceDue = false;
  Nanos reannounceFrom = 0;
  bool relayoutRequested = false;  // a value that chooses what is shown changed
};

struct RackMapping {
  std::array<SlotRef, kParamCount> slotMap{};
  std::vector<SlotRef> tuneOrder;  // the slots of the tune rows, in host order
  std::array<SliderSlot, kSliderSlots> sliders{};
  std::array<ToggleSlot, kToggleSlots> toggles{};
  OptionSlot option{};
  std::array<ActionSlot, kActionSlots> actions{};
  std::vector<RackEffect> effects;
  RackIndex index;  // of effects, rebuilt whenever it changes shape
  DescribeParts parts;
  std::int32_t currentEffect = -1;
  float effectValue = 0.0f;  // what the host's "Effect" menu shows
  EchoWindows echo;
};

// A mapping with every slot on its host index (slotDefinitions()) and nothing bound.
RackMapping makeRackMapping();

SlotRef slotOf(const RackMapping& rack, std::uint32_t hostIndex);

// Unbinds every slot and hides its parameter, with notification.
void resetSlots(RackMapping& rack, CFFGLPluginManager& params);
// Unbinds every slot, leaving names, visibility and values as the host sees them; for when
// no effect is current any more.
void unbindSlots(RackMapping& rack);
// Forgets every effect, for a new phone.
void clearRack(RackMapping& rack, CFFGLPluginManager& params);
// Makes effect `index` current and shows it on the slots; a relayout shows the current effect
// again after a value that chooses its layout changed.
void applyEffect(RackMapping& rack, CFFGLPluginManager& params, std::int32_t index, bool relayout,
                 Nanos now);

// Takes a complete description: merges its effects into the list, renews the "Effect" menu
// and maps the active effect again where it changed. False, changing nothing, when the merged
// list would pass a bound of a description.
bool installReply(RackMapping& rack, const DescribeReply& reply, CFFGLPluginManager& params,
                  Nanos now);
// The describe requests the rack still needs: the whole rack while no effect is known, else
// up to four effects whose controls have not come.
std::vector<std::string> describeTargets(const RackMapping& rack);
bool rackComplete(const RackMapping& rack);

// The phone chose effect `index` itself.
void takeEffectFromPhone(RackMapping& rack, CFFGLPluginManager& params, std::int32_t index,
                         Nanos now);
// The phone's own value of one control, "/mirandel/<effect>/<field>"; shown on the slots of
// the current effect unless it echoes what the host sent a moment ago.
void takeFeedback(RackMapping& rack, CFFGLPluginManager& params, const std::string& address,
                  const ControlArg& value, Nanos now);

// The host's write of `value` (already held to the parameter's range) to the "Effect" menu
// or a slot; answers the command for the phone, if any. `pressBegins`: the write begins a
// press of a button (an action or a quick toggle bound to one).
std::optional<ControlMessage> writeEffect(RackMapping& rack, CFFGLPluginManager& params,
                                          float value, Nanos now);
std::optional<ControlMessage> writeSlot(RackMapping& rack, CFFGLPluginManager& params,
                                        std::uint32_t hostIndex, float value, bool pressBegins,
                                        Nanos now);
// Whether an effect switch happened so recently that the host's writes still echo it.
bool recentEffectSwitch(const RackMapping& rack, Nanos now);

// The rack's timed work, once per step: the relayout a value asked for, and the values
// announced again once an effect switch has settled.
void superviseRack(RackMapping& rack, CFFGLPluginManager& params, Nanos now);

}  // namespace mirandel
