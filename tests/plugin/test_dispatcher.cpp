#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/Dispatcher.h"

namespace {

// A small plug-in whose behaviour each test sets through these knobs.
struct Knobs {
  int made = 0;
  int alive = 0;
  bool factoryFails = false;
  bool initGLFails = false;
  int deInitCalls = 0;
  int connectCalls = 0;
  int disconnectCalls = 0;
  bool factoryThrows = false;
  bool throwOnSetFloat = false;
  bool throwOnGetFloat = false;
  bool throwOnGetText = false;
  bool throwOnShortName = false;
  bool failSetFloatIndex1 = false;
  std::vector<std::string> texts;
  std::vector<std::pair<FFUInt32, float>> floats;
};
Knobs knobs;

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
    return knobs.initGLFails ? FF_FAIL : FF_SUCCESS;
  }
  FFResult DeInitGL() override {
    ++knobs.deInitCalls;
    return FF_SUCCESS;
  }
  FFResult SetFloatParameter(FFUInt32 index, float value) override {
    if (knobs.throwOnSetFloat) throw std::bad_alloc();
    if (knobs.failSetFloatIndex1 && index == 0) return FF_FAIL;
    knobs.floats.emplace_back(index, value);
    return FF_SUCCESS;
  }
  FFResult SetTextParameter(FFUInt32, const char* text) override {
    knobs.texts.emplace_back(text ? text : "(null)");
    return FF_SUCCESS;
  }
  float GetFloatParameter(FFUInt32 index) override {
    if (knobs.throwOnGetFloat) throw std::runtime_error("float");
    return index == 0 ? 0.75f : 0.0f;
  }
  char* GetTextParameter(FFUInt32) override {
    if (knobs.throwOnGetText) throw std::runtime_error("text");
    return text_;
  }
  char* GetShortName() override {
    if (knobs.throwOnShortName) throw std::runtime_error("short name");
    return nullptr;
  }
  FFResult ProcessOpenGL(ProcessOpenGLStruct*) override { return FF_SUCCESS; }
  FFResult Connect() override {
    ++knobs.connectCalls;
    return FF_SUCCESS;
  }
  FFResult Disconnect() override {
    ++knobs.disconnectCalls;
    return FF_SUCCESS;
  }

 private:
  char text_[8] = "hello";
};

FFResult makeFake(CFFGLPlugin** out) {
  if (knobs.factoryFails) return FF_FAIL;
  if (knobs.factoryThrows) throw std::bad_alloc();
  ++knobs.made;
  *out = new FakePlugin();
  return FF_SUCCESS;
}

const CFFGLPluginInfo& info() {
  static const CFFGLPluginInfo record(&makeFake, "TEST", "Test", 2, 1, 1, 0, FF_SOURCE, "d", "a");
  return record;
}

FFMixed num(FFUInt32 v) {
  FFMixed m;
  m.PointerValue = nullptr;
  m.UIntValue = v;
  return m;
}
FFMixed ptr(const void* p) {
  FFMixed m;
  m.PointerValue = const_cast<void*>(p);
  return m;
}
float asFloat(FFMixed m) {
  float f;
  std::memcpy(&f, &m.UIntValue, 4);
  return f;
}

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override { knobs = Knobs{}; }
  void TearDown() override {
    // Every object made through the dispatcher is gone once it is.
    dispatcher_.reset();
    EXPECT_EQ(knobs.alive, 0);
  }

  FFMixed call(FFUInt32 code, FFMixed in = num(0), void* instance = nullptr) {
    return dispatcher_->dispatch(code, in, instance);
  }
  void* instantiate() {
    FFGLViewportStruct vp{0, 0, 640, 360};
    FFMixed r = call(FF_INSTANTIATE_GL, ptr(&vp));
    return r.UIntValue == FF_FAIL ? nullptr : r.PointerValue;
  }

  bool glLoads_ = true;
  int glLoadCalls_ = 0;
  std::unique_ptr<mirandel::Dispatcher> dispatcher_ =
      std::make_unique<mirandel::Dispatcher>(&info(), [this] {
        ++glLoadCalls_;
        return glLoads_;
      });
};

