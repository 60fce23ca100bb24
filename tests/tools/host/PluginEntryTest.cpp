// The real plug-in, loaded from its file and reached only through plugMain and SetLogCallback,
// with records laid out by the host's own ABI view, so a layout slip in the plug-in shows.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "support/TestPlatform.h"
#include "support/TestSupport.h"
#include "tools/host/FfglHost.h"
#include "tools/host/GlContext.h"
#include "tools/host/LogCollector.h"
#include "tools/host/PluginLibrary.h"

namespace mirandel::host {
namespace {

// UTF-8 spelled out byte by byte, so the source file's encoding cannot help.
constexpr const char* kSearching = "Searching\xE2\x80\xA6";  // U+2026
constexpr const char* kDash = "\xE2\x80\x94";                // U+2014

// The plug-in loaded once per process, and a clip in a fresh offscreen context for each test.
class PluginEntry : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    library_ =
        PluginLibrary::open(MIRANDEL_PLUGIN_FILE, &loadError_, PluginLibrary::Unload::kNever);
  }
  static void TearDownTestSuite() {
    if (library_ != nullptr) {
      // A host de-initialises before unloading, which destroys the prototype.
      FfglHost host(*library_);
      host.deinitialise();
      host.setLogCallback(nullptr);
    }
    library_.reset();
  }
  void SetUp() override {
    ASSERT_NE(library_, nullptr) << loadError_;
    host_ = std::make_unique<FfglHost>(*library_);
    ASSERT_TRUE(host_->collectLog());
    std::string error;
    gl_ = GlContext::create(&error);
    ASSERT_TRUE(gl_) << error;
    target_ = Framebuffer::create(64, 36, &error);
    ASSERT_TRUE(target_) << error;
    auto id = host_->instantiate({0, 0, 64, 36});
    ASSERT_TRUE(id) << "instantiate (code 18) failed";
    clip_ = *id;
    LogCollector::clear();
  }
  void TearDown() override {
    if (clip_ != nullptr) {
      EXPECT_EQ(host_->deinstantiate(clip_), kSuccess);
    }
  }

  static inline std::unique_ptr<PluginLibrary> library_;
  static inline std::string loadError_;
  std::unique_ptr<FfglHost> host_;
  std::unique_ptr<GlContext> gl_;
  std::unique_ptr<Framebuffer> target_;
  InstanceId clip_ = nullptr;
};

// Guards against a record laid out with the wrong widths, padding or terminator rules: hosts
// read it by offset.
TEST_F(PluginEntry, InformationRecordBytesAreLaidOutForTheHost) {
  auto info = host_->info();
  ASSERT_TRUE(info);
  const std::vector<std::uint8_t> head = {2,   0,   0,   0,   1,   0,   0,   0,  // API 2.1
                                          'M', 'R', 'D', '1',  // id, no terminator
                                          'M', 'i', 'r', 'a', 'n', 'd', 'e', 'l',
                                          ' ', 'L', 'i', 'n', 'k', 0,   0,   0,   // name[16]
                                          1,   0,   0,   0,                       // type: source
                                          1,   0,   0,   0,   1,   0,   0,   0};  // version 1.1
  EXPECT_EQ(std::vector<std::uint8_t>(info->raw.begin(), info->raw.begin() + 40), head);
  EXPECT_EQ(std::vector<std::uint8_t>(info->raw.begin() + 56, info->raw.begin() + 60),
            std::vector<std::uint8_t>(4, 0));  // no extended data
  EXPECT_EQ(std::vector<std::uint8_t>(info->raw.begin() + 64, info->raw.end()),
            std::vector<std::uint8_t>(8, 0));
  EXPECT_EQ(info->description,
            "A Mirandel iPhone as a source: its live output over SRT, its controls as this "
            "clip's parameters.");
  const std::string aboutHead = "Mirandel \xE2\x80\x94 ";
  EXPECT_EQ(info->about.substr(0, aboutHead.size()), aboutHead);
  EXPECT_GT(info->about.size(), aboutHead.size()) << "the web address is missing";

  // Code 13 points at the plug-in version inside the same record.
  EXPECT_EQ(host_->extendedInfoAddress(),
            static_cast<const std::uint8_t*>(info->address) + kExtendedInfoOffset);
}

