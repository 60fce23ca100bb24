// The real plug-in, loaded from its file and reached only through plugMain and
// SetLogCallback, the way an FFGL host reaches it. The records here are laid
// out by the host's own ABI view, so a layout slip in the plug-in shows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

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
constexpr const char* k720 = "720p \xC2\xB7 8 Mb/s";         // U+00B7

class PluginEntry : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    library_ =
        PluginLibrary::open(MIRANDEL_PLUGIN_FILE, &error, PluginLibrary::Unload::kNever).release();
    if (library_ == nullptr) loadError_ = new std::string(error);
  }
  static void TearDownTestSuite() {
    if (library_ != nullptr) {
      // A host de-initialises before unloading, which destroys the prototype.
      FfglHost host(*library_);
      host.deinitialise();
      host.setLogCallback(nullptr);
    }
    delete library_;
    library_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(library_, nullptr) << (loadError_ ? *loadError_ : "");
    host_ = std::make_unique<FfglHost>(*library_);
    LogCollector::clear();
    ASSERT_TRUE(host_->collectLog());
  }

  static inline PluginLibrary* library_ = nullptr;
  static inline std::string* loadError_ = nullptr;
  std::unique_ptr<FfglHost> host_;
};

// A clip instantiated in a fresh offscreen context, as a host's clip slot.
class PluginClip : public PluginEntry {
 protected:
  void SetUp() override {
    PluginEntry::SetUp();
    if (HasFatalFailure()) return;
    std::string error;
    gl_ = GlContext::create(&error);
    ASSERT_TRUE(gl_) << error;
    auto id = host_->instantiate({0, 0, 64, 36});
    ASSERT_TRUE(id) << "instantiate (code 18) failed";
    clip_ = *id;
  }
  void TearDown() override {
    if (clip_ != nullptr) {
      EXPECT_EQ(host_->deinstantiate(clip_), kSuccess);
    }
  }

  std::unique_ptr<GlContext> gl_;
  InstanceId clip_ = nullptr;
};

// --- information record ------------------------------------------------------

// Guards against a record laid out with the wrong widths, padding or
// terminator rules: hosts read it by offset, never by name.
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

// --- parameter definitions ---------------------------------------------------

struct FixedParam {
  std::uint32_t index;
  const char* name;
  std::uint32_t type;
  float defaultValue;       // for non-text types
  const char* defaultText;  // for text types
  const char* group;
  std::vector<Element> elements;
  std::uint32_t visible;
};

// Guards against wrong names, types, defaults, groups or option lists in what
// a host's parameter panel is built from; texts compared byte for byte.
TEST_F(PluginEntry, FixedParametersAreDefinedAsTheHostShowsThem) {
  const std::vector<FixedParam> table = {
      {0, "Device", kTypeOption, 0, nullptr, "Connection", {{kSearching, 0}}, 1},
      {1, "Phone IP", kTypeText, 0, "", "Connection", {}, 1},
      {2, "Rescan", kTypeEvent, 0, nullptr, "Connection", {}, 1},
      {3, "Status", kTypeText, 0, kSearching, "Connection", {}, 1},
      {4, "Rec", kTypeBoolean, 0, nullptr, "", {}, 0},
      {5, "Snap", kTypeEvent, 0, nullptr, "", {}, 0},
      {6, "Flip camera", kTypeEvent, 0, nullptr, "", {}, 0},
      {7, "Zoom", kTypeStandard, 0.25f, nullptr, "", {}, 0},
      {8, "FPS", kTypeText, 0, kDash, "", {}, 0},
      {9, "Fit", kTypeOption, 0, nullptr, "Picture", {{"Fit", 0}, {"Fill", 1}, {"Stretch", 2}}, 1},
      {10,
       "Quality",
       kTypeOption,
       1,
       nullptr,
       "Picture",
       {{k720, 0}, {"1080p \xC2\xB7 16 Mb/s", 1}, {"1080p \xC2\xB7 32 Mb/s", 2}},
       1},
      {11, "Latency", kTypeStandard, 1.0f / 24.0f, nullptr, "Picture", {}, 1},
      {12, "Reconnect", kTypeEvent, 0, nullptr, "Picture", {}, 1},
      {13, "Picture", kTypeText, 0, kDash, "Picture", {}, 1},
      {14, "Effect", kTypeOption, 0, nullptr, "", {{kDash, 0}}, 0},
  };
  ASSERT_EQ(host_->parameterCount(), 62u);
  for (const auto& p : table) {
    SCOPED_TRACE("parameter " + std::to_string(p.index));
    const ParameterRow row = host_->parameterRow(p.index);
    EXPECT_EQ(row.name, p.name);
    EXPECT_EQ(row.type, p.type);
    if (isTextType(p.type)) {
      EXPECT_EQ(host_->parameterDefaultText(p.index), std::string(p.defaultText));
    } else {
      EXPECT_EQ(host_->parameterDefaultFloat(p.index), p.defaultValue);
    }
    EXPECT_EQ(row.group, p.group);
    EXPECT_EQ(row.visible, p.visible);
    ASSERT_EQ(row.elements.size(), p.elements.size());
    for (std::size_t k = 0; k < p.elements.size(); ++k) {
      EXPECT_EQ(row.elements[k].name, p.elements[k].name);
      EXPECT_EQ(row.elements[k].value, p.elements[k].value);
    }
  }
}

