#pragma once
// The emulator's live stream: an SRT listener (live mode, no passphrase) that sends every
// caller a real encoded moving test pattern as MPEG-TS, paced at the frame rate, seven packets
// per SRT message, with optional damage injected into the video packets.
#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "tools/phone/TsMuxer.h"
#include "tools/phone/VideoEncoder.h"

namespace mirandel::phone {

enum class PacketFault { Drop, Duplicate, Corrupt, TransportError, ContinuityJump };

// Chances per video packet, 0 to 1.
struct FaultRates {
  double drop = 0, duplicate = 0, corrupt = 0, transportError = 0, continuityJump = 0;
};

struct StreamOptions {
  int port = 9010;
  EncoderOptions encoder;  // codec, size, frame rate, bit rate, key interval
  bool markers = true;     // end-of-picture marker after each picture
  bool boundedPes = false;
  bool secondStamp = false;  // the stamp in the bottom-right corner too (TestPattern.h)
  // A still patch of one 8-bit Y, U, V colour over the middle half of the picture (both
  // sides), where the pattern would move: what a receiver's conversion of a solid colour can
  // be read from.
  std::optional<std::array<std::uint8_t, 3>> centrePatch;
  FaultRates faults;
  std::uint32_t faultSeed = 1;
};

// What the stream sent for one picture, before any injected damage: a test's decoder checks the
// units it is given against it.
struct SentPicture {
  std::int64_t pts90k = 0;
  std::uint64_t digest = 0;  // pictureDigest of the coded picture's Annex-B bytes
  bool key = false;
  std::int64_t previousPts = -1;  // the picture sent before this one; -1 for the first
};

// FNV-1a (64 bits) of a coded picture.
std::uint64_t pictureDigest(const std::uint8_t* data, std::size_t size);

struct SenderStats {
  std::uint64_t picturesSent = 0;
  std::uint64_t bytesSent = 0;
  std::uint64_t callersConnected = 0;  // now
  std::uint64_t callersAccepted = 0;   // since start
  std::uint64_t faultsInjected = 0;
};

class StreamSender {
 public:
  StreamSender();
  ~StreamSender();
  StreamSender(const StreamSender&) = delete;
  StreamSender& operator=(const StreamSender&) = delete;

  // Opens the encoder and the listener and starts the accept and stream threads; stops a
  // running stream first. Answers false (nothing running) when either cannot be opened.
  // Control thread.
  bool start(const StreamOptions& options);
  // Idempotent; closes every connection and joins both threads. Control thread.
  void stop();
  // While paused nothing is encoded or sent; the connections stay open, and new callers are
  // taken in and get a key picture first once it resumes. A pause set before start() holds from
  // the start. Any thread.
  void pause(bool paused);
  // Damages the next `count` video packets with `fault`. Any thread.
  void injectFault(PacketFault fault, int count = 1);
  // Any thread.
  SenderStats stats() const;
  // The picture with this PTS among the last 600 sent; nullopt when unknown. Any thread.
  std::optional<SentPicture> sentPicture(std::int64_t pts90k) const;
  bool running() const { return running_.load(); }

 private:
  void acceptLoop();
  void streamLoop();
  void sendPicture(const EncodedPicture& picture);
  // Applies queued and random faults to one 188-byte video packet; appends the result.
  void emitPacket(const std::uint8_t* packet, std::vector<std::uint8_t>& out);
  void sendToCallers(const std::uint8_t* data, std::size_t size);

  StreamOptions options_;  // written by start before the threads exist
  std::atomic<bool> running_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> paused_{false};
  std::atomic<int> listener_{-1};
  std::thread acceptThread_;
  std::thread streamThread_;

  // Stream thread only.
  std::unique_ptr<VideoEncoder> encoder_;
  std::unique_ptr<TsMuxer> muxer_;
  std::mt19937 random_;
  std::vector<std::uint8_t> muxed_, damaged_;

  mutable std::mutex mutex_;
  std::vector<int> callers_;               // guarded by mutex_
  bool callerJoined_ = false;              // guarded by mutex_; forces a key picture
  std::vector<PacketFault> queuedFaults_;  // guarded by mutex_
  SenderStats stats_;                      // guarded by mutex_
  std::deque<SentPicture> sent_;           // guarded by mutex_; oldest first
};

}  // namespace mirandel::phone
