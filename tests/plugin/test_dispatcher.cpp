#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "plugin/AnswerWord.h"
#include "plugin/Dispatcher.h"

namespace {

using Calls = std::vector<std::string>;

// What the plug-in below does, set by each test.
struct Knobs {
  int alive = 0;
  int releases = 0;     // calls of the dispatcher's release callback
  std::string failIn;   // calls beginning with this answer FF_FAIL
  std::string throwIn;  // calls beginning with this throw
  Calls calls;          // the factory, GL loading and the plug-in's operations, in order
};
Knobs knobs;

FFResult note(const std::string& call) {
  knobs.calls.push_back(call);
  auto startsWith = [&](const std::string& prefix) {
    return !prefix.empty() && call.rfind(prefix, 0) == 0;
  };
  if (startsWith(knobs.throwIn)) throw std::runtime_error(call);
  return startsWith(knobs.failIn) ? FF_FAIL : FF_SUCCESS;
}

class FakePlugin : public CFFGLPlugin {
 public:
  FakePlugin() {
    ++knobs.alive;
    SetParamInfo(0, "Gain", FF_TYPE_STANDARD, 0.5f);
    SetParamInfo(1, "Address", FF_TYPE_TEXT, "10.0.0.1");
    SetOptionParamInfo(2, "Mode", 2, 1.0f);
    SetParamElementInfo(2, 0, "A", 0.0f);
    SetParamElementInfo(2, 1, "B", 1.0f);
    SetParamGroup(2, "Group");
    SetParamDisplayName(2, "Display", false);
  }
  ~FakePlugin() override { --knobs.alive; }
  FFResult InitGL(const FFGLViewportStruct* v) override {
    CFFGLPlugin::InitGL(v);
    return note("InitGL");
  }
  FFResult DeInitGL() override { return note("DeInitGL"); }
  FFResult SetFloatParameter(FFUInt32 index, float value) override {
    return note("SetFloat " + std::to_string(index) + " " + std::to_string(value));
  }
  FFResult SetTextParameter(FFUInt32 index, const char* text) override {
    return note("SetText " + std::to_string(index) + " " + (text ? text : "(null)"));
  }
  float GetFloatParameter(FFUInt32 index) override {
    note("GetFloat");
    return index == 0 ? 0.75f : 0.0f;
  }
  char* GetTextParameter(FFUInt32) override {
    note("GetText");
    return const_cast<char*>("hello");
  }
  char* GetShortName() override {
    note("GetShortName");
    return nullptr;
  }
  FFResult ProcessOpenGL(ProcessOpenGLStruct*) override { return note("ProcessOpenGL"); }
  FFResult Connect() override { return note("Connect"); }
  FFResult Disconnect() override { return note("Disconnect"); }
};

FFResult makeFake(CFFGLPlugin** out) {
  if (note("factory") == FF_FAIL) return FF_FAIL;
  *out = new FakePlugin();
  return FF_SUCCESS;
}

const CFFGLPluginInfo& info() {
  static const CFFGLPluginInfo record(&makeFake, "TEST", "Test", 2, 1, 1, 0, FF_SOURCE, "d", "a");
  return record;
}

using mirandel::floatWord;
using mirandel::pointer;
using mirandel::word;
using mirandel::wordFloat;

const char* asText(FFMixed m) { return static_cast<const char*>(m.PointerValue); }
CFFGLPlugin* plugin(void* instance) { return static_cast<CFFGLPlugin*>(instance); }

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override { knobs = Knobs{}; }
  void TearDown() override {
    if (instance_) call(FF_DEINSTANTIATE_GL, word(0), instance_);
    // Every object made through the dispatcher is gone once it is.
    dispatcher_.reset();
    EXPECT_EQ(knobs.alive, 0);
  }

