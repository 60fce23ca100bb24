#pragma once
// One clip's video pipeline: SRT receiver -> transport-stream demultiplexer ->
// decoder -> the clip's frame sink, all on the receive thread with no queue
// in between, plus the statistics the clip's status line shows.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "base/Clock.h"
#include "base/ThreadSafety.h"
#include "video/AccessUnit.h"
#include "video/Decoder.h"
#include "video/SrtReceiver.h"
#include "video/StreamConfig.h"
#include "video/TsDemuxer.h"

namespace mirandel {

// The receiver's link state and counters, and the pipeline's own.
struct StreamStats : ReceiverStatus {
  DemuxCounters demuxCounters;
  DecoderInfo decoderInfo;
  CodecKind codec = kCodecNone;
  std::uint64_t droppedUnits = 0;  // the decoder's `dropped`, kept when it is stopped
  double fps = 0;                  // pictures decoded within the last second
  // A picture was decoded on the current connection, or on the last one while the link is
  // down; false again at each new connection.
  bool hasFrames = false;
  double msSinceLastFrame = 0;
  std::uint64_t connections = 0;  // connects since the pipeline started
  // While connected: since the last picture, or since the connection when none came on it.
  // 0 while not connected.
  double msWithoutPicture = 0;
  double transportMs = 0;
};

// Makes the decoder of a pipeline start; tests substitute their own. A null
// answer or an exception makes that start fail.
using DecoderFactory = std::function<std::unique_ptr<Decoder>(FrameCallback)>;

class VideoStream {
 public:
  explicit VideoStream(ClockFn clock = steadyClock(), DecoderFactory makeDecoder = {});
  ~VideoStream();
  VideoStream(const VideoStream&) = delete;
  VideoStream& operator=(const VideoStream&) = delete;

  // Host thread. (Re)starts the pipeline; a running one is stopped (its
  // thread joined) first. onFrame runs on the receive thread and must copy
  // what it needs before returning. Never throws: when the pipeline cannot
  // start (no thread or no decoder to be had) it answers false, stays
  // stopped and puts a short reason into `failure` when given.
  bool start(const StreamConfig& config, FrameCallback onFrame, std::string* failure = nullptr);
  // Host thread. Joins the receive thread, which never waits on a name
  // server, so this is bounded; statistics keep their values. The codec
  // library's decoder has been released on the receive thread by then.
  void stop();
  // Host thread.
  StreamStats stats() const;
  const StreamConfig& config() const { return config_; }

 private:
  // Receive thread.
  void handleData(const std::uint8_t* bytes, std::size_t length);
  void handleState(bool connected);
  void handleLoss();
  void handleAccessUnit(AccessUnit& unit);
  void handleFrame(const Frame& frame);

  ClockFn clock_;
  DecoderFactory makeDecoder_;
  StreamConfig config_;
  FrameCallback onFrame_;
  SrtReceiver receiver_;
  // Replaced only while the receive thread is stopped; used only on it.
  std::unique_ptr<TsDemuxer> demuxer_;
  std::unique_ptr<Decoder> decoder_;

  mutable Mutex mutex_;
  DemuxCounters demuxCounters_ GUARDED_BY(mutex_);
  CodecKind codec_ GUARDED_BY(mutex_) = kCodecNone;
  // The decoder's count as it stood at the last stop, 0 from a start until then.
  std::uint64_t droppedUnits_ GUARDED_BY(mutex_) = 0;
  // At most 240, oldest first.
  mutable std::deque<Nanos> frameTimes_ GUARDED_BY(mutex_);
  bool hasFrames_ GUARDED_BY(mutex_) = false;
  Nanos lastFrameAt_ GUARDED_BY(mutex_) = 0;
  bool connected_ GUARDED_BY(mutex_) = false;
  Nanos connectedAt_ GUARDED_BY(mutex_) = 0;
  std::uint64_t connections_ GUARDED_BY(mutex_) = 0;
  double transportMs_ GUARDED_BY(mutex_) = 0;
};

}  // namespace mirandel