// Guards against wrong names, types, defaults, groups, visibility or option lists in a host's
// parameter panel, a rack block out of order or of the wrong kinds (the phone's controls are
// mapped onto it by index), and a new clip's display names not empty (code 51 copies nothing).
TEST_F(PluginEntry, ParametersAreDefinedAsTheHostShowsThem) {
  using Elements = std::vector<std::pair<std::string, float>>;
  // (name, type, default of a non-text type, default of a text type, group, visible, elements)
  using Row = std::tuple<std::string, std::uint32_t, float, const char*, std::string, std::uint32_t,
                         Elements>;
  const Elements none, dash = {{kDash, 0}}, fit = {{"Fit", 0}, {"Fill", 1}, {"Stretch", 2}};
  const Elements quality = {{"720p \xC2\xB7 8 Mb/s", 0},  // U+00B7
                            {"1080p \xC2\xB7 16 Mb/s", 1},
                            {"1080p \xC2\xB7 32 Mb/s", 2}};
  std::vector<Row> rows = {{"Device", kTypeOption, 0, nullptr, "Connection", 1, {{kSearching, 0}}},
                           {"Phone IP", kTypeText, 0, "", "Connection", 1, {}},
                           {"Rescan", kTypeEvent, 0, nullptr, "Connection", 1, {}},
                           {"Status", kTypeText, 0, kSearching, "Connection", 1, {}},
                           {"Rec", kTypeBoolean, 0, nullptr, "", 0, {}},
                           {"Snap", kTypeEvent, 0, nullptr, "", 0, {}},
                           {"Flip camera", kTypeEvent, 0, nullptr, "", 0, {}},
                           {"Zoom", kTypeStandard, 0.25f, nullptr, "", 0, {}},
                           {"FPS", kTypeText, 0, kDash, "", 0, {}},
                           {"Fit", kTypeOption, 0, nullptr, "Picture", 1, fit},
                           {"Quality", kTypeOption, 1, nullptr, "Picture", 1, quality},
                           {"Latency", kTypeStandard, 1.0f / 24.0f, nullptr, "Picture", 1, {}},
                           {"Reconnect", kTypeEvent, 0, nullptr, "Picture", 1, {}},
                           {"Picture", kTypeText, 0, kDash, "Picture", 1, {}},
                           {"Effect", kTypeOption, 0, nullptr, "", 0, dash}};
  // The rack block, hidden until a phone's effect is mapped onto it.
  const auto rack = [&](const std::string& name, std::uint32_t type, const char* group) {
    rows.push_back({name, type, 0, nullptr, group, 0, type == kTypeOption ? dash : none});
  };
  rack("Hero", kTypeStandard, "");
  for (int q = 1; q <= 5; ++q) rack("Quick" + std::to_string(q), kTypeBoolean, "");
  rack("Option1", kTypeOption, "Tune");
  for (int k = 1; k <= 9; ++k) {
    for (int n = 3 * k - 2; n <= 3 * k; ++n)
      rack("Slot" + std::to_string(n), kTypeStandard, "Tune");
    rack("Switch" + std::to_string(k), kTypeBoolean, "Tune");
  }
  for (int a = 1; a <= 4; ++a) rack("Action" + std::to_string(a), kTypeEvent, "Tune");

  ASSERT_EQ(host_->parameterCount(), rows.size());
  for (std::uint32_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE("parameter " + std::to_string(i));
    const auto& [name, type, defaultValue, defaultText, group, visible, elements] = rows[i];
    const ParameterRow row = host_->parameterRow(i);
    Elements shown;
    for (const Element& e : row.elements) shown.emplace_back(e.name, e.value);
    EXPECT_EQ(std::tuple(row.name, row.type, row.group, row.visible, shown),
              std::tuple(name, type, group, visible, elements));
    char displayName[4] = {'X', 'X', 'X', 'X'};
    EXPECT_EQ(host_->displayNameInto(clip_, i, displayName, 4), kSuccess);
    EXPECT_EQ(std::string(displayName, 4), "XXXX") << "the clip's display name is not empty";
    if (isTextType(type)) {
      EXPECT_EQ(host_->parameterDefaultText(i), std::string(defaultText));
    } else {
      EXPECT_EQ(host_->parameterDefaultFloat(i), defaultValue);
    }
  }
}