  FFMixed call(FFUInt32 code, FFMixed in = word(0), void* instance = nullptr) {
    return dispatcher_->dispatch(code, in, instance);
  }
  // The new instance, de-instantiated after the test; null when it failed.
  void* instantiate() {
    FFGLViewportStruct vp{0, 0, 640, 360};
    FFMixed r = call(FF_INSTANTIATE_GL, pointer(&vp));
    if (r.UIntValue == FF_FAIL) return nullptr;
    return instance_ = r.PointerValue;
  }

  void* instance_ = nullptr;
  std::unique_ptr<mirandel::Dispatcher> dispatcher_ = std::make_unique<mirandel::Dispatcher>(
      &info(), [] { return note("loadGL") == FF_SUCCESS; }, [] { ++knobs.releases; });
};

// Codes that cannot be answered must fail cleanly and never reach an object:
// codes without a meaning here (asked of an instance, without which they
// would fail anyway), record-reading codes given a null record (answers that
// are pointers fail as null), and instance codes without an instance.
TEST_F(DispatcherTest, CodesThatCannotBeAnsweredFailWithoutReachingTheObject) {
  void* instance = instantiate();
  ASSERT_NE(instance, nullptr);
  knobs.calls.clear();
  for (FFUInt32 code : {1u, 3u, 11u, 12u, 14u, 24u, 25u, 26u, 27u, 28u, 29u, 30u, 52u, 1000u})
    EXPECT_EQ(call(code, word(0), instance).UIntValue, FF_FAIL) << "unused code " << code;
  for (FFUInt32 code : {8u, 17u, 18u, 20u, 23u, 36u, 37u, 38u, 39u, 41u, 42u, 46u, 48u, 50u, 51u})
    EXPECT_EQ(call(code, pointer(nullptr), instance).UIntValue, FF_FAIL) << "null record " << code;
  for (FFUInt32 code : {35u, 44u})
    EXPECT_EQ(call(code, pointer(nullptr), instance).PointerValue, nullptr)
        << "null record " << code;
  SetParameterStruct set{0, word(0)};
  int frame = 0;
  const std::pair<FFUInt32, FFMixed> withoutInstance[] = {
      {FF_GET_PARAMETER_DISPLAY, word(0)}, {FF_SET_PARAMETER, pointer(&set)},
      {FF_GET_PARAMETER, word(0)},         {FF_PROCESS_OPENGL, pointer(&frame)},
      {FF_DEINSTANTIATE_GL, word(0)},
  };
  for (const auto& [code, in] : withoutInstance)
    EXPECT_EQ(call(code, in).UIntValue, FF_FAIL) << "no instance " << code;
  EXPECT_EQ(knobs.calls, Calls{});
}

// An exception inside the plug-in must never unwind into the host, and a host
// would dereference FF_FAIL: every answer that would have been a text pointer
// is null. Values and defaults of text parameters are such answers too; the
// type comes from the prototype's definitions, and with no prototype it is
// unknown, where null is safe as a pointer and as the float 0 alike.
TEST_F(DispatcherTest, ExceptionsBecomeFailureAnswersAndNullWhereTheAnswerIsAPointer) {
  void* instance = instantiate();
  ASSERT_NE(instance, nullptr);
  SetParameterStruct set{0, word(0)};
  struct Case {
    const char* thrower;
    FFUInt32 code;
    FFMixed in;
    bool pointerAnswer;
  } cases[] = {
      {"SetFloat", FF_SET_PARAMETER, pointer(&set), false},
      {"GetFloat", FF_GET_PARAMETER, word(0), false},
      {"GetText", FF_GET_PARAMETER, word(1), true},
      {"GetText", FF_GET_PARAMETER_DISPLAY, word(1), true},
      {"GetFloat", FF_GET_PARAMETER_DISPLAY, word(0), true},
      {"GetShortName", FF_GET_PLUGIN_SHORT_NAME, word(0), true},
  };
  for (const Case& c : cases) {
    knobs.throwIn = c.thrower;
    const FFMixed answer = call(c.code, c.in, instance);
    if (c.pointerAnswer) {
      EXPECT_EQ(answer.PointerValue, nullptr) << c.thrower << " " << c.code;
    } else {
      EXPECT_EQ(answer.UIntValue, FF_FAIL) << c.thrower << " " << c.code;
    }
  }
  knobs.throwIn = "";

  // The prototype's creation throws: nothing tells the parameter's type.
  call(FF_DEINITIALISE);
  knobs.throwIn = "factory";
  for (FFUInt32 index : {1u, 0u})
    EXPECT_EQ(call(FF_GET_PARAMETER_DEFAULT, word(index)).PointerValue, nullptr) << index;
}

