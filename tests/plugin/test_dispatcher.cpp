#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "plugin/AnswerWord.h"
#include "plugin/Dispatcher.h"
#include "plugin/PluginInfo.h"

namespace {

using Calls = std::vector<std::string>;
using mirandel::floatWord, mirandel::pointer, mirandel::word;

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

CFFGLPlugin* plugin(void* instance) { return static_cast<CFFGLPlugin*>(instance); }
// A refusal as a host must read it: null where the answer is a pointer, else FF_FAIL.
bool refused(FFMixed answer, bool pointerAnswer) {
  return pointerAnswer ? answer.PointerValue == nullptr : answer.UIntValue == FF_FAIL;
}

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

  // Records as a host fills them.
  SetParameterStruct value{0, floatWord(0.25f)}, text{1, pointer("192.168.1.20")};
  GetParameterElementNameStruct element{2, 1};
  SetParameterElementValueStruct setElement{2, 1, 4.0f};
  double seconds = 12.5;
  SetBeatinfoStruct beat{128.0f, 0.5f};
  SetHostinfoStruct host{"Host", "9.1"};
  FFGLViewportStruct vp{1, 2, 300, 200};
  int frame = 0;
  void* instance_ = nullptr;
  std::unique_ptr<mirandel::Dispatcher> dispatcher_ = std::make_unique<mirandel::Dispatcher>(
      &info(), [] { return note("loadGL") == FF_SUCCESS; }, [] { ++knobs.releases; });
};

// Guards against answering, or reaching an object for, codes without a meaning here (asked of
// an instance, which they would fail without), records that are null, or a missing instance;
// and against following a handle that names no live instance (one destroyed by code 19, whose
// use is a use after free; the prototype; an address never an instance): every instance code
// must refuse it untouched, without falling back to the prototype's answer.
TEST_F(DispatcherTest, CodesThatCannotBeAnsweredAndHandlesOfNoLiveInstanceReachNoObject) {
  void* instance = instantiate();
  ASSERT_NE(instance, nullptr);
  knobs.calls.clear();
  for (FFUInt32 code : {1u, 3u, 11u, 12u, 14u, 24u, 25u, 26u, 27u, 28u, 29u, 30u, 52u, 1000u})
    EXPECT_EQ(call(code, word(0), instance).UIntValue, FF_FAIL) << "unused code " << code;
  for (FFUInt32 code :
       {8u, 17u, 18u, 20u, 23u, 35u, 36u, 37u, 38u, 39u, 41u, 42u, 44u, 46u, 48u, 50u, 51u})
    EXPECT_TRUE(refused(call(code, pointer(nullptr), instance), code == 35u || code == 44u))
        << "null record " << code;
  const std::pair<FFUInt32, FFMixed> withoutInstance[] = {
      {FF_GET_PARAMETER_DISPLAY, word(0)}, {FF_SET_PARAMETER, pointer(&value)},
      {FF_GET_PARAMETER, word(0)},         {FF_PROCESS_OPENGL, pointer(&frame)},
      {FF_DEINSTANTIATE_GL, word(0)},
  };
  for (const auto& [code, in] : withoutInstance)
    EXPECT_EQ(call(code, in).UIntValue, FF_FAIL) << "no instance " << code;
  EXPECT_EQ(knobs.calls, Calls{});

  instance_ = nullptr;  // from here on a destroyed instance
  ASSERT_EQ(call(FF_DEINSTANTIATE_GL, word(0), instance).UIntValue, FF_SUCCESS);
  void* prototype = dispatcher_->prototype();
  // Bytes that would fault as an object: the "vtable" is null.
  alignas(16) static unsigned char neverAnInstance[256] = {};
  const int aliveBefore = knobs.alive;
  ParamEventStruct entries[4] = {};
  GetParamEventsStruct events{4, entries};
  char buffer[8] = {};
  GetParameterGroupStruct displayName{2, buffer, sizeof buffer};
  const std::tuple<FFUInt32, FFMixed, bool> codes[] = {
      {FF_GET_PARAMETER_DISPLAY, word(0), true},
      {FF_SET_PARAMETER, pointer(&value), false},
      {FF_SET_PARAMETER, pointer(&text), false},
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
      {FF_GET_PARAMETER_DISPLAY_NAME, pointer(&displayName), false}};
  knobs.calls.clear();
  for (void* handle : {instance, prototype, static_cast<void*>(neverAnInstance)})
    for (const auto& [code, in, pointerAnswer] : codes)
      EXPECT_TRUE(refused(call(code, in, handle), pointerAnswer))
          << "code " << code
          << (handle == instance    ? " destroyed"
              : handle == prototype ? " prototype"
                                    : " other");
  EXPECT_EQ(knobs.calls, Calls{});
  EXPECT_EQ(knobs.alive, aliveBefore);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '\0'));
  EXPECT_EQ(events.numEvents, 4u) << "the record was written";
}