// Codes without a meaning here must fail cleanly, never reach an object. (An
// instance is given: without one every such code fails anyway.)
TEST_F(DispatcherTest, UnusedCodesAnswerFail) {
  void* instance = instantiate();
  ASSERT_NE(instance, nullptr);
  for (FFUInt32 code : {1u, 3u, 11u, 12u, 14u, 24u, 25u, 26u, 27u, 28u, 29u, 30u, 52u, 1000u})
    EXPECT_EQ(call(code, num(0), instance).UIntValue, FF_FAIL) << "code " << code;
  call(FF_DEINSTANTIATE_GL, num(0), instance);
}

// A host that passes a null record pointer must get a failure, not a crash.
TEST_F(DispatcherTest, RecordReadingCodesRejectNullInput) {
  void* instance = instantiate();
  ASSERT_NE(instance, nullptr);
  const FFMixed null = ptr(nullptr);
  for (FFUInt32 code : {8u, 17u, 18u, 20u, 23u, 36u, 37u, 38u, 39u, 41u, 42u, 46u, 48u, 50u, 51u})
    EXPECT_EQ(call(code, null, instance).UIntValue, FF_FAIL) << "code " << code;
  // Answers that are pointers fail as null.
  for (FFUInt32 code : {35u, 44u})
    EXPECT_EQ(call(code, null, instance).PointerValue, nullptr) << "code " << code;
  call(FF_DEINSTANTIATE_GL, num(0), instance);
}

TEST_F(DispatcherTest, InstanceCodesWithoutAnInstanceFail) {
  SetParameterStruct set{0, num(0)};
  int frame = 0;
  EXPECT_EQ(call(FF_GET_PARAMETER_DISPLAY, num(0)).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_SET_PARAMETER, ptr(&set)).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_GET_PARAMETER, num(0)).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_PROCESS_OPENGL, ptr(&frame)).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_DEINSTANTIATE_GL).UIntValue, FF_FAIL);
}

// An exception inside the plug-in must never unwind into the host.
TEST_F(DispatcherTest, ExceptionsBecomeFailureAnswers) {
  void* instance = instantiate();
  ASSERT_NE(instance, nullptr);
  knobs.throwOnSetFloat = true;
  SetParameterStruct set{0, num(0)};
  EXPECT_EQ(call(FF_SET_PARAMETER, ptr(&set), instance).UIntValue, FF_FAIL);
  // Instantiation that throws while applying defaults leaves nothing behind.
  const int alive = knobs.alive;
  EXPECT_EQ(instantiate(), nullptr);
  EXPECT_EQ(knobs.alive, alive);
  knobs.throwOnSetFloat = false;
  call(FF_DEINSTANTIATE_GL, num(0), instance);
}

// Guards against a host dereferencing FF_FAIL: when the plug-in throws, every
// answer that would have been a text pointer is null. Values and defaults of
// text parameters are such answers too; the type comes from the prototype's
// definitions, and with no prototype it is unknown, where null is safe as a
// pointer and as the float 0 alike.
TEST_F(DispatcherTest, EveryPointerAnswerIsNullWhenThePlugInThrows) {
  struct Case {
    const char* what;
    bool Knobs::*thrower;
    FFUInt32 code;
    FFUInt32 index;
    bool pointerAnswer;
  };
  const Case withInstance[] = {
      {"text value", &Knobs::throwOnGetText, FF_GET_PARAMETER, 1, true},
      {"text display", &Knobs::throwOnGetText, FF_GET_PARAMETER_DISPLAY, 1, true},
      {"float display", &Knobs::throwOnGetFloat, FF_GET_PARAMETER_DISPLAY, 0, true},
      {"short name", &Knobs::throwOnShortName, FF_GET_PLUGIN_SHORT_NAME, 0, true},
      {"float value", &Knobs::throwOnGetFloat, FF_GET_PARAMETER, 0, false},
  };
  void* instance = instantiate();
  ASSERT_NE(instance, nullptr);
  for (const Case& c : withInstance) {
    SCOPED_TRACE(c.what);
    knobs.*c.thrower = true;
    const FFMixed answer = call(c.code, num(c.index), instance);
    knobs.*c.thrower = false;
    if (c.pointerAnswer) {
      EXPECT_EQ(answer.PointerValue, nullptr);
    } else {
      EXPECT_EQ(answer.UIntValue, FF_FAIL);
    }
  }
  call(FF_DEINSTANTIATE_GL, num(0), instance);

  // The prototype's creation throws: nothing tells the parameter's type.
  call(FF_DEINITIALISE);
  knobs.factoryThrows = true;
  for (FFUInt32 index : {1u, 0u})
    EXPECT_EQ(call(FF_GET_PARAMETER_DEFAULT, num(index)).PointerValue, nullptr) << index;
}