// Guards against a prototype made per question (or never remade after code 2)
// and against a missing prototype answering as if it existed.
TEST_F(DispatcherTest, ThePrototypeIsMadeOnDemandRemadeAfterDeinitialiseAndItsAbsenceFails) {
  EXPECT_EQ(call(FF_GET_NUM_PARAMETERS).UIntValue, 3u);
  EXPECT_EQ(call(FF_GET_NUM_PARAMETERS).UIntValue, 3u);
  EXPECT_EQ(knobs.calls, Calls{"factory"});
  EXPECT_EQ(call(FF_DEINITIALISE).UIntValue, FF_SUCCESS);
  EXPECT_EQ(knobs.alive, 0);
  EXPECT_EQ(call(FF_GET_NUM_PARAMETERS).UIntValue, 3u);
  EXPECT_EQ(knobs.calls, (Calls{"factory", "factory"}));

  call(FF_DEINITIALISE);
  knobs.failIn = "factory";
  EXPECT_EQ(call(FF_INITIALISE_V2).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_GET_NUM_PARAMETERS).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_GET_PARAMETER_NAME, word(0)).PointerValue, nullptr);
  EXPECT_EQ(call(FF_GET_NUM_ELEMENT_SEPARATORS, word(0)).UIntValue, 0u);
  EXPECT_EQ(instantiate(), nullptr);
}

TEST_F(DispatcherTest, DefinitionQuestionsAnswerFromThePrototype) {
  EXPECT_STREQ(asText(call(FF_GET_PARAMETER_NAME, word(2))), "Mode");
  EXPECT_EQ(wordFloat(call(FF_GET_PARAMETER_DEFAULT, word(0))), 0.5f);
  EXPECT_STREQ(asText(call(FF_GET_PARAMETER_DEFAULT, word(1))), "10.0.0.1");
  EXPECT_EQ(call(FF_GET_PARAMETER_TYPE, word(1)).UIntValue, FF_TYPE_TEXT);
  EXPECT_EQ(call(FF_GET_PARAMETER_USAGE, word(0)).UIntValue, 0u);
  EXPECT_EQ(call(FF_GET_NUM_PARAMETER_ELEMENTS, word(2)).UIntValue, 2u);
  EXPECT_EQ(call(FF_GET_PARAMETER_VISIBILITY, word(2)).UIntValue, 1u);
  // One past the last index, and the largest.
  for (FFUInt32 past : {3u, 0xFFFFFFFFu}) {
    EXPECT_EQ(call(FF_GET_PARAMETER_NAME, word(past)).PointerValue, nullptr) << past;
    for (FFUInt32 code : {FF_GET_PARAMETER_DEFAULT, FF_GET_PARAMETER_TYPE, FF_GET_PARAMETER_USAGE,
                          FF_GET_PARAMETER_VISIBILITY})
      EXPECT_EQ(call(code, word(past)).UIntValue, FF_FAIL) << code << " " << past;
    for (FFUInt32 code : {FF_GET_NUM_FILE_PARAMETER_EXTENSIONS, FF_GET_NUM_ELEMENT_SEPARATORS})
      EXPECT_EQ(call(code, word(past)).UIntValue, 0u) << code << " " << past;
    GetFileParameterExtensionStruct extension{past, 0};
    EXPECT_EQ(call(FF_GET_FILE_PARAMETER_EXTENSION, pointer(&extension)).PointerValue, nullptr);
    GetElementSeparatorStruct separator{past, 0};
    EXPECT_EQ(call(FF_GET_ELEMENT_SEPARATOR, pointer(&separator)).UIntValue, FF_FAIL) << past;
  }
  GetParameterElementNameStruct element{2, 1};
  EXPECT_STREQ(asText(call(FF_GET_PARAMETER_ELEMENT_NAME, pointer(&element))), "B");
  EXPECT_EQ(wordFloat(call(FF_GET_PARAMETER_ELEMENT_VALUE, pointer(&element))), 1.0f);
  element.ElementNumber = 2;
  EXPECT_EQ(call(FF_GET_PARAMETER_ELEMENT_NAME, pointer(&element)).PointerValue, nullptr);
  EXPECT_EQ(call(FF_GET_PARAMETER_ELEMENT_VALUE, pointer(&element)).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_GET_NUM_FILE_PARAMETER_EXTENSIONS, word(1)).UIntValue, 0u);
  GetElementSeparatorStruct sep{2, 0};
  EXPECT_EQ(call(FF_GET_ELEMENT_SEPARATOR, pointer(&sep)).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_GET_PLUGIN_SHORT_NAME).PointerValue, nullptr);
  // The range of an unknown parameter is 0..1; the thumbnail is refused.
  GetRangeStruct range{42, {7.0f, 7.0f}};
  EXPECT_EQ(call(FF_GET_RANGE, pointer(&range)).UIntValue, FF_SUCCESS);
  EXPECT_EQ(range.range.min, 0.0f);
  EXPECT_EQ(range.range.max, 1.0f);
  GetThumbnailStruct thumbnail{64, 64, nullptr};
  EXPECT_EQ(call(FF_GET_THUMBNAIL, pointer(&thumbnail)).UIntValue, FF_FAIL);
  EXPECT_EQ(thumbnail.width + thumbnail.height, 0u);
}