// Guards against an exception unwinding into the host, and against FF_FAIL where a text pointer
// was due (a host would dereference it), text values and defaults included; with no prototype
// the type is unknown, and null is safe as a pointer and as the float 0 alike.
TEST_F(DispatcherTest, ExceptionsBecomeFailureAnswersAndNullWhereTheAnswerIsAPointer) {
  void* instance = instantiate();
  ASSERT_NE(instance, nullptr);
  const std::tuple<const char*, FFUInt32, FFMixed, bool> cases[] = {
      {"SetFloat", FF_SET_PARAMETER, pointer(&value), false},
      {"GetFloat", FF_GET_PARAMETER, word(0), false},
      {"GetText", FF_GET_PARAMETER, word(1), true},
      {"GetText", FF_GET_PARAMETER_DISPLAY, word(1), true},
      {"GetFloat", FF_GET_PARAMETER_DISPLAY, word(0), true},
      {"GetShortName", FF_GET_PLUGIN_SHORT_NAME, word(0), true}};
  for (const auto& [thrower, code, in, pointerAnswer] : cases) {
    knobs.throwIn = thrower;
    EXPECT_TRUE(refused(call(code, in, instance), pointerAnswer)) << thrower << " " << code;
  }
  // The prototype's creation throws: nothing tells the parameter's type.
  call(FF_DEINITIALISE);
  knobs.throwIn = "factory";
  for (FFUInt32 index : {1u, 0u})
    EXPECT_EQ(call(FF_GET_PARAMETER_DEFAULT, word(index)).PointerValue, nullptr) << index;
}

// Guards against a prototype made per question and against a missing prototype answering as if
// it existed. (Its remaking after code 2 is checked through plugMain on the real plug-in.)
TEST_F(DispatcherTest, ThePrototypeIsMadeOnceOnDemandAndItsAbsenceFails) {
  EXPECT_EQ(call(FF_GET_NUM_PARAMETERS).UIntValue, 3u);
  EXPECT_EQ(call(FF_GET_NUM_PARAMETERS).UIntValue, 3u);
  EXPECT_EQ(knobs.calls, Calls{"factory"});
  call(FF_DEINITIALISE);
  knobs.failIn = "factory";
  EXPECT_EQ(call(FF_INITIALISE_V2).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_GET_NUM_PARAMETERS).UIntValue, FF_FAIL);
  EXPECT_EQ(call(FF_GET_PARAMETER_NAME, word(0)).PointerValue, nullptr);
  EXPECT_EQ(call(FF_GET_NUM_ELEMENT_SEPARATORS, word(0)).UIntValue, 0u);
  EXPECT_EQ(instantiate(), nullptr);
}