// Guards against answers hosts take literally: a range not written back, a thumbnail or
// capabilities the plug-in lacks, success for what it does not do or failure for what it must
// accept, a value read with the wrong type.
TEST_F(PluginEntry, EachCodeAnswersAsASourceWithoutExtras) {
  // (code, input, asked of the clip, answer)
  const std::tuple<std::uint32_t, std::uint32_t, bool, std::uint32_t> numbers[] = {
      {kGetPluginCaps, kCapSetTime, false, 1},
      {kGetPluginCaps, kCapMinInputs, false, 0},
      {kGetPluginCaps, kCapMaxInputs, false, 0},
      {kGetPluginCaps, kCapTopLeftTextureOrientation, false, 0},
      {kGetParameterUsage, 7, false, 0},
      {kGetNumFileExtensions, 1, false, 0},
      {kGetNumElementSeparators, 9, false, 0},
      {kGetInputStatus, 0, true, kFail},  // a source has no inputs
      {kSetSampleRate, 48000, true, kSuccess},
      {kConnect, 0, true, kSuccess},
      {kDisconnect, 0, true, kSuccess},
      {kGetParameter, 10, true, 0x3F800000u},  // Quality 1.0f
  };
  for (const auto& [code, input, toInstance, answer] : numbers)
    EXPECT_EQ(host_->callNumber(code, input, toInstance ? clip_ : nullptr), answer)
        << "code " << code << " input " << input;
  for (std::uint32_t index : {99u, 11u}) {
    const RangeAnswer range = host_->parameterRange(index);
    EXPECT_EQ(std::tuple(range.result, range.min, range.max), std::tuple(kSuccess, 0.0f, 1.0f))
        << index;
  }
  const ThumbnailAnswer thumb = host_->thumbnail(clip_);
  EXPECT_EQ(std::tuple(thumb.result, thumb.width, thumb.height), std::tuple(kFail, 0u, 0u));
  EXPECT_EQ(host_->shortName(), nullptr);
  EXPECT_EQ(host_->fileExtension(1, 0), std::nullopt);
  EXPECT_EQ(host_->separatorPosition(9, 0), kFail);
  EXPECT_EQ(host_->setTime(clip_, 12.5), kSuccess);
  EXPECT_EQ(host_->beatInfo(clip_, 128.0f, 0.5f), kSuccess);
  EXPECT_EQ(host_->hostInfo(clip_, "mirandel-host", "1.0"), kSuccess);
  EXPECT_EQ(host_->resize(clip_, {0, 0, 32, 18}), kSuccess);
  EXPECT_EQ(host_->setText(clip_, 13, "x"), kSuccess);
  EXPECT_EQ(host_->getText(clip_, 13), std::string(kDash)) << "a read-only text was written";
}

// Guards against texts re-encoded, truncated or left unterminated on their way to the host.
TEST_F(PluginEntry, InstanceTextsAndDisplaysAreByteExact) {
  const std::pair<std::uint32_t, std::string> texts[] = {
      {1, ""}, {3, kSearching}, {8, kDash}, {13, kDash}};
  for (const auto& [index, text] : texts) EXPECT_EQ(host_->getText(clip_, index), text) << index;
  const std::pair<std::uint32_t, std::string> displays[] = {
      {7, "1.00\xC3\x97"}, {11, "40 ms"}, {15, "0.00"}, {9, "0.000000"}, {3, kSearching}};
  for (const auto& [index, display] : displays)
    EXPECT_EQ(host_->parameterDisplay(clip_, index), display) << index;
  EXPECT_EQ(host_->elementName(0, 0, clip_), std::string(kSearching));
}