TEST_F(DispatcherTest, PrototypeIsMadeOnDemandAndRemadeAfterDeinitialise) {
  EXPECT_EQ(call(FF_GET_NUM_PARAMETERS).UIntValue, 3u);
  EXPECT_EQ(knobs.made, 1);
  EXPECT_EQ(call(FF_GET_NUM_PARAMETERS).UIntValue, 3u);
  EXPECT_EQ(knobs.made, 1);
  EXPECT_EQ(call(FF_DEINITIALISE).UIntValue, FF_SUCCESS);
  EXPECT_EQ(knobs.alive, 0);
  EXPECT_EQ(call(FF_GET_NUM_PARAMETERS).UIntValue, 3u);
  EXPECT_EQ(knobs.made, 2);
}

TEST_F(DispatcherTest, NoPrototypeMeansFailure) {
  knobs.factoryFails = true;
  EXPECT_EQ(call(FF_INITIALISE_V2).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_GET_NUM_PARAMETERS).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_GET_PARAMETER_NAME, num(0)).PointerValue, nullptr);
  EXPECT_EQ(call(FF_GET_NUM_ELEMENT_SEPARATORS, num(0)).UIntValue, 0u);
  EXPECT_EQ(instantiate(), nullptr);
}

TEST_F(DispatcherTest, DefinitionQuestionsAnswerFromThePrototype) {
  EXPECT_STREQ(static_cast<const char*>(call(FF_GET_PARAMETER_NAME, num(2)).PointerValue), "Mode");
  EXPECT_EQ(call(FF_GET_PARAMETER_NAME, num(9)).PointerValue, nullptr);
  EXPECT_EQ(asFloat(call(FF_GET_PARAMETER_DEFAULT, num(0))), 0.5f);
  EXPECT_STREQ(static_cast<const char*>(call(FF_GET_PARAMETER_DEFAULT, num(1)).PointerValue),
               "10.0.0.1");
  EXPECT_EQ(call(FF_GET_PARAMETER_DEFAULT, num(9)).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_GET_PARAMETER_TYPE, num(1)).UIntValue, FF_TYPE_TEXT);
  EXPECT_EQ(call(FF_GET_PARAMETER_TYPE, num(9)).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_GET_PARAMETER_USAGE, num(0)).UIntValue, 0u);
  EXPECT_EQ(call(FF_GET_NUM_PARAMETER_ELEMENTS, num(2)).UIntValue, 2u);
  EXPECT_EQ(call(FF_GET_PARAMETER_VISIBILITY, num(2)).UIntValue, 1u);
  EXPECT_EQ(call(FF_GET_PARAMETER_VISIBILITY, num(9)).UIntValue, FF_FAIL);
  GetParameterElementNameStruct element{2, 1};
  EXPECT_STREQ(
      static_cast<const char*>(call(FF_GET_PARAMETER_ELEMENT_NAME, ptr(&element)).PointerValue),
      "B");
  EXPECT_EQ(asFloat(call(FF_GET_PARAMETER_ELEMENT_VALUE, ptr(&element))), 1.0f);
  element.ElementNumber = 2;
  EXPECT_EQ(call(FF_GET_PARAMETER_ELEMENT_NAME, ptr(&element)).PointerValue, nullptr);
  EXPECT_EQ(call(FF_GET_PARAMETER_ELEMENT_VALUE, ptr(&element)).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_GET_NUM_FILE_PARAMETER_EXTENSIONS, num(1)).UIntValue, 0u);
  GetElementSeparatorStruct sep{2, 0};
  EXPECT_EQ(call(FF_GET_ELEMENT_SEPARATOR, ptr(&sep)).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_GET_PLUGIN_SHORT_NAME).PointerValue, nullptr);
}

