#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "support/TestStream.h"
#include "support/TestSupport.h"
#include "video/AnnexB.h"
#include "video/DecoderCore.h"
#include "video/LavcDecoder.h"
#include "video/VideoStream.h"

namespace mirandel {
namespace {

using phone::PacketFault;
using phone::StreamSender;
using std::chrono::milliseconds;
using test::smallStream;
using test::waitFor;

constexpr std::int64_t kPtsPerPicture = 90000 / 30;

// The clip's side of the hand-off: keeps what it needs of each picture, on the receive thread.
struct FrameSink {
  std::atomic<std::size_t> frames{0};
  std::atomic<std::uint32_t> width{0}, height{0};  // of the last picture

  FrameCallback callback() {
    return [this](const Frame& f) {
      width = f.width;
      height = f.height;
      ++frames;
    };
  }
};

// What the codec library was given, in order; shared by the backends a factory makes.
struct DecodeLog {
  struct Entry {
    bool corrupt, key;
    std::int64_t pts;
    bool failed;  // the backend rejected it
  };
  std::mutex mutex;
  std::vector<Entry> entries;  // guarded by mutex
  std::atomic<bool> failNext{false};
  // A backend was closed holding a decoder on a thread other than the one that opened it.
  std::atomic<bool> destroyedHolding{false};

  std::vector<Entry> copy() {
    std::lock_guard lock(mutex);
    return entries;
  }
};

// The platform's codec library under its decoder core, with every unit it is handed recorded;
// can be told to reject one.
class RecordingBackend : public DecoderBackend {
 public:
  explicit RecordingBackend(std::shared_ptr<DecodeLog> log) : log_(std::move(log)) {}
  bool open(CodecKind codec) override {
    codec_ = codec;
    openedOn_ = std::this_thread::get_id();
    holding_ = true;
    return inner_->open(codec);
  }
  void close() override {
    if (holding_ && std::this_thread::get_id() != openedOn_) log_->destroyedHolding = true;
    holding_ = false;
    inner_->close();
  }
  bool submit(const AccessUnit& unit, bool key) override {
    const DecodeLog::Entry e{
        unit.corrupt,
        unit.randomAccess || holdsKeyPicture(unit.bytes.data(), unit.bytes.size(), codec_),
        unit.pts, log_->failNext.exchange(false)};
    std::lock_guard lock(log_->mutex);
    log_->entries.push_back(e);
    return !e.failed && inner_->submit(unit, key);
  }
  bool drain(PictureSink& sink) override { return inner_->drain(sink); }
  bool hardware() const override { return inner_->hardware(); }