TEST_F(DispatcherTest, CapabilitiesOfASourceWithoutTopLeftOrientation) {
  const std::pair<FFUInt32, FFUInt32> capabilities[] = {{5, 1}, {10, 0}, {11, 0}, {16, 0},
                                                        {4, 0}, {0, 0},  {999, 0}};
  for (const auto& [cap, answer] : capabilities)
    EXPECT_EQ(call(FF_GET_PLUGIN_CAPS, word(cap)).UIntValue, answer) << cap;
  void* instance = instantiate();
  EXPECT_EQ(call(FF_ENABLE_PLUGIN_CAP, word(16), instance).UIntValue, FF_FAIL);
  EXPECT_FALSE(plugin(instance)->TopLeftTextureOrientationEnabled());
}

// Instantiation makes the prototype, then the object, applies every default in
// identifier order (text parameters through the text path), loads GL and only
// then lets InitGL see the viewport.
TEST_F(DispatcherTest, InstantiationAppliesDefaultsThroughTheRightPath) {
  void* instance = instantiate();
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(knobs.calls, (Calls{"factory", "factory", "SetFloat 0 0.500000", "SetText 1 10.0.0.1",
                                "SetFloat 2 1.000000", "loadGL", "InitGL"}));
  EXPECT_EQ(plugin(instance)->Identity(), instance);
  EXPECT_EQ(plugin(instance)->CurrentViewport().width, 640u);
}

// A default that fails or throws stops the instantiation at once, and a failed
// InitGL is undone by DeInitGL: no new object is left behind.
TEST_F(DispatcherTest, AFailedInstantiationLeavesOnlyThePrototype) {
  struct Case {
    const char* failIn;
    const char* throwIn;
    const char* lastCall;
  } cases[] = {
      {"SetFloat 0", "", "SetFloat 0 0.500000"},
      {"", "SetText", "SetText 1 10.0.0.1"},
      {"InitGL", "", "DeInitGL"},
  };
  for (const Case& c : cases) {
    knobs.failIn = c.failIn;
    knobs.throwIn = c.throwIn;
    knobs.calls.clear();
    EXPECT_EQ(instantiate(), nullptr) << c.lastCall;
    EXPECT_EQ(knobs.alive, 1) << c.lastCall;
    ASSERT_FALSE(knobs.calls.empty());
    EXPECT_EQ(knobs.calls.back(), c.lastCall);
  }
}