TEST_F(DispatcherTest, CapabilitiesOfASourceWithoutTopLeftOrientation) {
  struct Case {
    FFUInt32 cap;
    FFUInt32 answer;
  } cases[] = {{5, 1}, {10, 0}, {11, 0}, {16, 0}, {4, 0}, {0, 0}, {999, 0}};
  for (const Case& c : cases) EXPECT_EQ(call(FF_GET_PLUGIN_CAPS, num(c.cap)).UIntValue, c.answer);
  void* instance = instantiate();
  EXPECT_EQ(call(FF_ENABLE_PLUGIN_CAP, num(16), instance).UIntValue, FF_FAIL);
  EXPECT_FALSE(static_cast<CFFGLPlugin*>(instance)->TopLeftTextureOrientationEnabled());
  call(FF_DEINSTANTIATE_GL, num(0), instance);
}

TEST_F(DispatcherTest, RangeOfAnUnknownParameterIsZeroToOne) {
  GetRangeStruct r{42, {7.0f, 7.0f}};
  EXPECT_EQ(call(FF_GET_RANGE, ptr(&r)).UIntValue, FF_SUCCESS);
  EXPECT_EQ(r.range.min, 0.0f);
  EXPECT_EQ(r.range.max, 1.0f);
}

TEST_F(DispatcherTest, ThumbnailIsRefusedAndSizeZeroed) {
  GetThumbnailStruct t{64, 64, nullptr};
  EXPECT_EQ(call(FF_GET_THUMBNAIL, ptr(&t)).UIntValue, FF_FAIL);
  EXPECT_EQ(t.width, 0u);
  EXPECT_EQ(t.height, 0u);
}

// Instantiation applies every default through the set operations, text
// parameters through the text path.
TEST_F(DispatcherTest, InstantiationAppliesDefaultsThroughTheRightPath) {
  void* instance = instantiate();
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(knobs.texts, std::vector<std::string>{"10.0.0.1"});
  ASSERT_EQ(knobs.floats.size(), 2u);
  EXPECT_EQ(knobs.floats[0], (std::pair<FFUInt32, float>{0, 0.5f}));
  EXPECT_EQ(knobs.floats[1], (std::pair<FFUInt32, float>{2, 1.0f}));
  EXPECT_EQ(static_cast<CFFGLPlugin*>(instance)->Identity(), instance);
  EXPECT_EQ(static_cast<CFFGLPlugin*>(instance)->CurrentViewport().width, 640u);
  call(FF_DEINSTANTIATE_GL, num(0), instance);
}

TEST_F(DispatcherTest, FailedDefaultDestroysTheNewObject) {
  knobs.failSetFloatIndex1 = true;
  EXPECT_EQ(instantiate(), nullptr);
  EXPECT_EQ(knobs.alive, 1);  // only the prototype
}

// GL entry points are loaded once per process; a failed load is not retried,
// and every later instantiation fails too.
TEST_F(DispatcherTest, GlLoadingIsAttemptedOnceAndItsFailureSticks) {
  glLoads_ = false;
  EXPECT_EQ(instantiate(), nullptr);
  glLoads_ = true;
  EXPECT_EQ(instantiate(), nullptr);
  EXPECT_EQ(glLoadCalls_, 1);
  EXPECT_EQ(knobs.alive, 1);
}

TEST_F(DispatcherTest, FailedInitGLIsUndoneBeforeFailing) {
  knobs.initGLFails = true;
  EXPECT_EQ(instantiate(), nullptr);
  EXPECT_EQ(knobs.deInitCalls, 1);
  EXPECT_EQ(knobs.alive, 1);
}