// Guards against the rack block being built in the wrong order or with the
// wrong kinds: the phone's controls are mapped onto these by index.
TEST_F(PluginEntry, RackParametersFollowTheFixedOnesInBlockOrder) {
  struct Want {
    std::string name;
    std::uint32_t type;
    std::string group;
  };
  std::vector<Want> want = {{"Hero", kTypeStandard, ""}};
  for (int q = 1; q <= 5; ++q) want.push_back({"Quick" + std::to_string(q), kTypeBoolean, ""});
  want.push_back({"Option1", kTypeOption, "Tune"});
  for (int k = 1; k <= 9; ++k) {
    for (int n = 3 * k - 2; n <= 3 * k; ++n) {
      want.push_back({"Slot" + std::to_string(n), kTypeStandard, "Tune"});
    }
    want.push_back({"Switch" + std::to_string(k), kTypeBoolean, "Tune"});
  }
  for (int a = 1; a <= 4; ++a) want.push_back({"Action" + std::to_string(a), kTypeEvent, "Tune"});
  ASSERT_EQ(want.size(), 47u);
  for (std::uint32_t i = 15; i < 62; ++i) {
    SCOPED_TRACE("parameter " + std::to_string(i));
    const Want& w = want[i - 15];
    EXPECT_EQ(host_->parameterName(i), w.name);
    EXPECT_EQ(host_->parameterType(i), w.type);
    EXPECT_EQ(host_->parameterGroup(i), w.group);
    EXPECT_EQ(host_->parameterDefaultFloat(i), 0.0f);
  }
  // Past the end nothing is defined.
  EXPECT_EQ(host_->parameterName(62), std::nullopt);
  EXPECT_EQ(host_->parameterType(62), kFail);
  EXPECT_EQ(host_->parameterDefaultFloat(62), std::nullopt);
}

// Guards against answers that hosts take literally: a range not written back,
// a thumbnail reported as present, capabilities the plug-in lacks.
TEST_F(PluginEntry, SmallDefinitionQuestionsAnswerAsASourceWithoutExtras) {
  const RangeAnswer undefinedRange = host_->parameterRange(99);
  EXPECT_EQ(undefinedRange.result, kSuccess);
  EXPECT_EQ(undefinedRange.min, 0.0f);
  EXPECT_EQ(undefinedRange.max, 1.0f);
  const RangeAnswer latencyRange = host_->parameterRange(11);
  EXPECT_EQ(latencyRange.min, 0.0f);
  EXPECT_EQ(latencyRange.max, 1.0f);

  const struct {
    std::uint32_t capability, answer;
  } caps[] = {{kCapSetTime, 1},
              {kCapMinInputs, 0},
              {kCapMaxInputs, 0},
              {kCapTopLeftTextureOrientation, 0},
              {4, 0},
              {999, 0}};
  for (const auto& c : caps) {
    EXPECT_EQ(host_->capability(c.capability), c.answer) << "capability " << c.capability;
  }
  EXPECT_EQ(host_->shortName(), nullptr);
  EXPECT_EQ(host_->parameterUsage(7), 0u);
  EXPECT_EQ(host_->fileExtensionCount(1), 0u);
  EXPECT_EQ(host_->fileExtension(1, 0), std::nullopt);
  EXPECT_EQ(host_->separatorCount(9), 0u);
  EXPECT_EQ(host_->separatorPosition(9, 0), kFail);
  EXPECT_EQ(host_->elementCount(10), 3u);
  EXPECT_EQ(host_->elementCount(62), kFail);
  EXPECT_EQ(host_->elementName(10, 3), std::nullopt);
  EXPECT_EQ(host_->elementValue(10, 3), std::nullopt);
}

