// The codec-neutral decoder on a scripted codec backend: Annex-B walking, the key-picture gate,
// counters, timing and the output-size rule.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "base/Clock.h"
#include "video/AnnexB.h"
#include "video/DecoderCore.h"
#include "video/PictureGeometry.h"

namespace mirandel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Guards against keeping the zero of a four-byte start code on the previous
// unit, losing bytes before a following start code, and yielding empty units.
TEST(AnnexB, SplitsAtThreeAndFourByteStartCodes) {
  struct Case {
    const char* what;
    Bytes stream;
    std::vector<Bytes> nals;
  };
  const Case cases[] = {
      {"three-byte codes",
       {0, 0, 1, 0x67, 0xAA, 0, 0, 1, 0x68, 0xBB},
       {{0x67, 0xAA}, {0x68, 0xBB}}},
      {"four-byte codes",
       {0, 0, 0, 1, 0x67, 0xAA, 0, 0, 0, 1, 0x65, 1, 2},
       {{0x67, 0xAA}, {0x65, 1, 2}}},
      {"garbage before the first code", {9, 9, 0, 0, 1, 0x41, 7}, {{0x41, 7}}},
      {"empty units skipped", {0, 0, 1, 0, 0, 1, 0x09, 0xF0, 0, 0, 1}, {{0x09, 0xF0}}},
      {"zero inside a unit kept", {0, 0, 1, 0x65, 0, 0, 3, 0, 0x80}, {{0x65, 0, 0, 3, 0, 0x80}}},
      {"only one trailing zero belongs to the code",
       {0, 0, 1, 0x65, 5, 0, 0, 0, 0, 1, 0x41},
       {{0x65, 5, 0}, {0x41}}},
      {"no start code", {0x65, 1, 2, 3}, {}},
      {"truncated code", {0, 0}, {}},
  };
  for (const Case& c : cases) {
    std::vector<Bytes> nals;
    NalReader reader(c.stream.data(), c.stream.size());
    for (NalUnit nal; reader.next(nal);) nals.emplace_back(nal.data, nal.data + nal.size);
    EXPECT_EQ(nals, c.nals) << c.what;
  }
}

// Guards against key pictures looked for by the wrong codec's NAL header.
TEST(AnnexB, FindsKeyPicturesByCodec) {
  EXPECT_TRUE(holdsKeyPicture(Bytes{0, 0, 1, 0x67, 0, 0, 1, 0x65, 1}.data(), 9, kCodecH264));
  EXPECT_FALSE(holdsKeyPicture(Bytes{0, 0, 1, 0x41, 1}.data(), 5, kCodecH264));
  // HEVC IDR_W_RADL (19) is a key picture; read as H.264 its header is type 6.
  EXPECT_TRUE(holdsKeyPicture(Bytes{0, 0, 1, 0x26, 0x01, 0xAF}.data(), 6, kCodecHevc));
  EXPECT_FALSE(holdsKeyPicture(Bytes{0, 0, 1, 0x26, 0x01, 0xAF}.data(), 6, kCodecH264));
  // HEVC TRAIL_R (1) is not.
  EXPECT_FALSE(holdsKeyPicture(Bytes{0, 0, 1, 0x02, 0x01, 0xAF}.data(), 6, kCodecHevc));
}

struct Script {
  std::vector<CodecKind> opens;
  int closes = 0;
  std::vector<bool> submittedKeys;
  bool failOpen = false, failSubmit = false, failDrain = false, deliverUnreadable = false;
  std::string openFailure;  // the reason a failing open gives
  std::function<void()> duringOpen;
  struct Picture {
    std::optional<PictureRefusal> refuse;  // set: every picture is refused as this
    std::uint32_t width = 16, height = 8;
    bool emptyPlanes = false;  // planes of one byte: AddressSanitizer catches any read
  } picture;
  // Pictures wait until more than this many are held, then leave in pts order (B-pictures).
  std::size_t holdBack = 0;
  ManualClock* clock = nullptr;
  Nanos drainTakes = 0;
};