// GL entry points are loaded once per process; a failed load is not retried,
// and every later instantiation fails too.
TEST_F(DispatcherTest, GlLoadingIsAttemptedOnceAndItsFailureSticks) {
  knobs.failIn = "loadGL";
  EXPECT_EQ(instantiate(), nullptr);
  knobs.failIn = "";
  EXPECT_EQ(instantiate(), nullptr);
  EXPECT_EQ(std::count(knobs.calls.begin(), knobs.calls.end(), "loadGL"), 1);
  EXPECT_EQ(knobs.calls.back(), "SetFloat 2 1.000000");
  EXPECT_EQ(knobs.alive, 1);
}

// Instance codes reach the right operation: set and get by the parameter's
// type, drawing connects once first, and de-instantiation disconnects before
// DeInitGL.
TEST_F(DispatcherTest, InstanceCodesRouteByTypeAndDrawingConnectsOnce) {
  void* instance = instantiate();
  knobs.calls.clear();
  SetParameterStruct text{1, pointer("192.168.1.20")}, value{0, floatWord(0.25f)};
  EXPECT_EQ(call(FF_SET_PARAMETER, pointer(&text), instance).UIntValue, FF_SUCCESS);
  EXPECT_EQ(call(FF_SET_PARAMETER, pointer(&value), instance).UIntValue, FF_SUCCESS);
  EXPECT_STREQ(asText(call(FF_GET_PARAMETER, word(1), instance)), "hello");
  EXPECT_EQ(wordFloat(call(FF_GET_PARAMETER, word(0), instance)), 0.75f);
  int frame = 0;
  EXPECT_EQ(call(FF_PROCESS_OPENGL, pointer(&frame), instance).UIntValue, FF_SUCCESS);
  EXPECT_EQ(call(FF_PROCESS_OPENGL, pointer(&frame), instance).UIntValue, FF_SUCCESS);
  instance_ = nullptr;
  EXPECT_EQ(call(FF_DEINSTANTIATE_GL, word(0), instance).UIntValue, FF_SUCCESS);
  EXPECT_EQ(knobs.calls,
            (Calls{"SetText 1 192.168.1.20", "SetFloat 0 0.250000", "GetText", "GetFloat",
                   "Connect", "ProcessOpenGL", "ProcessOpenGL", "Disconnect", "DeInitGL"}));
}

// Hosts with small event buffers collect in several calls; nothing may be lost
// or reported twice.
TEST_F(DispatcherTest, EventsAreReportedInListOrderUpToTheHostsCapacity) {
  void* instance = instantiate();
  plugin(instance)->RaiseParamEvent(2, FF_EVENT_FLAG_VALUE);
  plugin(instance)->RaiseParamEvent(0, FF_EVENT_FLAG_VISIBILITY);
  plugin(instance)->RaiseParamEvent(1, FF_EVENT_FLAG_DISPLAY_NAME | FF_EVENT_FLAG_VALUE);
  ParamEventStruct entries[3] = {};
  GetParamEventsStruct query{0, nullptr}, one{1, entries}, rest{3, entries}, none{3, entries};
  call(FF_GET_PARAMETER_EVENTS, pointer(&query), instance);
  EXPECT_EQ(query.numEvents, 3u);

  EXPECT_EQ(call(FF_GET_PARAMETER_EVENTS, pointer(&one), instance).UIntValue, FF_SUCCESS);
  ASSERT_EQ(one.numEvents, 1u);
  EXPECT_EQ(entries[0].ParameterNumber, 0u);
  EXPECT_EQ(entries[0].eventFlags, FF_EVENT_FLAG_VISIBILITY);

  call(FF_GET_PARAMETER_EVENTS, pointer(&rest), instance);
  ASSERT_EQ(rest.numEvents, 2u);
  EXPECT_EQ(entries[0].ParameterNumber, 1u);
  EXPECT_EQ(entries[0].eventFlags, FF_EVENT_FLAG_DISPLAY_NAME | FF_EVENT_FLAG_VALUE);
  EXPECT_EQ(entries[1].ParameterNumber, 2u);

  call(FF_GET_PARAMETER_EVENTS, pointer(&none), instance);
  EXPECT_EQ(none.numEvents, 0u);
}

