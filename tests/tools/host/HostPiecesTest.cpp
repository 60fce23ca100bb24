// The test host's own pieces: if these are wrong, every plug-in test built on them reports the
// host's fault as the plug-in's. A scripted stand-in for plugMain shows the exact bytes the host
// puts into records, and how it reads answer words whose high half a plug-in may leave as garbage.
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "tools/host/GlApi.h"

#include "tools/host/FfglHost.h"
#include "tools/host/Framebuffer.h"
#include "tools/host/GlContext.h"
#include "tools/host/PngFile.h"

namespace mirandel::host {
namespace {

struct Script {
  std::uint32_t code = 0;
  std::uint64_t inputBits = 0;
  void* instance = nullptr;
  std::vector<std::uint8_t> record;  // bytes at the input pointer at call time
  std::size_t recordSize = 0;        // how many bytes to capture
  std::uint64_t answer = 0;
  int writeEvents = -1;  // when >= 0, code 46 writes this many entries
  FrameRecord frame{};   // the record of the last code 17
};
Script script;

FfWord fakePlugMain(std::uint32_t code, FfWord input, void* instance) {
  script.code = code;
  script.inputBits = std::bit_cast<std::uint64_t>(input);
  script.instance = instance;
  if (script.recordSize != 0 && input.ptr != nullptr) {
    const auto* p = static_cast<const std::uint8_t*>(input.ptr);
    script.record.assign(p, p + script.recordSize);
  }
  if (code == kProcessOpenGL) {  // drawn as a source: the host's viewport filled with green
    if (input.ptr != nullptr) script.frame = *static_cast<const FrameRecord*>(input.ptr);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    glEnable(GL_SCISSOR_TEST);
    glScissor(viewport[0], viewport[1], viewport[2], viewport[3]);
    glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
  }
  if (code == kGetParameterEvents && script.writeEvents >= 0) {
    auto* rec = static_cast<EventsRecord*>(input.ptr);
    for (int k = 0; k < script.writeEvents; ++k) rec->entries[k] = {std::uint32_t(k), 0, 1};
    rec->count = static_cast<std::uint32_t>(script.writeEvents);
  }
  return std::bit_cast<FfWord>(script.answer);
}

class HostEncoding : public ::testing::Test {
 protected:
  void SetUp() override { script = Script{}; }
  FfglHost host_{&fakePlugMain, nullptr};
  void* const clip_ = reinterpret_cast<void*>(0x1000);
};

// Guards against reading the undefined high half of a number or float answer, and taking a
// failed pointer answer (0, or FF_FAIL in the low half) for a text.
TEST_F(HostEncoding, AnswersUseOnlyTheLowHalfAndAFailedPointerIsNoText) {
  script.answer = 0xDEADBEEF00000003ull;
  EXPECT_EQ(host_.parameterCount(), 3u);
  EXPECT_EQ(script.code, kGetNumParameters);
  script.answer = 0x123456783E800000ull;  // 0.25f
  EXPECT_EQ(host_.parameterDefaultFloat(7), 0.25f);
  EXPECT_EQ(script.inputBits, 7u) << "the index goes in the low half, the high half zero";
  script.answer = 0xDEADBEEFFFFFFFFFull;
  EXPECT_EQ(host_.getFloat(clip_, 7), std::nullopt);
  EXPECT_EQ(script.instance, clip_);

  for (std::uint64_t bits : {0ull, 0x00000000FFFFFFFFull, 0xABCD0000FFFFFFFFull}) {
    script.answer = bits;
    EXPECT_EQ(host_.parameterName(7), std::nullopt) << std::hex << bits;
  }
  static const char kName[] = "Zoom";
  script.answer = reinterpret_cast<std::uintptr_t>(kName);
  EXPECT_EQ(host_.parameterName(7), std::string("Zoom"));
}

// `head`, then the 8 bytes of pointer `p`, then `tail`.
std::vector<std::uint8_t> withPointer(std::vector<std::uint8_t> head, const void* p,
                                      std::initializer_list<std::uint8_t> tail = {}) {
  const auto bits = reinterpret_cast<std::uintptr_t>(p);
  for (int b = 0; b < 8; ++b) head.push_back(static_cast<std::uint8_t>(bits >> (8 * b)));
  head.insert(head.end(), tail);
  return head;
}

// Guards against records built with the wrong offsets, widths or value encodings.
TEST_F(HostEncoding, RecordsCarryTheExactBytes) {
  script.recordSize = 16;
  host_.setFloat(clip_, 7, 0.25f);
  EXPECT_EQ(script.code, kSetParameter);
  EXPECT_EQ(script.record, (std::vector<std::uint8_t>{7, 0, 0, 0, 0, 0, 0, 0,  //
                                                      0x00, 0x00, 0x80, 0x3E, 0, 0, 0, 0}));

  static const char kText[] = "10.0.0.2";
  host_.setText(clip_, 1, kText);
  EXPECT_EQ(script.record, withPointer({1, 0, 0, 0, 0, 0, 0, 0}, kText));

  script.recordSize = 20;
  char buf[8];
  host_.parameterGroupInto(9, buf, 5);
  EXPECT_EQ(script.record, withPointer({9, 0, 0, 0, 0, 0, 0, 0}, buf, {5, 0, 0, 0}));

  script.recordSize = 16;
  host_.instantiate({1, 2, 640, 360});
  EXPECT_EQ(script.record, (std::vector<std::uint8_t>{1, 0, 0, 0, 2, 0, 0, 0,  //
                                                      0x80, 2, 0, 0, 0x68, 1, 0, 0}));

  script.recordSize = 12;
  host_.setElementValue(clip_, 10, 2, 1.0f);
  EXPECT_EQ(script.record,
            (std::vector<std::uint8_t>{10, 0, 0, 0, 2, 0, 0, 0, 0x00, 0x00, 0x80, 0x3F}));

  script.recordSize = 8;
  host_.setTime(clip_, 2.0);
  EXPECT_EQ(script.record, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0, 0x40}));
}