// Guards against definition questions past the last parameter (one past it, and the largest
// index) answered as if the parameter existed, and against claiming capabilities the plug-in
// never names. Parameters that exist and the named capabilities are asked of the real plug-in.
TEST_F(DispatcherTest, DefinitionQuestionsPastTheLastParameterAndUnknownCapabilitiesAreRefused) {
  for (FFUInt32 past : {3u, 0xFFFFFFFFu}) {
    EXPECT_EQ(call(FF_GET_PARAMETER_NAME, word(past)).PointerValue, nullptr) << past;
    for (FFUInt32 code : {FF_GET_PARAMETER_DEFAULT, FF_GET_PARAMETER_TYPE, FF_GET_PARAMETER_USAGE})
      EXPECT_EQ(call(code, word(past)).UIntValue, FF_FAIL) << code << " " << past;
    for (FFUInt32 code : {FF_GET_NUM_FILE_PARAMETER_EXTENSIONS, FF_GET_NUM_ELEMENT_SEPARATORS})
      EXPECT_EQ(call(code, word(past)).UIntValue, 0u) << code << " " << past;
    GetFileParameterExtensionStruct extension{past, 0};
    EXPECT_EQ(call(FF_GET_FILE_PARAMETER_EXTENSION, pointer(&extension)).PointerValue, nullptr);
    GetElementSeparatorStruct separator{past, 0};
    EXPECT_EQ(call(FF_GET_ELEMENT_SEPARATOR, pointer(&separator)).UIntValue, FF_FAIL) << past;
  }
  for (FFUInt32 cap : {0u, 4u, 999u})
    EXPECT_EQ(call(FF_GET_PLUGIN_CAPS, word(cap)).UIntValue, 0u) << cap;
}

// Guards against an object left behind by a default that fails or throws (which must stop the
// instantiation at once) or by a failed InitGL (undone by DeInitGL).
TEST_F(DispatcherTest, AFailedInstantiationLeavesOnlyThePrototype) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"SetFloat 0", "", "SetFloat 0 0.500000"},
      {"", "SetText", "SetText 1 10.0.0.1"},
      {"InitGL", "", "DeInitGL"}};
  for (const auto& [failIn, throwIn, lastCall] : cases) {
    knobs = {.alive = knobs.alive, .failIn = failIn, .throwIn = throwIn};
    EXPECT_EQ(instantiate(), nullptr) << lastCall;
    EXPECT_EQ(knobs.alive, 1) << lastCall;
    ASSERT_FALSE(knobs.calls.empty());
    EXPECT_EQ(knobs.calls.back(), lastCall);
  }
}

// Guards against GL loading retried per instance: a failed load sticks for every later one.
TEST_F(DispatcherTest, GlLoadingIsAttemptedOnceAndItsFailureSticks) {
  knobs.failIn = "loadGL";
  EXPECT_EQ(instantiate(), nullptr);
  knobs.failIn = "";
  EXPECT_EQ(instantiate(), nullptr);
  EXPECT_EQ(std::count(knobs.calls.begin(), knobs.calls.end(), "loadGL"), 1);
  EXPECT_EQ(knobs.calls.back(), "SetFloat 2 1.000000");
  EXPECT_EQ(knobs.alive, 1);
}

// Guards the order of instantiation: prototype, object, every default by identifier (texts
// through the text path), GL loading, and only then InitGL with the viewport; and one connect
// before the first drawing, and a disconnect before DeInitGL.
TEST_F(DispatcherTest, InstantiationAppliesDefaultsBeforeInitGlAndDrawingConnectsOnce) {
  void* instance = instantiate();
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(knobs.calls, (Calls{"factory", "factory", "SetFloat 0 0.500000", "SetText 1 10.0.0.1",
                                "SetFloat 2 1.000000", "loadGL", "InitGL"}));
  EXPECT_EQ(plugin(instance)->Identity(), instance);
  EXPECT_EQ(plugin(instance)->CurrentViewport().width, 640u);
  knobs.calls.clear();
  EXPECT_EQ(call(FF_PROCESS_OPENGL, pointer(&frame), instance).UIntValue, FF_SUCCESS);
  EXPECT_EQ(call(FF_PROCESS_OPENGL, pointer(&frame), instance).UIntValue, FF_SUCCESS);
  instance_ = nullptr;
  EXPECT_EQ(call(FF_DEINSTANTIATE_GL, word(0), instance).UIntValue, FF_SUCCESS);
  EXPECT_EQ(knobs.calls,
            (Calls{"Connect", "ProcessOpenGL", "ProcessOpenGL", "Disconnect", "DeInitGL"}));
}