// Group and display-name buffers get min(length, size) bytes and no
// terminator; a zero size is refused.
TEST_F(DispatcherTest, GroupAndDisplayNameCopiesAreBoundedByTheHostBuffer) {
  void* instance = instantiate();
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  GetParameterGroupStruct q{2, buffer, 3};
  EXPECT_EQ(call(FF_GET_PARAMETER_GROUP, pointer(&q)).UIntValue, FF_SUCCESS);
  EXPECT_EQ(std::string(buffer, 8), "Gro#####");
  std::memset(buffer, '#', sizeof buffer);
  q.targetBufferSize = 8;
  EXPECT_EQ(call(FF_GET_PARAMETER_DISPLAY_NAME, pointer(&q), instance).UIntValue, FF_SUCCESS);
  EXPECT_EQ(std::string(buffer, 8), "Display#");
  q.targetBufferSize = 0;
  EXPECT_EQ(call(FF_GET_PARAMETER_GROUP, pointer(&q)).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_GET_PARAMETER_DISPLAY_NAME, pointer(&q), instance).UIntValue, FF_FAIL);
}

TEST_F(DispatcherTest, HostValuesReachTheInstance) {
  void* instance = instantiate();
  double seconds = 12.5;
  SetBeatinfoStruct beat{128.0f, 0.5f};
  SetHostinfoStruct host{"Host", "9.1"};
  FFGLViewportStruct vp{1, 2, 300, 200};
  SetParameterElementValueStruct element{2, 1, 4.0f};
  const std::pair<FFUInt32, FFMixed> calls[] = {
      {FF_SET_TIME, pointer(&seconds)},   {FF_SET_BEAT_INFO, pointer(&beat)},
      {FF_SET_HOST_INFO, pointer(&host)}, {FF_SET_SAMPLE_RATE, word(48000)},
      {FF_RESIZE, pointer(&vp)},          {FF_SET_PARAMETER_ELEMENT_VALUE, pointer(&element)},
  };
  for (const auto& [code, in] : calls)
    EXPECT_EQ(call(code, in, instance).UIntValue, FF_SUCCESS) << code;
  element.ElementNumber = 5;
  EXPECT_EQ(call(FF_SET_PARAMETER_ELEMENT_VALUE, pointer(&element), instance).UIntValue, FF_FAIL);
  EXPECT_EQ(plugin(instance)->Time(), 12.5);
  EXPECT_EQ(plugin(instance)->Tempo(), 128.0f);
  EXPECT_EQ(plugin(instance)->HostName(), "Host");
  EXPECT_EQ(plugin(instance)->SampleRate(), 48000u);
  EXPECT_EQ(plugin(instance)->CurrentViewport().height, 200u);
  EXPECT_EQ(plugin(instance)->FindParamInfo(2)->elements[1].value, 4.0f);
  EXPECT_EQ(call(FF_GET_INPUT_STATUS, word(0), instance).UIntValue, FF_FAIL);
}

