#include <gtest/gtest.h>

#include <vector>

#include "ffgl/Plugin.h"

namespace {

// Exposes the protected definition operations.
class Definitions : public CFFGLPlugin {
 public:
  using CFFGLPlugin::SetMaxInputs;
  using CFFGLPlugin::SetOptionParamInfo;
  using CFFGLPlugin::SetParamInfo;
  float value = 0.0f;
  float GetFloatParameter(FFUInt32) override { return value; }
};

std::uint64_t pending(Definitions& d, FFUInt32 id) {
  return d.FindParamInfo(id)->pendingEvents.peek();
}

// A standard parameter's default must stay inside 0..1 or hosts show a
// slider outside its track; other types keep what they are given.
TEST(ParamModel, StandardDefaultsAreClampedAndOthersKeptAsGiven) {
  Definitions d;
  d.SetParamInfo(0, "high", FF_TYPE_STANDARD, 1.5f);
  d.SetParamInfo(1, "low", FF_TYPE_STANDARD, -0.2f);
  d.SetParamInfo(2, "event", FF_TYPE_EVENT, 3.0f);
  d.SetParamInfo(3, "bool", FF_TYPE_BOOLEAN, true);
  std::vector<float> defaults;
  for (FFUInt32 id = 0; id < 4; ++id) defaults.push_back(d.FindParamInfo(id)->defaultValue);
  EXPECT_EQ(defaults, (std::vector<float>{1.0f, 0.0f, 3.0f, 1.0f}));
  EXPECT_TRUE(d.FindParamInfo(3)->elements.empty());
  EXPECT_EQ(d.FindParamInfo(2)->elements.size(), 1u);
}

// Option lists whose names and values disagree in length would leave the host indexing past one of
// them; such a change must be refused whole. Elements only exist on option parameters. Events
// tell the host to re-read; raising one for a no-op change makes hosts flicker, and losing one
// leaves them stale.
TEST(ParamModel, ElementsDisplayNamesAndVisibilityChangeWhenTheyMayAndRaiseEventsOnlyThen) {
  Definitions d;
  d.SetOptionParamInfo(0, "opt", 1, 0.0f);
  d.SetParamInfo(1, "slider", FF_TYPE_STANDARD, 0.0f);
  d.SetParamElements(0, {"a", "b", "c"}, {0.0f, 1.0f}, true);
  d.SetParamElements(1, {"a"}, {0.0f}, true);
  EXPECT_EQ(d.FindParamInfo(0)->elements.size(), 1u);
  EXPECT_EQ(d.FindParamInfo(1)->elements[0].name, "");
  EXPECT_EQ(pending(d, 0) | pending(d, 1), 0u);
  d.SetParamElements(0, {"a", "b"}, {0.0f, 1.0f}, true);
  ASSERT_EQ(d.FindParamInfo(0)->elements.size(), 2u);
  EXPECT_EQ(d.FindParamInfo(0)->elements[1].name, "b");
  EXPECT_EQ(pending(d, 0), FF_EVENT_FLAG_ELEMENTS);
  d.SetParamDisplayName(1, "", true);
  EXPECT_EQ(pending(d, 1), 0u);
  d.SetParamDisplayName(1, "Gain", true);
  EXPECT_EQ(pending(d, 1), FF_EVENT_FLAG_DISPLAY_NAME);
  d.FindParamInfo(1)->pendingEvents.take();
  d.SetParamDisplayName(1, "Gain2", true);
  EXPECT_EQ(pending(d, 1), FF_EVENT_FLAG_DISPLAY_NAME);
  d.SetParamVisibility(1, false, false);
  d.FindParamInfo(1)->pendingEvents.take();
  d.SetParamVisibility(1, false, true);
  EXPECT_EQ(pending(d, 1), 0u);
}

// Parameters are found by identifier: operations on an unknown one change
// nothing, and a lookup takes the first definition of an id.
TEST(ParamModel, OperationsOnUnknownIdsDoNothingAndLookupsTakeTheFirstDefinition) {
  Definitions d;
  d.SetParamInfo(5, "p", FF_TYPE_STANDARD, 0.0f);
  d.SetParamInfo(5, "second", FF_TYPE_STANDARD, 0.0f);
  d.SetParamVisibility(4, false, true);
  d.SetParamDisplayName(4, "x", true);
  d.SetParamGroup(4, "g");
  d.RaiseParamEvent(4, 4);
  d.SetParamElementInfo(5, 3, "out of range", 1.0f);
  EXPECT_EQ(d.FindParamInfo(5)->name, "p");
  EXPECT_TRUE(d.FindParamInfo(5)->visible);
  EXPECT_EQ(pending(d, 5), 0u);
  EXPECT_EQ(d.FindParamInfo(4), nullptr);
}

// The default display writes the live value as "%f" into a 16-byte buffer; a long number must
// be cut and still terminated, and an object not yet instantiated has no identity to ask.
TEST(ParamModel, DefaultDisplayCutsALongNumberAndAlwaysTerminates) {
  Definitions d;
  d.SetParamInfo(0, "p", FF_TYPE_STANDARD, 0.0f);
  EXPECT_EQ(d.GetParameterDisplay(0), nullptr);
  d.SetIdentity(&d);
  d.value = 123456789012.0f;
  EXPECT_STREQ(d.GetParameterDisplay(0), "123456790528.00");
}

}  // namespace