// Guards against events lost or reported twice by hosts that collect in small buffers; against
// writing past a host's group or display-name buffer (min(length, size) bytes, no terminator)
// or accepting a zero size; against host values that never reach the instance; and against an
// instance taking the top-left orientation it cannot give.
TEST_F(DispatcherTest, AnInstanceReportsEventsCopiesNamesWithinTheHostsBufferAndKeepsHostValues) {
  void* instance = instantiate();
  plugin(instance)->RaiseParamEvent(2, FF_EVENT_FLAG_VALUE);
  plugin(instance)->RaiseParamEvent(0, FF_EVENT_FLAG_VISIBILITY);
  plugin(instance)->RaiseParamEvent(1, FF_EVENT_FLAG_DISPLAY_NAME | FF_EVENT_FLAG_VALUE);
  // What one call with room for `room` reports, as (parameter, flags).
  auto collect = [&](FFUInt32 room) {
    ParamEventStruct entries[3] = {};
    GetParamEventsStruct q{room, entries};
    EXPECT_EQ(call(FF_GET_PARAMETER_EVENTS, pointer(&q), instance).UIntValue, FF_SUCCESS);
    std::vector<std::pair<FFUInt32, std::uint64_t>> got;
    for (FFUInt32 i = 0; i < q.numEvents; ++i)
      got.emplace_back(entries[i].ParameterNumber, entries[i].eventFlags);
    return got;
  };
  using Events = std::vector<std::pair<FFUInt32, std::uint64_t>>;
  EXPECT_EQ(collect(1), (Events{{0, FF_EVENT_FLAG_VISIBILITY}}));
  EXPECT_EQ(collect(3), (Events{{1, FF_EVENT_FLAG_DISPLAY_NAME | FF_EVENT_FLAG_VALUE},
                                {2, FF_EVENT_FLAG_VALUE}}));
  // The answer and the host's 8-byte buffer after a copy of parameter 2's text into `size` bytes.
  const auto copy = [&](FFUInt32 code, FFUInt32 size, void* to) {
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    GetParameterGroupStruct q{2, buffer, size};
    const FFUInt32 answer = call(code, pointer(&q), to).UIntValue;
    return std::tuple(answer, std::string(buffer, 8));
  };
  EXPECT_EQ(copy(FF_GET_PARAMETER_GROUP, 3, nullptr), std::tuple(FF_SUCCESS, "Gro#####"));
  EXPECT_EQ(copy(FF_GET_PARAMETER_DISPLAY_NAME, 8, instance), std::tuple(FF_SUCCESS, "Display#"));
  EXPECT_EQ(copy(FF_GET_PARAMETER_GROUP, 0, nullptr), std::tuple(FF_FAIL, "########"));
  EXPECT_EQ(copy(FF_GET_PARAMETER_DISPLAY_NAME, 0, instance), std::tuple(FF_FAIL, "########"));
  const std::pair<FFUInt32, FFMixed> calls[] = {
      {FF_SET_TIME, pointer(&seconds)},   {FF_SET_BEAT_INFO, pointer(&beat)},
      {FF_SET_HOST_INFO, pointer(&host)}, {FF_SET_SAMPLE_RATE, word(48000)},
      {FF_RESIZE, pointer(&vp)},          {FF_SET_PARAMETER_ELEMENT_VALUE, pointer(&setElement)}};
  for (const auto& [code, in] : calls)
    EXPECT_EQ(call(code, in, instance).UIntValue, FF_SUCCESS) << code;
  const CFFGLPlugin* p = plugin(instance);
  EXPECT_EQ(std::tuple(p->Time(), p->Tempo(), p->HostName(), p->SampleRate(),
                       p->CurrentViewport().height, p->FindParamInfo(2)->elements[1].value),
            std::tuple(12.5, 128.0f, "Host", 48000u, 200u, 4.0f));
  EXPECT_EQ(call(FF_ENABLE_PLUGIN_CAP, word(16), instance).UIntValue, FF_FAIL);
  EXPECT_FALSE(plugin(instance)->TopLeftTextureOrientationEnabled());
}