// Guards against following a host's handle that names no live instance: an
// instance already destroyed by code 19 (a dangling pointer: calling through
// it is a use after free), the prototype (never initialised for drawing) and
// an address that was never an instance. Every instance code must refuse it
// without touching any object, with null where the answer is a pointer, and
// codes answered by an instance or the prototype must not fall back to the
// prototype's answer either.
TEST_F(DispatcherTest, HandlesThatNameNoLiveInstanceAreRefusedWithoutBeingFollowed) {
  void* destroyed = instantiate();
  ASSERT_NE(destroyed, nullptr);
  instance_ = nullptr;
  ASSERT_EQ(call(FF_DEINSTANTIATE_GL, word(0), destroyed).UIntValue, FF_SUCCESS);
  void* prototype = dispatcher_->prototype();
  // Never an instance: a host's stale copy, here bytes that would fault as an
  // object (its "vtable" is null).
  alignas(16) static unsigned char neverAnInstance[256] = {};
  const int aliveBefore = knobs.alive;

  SetParameterStruct setValue{0, floatWord(0.5f)}, setText{1, pointer("10.0.0.9")};
  GetParameterElementNameStruct element{2, 0};
  SetParameterElementValueStruct setElement{2, 0, 1.0f};
  double seconds = 1.0;
  SetBeatinfoStruct beat{120.0f, 0.0f};
  SetHostinfoStruct host{"Host", "1"};
  FFGLViewportStruct vp{0, 0, 64, 64};
  ParamEventStruct entries[4] = {};
  GetParamEventsStruct events{4, entries};
  char buffer[8] = {};
  GetParameterGroupStruct displayName{2, buffer, sizeof buffer};
  int frame = 0;
  const struct {
    FFUInt32 code;
    FFMixed in;
    bool pointerAnswer;
  } codes[] = {
      {FF_GET_PARAMETER_DISPLAY, word(0), true},
      {FF_SET_PARAMETER, pointer(&setValue), false},
      {FF_SET_PARAMETER, pointer(&setText), false},
      {FF_GET_PARAMETER, word(0), false},
      {FF_GET_PARAMETER, word(1), true},
      {FF_GET_INPUT_STATUS, word(0), false},
      {FF_PROCESS_OPENGL, pointer(&frame), false},
      {FF_DEINSTANTIATE_GL, word(0), false},
      {FF_SET_TIME, pointer(&seconds), false},
      {FF_CONNECT, word(0), false},
      {FF_DISCONNECT, word(0), false},
      {FF_RESIZE, pointer(&vp), false},
      {FF_GET_NUM_PARAMETER_ELEMENTS, word(2), false},
      {FF_GET_PARAMETER_ELEMENT_NAME, pointer(&element), true},
      {FF_GET_PARAMETER_ELEMENT_VALUE, pointer(&element), false},
      {FF_SET_PARAMETER_ELEMENT_VALUE, pointer(&setElement), false},
      {FF_SET_BEAT_INFO, pointer(&beat), false},
      {FF_SET_HOST_INFO, pointer(&host), false},
      {FF_SET_SAMPLE_RATE, word(48000), false},
      {FF_GET_PARAMETER_VISIBILITY, word(2), false},
      {FF_GET_PARAMETER_EVENTS, pointer(&events), false},
      {FF_ENABLE_PLUGIN_CAP, word(16), false},
      {FF_GET_PARAMETER_DISPLAY_NAME, pointer(&displayName), false},
  };
  knobs.calls.clear();
  const std::pair<void*, const char*> handles[] = {
      {destroyed, "destroyed"}, {prototype, "prototype"}, {neverAnInstance, "other"}};
  for (const auto& [handle, name] : handles) {
    for (const auto& c : codes) {
      SCOPED_TRACE("code " + std::to_string(c.code) + " " + name);
      const FFMixed answer = call(c.code, c.in, handle);
      if (c.pointerAnswer) {
        EXPECT_EQ(answer.PointerValue, nullptr);
      } else {
        EXPECT_EQ(answer.UIntValue, FF_FAIL);
      }
    }
  }
  EXPECT_EQ(knobs.calls, Calls{});
  EXPECT_EQ(knobs.alive, aliveBefore);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '\0'));
  EXPECT_EQ(events.numEvents, 4u) << "the record was written";
}