TEST_F(DispatcherTest, SetAndGetRouteByTheParameterType) {
  void* instance = instantiate();
  knobs.floats.clear();
  knobs.texts.clear();
  SetParameterStruct text{1, ptr("192.168.1.20")};
  EXPECT_EQ(call(FF_SET_PARAMETER, ptr(&text), instance).UIntValue, FF_SUCCESS);
  SetParameterStruct value{0, num(0)};
  const float f = 0.25f;
  std::memcpy(&value.NewParameterValue.UIntValue, &f, 4);
  EXPECT_EQ(call(FF_SET_PARAMETER, ptr(&value), instance).UIntValue, FF_SUCCESS);
  EXPECT_EQ(knobs.texts, std::vector<std::string>{"192.168.1.20"});
  ASSERT_EQ(knobs.floats.size(), 1u);
  EXPECT_EQ(knobs.floats[0].second, 0.25f);
  EXPECT_STREQ(static_cast<const char*>(call(FF_GET_PARAMETER, num(1), instance).PointerValue),
               "hello");
  EXPECT_EQ(asFloat(call(FF_GET_PARAMETER, num(0), instance)), 0.75f);
  call(FF_DEINSTANTIATE_GL, num(0), instance);
}

TEST_F(DispatcherTest, DrawingConnectsOnceAndDeinstantiationDisconnects) {
  void* instance = instantiate();
  int frame = 0;
  EXPECT_EQ(call(FF_PROCESS_OPENGL, ptr(&frame), instance).UIntValue, FF_SUCCESS);
  EXPECT_EQ(call(FF_PROCESS_OPENGL, ptr(&frame), instance).UIntValue, FF_SUCCESS);
  EXPECT_EQ(knobs.connectCalls, 1);
  EXPECT_EQ(call(FF_DEINSTANTIATE_GL, num(0), instance).UIntValue, FF_SUCCESS);
  EXPECT_EQ(knobs.disconnectCalls, 1);
  EXPECT_EQ(knobs.deInitCalls, 1);
}

// Hosts with small event buffers collect in several calls; nothing may be lost
// or reported twice.
TEST_F(DispatcherTest, EventsAreReportedInListOrderUpToTheHostsCapacity) {
  void* instance = instantiate();
  auto* plugin = static_cast<CFFGLPlugin*>(instance);
  plugin->RaiseParamEvent(2, FF_EVENT_FLAG_VALUE);
  plugin->RaiseParamEvent(0, FF_EVENT_FLAG_VISIBILITY);
  plugin->RaiseParamEvent(1, FF_EVENT_FLAG_DISPLAY_NAME | FF_EVENT_FLAG_VALUE);

  GetParamEventsStruct query{0, nullptr};
  call(FF_GET_PARAMETER_EVENTS, ptr(&query), instance);
  EXPECT_EQ(query.numEvents, 3u);

  ParamEventStruct entries[3] = {};
  GetParamEventsStruct one{1, entries};
  EXPECT_EQ(call(FF_GET_PARAMETER_EVENTS, ptr(&one), instance).UIntValue, FF_SUCCESS);
  ASSERT_EQ(one.numEvents, 1u);
  EXPECT_EQ(entries[0].ParameterNumber, 0u);
  EXPECT_EQ(entries[0].eventFlags, FF_EVENT_FLAG_VISIBILITY);

  GetParamEventsStruct rest{3, entries};
  call(FF_GET_PARAMETER_EVENTS, ptr(&rest), instance);
  ASSERT_EQ(rest.numEvents, 2u);
  EXPECT_EQ(entries[0].ParameterNumber, 1u);
  EXPECT_EQ(entries[0].eventFlags, FF_EVENT_FLAG_DISPLAY_NAME | FF_EVENT_FLAG_VALUE);
  EXPECT_EQ(entries[1].ParameterNumber, 2u);

  GetParamEventsStruct none{3, entries};
  call(FF_GET_PARAMETER_EVENTS, ptr(&none), instance);
  EXPECT_EQ(none.numEvents, 0u);
  call(FF_DEINSTANTIATE_GL, num(0), instance);
}

