#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "tools/phone/StreamSender.h"
#include "video/SrtReceiver.h"
#include "video/TsDemuxer.h"

namespace mirandel::phone {
namespace {

using std::chrono::milliseconds;
using test::waitFor;

// What the clip's side sees of the emulator's stream: whole SRT messages demultiplexed into
// access units, all on the receive thread.
struct Watcher {
  std::mutex mutex;
  std::vector<std::size_t> messageSizes;                  // guarded by mutex
  std::size_t units = 0, corruptUnits = 0, keyUnits = 0;  // guarded by mutex
  DemuxCounters counters;                                 // guarded by mutex
  CodecKind codec = kCodecNone;                           // guarded by mutex
  TsDemuxer demuxer{[this](AccessUnit& unit) {
    std::lock_guard lock(mutex);
    ++units;
    if (unit.corrupt || unit.discontinuity) ++corruptUnits;
    if (unit.randomAccess) ++keyUnits;
  }};

  SrtReceiver::DataFn data() {
    return [this](const std::uint8_t* p, std::size_t n) {
      demuxer.feed(p, n);
      std::lock_guard lock(mutex);
      messageSizes.push_back(n);
      counters = demuxer.counters();
      codec = demuxer.codec();
    };
  }
  std::size_t unitCount() {
    std::lock_guard lock(mutex);
    return units;
  }
};

// What each side saw, for failure messages.
std::string progress(const StreamSender& sender, const SrtReceiver& receiver, Watcher& watcher) {
  const SenderStats s = sender.stats();
  const ReceiverStatus r = receiver.status();
  return "receiver \"" + r.statusText + "\", " + std::to_string(r.bytesReceived) + " bytes in, " +
         std::to_string(watcher.unitCount()) + " units; sender " + std::to_string(s.picturesSent) +
         " pictures, " + std::to_string(s.bytesSent) + " bytes out, " +
         std::to_string(s.callersConnected) + " callers of " + std::to_string(s.callersAccepted);
}

StreamOptions smallStream(CodecKind codec) {
  StreamOptions o;
  o.encoder.codec = codec;
  o.encoder.width = 320;
  o.encoder.height = 240;
  o.encoder.fps = 30;
  o.encoder.bitrateKbps = 400;
  o.encoder.keyInterval = 15;
  return o;
}

// Guards the emulator's stream format end to end: a caller gets a transport stream of the
// chosen codec in messages of at most seven packets, with one marker-cut unit per picture.
TEST(StreamSender, StreamsMarkedPicturesOfEitherCodecToTheClipsReceiver) {
  for (CodecKind codec : {kCodecH264, kCodecHevc}) {
    SCOPED_TRACE(codec);
    StreamSender sender;
    ASSERT_TRUE(sender.start(smallStream(codec)));
    Watcher watcher;
    SrtReceiver receiver;
    receiver.start("127.0.0.1", 9010, 40, watcher.data(), nullptr);
    ASSERT_TRUE(waitFor([&] { return watcher.unitCount() >= 20; }, milliseconds(8000)))
        << progress(sender, receiver, watcher);
    EXPECT_EQ(sender.stats().callersConnected, 1u);
    receiver.stop();
    std::lock_guard lock(watcher.mutex);
    EXPECT_EQ(watcher.codec, codec);
    EXPECT_EQ(watcher.corruptUnits, 0u);
    EXPECT_GE(watcher.keyUnits, 1u);
    // Every unit was cut by a marker, not by the next picture's header.
    EXPECT_EQ(watcher.counters.markers, watcher.counters.auCount);
    for (std::size_t n : watcher.messageSizes) {
      EXPECT_EQ(n % 188, 0u);
      EXPECT_LE(n, 7u * 188);
    }
    EXPECT_GE(sender.stats().picturesSent, 20u);  // every unit received was sent
    EXPECT_GT(sender.stats().bytesSent, 0u);
  }
}

// Guards the fault injection the recovery tests depend on: each kind of damage must reach the
// demultiplexer as the damage it claims to be.
TEST(StreamSender, InjectedFaultsShowUpAsContinuityErrors) {
  for (PacketFault fault :
       {PacketFault::Drop, PacketFault::TransportError, PacketFault::ContinuityJump}) {
    StreamSender sender;
    ASSERT_TRUE(sender.start(smallStream(kCodecH264)));
    Watcher watcher;
    SrtReceiver receiver;
    receiver.start("127.0.0.1", 9010, 40, watcher.data(), nullptr);
    ASSERT_TRUE(waitFor([&] { return watcher.unitCount() >= 5; }, milliseconds(8000)))
        << progress(sender, receiver, watcher);
    sender.injectFault(fault, 1);
    EXPECT_TRUE(waitFor([&] {
      std::lock_guard lock(watcher.mutex);
      return watcher.counters.continuityErrors >= 1 && watcher.corruptUnits >= 1;
    }));
    EXPECT_GE(sender.stats().faultsInjected, 1u);
  }
}

// Guards pause: while paused nothing is sent but the caller stays connected.
TEST(StreamSender, PauseStopsPicturesButKeepsTheCaller) {
  StreamSender sender;
  ASSERT_TRUE(sender.start(smallStream(kCodecH264)));
  Watcher watcher;
  SrtReceiver receiver;
  receiver.start("127.0.0.1", 9010, 40, watcher.data(), nullptr);
  ASSERT_TRUE(waitFor([&] { return watcher.unitCount() >= 3; }, milliseconds(8000)));
  sender.pause(true);
  const auto sentAtPause = sender.stats().picturesSent;
  EXPECT_FALSE(
      waitFor([&] { return sender.stats().picturesSent > sentAtPause + 1; }, milliseconds(600)));
  EXPECT_TRUE(receiver.status().connected);
  sender.pause(false);
  EXPECT_TRUE(waitFor([&] { return sender.stats().picturesSent > sentAtPause + 3; }));
}

}  // namespace
}  // namespace mirandel::phone