// Guards the bookkeeping of live instances through the ways hosts end them:
// de-initialising (code 2) while clips live takes only the prototype, and the
// clips keep answering; each instance can be destroyed once; a failed
// instantiation leaves nothing to refuse or release later. The release
// callback comes exactly when the plug-in holds no object any more, after
// code 2 or the last code 19, whichever is later.
TEST_F(DispatcherTest, DeinitialisingWhileInstancesLiveKeepsThemAndReleasesWhenTheLastGoes) {
  void* first = instantiate();
  instance_ = nullptr;
  void* second = instantiate();
  instance_ = nullptr;
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(call(FF_DEINITIALISE).UIntValue, FF_SUCCESS);
  EXPECT_EQ(dispatcher_->prototype(), nullptr);
  EXPECT_EQ(knobs.alive, 2);
  EXPECT_EQ(knobs.releases, 0);

  knobs.calls.clear();
  SetParameterStruct value{0, floatWord(0.25f)};
  int frame = 0;
  EXPECT_EQ(call(FF_SET_PARAMETER, pointer(&value), first).UIntValue, FF_SUCCESS);
  EXPECT_EQ(call(FF_PROCESS_OPENGL, pointer(&frame), first).UIntValue, FF_SUCCESS);
  EXPECT_EQ(call(FF_GET_NUM_PARAMETER_ELEMENTS, word(2), first).UIntValue, 2u);
  // Setting a value needs the parameter's type, which the prototype knows:
  // one is made again for it.
  EXPECT_EQ(knobs.calls, (Calls{"factory", "SetFloat 0 0.250000", "Connect", "ProcessOpenGL"}));

  EXPECT_EQ(call(FF_DEINSTANTIATE_GL, word(0), first).UIntValue, FF_SUCCESS);
  EXPECT_EQ(call(FF_DEINSTANTIATE_GL, word(0), first).UIntValue, FF_FAIL) << "destroyed twice";
  EXPECT_EQ(call(FF_DEINITIALISE).UIntValue, FF_SUCCESS);
  EXPECT_EQ(knobs.releases, 0) << "released while an instance lives";
  knobs.failIn = "InitGL";
  EXPECT_EQ(instantiate(), nullptr);
  knobs.failIn = "";
  EXPECT_EQ(call(FF_DEINITIALISE).UIntValue, FF_SUCCESS);
  EXPECT_EQ(knobs.releases, 0);
  EXPECT_EQ(call(FF_DEINSTANTIATE_GL, word(0), second).UIntValue, FF_SUCCESS);
  EXPECT_EQ(knobs.releases, 1);
  EXPECT_EQ(knobs.alive, 0);
  EXPECT_EQ(dispatcher_->instanceCount(), 0u);

  // Instances made after a release are counted afresh.
  void* third = instantiate();
  instance_ = nullptr;
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(call(FF_DEINSTANTIATE_GL, word(0), third).UIntValue, FF_SUCCESS);
  EXPECT_EQ(knobs.releases, 1) << "the prototype still lives";
  EXPECT_EQ(call(FF_DEINITIALISE).UIntValue, FF_SUCCESS);
  EXPECT_EQ(knobs.releases, 2);
}

TEST(DispatcherWithoutRecord, EveryCodeFails) {
  mirandel::Dispatcher d(nullptr, [] { return true; });
  FFGLViewportStruct vp{0, 0, 1, 1};
  EXPECT_EQ(d.dispatch(FF_GET_INFO, word(0), nullptr).PointerValue, nullptr);
  EXPECT_EQ(d.dispatch(FF_INITIALISE_V2, word(0), nullptr).UIntValue, FF_FAIL);
  EXPECT_EQ(d.dispatch(FF_DEINITIALISE, word(0), nullptr).UIntValue, FF_FAIL);
  EXPECT_EQ(d.dispatch(FF_INSTANTIATE_GL, pointer(&vp), nullptr).UIntValue, FF_FAIL);
}

}  // namespace