// Guards against the rack parameters hidden silently (the host would keep showing 47 dead
// sliders) or the fixed hidden ones raising events, writing past the host's array, or dropping
// the events that did not fit instead of keeping them for the next call.
TEST_F(PluginEntry, NewClipReportsRackVisibilityEventsInListOrderUpToTheHostsCapacity) {
  // (result, count written back, events) of one call with room for `capacity`; the result
  // fails when the plug-in wrote past the capacity.
  const auto collect = [&](std::uint32_t capacity) {
    const EventsAnswer a = host_->parameterEvents(clip_, capacity);
    return std::tuple(a.result, a.count, a.events);
  };
  std::vector<ParamEvent> rack;
  for (std::uint32_t i = 15; i <= 61; ++i) rack.push_back({i, kEventVisibility});
  EXPECT_EQ(host_->pendingEventCount(clip_).count, 47u);
  EXPECT_EQ(collect(0), std::tuple(kSuccess, 0u, std::vector<ParamEvent>{}));
  EXPECT_EQ(collect(3), std::tuple(kSuccess, 3u, std::vector(rack.begin(), rack.begin() + 3)));
  EXPECT_EQ(collect(100), std::tuple(kSuccess, 44u, std::vector(rack.begin() + 3, rack.end())));
  // Collected means cleared.
  EXPECT_EQ(host_->pendingEventCount(clip_).count, 0u);
}

// Guards against drawing stale or uninitialised texture contents over the host's framebuffer
// before any picture arrived.
TEST_F(PluginEntry, ClipWithoutAPictureDrawsATransparentFrame) {
  target_->clear(1.0f, 0.0f, 0.0f, 1.0f);
  const DrawAnswer a = host_->drawFrame(clip_, *target_);
  EXPECT_EQ(std::tuple(a.result, a.image.pixels),
            std::tuple(kSuccess, std::vector<std::uint8_t>(64u * 36u * 4u, 0)));
}

