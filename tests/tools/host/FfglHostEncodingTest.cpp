// The host's side of the ABI against a scripted stand-in for plugMain: the
// exact bytes the host puts into records, and how it reads answer words whose
// high half a plug-in may leave as garbage.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tools/host/FfglHost.h"

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
};
Script script;

FfWord fakePlugMain(std::uint32_t code, FfWord input, void* instance) {
  script.code = code;
  std::memcpy(&script.inputBits, &input, 8);
  script.instance = instance;
  if (script.recordSize != 0 && input.ptr != nullptr) {
    const auto* p = static_cast<const std::uint8_t*>(input.ptr);
    script.record.assign(p, p + script.recordSize);
  }
  if (code == kGetParameterEvents && script.writeEvents >= 0) {
    auto* rec = static_cast<EventsRecord*>(input.ptr);
    for (int k = 0; k < script.writeEvents; ++k) rec->entries[k] = {std::uint32_t(k), 0, 1};
    rec->count = static_cast<std::uint32_t>(script.writeEvents);
  }
  FfWord w;
  std::memcpy(&w, &script.answer, 8);
  return w;
}

class HostEncoding : public ::testing::Test {
 protected:
  void SetUp() override { script = Script{}; }
  FfglHost host_{&fakePlugMain, nullptr};
  void* const clip_ = reinterpret_cast<void*>(0x1000);
};

// Guards against reading the undefined high half of a number or float answer,
// and against taking a failed pointer answer (0, or FF_FAIL in the low half)
// for a text.
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

// Guards against records built with the wrong offsets, widths or value
// encodings; each vector is the exact bytes a conforming host passes.
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

// Guards against a plug-in that writes more event entries than the host made
// room for going unnoticed.
TEST_F(HostEncoding, EventCollectionNoticesWritesPastTheCapacity) {
  script.writeEvents = 2;
  EventsAnswer fits = host_.parameterEvents(clip_, 2);
  EXPECT_EQ(fits.result, kSuccess);
  EXPECT_EQ(fits.events.size(), 2u);

  script.writeEvents = 3;
  EXPECT_EQ(host_.parameterEvents(clip_, 2).result, kFail);
}

}  // namespace
}  // namespace mirandel::host