// Group and display-name buffers get min(length, size) bytes and no
// terminator; a zero size is refused.
TEST_F(DispatcherTest, GroupAndDisplayNameCopiesAreBoundedByTheHostBuffer) {
  void* instance = instantiate();
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  GetParameterGroupStruct q{2, buffer, 3};
  EXPECT_EQ(call(FF_GET_PARAMETER_GROUP, ptr(&q)).UIntValue, FF_SUCCESS);
  EXPECT_EQ(std::string(buffer, 8), "Gro#####");
  std::memset(buffer, '#', sizeof buffer);
  q.targetBufferSize = 8;
  EXPECT_EQ(call(FF_GET_PARAMETER_DISPLAY_NAME, ptr(&q), instance).UIntValue, FF_SUCCESS);
  EXPECT_EQ(std::string(buffer, 8), "Display#");
  q.targetBufferSize = 0;
  EXPECT_EQ(call(FF_GET_PARAMETER_GROUP, ptr(&q)).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_GET_PARAMETER_DISPLAY_NAME, ptr(&q), instance).UIntValue, FF_FAIL);
  call(FF_DEINSTANTIATE_GL, num(0), instance);
}

TEST_F(DispatcherTest, HostValuesReachTheInstance) {
  void* instance = instantiate();
  auto* plugin = static_cast<CFFGLPlugin*>(instance);
  double seconds = 12.5;
  SetBeatinfoStruct beat{128.0f, 0.5f};
  SetHostinfoStruct host{"Host", "9.1"};
  FFGLViewportStruct vp{1, 2, 300, 200};
  SetParameterElementValueStruct element{2, 1, 4.0f};
  EXPECT_EQ(call(FF_SET_TIME, ptr(&seconds), instance).UIntValue, FF_SUCCESS);
  EXPECT_EQ(call(FF_SET_BEAT_INFO, ptr(&beat), instance).UIntValue, FF_SUCCESS);
  EXPECT_EQ(call(FF_SET_HOST_INFO, ptr(&host), instance).UIntValue, FF_SUCCESS);
  EXPECT_EQ(call(FF_SET_SAMPLE_RATE, num(48000), instance).UIntValue, FF_SUCCESS);
  EXPECT_EQ(call(FF_RESIZE, ptr(&vp), instance).UIntValue, FF_SUCCESS);
  EXPECT_EQ(call(FF_SET_PARAMETER_ELEMENT_VALUE, ptr(&element), instance).UIntValue, FF_SUCCESS);
  element.ElementNumber = 5;
  EXPECT_EQ(call(FF_SET_PARAMETER_ELEMENT_VALUE, ptr(&element), instance).UIntValue, FF_FAIL);
  EXPECT_EQ(plugin->Time(), 12.5);
  EXPECT_EQ(plugin->Tempo(), 128.0f);
  EXPECT_EQ(plugin->HostName(), "Host");
  EXPECT_EQ(plugin->SampleRate(), 48000u);
  EXPECT_EQ(plugin->CurrentViewport().height, 200u);
  EXPECT_EQ(plugin->FindParamInfo(2)->elements[1].value, 4.0f);
  EXPECT_EQ(call(FF_GET_INPUT_STATUS, num(0), instance).UIntValue, FF_FAIL);
  call(FF_DEINSTANTIATE_GL, num(0), instance);
}

TEST(DispatcherWithoutRecord, EveryCodeFails) {
  mirandel::Dispatcher d(nullptr, [] { return true; });
  FFGLViewportStruct vp{0, 0, 1, 1};
  EXPECT_EQ(d.dispatch(FF_GET_INFO, num(0), nullptr).PointerValue, nullptr);
  EXPECT_EQ(d.dispatch(FF_INITIALISE_V2, num(0), nullptr).UIntValue, FF_FAIL);
  EXPECT_EQ(d.dispatch(FF_DEINITIALISE, num(0), nullptr).UIntValue, FF_FAIL);
  EXPECT_EQ(d.dispatch(FF_INSTANTIATE_GL, ptr(&vp), nullptr).UIntValue, FF_FAIL);
}

}  // namespace