class ScriptedBackend final : public DecoderBackend {
 public:
  explicit ScriptedBackend(Script& s) : s_(s) {}
  bool open(CodecKind codec) override {
    if (s_.duringOpen) s_.duringOpen();
    if (s_.failOpen) return false;
    s_.opens.push_back(codec);
    return true;
  }
  void close() override {
    ++s_.closes;
    waiting_.clear();
  }
  bool submit(const AccessUnit& unit, bool key) override {
    if (s_.failSubmit) return false;
    s_.submittedKeys.push_back(key);
    waiting_.insert(unit.pts);
    return true;
  }
  bool drain(PictureSink& sink) override {
    s_.clock->advance(s_.drainTakes);
    if (s_.failDrain) return false;
    while (waiting_.size() > s_.holdBack) {
      const std::int64_t pts = *waiting_.begin();
      waiting_.erase(waiting_.begin());
      if (s_.picture.refuse) {
        sink.refused(*s_.picture.refuse);
        continue;
      }
      const std::uint32_t w = s_.picture.width, h = s_.picture.height;
      const std::size_t chroma = std::size_t{(w + 1) / 2} * ((h + 1) / 2);
      y_.assign(s_.picture.emptyPlanes ? 1 : std::size_t{w} * h, 235);  // white
      u_.assign(s_.picture.emptyPlanes ? 1 : chroma, 128);
      YuvPicture p;
      p.layout = ChromaLayout::kPlanar;
      p.width = w;
      p.height = h;
      p.y = y_.data();
      p.yStride = s_.deliverUnreadable ? w / 2 : w;
      p.u = p.v = u_.data();
      p.uStride = p.vStride = (w + 1) / 2;
      sink.picture(p, pts);
    }
    return true;
  }
  std::string openFailure() const override { return s_.failOpen ? s_.openFailure : ""; }
  bool hardware() const override { return false; }

 private:
  Script& s_;
  Bytes y_, u_;
  std::multiset<std::int64_t> waiting_;  // pts of the pictures not yet out
};

// NAL units, each with a four-byte start code.
Bytes units(const std::vector<Bytes>& nals) {
  Bytes out;
  for (const Bytes& n : nals) {
    out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), n.begin(), n.end());
  }
  return out;
}

const Bytes kSps{0x67, 0x42, 0xC0, 0x1E};
const Bytes kPps{0x68, 0xCE, 0x3C, 0x80};
const Bytes kIdr{0x65, 0x88, 0x84};
const Bytes kSlice{0x41, 0x9A, 0x02};
const Bytes kSei{0x06, 0x05, 0x01};
const Bytes kHevcVps{0x40, 0x01, 0x0C};
const Bytes kHevcSps{0x42, 0x01, 0x01};
const Bytes kHevcPps{0x44, 0x01, 0xC1};
const Bytes kHevcIdr{0x26, 0x01, 0xAF};    // IDR_W_RADL
const Bytes kHevcCra{0x2A, 0x01, 0xAF};    // CRA (21), also IRAP
const Bytes kHevcTrail{0x02, 0x01, 0xD0};  // TRAIL_R

// What one decode call must do. kDropped: skipped, and counted as lost to damage or to the
// wait for a key picture.
enum class Outcome { kSubmittedKey, kSubmitted, kSkipped, kDropped, kFailed };
using enum Outcome;

// How the demultiplexer marked a unit.
enum class Mark { kWhole, kCorrupt, kAfterGap };
using enum Mark;

struct Step {
  const char* what;
  std::vector<Bytes> nals;  // each given a four-byte start code
  Outcome outcome;
  CodecKind codec = kCodecH264;
  bool randomAccess = false;
  Mark mark = kWhole;
};

class DecoderGate : public ::testing::Test {
 protected:
  DecoderGate()
      : decoder_(
            std::make_unique<ScriptedBackend>(script_),
            [this](const Frame& f) { frames_.push_back(f); }, clock_.fn()) {
    script_.clock = &clock_;
  }

