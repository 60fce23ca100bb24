#include "video/VideoStream.h"

#include <exception>
#include <utility>

namespace mirandel {
namespace {
constexpr std::size_t kFrameTimes = 240;
}

VideoStream::VideoStream(ClockFn clock, DecoderFactory makeDecoderFn)
    : clock_(std::move(clock)), makeDecoder_(std::move(makeDecoderFn)), receiver_(clock_) {
  if (!makeDecoder_) {
    ClockFn c = clock_;
    makeDecoder_ = [c](FrameCallback onFrame) { return makeDecoder(std::move(onFrame), c); };
  }
}

VideoStream::~VideoStream() { stop(); }

bool VideoStream::start(const StreamConfig& config, FrameCallback onFrame, std::string* failure) {
  stop();
  config_ = config;
  onFrame_ = std::move(onFrame);
  {
    MutexLock lock(mutex_);
    demuxCounters_ = {};
    codec_ = kCodecNone;
    droppedUnits_ = 0;
    frameTimes_.clear();
    hasFrames_ = false;
    connected_ = false;
    connections_ = 0;
    transportMs_ = 0;
  }
  // This runs inside a host call: whatever fails here (no thread to be had, no decoder) is
  // answered, never thrown, and leaves the pipeline stopped for the caller to try again.
  std::string reason = "no decoder";
  try {
    demuxer_ = std::make_unique<TsDemuxer>([this](AccessUnit& u) { handleAccessUnit(u); }, clock_);
    decoder_ = makeDecoder_([this](const Frame& f) { handleFrame(f); });
    if (decoder_) {
      decoder_->setMaxDimension(config.maxDimension);
      receiver_.start(
          config.host, config.port, config.latencyMs,
          [this](const std::uint8_t* b, std::size_t n) { handleData(b, n); },
          [this](bool c) { handleState(c); }, [this] { handleLoss(); });
      return true;
    }
  } catch (const std::exception& e) {
    reason = e.what();
  }
  demuxer_.reset();
  decoder_.reset();
  if (failure) *failure = std::move(reason);
  return false;
}

void VideoStream::stop() {
  receiver_.stop();
  if (decoder_) {
    const std::uint64_t dropped = decoder_->info().dropped;
    MutexLock lock(mutex_);
    droppedUnits_ = dropped;
  }
  demuxer_.reset();
  decoder_.reset();
}

void VideoStream::handleData(const std::uint8_t* bytes, std::size_t length) {
  if (demuxer_) demuxer_->feed(bytes, length);
}

void VideoStream::handleState(bool connected) {
  if (connected) {
    // A new connection starts a new stream: tables, codec and decoder state
    // of the old one mean nothing for it.
    if (demuxer_) demuxer_->reset();
    if (decoder_) decoder_->reset();
  } else if (decoder_) {
    // The codec library's decoder is let go here, on the thread that made it, at the end of
    // every session and so before this thread ends: a Media Foundation transform made for
    // this thread's COM apartment would be reached from the host's thread only through a
    // proxy, and flushing it from there could hang the join in stop().
    decoder_->reset();
  }
  const Nanos now = clock_();
  MutexLock lock(mutex_);
  if (demuxer_) demuxCounters_ = demuxer_->counters();
  connected_ = connected;
  if (connected) {
    // Pictures of an earlier connection say nothing about this one: a phone application
    // that restarted may be listening without streaming until it is asked.
    hasFrames_ = false;
    connectedAt_ = now;
    ++connections_;
  }
}

void VideoStream::handleLoss() {
  if (demuxer_) demuxer_->noteLoss();
}

void VideoStream::handleAccessUnit(AccessUnit& unit) {
  const CodecKind codec = demuxer_->codec();
  {
    MutexLock lock(mutex_);
    demuxCounters_ = demuxer_->counters();
    codec_ = codec;
  }
  // The decoder keeps damaged units from the codec library and waits for a key picture after
  // them, after a gap and after a failure.
  decoder_->decode(unit, codec);
}

void VideoStream::handleFrame(const Frame& frame) {
  {
    MutexLock lock(mutex_);
    frameTimes_.push_back(frame.decodedAt);
    while (frameTimes_.size() > kFrameTimes) frameTimes_.pop_front();
    hasFrames_ = true;
    lastFrameAt_ = frame.decodedAt;
    transportMs_ = static_cast<double>(frame.decodedAt - frame.receivedAt) / 1e6;
  }
  if (onFrame_) onFrame_(frame);
}

StreamStats VideoStream::stats() const {
  StreamStats s;
  static_cast<ReceiverStatus&>(s) = receiver_.status();
  if (decoder_) s.decoderInfo = decoder_->info();
  const Nanos now = clock_();
  MutexLock lock(mutex_);
  s.demuxCounters = demuxCounters_;
  s.codec = codec_;
  s.droppedUnits = decoder_ ? s.decoderInfo.dropped : droppedUnits_;
  while (!frameTimes_.empty() && frameTimes_.front() < now - kSecond) frameTimes_.pop_front();
  s.fps = static_cast<double>(frameTimes_.size());
  s.hasFrames = hasFrames_;
  s.msSinceLastFrame = hasFrames_ ? static_cast<double>(now - lastFrameAt_) / 1e6 : 0.0;
  s.connections = connections_;
  if (connected_) {
    const Nanos since = hasFrames_ ? lastFrameAt_ : connectedAt_;
    s.msWithoutPicture = static_cast<double>(now - since) / 1e6;
  }
  s.transportMs = transportMs_;
  return s;
}

}  // namespace mirandel