 private:
  std::shared_ptr<DecodeLog> log_;
  std::unique_ptr<DecoderBackend> inner_ = makeLavcBackend();
  CodecKind codec_ = kCodecNone;
  std::thread::id openedOn_;
  bool holding_ = false;
};

// One phone's stream from start to stop, damaged on the way. Guards against broken wiring
// receiver -> demultiplexer -> decoder -> sink (wrong size, codec or statistics), an emulator
// that strays from the phone's format (unaligned messages, continuity errors, units cut without a
// marker), an fps figure that is a running total; a damaged unit reaching the codec library, a
// non-key unit after lost units (a pts gap) or a failed decode, no decoding after, emulator
// faults that miss the demultiplexer; hasFrames cleared while the phone is gone, an uncounted
// reconnect or no pictures after it; a decoder destroyed holding its codec on the host's thread
// (an MF transform can hang), and a stop (the clip's destructor, every restart) that is slow,
// loses the statistics, delivers pictures afterwards or is not repeatable.
TEST(VideoStream, HandsPicturesOnResumesAfterDamageAtAKeyPictureSurvivesASenderRestartAndStops) {
  auto log = std::make_shared<DecodeLog>();
  StreamSender sender;
  ASSERT_TRUE(sender.start(smallStream(kCodecH264)));
  FrameSink sink;
  VideoStream stream(steadyClock(), [log](FrameCallback onFrame) {
    return std::make_unique<DecoderCore>(std::make_unique<RecordingBackend>(log),
                                         std::move(onFrame), steadyClock());
  });
  stream.start({.host = "127.0.0.1"}, sink.callback());
  ASSERT_TRUE(waitFor([&] { return sink.frames >= 1; }, milliseconds(8000)))
      << stream.stats().statusText;
  ASSERT_TRUE(waitFor([&] { return sink.frames >= 40; }, milliseconds(4000)));
  double fps = 0;
  EXPECT_TRUE(waitFor(
      [&] {
        fps = stream.stats().fps;
        return fps >= 25 && fps <= 32;
      },
      milliseconds(3000), milliseconds(50)))
      << fps;
  const StreamStats s = stream.stats();
  const DemuxCounters& n = s.demuxCounters;
  EXPECT_EQ(
      std::tuple(s.codec, n.markers, n.syncLosses, n.continuityErrors, s.decoderInfo.outputWidth,
                 s.decoderInfo.outputHeight, std::pair(sink.width.load(), sink.height.load())),
      std::tuple(kCodecH264, n.auCount, 0u, 0u, 320u, 240u, std::pair(320u, 240u)));

  struct Damage {
    const char* what;
    PacketFault fault;
    int packets;
    bool decoderFails;      // instead of damaged packets
    bool breaksContinuity;  // the demultiplexer must count it
  };
  const Damage damages[] = {
      {"lost packets", PacketFault::Drop, 3, false, true},
      {"transport errors", PacketFault::TransportError, 2, false, true},
      {"continuity jump", PacketFault::ContinuityJump, 1, false, true},
      {"duplicated packet", PacketFault::Duplicate, 1, false, false},
      {"failed decode", PacketFault::Drop, 0, true, false},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    const std::size_t from = log->copy().size();
    const std::uint64_t errorsBefore = stream.stats().demuxCounters.continuityErrors;
    if (d.decoderFails) {
      log->failNext = true;
    } else {
      sender.injectFault(d.fault, d.packets);
    }
    // Two key pictures later the damage has certainly passed and decoding has resumed.
    ASSERT_TRUE(waitFor(
        [&] {
          const auto e = log->copy();
          return std::count_if(e.begin() + from, e.end(), [](auto& x) { return x.key; }) >= 2;
        },
        milliseconds(5000)));
    if (d.breaksContinuity) {
      EXPECT_GT(stream.stats().demuxCounters.continuityErrors, errorsBefore);
    }
  }

  sender.stop();
  ASSERT_TRUE(waitFor([&] { return !stream.stats().connected; }, milliseconds(8000)))
      << stream.stats().statusText;
  EXPECT_TRUE(stream.stats().hasFrames);
  ASSERT_TRUE(sender.start(smallStream(kCodecH264)));
  const std::size_t before = sink.frames;
  ASSERT_TRUE(waitFor([&] { return sink.frames >= before + 5; }, milliseconds(8000)))
      << stream.stats().statusText;
  EXPECT_EQ(stream.stats().reconnects, 1u);

  const auto t = std::chrono::steady_clock::now();
  stream.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t, milliseconds(500));
  const StreamStats stopped = stream.stats();
  EXPECT_EQ(std::tuple(stopped.statusText, stopped.hasFrames, stopped.reconnects),
            std::tuple("stopped", true, 1u));
  EXPECT_GE(stopped.demuxCounters.auCount, s.demuxCounters.auCount);
  EXPECT_GE(stopped.droppedUnits, 1u);
  const std::size_t frames = sink.frames;
  stream.stop();
  EXPECT_EQ(sink.frames.load(), frames);

  EXPECT_FALSE(log->destroyedHolding) << "released on the host's thread";
  const auto e = log->copy();  // forty at least, as waited for
  EXPECT_TRUE(e.front().key);
  bool sawGap = false;
  for (std::size_t i = 0; i < e.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(e[i].corrupt);
    if (i == 0) continue;
    const bool gap = e[i].pts - e[i - 1].pts > kPtsPerPicture;
    sawGap = sawGap || gap;
    if (gap || e[i - 1].failed) {
      EXPECT_TRUE(e[i].key) << "pts " << e[i].pts;
    }
  }
  EXPECT_TRUE(sawGap);
}

}  // namespace
}  // namespace mirandel