  // Each step's unit must be submitted (key or not), skipped, dropped or failed, and counted so.
  void run(const std::vector<Step>& steps) {
    for (const Step& s : steps) {
      const DecoderInfo before = decoder_.info();
      std::vector<bool> keys = script_.submittedKeys;
      AccessUnit unit{.bytes = units(s.nals),
                      .randomAccess = s.randomAccess,
                      .corrupt = s.mark == kCorrupt,
                      .discontinuity = s.mark != kWhole};
      const bool ok = decoder_.decode(unit, s.codec);
      const DecoderInfo after = decoder_.info();
      const bool submits = s.outcome == kSubmittedKey || s.outcome == kSubmitted;
      const bool dropped = s.outcome == kDropped, failed = s.outcome == kFailed;
      // The answer, then how far framesOut, skipped, dropped and errors moved.
      EXPECT_EQ((std::vector<std::uint64_t>{
                    ok, after.framesOut - before.framesOut, after.skipped - before.skipped,
                    after.dropped - before.dropped, after.errors - before.errors}),
                (std::vector<std::uint64_t>{!failed, submits, s.outcome == kSkipped || dropped,
                                            dropped, failed}))
          << s.what;
      if (failed) continue;
      if (submits) keys.push_back(s.outcome == kSubmittedKey);
      EXPECT_EQ(script_.submittedKeys, keys) << s.what;
    }
  }

  Script script_;
  ManualClock clock_;
  std::vector<Frame> frames_;
  DecoderCore decoder_;
};

// Guards against opening or submitting before the parameter sets are known, feeding a decoder
// non-key pictures it cannot decode, and counting picture-less units as decoded.
TEST_F(DecoderGate, H264OpensOnParameterSetsAndAnIdrAndSkipsWhatItCannotDecode) {
  run({
      {"slice before any parameter set", {kSlice}, kDropped},
      {"parameter sets alone carry no picture", {kSps, kPps}, kSkipped},
      {"non-key slice opens but is not submitted", {kSlice}, kDropped},
      {"still no key", {kSlice}, kDropped},
      {"IDR", {kIdr}, kSubmittedKey},
      {"SEI only", {kSei}, kSkipped},
      {"slice after the key", {kSlice}, kSubmitted},
      {"in-band parameter sets with an IDR", {kSps, kPps, kIdr}, kSubmittedKey},
  });
  EXPECT_EQ(script_.opens, std::vector<CodecKind>{kCodecH264});
}

// Guards against opening HEVC without a video parameter set, and missing IRAP types but IDR.
TEST_F(DecoderGate, HevcNeedsAVideoParameterSetAndOpensOnAnIrapPicture) {
  run({
      {"no VPS", {kHevcSps, kHevcPps, kHevcIdr}, kSkipped, kCodecHevc},
      {"still no VPS", {kHevcSps, kHevcPps, kHevcIdr}, kSkipped, kCodecHevc},
      {"trailing picture", {kHevcTrail}, kDropped, kCodecHevc},
  });
  EXPECT_TRUE(script_.opens.empty());
  run({
      {"VPS arrives", {kHevcVps, kHevcSps, kHevcPps, kHevcTrail}, kDropped, kCodecHevc},
      {"CRA", {kHevcCra}, kSubmittedKey, kCodecHevc},
      {"trailing picture", {kHevcTrail}, kSubmitted, kCodecHevc},
  });
  EXPECT_EQ(script_.opens, std::vector<CodecKind>{kCodecHevc});
}

// Guards against a codec change fed to the old decoder, or opened by the old codec's sets.
TEST_F(DecoderGate, CodecSwitchReopensAndWaitsForTheNewCodecsParameterSets) {
  run({
      {"H.264 key", {kSps, kPps, kIdr}, kSubmittedKey},
      {"HEVC key", {kHevcVps, kHevcSps, kHevcPps, kHevcIdr}, kSubmittedKey, kCodecHevc},
      {"HEVC trailing", {kHevcTrail}, kSubmitted, kCodecHevc},
      // Back to H.264 with only an IDR: the HEVC sets must not count.
      {"H.264 IDR without its sets", {kIdr}, kSkipped},
      {"H.264 key with sets", {kSps, kPps, kIdr}, kSubmittedKey},
  });
  EXPECT_EQ(script_.opens, (std::vector<CodecKind>{kCodecH264, kCodecHevc, kCodecH264}));
}