// Guards the bookkeeping of live instances: code 2 while clips live takes only the prototype and
// the clips keep answering; an instance is destroyed once; a failed instantiation leaves nothing;
// the release callback comes when no object is left, after code 2 or the last code 19.
TEST_F(DispatcherTest, DeinitialisingWhileInstancesLiveKeepsThemAndReleasesWhenTheLastGoes) {
  void* first = instantiate();
  instance_ = nullptr;
  void* second = instantiate();
  instance_ = nullptr;
  ASSERT_TRUE(first && second);
  EXPECT_EQ(call(FF_DEINITIALISE).UIntValue, FF_SUCCESS);
  EXPECT_EQ(dispatcher_->prototype(), nullptr);
  EXPECT_EQ(std::pair(knobs.alive, knobs.releases), std::pair(2, 0));
  EXPECT_EQ(call(FF_GET_NUM_PARAMETER_ELEMENTS, word(2), first).UIntValue, 2u);
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
  EXPECT_EQ(std::tuple(knobs.releases, knobs.alive, dispatcher_->instanceCount()),
            std::tuple(1, 0, 0u));
  // Instances made after a release are counted afresh.
  void* third = instantiate();
  instance_ = nullptr;
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(call(FF_DEINSTANTIATE_GL, word(0), third).UIntValue, FF_SUCCESS);
  EXPECT_EQ(knobs.releases, 1) << "the prototype still lives";
  EXPECT_EQ(call(FF_DEINITIALISE).UIntValue, FF_SUCCESS);
  EXPECT_EQ(knobs.releases, 2);
}

// Guards against a plug-in without its record answering as if it had one.
TEST(DispatcherWithoutRecord, EveryCodeFails) {
  mirandel::Dispatcher d(nullptr, [] { return true; });
  FFGLViewportStruct vp{0, 0, 1, 1};
  EXPECT_EQ(d.dispatch(FF_GET_INFO, word(0), nullptr).PointerValue, nullptr);
  EXPECT_EQ(d.dispatch(FF_INITIALISE_V2, word(0), nullptr).UIntValue, FF_FAIL);
  EXPECT_EQ(d.dispatch(FF_DEINITIALISE, word(0), nullptr).UIntValue, FF_FAIL);
  EXPECT_EQ(d.dispatch(FF_INSTANTIATE_GL, pointer(&vp), nullptr).UIntValue, FF_FAIL);
}

// The identifier is four bytes without terminator; a 16-byte name fills its field with no
// terminator; an extended block needs both size and pointer, and hosts read them at offsets 56
// and 64. The record made last is the process's current one.
TEST(PluginInfo, IdentifierAndNameAreCutToTheirFieldsAndAnExtendedBlockNeedsBoth) {
  static const char block[4] = {1, 2, 3, 4};
  CFFGLPluginInfo cut(nullptr, "AB\0CD", "ABCDEFGHIJKLMNOPQRS", 2, 1, 1, 1, FF_SOURCE, "", "", 8,
                      nullptr);
  CFFGLPluginInfo withBlock(nullptr, "MRD1", "", 2, 1, 1, 1, FF_SOURCE, "", "", 4, block);
  const PluginInfoStruct* info = cut.GetPluginInfo();
  EXPECT_EQ(std::string(info->PluginUniqueID, 4), std::string("AB\0\0", 4));
  EXPECT_EQ(std::string(info->PluginName, 16), "ABCDEFGHIJKLMNOP");
  // (size, block) as a host reads them from the record's bytes.
  const auto extended = [](const CFFGLPluginInfo& record) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(record.GetPluginInfo());
    FFUInt32 size = 0;
    const void* at = nullptr;
    std::memcpy(&size, bytes + 56, sizeof size);
    std::memcpy(&at, bytes + 64, sizeof at);
    return std::pair(size, at);
  };
  EXPECT_EQ(extended(cut), std::pair(0u, static_cast<const void*>(nullptr)));
  EXPECT_EQ(extended(withBlock), std::pair(4u, static_cast<const void*>(block)));
  EXPECT_EQ(CFFGLPluginInfo::Current(), &withBlock);
}

}  // namespace