// Guards against a plug-in writing more event entries than the host made room for unnoticed.
// (Events that fit show through the real plug-in, in PluginEntry's rack visibility test.)
TEST_F(HostEncoding, EventCollectionNoticesWritesPastTheCapacity) {
  script.writeEvents = 3;
  EXPECT_EQ(host_.parameterEvents(clip_, 2).result, kFail);
}

class HostGl : public HostEncoding {
 protected:
  void SetUp() override {
    HostEncoding::SetUp();
    std::string error;
    gl_ = GlContext::create(&error);
    ASSERT_TRUE(gl_) << error;
  }
  std::unique_ptr<GlContext> gl_;
};

// Guards against a compatibility or ES context sneaking in: the shaders are "#version 410 core".
TEST_F(HostGl, ContextIsDesktopCoreProfileAtLeast41) {
  const GlVersion v = gl_->version();
  EXPECT_TRUE(v.major > 4 || (v.major == 4 && v.minor >= 1)) << v.version;
  EXPECT_TRUE(v.coreProfile) << v.version;
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Guards against a read-back that is bottom-up (GL's own order), rounds colours or pads rows,
// and a partial one counting rows from GL's bottom edge (the live run's top-left stamp would
// be read from the bottom-left).
TEST_F(HostGl, ReadBackIsExactAndCountsRowsFromTheTop) {
  std::string error;
  auto fb = Framebuffer::create(15, 9, &error);  // odd width: rows not 4-aligned in RGB terms
  ASSERT_TRUE(fb) << error;
  fb->clear(1.0f, 0.0f, 0.0f, 1.0f);
  // Paint x 4..13, y 2..7 counted from the top with a scissored clear.
  glEnable(GL_SCISSOR_TEST);
  glScissor(4, 9 - 2 - 6, 10, 6);
  glClearColor(0.0f, 64.0f / 255.0f, 1.0f, 128.0f / 255.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);

  // Every byte the whole read and the region (x 2..14, y 1..8) must hold, row by row from the top.
  std::vector<std::uint8_t> whole, region;
  for (std::uint32_t y = 0; y < 9; ++y)
    for (std::uint32_t x = 0; x < 15; ++x) {
      const std::vector<std::uint8_t> want = x >= 4 && x < 14 && y >= 2 && y < 8
                                                 ? std::vector<std::uint8_t>{0, 64, 255, 128}
                                                 : std::vector<std::uint8_t>{255, 0, 0, 255};
      whole.insert(whole.end(), want.begin(), want.end());
      if (x >= 2 && y >= 1) region.insert(region.end(), want.begin(), want.end());
    }
  const RgbaImage img = fb->read(), part = fb->readRegion(2, 1, 13, 8);
  EXPECT_EQ(std::tuple(img.width, img.height, img.pixels), std::tuple(15u, 9u, whole));
  EXPECT_EQ(std::tuple(part.width, part.height, part.pixels), std::tuple(13u, 8u, region));
  // Clipped at the far corner, empty beyond it.
  const RgbaImage corner = fb->readRegion(13, 7, 10, 10);
  EXPECT_EQ(std::tuple(corner.width, corner.height), std::tuple(2u, 2u));
  EXPECT_TRUE(fb->readRegion(15, 0, 1, 1).pixels.empty());
}

// Guards against the host drawing into the wrong framebuffer, with a stale viewport, or naming
// another framebuffer in the frame record than the one bound.
TEST_F(HostGl, DrawFrameBindsTheTargetAndReadsBackWhatThePluginDrew) {
  std::string error;
  auto fb = Framebuffer::create(8, 4, &error);
  ASSERT_TRUE(fb) << error;
  fb->clear(0.0f, 0.0f, 0.0f, 0.0f);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glViewport(0, 0, 1, 1);

  const DrawAnswer whole = host_.drawFrame(clip_, *fb);
  EXPECT_EQ(std::tuple(whole.result, script.code, script.instance),
            std::tuple(kSuccess, kProcessOpenGL, clip_));
  EXPECT_EQ(std::tuple(script.frame.hostFbo, script.frame.inputCount, script.frame.inputs),
            std::tuple(fb->id(), 0u, nullptr));
  // All green: drawn into the target, over all of it.
  std::vector<std::uint8_t> green;
  for (int i = 0; i < 8 * 4; ++i) green.insert(green.end(), {0, 255, 0, 255});
  EXPECT_EQ(whole.image.pixels, green);

  // A viewport given by the host replaces the whole-target one (GL rows count from the bottom).
  fb->clear(0.0f, 0.0f, 0.0f, 0.0f);
  const DrawAnswer part = host_.drawFrame(clip_, *fb, ViewportRecord{0, 3, 4, 1});
  for (std::uint32_t y = 0; y < 4; ++y)
    for (std::uint32_t x = 0; x < 8; ++x)
      EXPECT_EQ(part.image.at(x, y)[1], y == 0 && x < 4 ? 255 : 0) << "x=" << x << " y=" << y;
}

// Guards against snapshots that swap channels, flip rows or drop alpha, and against writing an
// image whose pixels do not match its size (the writer would read past them).
TEST(PngSnapshot, RoundTripThroughLibpngKeepsEveryByte) {
  RgbaImage img{3, 2, {255, 0,  0,  255, 0, 255, 0, 255, 0,   0,   255, 255,  // top row
                       10,  20, 30, 40,  0, 0,   0, 0,   255, 255, 255, 128}};
  const std::string path = ::testing::TempDir() + "/host_png_roundtrip.png";
  std::string error;
  ASSERT_TRUE(writePng(path, img, &error)) << error;
  auto back = readPng(path, &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(std::tuple(back->width, back->height, back->pixels), std::tuple(3u, 2u, img.pixels));

  img.pixels.resize(10);
  EXPECT_FALSE(writePng(path, img, &error));
  EXPECT_FALSE(error.empty());
  std::remove(path.c_str());
}

}  // namespace
}  // namespace mirandel::host