// Guards against failures reported as success, non-key pictures submitted after a failure or
// reset, the random-access flag ignored for key pictures that are not IDR, and a reset that
// keeps stale parameter sets.
TEST_F(DecoderGate, FailuresAndResetsWaitForAKeyPictureWhichARandomAccessUnitIs) {
  run({{"key", {kSps, kPps, kIdr}, kSubmittedKey}});
  script_.failSubmit = true;
  run({{"rejected slice", {kSlice}, kFailed}});
  script_.failSubmit = false;
  run({{"slice after failure", {kSlice}, kDropped},
       {"recovery-point slice flagged random access", {kSlice}, kSubmittedKey, kCodecH264, true}});
  script_.failDrain = true;
  run({{"drain fails", {kSlice}, kFailed}});
  script_.failDrain = false;
  run({{"slice after drain failure", {kSlice}, kDropped}});
  // A picture in a layout that cannot be read is a failure, never converted.
  script_.deliverUnreadable = true;
  run({{"unreadable picture", {kIdr}, kFailed}});
  EXPECT_EQ(frames_.size(), 2u);
  script_.deliverUnreadable = false;

  const int closesBefore = script_.closes;
  decoder_.reset();
  EXPECT_GT(script_.closes, closesBefore);
  run({{"IDR without sets after reset", {kIdr}, kSkipped},
       {"key with sets after reset", {kSps, kPps, kIdr}, kSubmittedKey}});
  EXPECT_EQ(script_.opens.size(), 2u);
}

// Guards against a unit the demultiplexer marked damaged reaching the codec library or leaving
// its parameter sets, and pictures after it or a gap decoded from lost references (smears).
TEST_F(DecoderGate, DamagedUnitsAreDroppedAndAfterThemOrAGapOnlyAKeyPictureIsSubmitted) {
  const CodecKind h264 = kCodecH264;
  run({
      {"key", {kSps, kPps, kIdr}, kSubmittedKey},
      {"corrupt slice", {kSlice}, kDropped, h264, false, kCorrupt},
      {"slice after it", {kSlice}, kDropped},
      {"corrupt key", {kIdr}, kDropped, h264, true, kCorrupt},
      {"slice after that", {kSlice}, kDropped},
      {"whole key", {kIdr}, kSubmittedKey},
      {"slice", {kSlice}, kSubmitted},
      {"slice after a gap", {kSlice}, kDropped, h264, false, kAfterGap},
      {"slice after that gap", {kSlice}, kDropped},
      {"key after a gap", {kIdr}, kSubmittedKey, h264, false, kAfterGap},
      {"slice after the key", {kSlice}, kSubmitted},
  });
  decoder_.reset();
  run({{"corrupt unit with sets", {kSps, kPps, kIdr}, kDropped, h264, false, kCorrupt},
       {"its sets were not kept", {kIdr}, kSkipped}});
  EXPECT_EQ(script_.opens.size(), 1u);
}