// --- group and display-name buffers -----------------------------------------

// Guards against overrunning the host's buffer or writing a terminator the
// host did not make room for: exactly min(length, size) bytes are copied.
TEST_F(PluginEntry, GroupCopiesAtMostSizeBytesAndNoTerminator) {
  const struct {
    std::uint32_t index, size, answer;
    std::string copied;
  } cases[] = {
      {0, 64, kSuccess, "Connection"}, {0, 10, kSuccess, "Connection"}, {0, 4, kSuccess, "Conn"},
      {0, 1, kSuccess, "C"},           {21, 64, kSuccess, "Tune"},      {9, 5, kSuccess, "Pictu"},
      {4, 64, kSuccess, ""},           {99, 64, kSuccess, ""},          {0, 0, kFail, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("index " + std::to_string(c.index) + " size " + std::to_string(c.size));
    std::vector<char> buf(80, 'X');
    EXPECT_EQ(host_->parameterGroupInto(c.index, buf.data(), c.size), c.answer);
    EXPECT_EQ(std::string(buf.data(), c.copied.size()), c.copied);
    EXPECT_EQ(std::string(buf.begin() + c.copied.size(), buf.end()),
              std::string(80 - c.copied.size(), 'X'))
        << "bytes past the copied text were touched";
  }
}

// The same rules for the display name, which is per instance: empty right
// after construction, so nothing may be written, not even a terminator.
TEST_F(PluginClip, DisplayNameCopiesNothingWhileEmptyAndRefusesSizeZero) {
  for (std::uint32_t index : {0u, 15u, 61u, 99u}) {
    std::vector<char> buf(32, 'X');
    EXPECT_EQ(host_->displayNameInto(clip_, index, buf.data(), 16), kSuccess) << index;
    EXPECT_EQ(std::string(buf.begin(), buf.end()), std::string(32, 'X')) << index;
  }
  std::vector<char> buf(32, 'X');
  EXPECT_EQ(host_->displayNameInto(clip_, 0, buf.data(), 0), kFail);
  EXPECT_EQ(host_->displayNameInto(nullptr, 0, buf.data(), 16), kFail);
}

// --- events ---------------------------------------------------------------

std::vector<ParamEvent> visibilityEvents(std::uint32_t from, std::uint32_t to) {
  std::vector<ParamEvent> out;
  for (std::uint32_t i = from; i <= to; ++i) out.push_back({i, kEventVisibility});
  return out;
}

// Guards against the rack parameters being hidden silently (the host would
// keep showing 47 dead sliders) or the fixed hidden ones raising events.
TEST_F(PluginClip, NewClipReportsVisibilityEventsForTheRackParametersOnly) {
  EXPECT_EQ(host_->pendingEventCount(clip_).count, 47u);
  const EventsAnswer a = host_->parameterEvents(clip_, 62);
  EXPECT_EQ(a.result, kSuccess);
  EXPECT_EQ(a.count, 47u);
  EXPECT_EQ(a.events, visibilityEvents(15, 61));
  // Collected means cleared.
  EXPECT_EQ(host_->pendingEventCount(clip_).count, 0u);
  EXPECT_TRUE(host_->parameterEvents(clip_, 62).events.empty());
}

// Guards against writing past the host's array, or dropping the events that
// did not fit instead of keeping them for the next call.
TEST_F(PluginClip, EventsBeyondTheHostsCapacityStayPendingInListOrder) {
  const EventsAnswer none = host_->parameterEvents(clip_, 0);
  EXPECT_EQ(none.result, kSuccess);
  EXPECT_EQ(none.count, 0u);
  EXPECT_EQ(host_->pendingEventCount(clip_).count, 47u);

  const EventsAnswer first = host_->parameterEvents(clip_, 3);
  EXPECT_EQ(first.result, kSuccess) << "answer failed or wrote past the capacity";
  EXPECT_EQ(first.count, 3u);
  EXPECT_EQ(first.events, visibilityEvents(15, 17));
  EXPECT_EQ(host_->pendingEventCount(clip_).count, 44u);

  const EventsAnswer rest = host_->parameterEvents(clip_, 100);
  EXPECT_EQ(rest.count, 44u);
  EXPECT_EQ(rest.events, visibilityEvents(18, 61));
}

// --- values through an instance ------------------------------------------

// Guards against texts that are re-encoded, truncated or left unterminated on
// their way to the host.
TEST_F(PluginClip, InstanceTextsAndDisplaysAreByteExact) {
  const struct {
    std::uint32_t index;
    std::string text;
  } texts[] = {{1, ""}, {3, kSearching}, {8, kDash}, {13, kDash}};
  for (const auto& t : texts) EXPECT_EQ(host_->getText(clip_, t.index), t.text) << t.index;

  const struct {
    std::uint32_t index;
    std::string display;
  } displays[] = {
      {7, "1.00\xC3\x97"}, {11, "40 ms"}, {15, "0.00"}, {9, "0.000000"}, {3, kSearching}};
  for (const auto& d : displays) {
    EXPECT_EQ(host_->parameterDisplay(clip_, d.index), d.display) << d.index;
  }
  EXPECT_EQ(host_->getFloat(clip_, 10), 1.0f);
  EXPECT_EQ(host_->getFloat(clip_, 9), 0.0f);
  EXPECT_EQ(host_->elementName(0, 0, clip_), std::string(kSearching));
}

// Guards against host-facing calls that report success for what the plug-in
// does not do, or fail for what it must accept.
TEST_F(PluginClip, HostFacingCallsAnswerAsASource) {
  EXPECT_EQ(host_->setTime(clip_, 12.5), kSuccess);
  EXPECT_EQ(host_->beatInfo(clip_, 128.0f, 0.5f), kSuccess);
  EXPECT_EQ(host_->hostInfo(clip_, "mirandel-host", "1.0"), kSuccess);
  EXPECT_EQ(host_->sampleRate(clip_, 48000), kSuccess);
  EXPECT_EQ(host_->inputStatus(clip_, 0), kFail);  // a source has no inputs
  EXPECT_EQ(host_->resize(clip_, {0, 0, 32, 18}), kSuccess);
  EXPECT_EQ(host_->connect(clip_), kSuccess);
  EXPECT_EQ(host_->disconnect(clip_), kSuccess);
  EXPECT_EQ(host_->enableCapability(clip_, kCapTopLeftTextureOrientation), kFail);
  const ThumbnailAnswer thumb = host_->thumbnail(clip_);
  EXPECT_EQ(thumb.result, kFail);
  EXPECT_EQ(thumb.width, 0u);
  EXPECT_EQ(thumb.height, 0u);
  EXPECT_EQ(host_->setText(clip_, 13, "x"), kSuccess);
  EXPECT_EQ(host_->getText(clip_, 13), std::string(kDash));
}

// --- bad inputs -------------------------------------------------------------

// Guards against a crash when a host passes a null record: every code that
// reads through its input pointer must refuse it.
TEST_F(PluginClip, NullRecordPointersAreRefused) {
  const struct {
    std::uint32_t code;
    bool toInstance;
    bool pointerAnswer;
  } codes[] = {
      {kSetParameter, true, false},
      {kProcessOpenGL, true, false},
      {kInstantiateGL, false, true},
      {kSetTime, true, false},
      {kResize, true, false},
      {kGetElementName, false, true},
      {kGetElementValue, false, false},
      {kSetElementValue, true, false},
      {kSetBeatInfo, true, false},
      {kSetHostInfo, true, false},
      {kGetRange, false, false},
      {kGetThumbnail, true, false},
      {kGetFileExtension, false, true},
      {kGetParameterEvents, true, false},
      {kGetSeparatorPosition, false, false},
      {kGetParameterGroup, false, false},
      {kGetParameterDisplayName, true, false},
  };
  for (const auto& c : codes) {
    const InstanceId who = c.toInstance ? clip_ : nullptr;
    if (c.pointerAnswer) {
      EXPECT_EQ(host_->callForPointer(c.code, FfglHost::pointer(nullptr), who), nullptr)
          << "code " << c.code;
    } else {
      EXPECT_EQ(host_->callPointer(c.code, nullptr, who), kFail) << "code " << c.code;
    }
  }
}

// Guards against instance codes dereferencing a null instance.
TEST_F(PluginEntry, InstanceCodesWithoutAnInstanceFail) {
  FrameRecord frame{0, 0, nullptr, 0};
  SetParameterRecord set{7, 0, 0};
  EXPECT_EQ(host_->callNumber(kGetParameterDisplay, 7, nullptr), kFail);
  EXPECT_EQ(host_->callPointer(kSetParameter, &set, nullptr), kFail);
  EXPECT_EQ(host_->callNumber(kGetParameter, 7, nullptr), kFail);
  EXPECT_EQ(host_->callPointer(kProcessOpenGL, &frame, nullptr), kFail);
  EXPECT_EQ(host_->callNumber(kConnect, 0, nullptr), kFail);
  EXPECT_EQ(host_->callNumber(kDeinstantiateGL, 0, nullptr), kFail);
}

// Guards against codes outside the table doing anything but failing, with or
// without an instance.
TEST_F(PluginClip, UnknownCodesFail) {
  std::vector<std::uint32_t> unknown = {1,  3,  11,  12,          14,         52,
                                        53, 64, 255, 0x80000000u, 0xFFFFFFFFu};
  for (std::uint32_t c = 24; c <= 30; ++c) unknown.push_back(c);
  for (std::uint32_t code : unknown) {
    EXPECT_EQ(host_->callNumber(code, 0, nullptr), kFail) << "code " << code;
    EXPECT_EQ(host_->callNumber(code, 0, clip_), kFail) << "code " << code << " with instance";
  }
  // The clip is unharmed.
  EXPECT_EQ(host_->getText(clip_, 3), std::string(kSearching));
}

// --- log callback -----------------------------------------------------------

std::mutex otherMutex;
std::vector<std::string> otherLines;  // guarded by otherMutex
void otherSink(const char* line) {
  std::lock_guard<std::mutex> lock(otherMutex);
  otherLines.push_back(line);
}
std::vector<std::string> takeOther() {
  std::lock_guard<std::mutex> lock(otherMutex);
  return std::exchange(otherLines, {});
}

// Guards against a stale callback being kept after the host replaces or
// clears it (a freed host sink would then be called). A new prototype, made
// after code 2 destroyed the old one, logs its creation line.
TEST_F(PluginEntry, LogCallbackIsReplacedAndCleared) {
  const std::vector<std::string> created = {"Mirandel: created, probing for phones"};
  auto remakePrototype = [&] {
    EXPECT_EQ(host_->deinitialise(), kSuccess);
    EXPECT_EQ(host_->parameterCount(), 62u);
  };
  takeOther();
  remakePrototype();
  EXPECT_EQ(LogCollector::take(), created);

  ASSERT_TRUE(host_->setLogCallback(&otherSink));
  remakePrototype();
  EXPECT_EQ(takeOther(), created);
  EXPECT_TRUE(LogCollector::take().empty());

  ASSERT_TRUE(host_->setLogCallback(nullptr));
  remakePrototype();
  EXPECT_TRUE(takeOther().empty());
  EXPECT_TRUE(LogCollector::take().empty());
}

// --- drawing ---------------------------------------------------------------

// Guards against drawing stale or uninitialised texture contents before any
// picture arrived: the clip's output is fully transparent until then, and
// draws over whatever the host's framebuffer held.
TEST_F(PluginClip, ClipWithoutAPictureDrawsATransparentFrame) {
  std::string error;
  auto target = Framebuffer::create(64, 36, &error);
  ASSERT_TRUE(target) << error;
  target->clear(1.0f, 0.0f, 0.0f, 1.0f);
  const DrawAnswer a = host_->drawFrame(clip_, *target);
  EXPECT_EQ(a.result, kSuccess);
  ASSERT_EQ(a.image.pixels.size(), 64u * 36u * 4u);
  EXPECT_EQ(a.image.pixels, std::vector<std::uint8_t>(64u * 36u * 4u, 0));
}

// --- no GL context ------------------------------------------------------------

// Guards against a clip being handed to the host although the plug-in could
// not load its GL entry points (no context current). GL loading happens once
// per process, so this runs in a process of its own.
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

// Guards against the plug-in's own threads outliving its code: a host that
// unloads the plug-in after de-initialising it must not crash afterwards.
TEST(PluginUnload, UnloadingAfterDeinitialiseLeavesNoThreadInUnmappedCode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::string error;
        auto library = PluginLibrary::open(MIRANDEL_PLUGIN_FILE, &error);
        if (!library) std::_Exit(2);
        {
          FfglHost host(*library);
          if (host.initialise() != kSuccess || host.parameterCount() != 62) std::_Exit(3);
          host.deinitialise();
        }
        library.reset();  // dlclose: the plug-in's static teardown runs, then it is unmapped
        // Nothing to wait for but the absence of a crash: give the plug-in's
        // worker more than its receive timeout to wake up and run.
        test::waitFor([] { return false; }, std::chrono::milliseconds(1500));
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace mirandel::host