// Guards against the real clip trusting what a host hands it: indexes past its 62 parameters,
// floats that are not numbers or out of every range, null, invalid UTF-8 and oversized texts,
// zero and huge viewports, a capacity larger than what is pending. Each answer must be the
// defined refusal or a success that leaves the clip drawing and answering.
TEST_F(PluginEntry, OutOfRangeAndGarbageInputsGetDefinedAnswersAndTheClipStaysUsable) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  constexpr float kInf = std::numeric_limits<float>::infinity();
  constexpr std::uint32_t kHuge = 0xFFFFFFFFu;
  enum class Want { Fail, Success, Zero, Null };
  // (code, input, asked of the clip rather than the prototype, answer)
  using Case = std::tuple<std::uint32_t, FfWord, bool, Want>;
  const auto n = [](std::uint32_t v) { return FfglHost::number(v); };
  const auto p = [](const void* v) { return FfglHost::pointer(v); };
  const std::string longText(64 * 1024, '9');
  // Code 8 records: values by parameter, then texts.
  const std::pair<std::uint32_t, float> values[] = {
      {0, kNaN}, {0, 1e9f}, {7, -kInf}, {11, 1e30f}, {10, -5.0f}, {62, 0.5f}, {kHuge, kNaN}};
  const std::pair<std::uint32_t, const char*> texts[] = {
      {1, nullptr}, {1, "\xC3\x28\xFF\xFE"}, {1, longText.c_str()}, {3, nullptr}, {13, "\xFF"}};
  std::vector<SetParameterRecord> sets;
  for (const auto& [index, value] : values)
    sets.push_back({index, 0, std::bit_cast<std::uint32_t>(value)});
  for (const auto& [index, text] : texts)
    sets.push_back({index, 0, reinterpret_cast<std::uintptr_t>(text)});
  ElementRecord elements[] = {{0, kHuge}, {kHuge, 0}, {62, 0}};
  SetElementRecord setElements[] = {{kHuge, 0, 1.0f}, {9, 3, 1.0f}};
  BeatRecord beat{kNaN, kInf};
  HostInfoRecord hostInfo{nullptr, nullptr};
  double time = std::nan("");
  ViewportRecord zero{0, 0, 0, 0}, huge{kHuge, kHuge, kHuge, kHuge};
  std::vector<EventEntry> entries(64);
  EventsRecord events{kHuge, 0, entries.data()};
  std::vector<char> text(80, 'X');
  TextBufferRecord buffers[] = {
      {kHuge, 0, text.data(), kHuge}, {0, 0, nullptr, 8}, {0, 0, text.data(), 16}};

  std::vector<Case> cases;
  // A case asked of the prototype and of the clip alike.
  const auto onBoth = [&](std::uint32_t code, FfWord input, Want want) {
    for (bool toClip : {false, true}) cases.push_back({code, input, toClip, want});
  };
  for (std::uint32_t index : {62u, kHuge}) {
    onBoth(kGetNumElements, n(index), Want::Fail);
    onBoth(kGetParameterVisibility, n(index), Want::Fail);
    cases.push_back({kGetParameterDisplay, n(index), true, Want::Null});
    cases.push_back({kGetParameter, n(index), true, Want::Zero});  // the float 0
    cases.push_back({kGetInputStatus, n(index), true, Want::Fail});
    cases.push_back({kEnablePluginCap, n(index), true, Want::Fail});
  }
  cases.push_back({kSetSampleRate, n(kHuge), true, Want::Success});
  // Taken whatever the value: the clip limits it or drops it itself, and
  // with no effect current even an index it lacks is ignored quietly.
  for (const SetParameterRecord& r : sets)
    cases.push_back({kSetParameter, p(&r), true, Want::Success});
  for (const ElementRecord& r : elements) {
    onBoth(kGetElementName, p(&r), Want::Null);
    onBoth(kGetElementValue, p(&r), Want::Fail);
  }
  for (const SetElementRecord& r : setElements)
    cases.push_back({kSetElementValue, p(&r), true, Want::Fail});
  cases.push_back({kSetBeatInfo, p(&beat), true, Want::Success});
  cases.push_back({kSetHostInfo, p(&hostInfo), true, Want::Success});
  cases.push_back({kSetTime, p(&time), true, Want::Success});
  cases.push_back({kGetParameterEvents, p(&events), true, Want::Success});
  cases.push_back({kGetParameterGroup, p(&buffers[0]), false, Want::Success});
  cases.push_back({kGetParameterDisplayName, p(&buffers[0]), true, Want::Success});
  cases.push_back({kGetParameterDisplayName, p(&buffers[2]), false, Want::Fail});  // no clip
  onBoth(kGetParameterGroup, p(&buffers[1]), Want::Fail);
  onBoth(kGetParameterDisplayName, p(&buffers[1]), Want::Fail);
  for (const ViewportRecord* v : {&zero, &huge, &zero})  // zero last: the clip draws after it
    cases.push_back({kResize, p(v), true, Want::Success});

  for (const auto& [code, input, toClip, want] : cases) {
    const auto bits = std::bit_cast<std::uint64_t>(host_->call(code, input, toClip ? clip_ : 0));
    SCOPED_TRACE("code " + std::to_string(code) + (toClip ? " on the clip" : " on the prototype"));
    // A pointer is null in all its bits; a number or float answer counts in its low half.
    EXPECT_EQ(want == Want::Null ? bits : static_cast<std::uint32_t>(bits),
              want == Want::Fail ? kFail : 0u);
  }
  EXPECT_LE(events.count, 62u) << "more events than parameters";
  EXPECT_EQ(std::string(text.begin(), text.end()), std::string(80, 'X'))
      << "parameter 0xFFFFFFFF has no group or display name to copy, the prototype no display "
         "name";

  // Read back bounded and terminated; given a zero viewport last, the clip still draws.
  EXPECT_EQ(host_->getText(clip_, 1), std::string(511, '9'));
  EXPECT_EQ(host_->getFloat(clip_, 7), 0.25f) << "-inf is no zoom level";
  EXPECT_EQ(host_->getFloat(clip_, 10), 0.0f) << "-5 limited to the first option";
  EXPECT_EQ(host_->parameterDisplay(clip_, 11), std::string("500 ms")) << "1e30 limited to 1";
  EXPECT_EQ(host_->drawFrame(clip_, *target_).result, kSuccess);
  EXPECT_TRUE(host_->getText(clip_, 3));
}