// A reordering decoder releases a picture while decoding a later unit. Guards against it carrying
// that unit's completedAt (transport time under-reported), and against a decode time measured
// without the drain. Real B-pictures are held to their own units' pts and completedAt by
// expectDisplayOrder, through libavcodec and through Media Foundation.
TEST_F(DecoderGate, ReorderedPicturesCarryTheirOwnUnitsStamps) {
  script_.holdBack = 2;
  script_.drainTakes = 7 * kMillisecond;
  // Decode order I P B B P B B, as an encoder with two B-pictures sends it.
  const std::int64_t decodeOrder[] = {0, 9000, 3000, 6000, 18000, 12000, 15000};
  for (std::size_t i = 0; i < std::size(decodeOrder); ++i) {
    AccessUnit unit{.bytes = i == 0 ? units({kSps, kPps, kIdr}) : units({kSlice}),
                    .pts = decodeOrder[i],
                    .completedAt = clock_.now()};
    clock_.advance(26 * kMillisecond);
    ASSERT_TRUE(decoder_.decode(unit, kCodecH264)) << i;
  }
  EXPECT_DOUBLE_EQ(decoder_.info().lastDecodeMs, 7.0);
  ASSERT_EQ(frames_.size(), 5u);
  // The first picture came out with the third unit, 99 ms after its own: its transport time.
  EXPECT_EQ(std::tuple(frames_[0].pts, frames_[0].decodedAt - frames_[0].receivedAt),
            std::tuple(std::int64_t{0}, 3 * 33 * kMillisecond));
}

// Guards against pictures that cannot be shown failing silently (the Picture line stays
// "connected"), a reason outliving the refused stream, and the pixels of a picture too large
// to take being read.
TEST_F(DecoderGate, RefusedPicturesAreNamedUntilAPictureIsDelivered) {
  struct Case {
    const char* what;
    Script::Picture picture;
    const char* refusal;
  };
  const Case cases[] = {
      {"format the backend cannot describe",
       {PictureRefusal{"4:4:4", 16, 8}, 16, 8, true},
       "unsupported picture format: 4:4:4"},
      {"size refused by the codec library's own limit",
       {PictureRefusal{"", 9000, 8000}, 16, 8, true},
       "picture too large: 9000x8000"},
      {"picture over the area", {std::nullopt, 9000, 8000, true}, "picture too large: 9000x8000"},
  };
  for (const Case& c : cases) {
    script_.picture = c.picture;
    const std::size_t framesBefore = frames_.size();
    run({{c.what, {kSps, kPps, kIdr}, kFailed},
         {"non-key unit while refused", {kSlice}, kDropped}});
    EXPECT_EQ(frames_.size(), framesBefore) << c.what;
    EXPECT_EQ(decoder_.info().refusal, c.refusal) << c.what;

    // A picture that can be shown ends the refusal.
    script_.picture = {};
    run({{"readable key", {kIdr}, kSubmittedKey}});
    EXPECT_EQ(decoder_.info().refusal, "") << c.what;
  }
  // So does a new stream.
  script_.picture.refuse = PictureRefusal{"4:2:2", 16, 8};
  run({{"refused again", {kIdr}, kFailed}});
  decoder_.reset();
  EXPECT_EQ(decoder_.info().refusal, "");
}

// Guards against a decoder that does not open (Windows without its HEVC extension) failing
// silently, its reason blinking out while each key picture retries, or outliving a decoder that
// opens.
TEST_F(DecoderGate, AnOpenFailureIsNamedUntilADecoderOpens) {
  script_.failOpen = true;
  script_.openFailure = "no HEVC decoder";
  const std::vector<Bytes> key{kHevcVps, kHevcSps, kHevcPps, kHevcIdr};
  run({{"no decoder", key, kFailed, kCodecHevc}});
  EXPECT_EQ(decoder_.info().refusal, "no HEVC decoder");
  std::string duringSecondOpen;
  script_.duringOpen = [&] { duringSecondOpen = decoder_.info().refusal; };
  run({{"still no decoder", key, kFailed, kCodecHevc}});
  EXPECT_EQ(duringSecondOpen, "no HEVC decoder");
  EXPECT_EQ(decoder_.info().refusal, "no HEVC decoder");
  script_.failOpen = false;
  run({{"a decoder opens", key, kSubmittedKey, kCodecHevc}});
  EXPECT_EQ(decoder_.info().refusal, "");
}

// Guards against counters the host reads while the receive thread decodes written outside the
// information mutex (ThreadSanitizer), torn or lost.
TEST_F(DecoderGate, InfoIsConsistentWhileAnotherThreadDecodes) {
  constexpr int kUnits = 400;
  std::atomic<bool> done{false};
  std::thread receive([&] {
    for (int i = 0; i < kUnits; ++i) {
      AccessUnit unit{.bytes = units({kSps, kPps, i % 2 == 0 ? kIdr : kSei})};
      decoder_.decode(unit, kCodecH264);
      decoder_.setMaxDimension(i % 3 == 0 ? 8 : 0);
    }
    done = true;
  });
  std::uint64_t lastTotal = 0;
  while (!done) {
    const DecoderInfo info = decoder_.info();
    const std::uint64_t total = info.framesOut + info.skipped + info.errors;
    EXPECT_GE(total, lastTotal);
    lastTotal = total;
  }
  receive.join();
  EXPECT_EQ(std::tuple(decoder_.info().framesOut, decoder_.info().skipped),
            std::tuple(kUnits / 2u, kUnits / 2u));
}

// At 16384 x 16384 a picture is 1 GiB of BGRA, held three times. Guards against a limit on the
// sides only, and against 32-bit overflow of the area.
TEST(PictureSizeLimit, RefusesPicturesOverTheArea) {
  struct Case {
    std::uint32_t w, h;
    bool allowed;
  };
  const Case cases[] = {
      {8192, 8192, true},    {16384, 4096, true}, {8193, 8192, false},
      {16384, 16384, false}, {16385, 1, false},   {1, 16385, false},
      {0, 1080, false},      {1920, 1080, true},  {65536, 65536, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pictureSizeAllowed(c.w, c.h), c.allowed) << c.w << "x" << c.h;
  }
}

// Guards against truncating instead of rounding, odd sides, and the wrong side of portraits.
TEST(OutputSizeRule, LimitsTheLargerSideRoundedToEven) {
  struct Case {
    std::uint32_t w, h, max;
    OutputSize out;
  };
  const Case cases[] = {
      {1920, 1080, 0, {1920, 1080}},   {1920, 1080, 1920, {1920, 1080}},
      {1920, 1080, 1280, {1280, 720}}, {1920, 1080, 1000, {1000, 562}},
      {1080, 1920, 1000, {562, 1000}}, {1279, 719, 1280, {1279, 719}},
      {1281, 721, 1280, {1280, 720}},  {3, 3, 1, {0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outputSize(c.w, c.h, c.max), c.out) << c.w << "x" << c.h << " max " << c.max;
  }
}

// Guards against the limit applied to the frame but not the reported size, or not at all.
TEST_F(DecoderGate, MaxDimensionScalesDeliveredPictures) {
  script_.picture = {.width = 1920, .height = 1080};
  for (const auto& [max, w, h] : {std::tuple{1280u, 1280u, 720u}, std::tuple{1000u, 1000u, 562u},
                                  std::tuple{0u, 1920u, 1080u}}) {
    decoder_.setMaxDimension(max);
    AccessUnit unit{.bytes = units({kSps, kPps, kIdr})};
    ASSERT_TRUE(decoder_.decode(unit, kCodecH264));
    ASSERT_FALSE(frames_.empty());
    const Frame& f = frames_.back();
    const DecoderInfo info = decoder_.info();
    EXPECT_EQ(std::tuple(f.width, f.height, f.stride, info.outputWidth, info.outputHeight),
              std::tuple(w, h, std::uint64_t{w} * 4, w, h));
    // The test pattern is white; scaled pixels are too, alpha opaque.
    const std::uint8_t* last = f.data + (f.height - 1) * f.stride + (f.width - 1) * 4;
    EXPECT_EQ(Bytes(last, last + 4), (Bytes{255, 255, 255, 255}));
  }
  // Changing the limit between pictures updates the reported size at once.
  decoder_.setMaxDimension(1280);
  EXPECT_EQ(std::tuple(decoder_.info().outputWidth, decoder_.info().outputHeight),
            std::tuple(1280u, 720u));
}

}  // namespace
}  // namespace mirandel