// Guards against code 2 while a clip lives taking more than the prototype through the real
// entry point (the clip must keep answering and drawing), against the exported SetLogCallback
// not reaching the clip's log, and a cleared callback still being called (a freed host sink
// would then be). A prototype remade after code 2 logs its creation line.
TEST_F(PluginEntry, DeinitialisingWhileAClipLivesRemakesALoggingPrototypeAndLeavesTheClipWorking) {
  const auto remakePrototype = [&] {
    EXPECT_EQ(host_->deinitialise(), kSuccess);
    EXPECT_EQ(host_->parameterCount(), 62u);
  };
  remakePrototype();
  EXPECT_EQ(LogCollector::take(),
            std::vector<std::string>{"Mirandel: created, probing for phones"});
  ASSERT_TRUE(host_->setLogCallback(nullptr));
  remakePrototype();
  EXPECT_TRUE(LogCollector::take().empty());

  ASSERT_EQ(host_->deinitialise(), kSuccess);
  EXPECT_EQ(host_->setFloat(clip_, 9, 1.0f), kSuccess);
  EXPECT_EQ(host_->getFloat(clip_, 9), 1.0f);
  EXPECT_EQ(host_->getText(clip_, 3), std::string(kSearching));
  EXPECT_EQ(host_->parameterDisplay(clip_, 11), std::string("40 ms"));
  EXPECT_EQ(host_->drawFrame(clip_, *target_).result, kSuccess);
}

// Guards against a clip handed to the host although the plug-in could not load its GL entry
// points; GL loading happens once per process, hence a process of its own.
TEST(PluginWithoutGl, InstantiationFailsWhenNoContextIsCurrent) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::string error;
        auto library = PluginLibrary::open(MIRANDEL_PLUGIN_FILE, &error);
        if (!library) std::_Exit(2);
        FfglHost host(*library);
        const bool refused = !host.instantiate({0, 0, 64, 36}).has_value();
        std::_Exit(refused ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// Guards against the plug-in's threads (the hub's detached worker, SRT's, the receive threads)
// outliving its de-initialisation, so that ours run while a rescanning host unloads it, or not
// starting again on the next load. A hundred rounds, each with a clip that streams from the
// emulator where there is one (Linux) or at least starts its stream (Windows).
TEST(PluginReload, LoadingUsingAndUnloadingAHundredTimesLeavesNoThreadAfterDeinitialise) {
#ifdef MIRANDEL_PHONE_PROGRAM
  test::ChildProcess phone(
      {MIRANDEL_PHONE_PROGRAM, "--stream-now", "--size", "160x120", "--bitrate", "200"});
  ASSERT_GT(phone.pid(), 0);
  constexpr bool kStreams = true;
#else
  constexpr bool kStreams = false;
#endif
  std::string error;
  auto gl = GlContext::create(&error);
  ASSERT_TRUE(gl) << error;
  auto target = Framebuffer::create(64, 36, &error);
  ASSERT_TRUE(target) << error;
  target->clear(0, 0, 0, 0);
  target->read();  // the GL driver starts its drawing threads by now

  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // Counted afresh each round: the GL driver (Wine's in particular) starts threads of its own
    // a little after the context is made.
    const int threads = test::processThreadCount();
    auto library = PluginLibrary::open(MIRANDEL_PLUGIN_FILE, &error);
    ASSERT_TRUE(library) << error;
    FfglHost host(*library);
    ASSERT_EQ(host.parameterCount(), 62u);
    const auto clip = host.instantiate({0, 0, 64, 36});
    ASSERT_TRUE(clip);
    ASSERT_EQ(host.setText(*clip, 1, "127.0.0.1"), kSuccess);
    ASSERT_EQ(host.draw(*clip, *target), kSuccess);
    if (kStreams) {
      ASSERT_TRUE(test::waitFor(
          [&] {
            host.draw(*clip, *target);
            // The Picture text once connected, with or without pictures yet.
            const std::string picture = host.getText(*clip, 13).value_or("");
            return picture.rfind("connected", 0) == 0 || picture.find(" fps ") != std::string::npos;
          },
          std::chrono::seconds(10), std::chrono::milliseconds(5)))
          << host.getText(*clip, 13).value_or("?");
    }
    EXPECT_TRUE(host.getText(*clip, 3));
    EXPECT_EQ(host.deinstantiate(*clip), kSuccess);
    EXPECT_EQ(host.deinitialise(), kSuccess);
    // Every thread of ours has been joined by the time code 2 answers.
    ASSERT_EQ(test::processThreadCount(), threads);
  }
}

}  // namespace
}  // namespace mirandel::host
