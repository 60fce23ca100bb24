#include "tools/phone/StreamSender.h"

#include <srt/srt.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <chrono>
#include <cstring>
#include <exception>

#include "video/SrtStartup.h"

namespace mirandel::phone {

namespace {

constexpr std::size_t kPacket = TsMuxer::kPacketSize;
constexpr std::size_t kPacketsPerMessage = 7;
constexpr int kAcceptWaitMs = 100;
constexpr std::size_t kSentRecords = 600;  // 20 s at 30 fps

std::uint64_t steadyMicros() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// The middle half of both sides, in whole chroma samples.
void drawCentrePatch(const std::array<std::uint8_t, 3>& yuv, YuvPicture& picture) {
  const int cw = picture.width / 2, ch = picture.height / 2;
  for (int cy = ch / 4; cy < ch - ch / 4; ++cy) {
    for (int cx = cw / 4; cx < cw - cw / 4; ++cx) {
      picture.u[static_cast<std::size_t>(cy) * cw + cx] = yuv[1];
      picture.v[static_cast<std::size_t>(cy) * cw + cx] = yuv[2];
      for (int dy = 0; dy < 2; ++dy) {
        std::uint8_t* row =
            picture.y.data() + static_cast<std::size_t>(2 * cy + dy) * picture.width;
        row[2 * cx] = row[2 * cx + 1] = yuv[0];
      }
    }
  }
}

}  // namespace

std::uint64_t pictureDigest(const std::uint8_t* data, std::size_t size) {
  std::uint64_t h = 14695981039346656037ull;
  for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
  return h;
}

StreamSender::StreamSender() { startSrtOnce(); }

StreamSender::~StreamSender() { stop(); }

bool StreamSender::start(const StreamOptions& options) {
  stop();
  options_ = options;
  try {
    encoder_ = std::make_unique<VideoEncoder>(options.encoder);
  } catch (const std::exception&) {
    return false;
  }
  TsMuxerOptions mux;
  mux.codec = options.encoder.codec;
  mux.markers = options.markers;
  mux.boundedPes = options.boundedPes;
  muxer_ = std::make_unique<TsMuxer>(mux);
  random_.seed(options.faultSeed);

  const SRTSOCKET l = srt_create_socket();
  // Non-blocking accept (see acceptLoop). Accepted callers inherit it, which only concerns
  // receiving; sending stays blocking.
  const int no = 0;
  if (l != SRT_INVALID_SOCK) srt_setsockopt(l, 0, SRTO_RCVSYN, &no, sizeof no);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(options.port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (l == SRT_INVALID_SOCK ||
      srt_bind(l, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SRT_ERROR ||
      srt_listen(l, 4) == SRT_ERROR) {
    if (l != SRT_INVALID_SOCK) srt_close(l);
    return false;
  }
  listener_ = l;
  {
    std::lock_guard lock(mutex_);
    stats_ = SenderStats{};
    queuedFaults_.clear();
    sent_.clear();
  }
  stopRequested_ = false;
  running_ = true;
  acceptThread_ = std::thread([this] { acceptLoop(); });
  streamThread_ = std::thread([this] { streamLoop(); });
  return true;
}

void StreamSender::stop() {
  stopRequested_ = true;
  const int l = listener_.exchange(-1);
  if (l >= 0) srt_close(l);
  if (acceptThread_.joinable()) acceptThread_.join();
  if (streamThread_.joinable()) streamThread_.join();
  std::vector<int> callers;
  {
    std::lock_guard lock(mutex_);
    callers.swap(callers_);
    stats_.callersConnected = 0;
  }
  for (int s : callers) srt_close(s);
  running_ = false;
}

void StreamSender::pause(bool paused) { paused_ = paused; }

void StreamSender::injectFault(PacketFault fault, int count) {
  std::lock_guard lock(mutex_);
  for (int i = 0; i < count; ++i) queuedFaults_.push_back(fault);
}

SenderStats StreamSender::stats() const {
  std::lock_guard lock(mutex_);
  return stats_;
}

std::optional<SentPicture> StreamSender::sentPicture(std::int64_t pts90k) const {
  std::lock_guard lock(mutex_);
  for (auto it = sent_.rbegin(); it != sent_.rend(); ++it) {
    if (it->pts90k == pts90k) return *it;
  }
  return std::nullopt;
}

// Accept thread. The library signals a listener's readiness only to the epolls subscribed at
// the moment a caller is queued, so a caller that completed its handshake before this thread
// subscribed would never wake it. Each wake-up or 100 ms slice therefore accepts everything
// queued, with the listener non-blocking; the epoll only shortens the wait.
void StreamSender::acceptLoop() {
  const int eid = srt_epoll_create();
  int events = SRT_EPOLL_IN | SRT_EPOLL_ERR;
  srt_epoll_add_usock(eid, listener_.load(), &events);
  while (!stopRequested_) {
    SRT_EPOLL_EVENT ready[1];
    if (srt_epoll_uwait(eid, ready, 1, kAcceptWaitMs) < 0 &&
        srt_getlasterror(nullptr) != SRT_ETIMEOUT) {
      // The listener is gone from the epoll (stop closed it): do not spin until the flag shows.
      std::this_thread::sleep_for(std::chrono::milliseconds(kAcceptWaitMs));
    }
    for (;;) {
      const int l = listener_.load();
      if (l < 0) break;
      sockaddr_storage from{};
      int length = sizeof from;
      const SRTSOCKET s = srt_accept(l, reinterpret_cast<sockaddr*>(&from), &length);
      if (s == SRT_INVALID_SOCK) break;
      std::lock_guard lock(mutex_);
      callers_.push_back(s);
      callerJoined_ = true;
      stats_.callersConnected = callers_.size();
      ++stats_.callersAccepted;
    }
  }
  srt_epoll_release(eid);
}

// Stream thread: one picture per frame period while someone is watching and not paused.
void StreamSender::streamLoop() {
  using Clock = std::chrono::steady_clock;
  const auto period = std::chrono::nanoseconds(1'000'000'000LL / options_.encoder.fps);
  auto next = Clock::now();
  std::int64_t index = 0;
  YuvPicture picture;
  std::vector<EncodedPicture> coded;
  while (!stopRequested_) {
    next += period;
    std::this_thread::sleep_until(next);
    if (Clock::now() - next > 4 * period) next = Clock::now();  // do not race to catch up
    if (paused_) continue;  // a caller that joined meanwhile still gets its key picture
    bool forceKey = false;
    {
      std::lock_guard lock(mutex_);
      if (callers_.empty()) continue;
      forceKey = callerJoined_;
      callerJoined_ = false;
    }
    const Stamp stamp{static_cast<std::uint32_t>(index), steadyMicros()};
    renderTestPattern(stamp, options_.encoder.width, options_.encoder.height, picture,
                      options_.secondStamp);
    if (options_.centrePatch) drawCentrePatch(*options_.centrePatch, picture);
    coded.clear();
    if (!encoder_->encode(picture, index, forceKey, coded)) continue;
    ++index;
    for (const EncodedPicture& p : coded) sendPicture(p);
  }
}

// Stream thread.
void StreamSender::sendPicture(const EncodedPicture& picture) {
  const std::uint64_t digest = pictureDigest(picture.bytes.data(), picture.bytes.size());
  {
    std::lock_guard lock(mutex_);
    const std::int64_t previous = sent_.empty() ? -1 : sent_.back().pts90k;
    sent_.push_back({picture.pts90k, digest, picture.key, previous});
    if (sent_.size() > kSentRecords) sent_.pop_front();
  }
  muxed_.clear();
  muxer_->muxPicture(picture.bytes.data(), picture.bytes.size(), picture.pts90k, picture.key,
                     muxed_);
  damaged_.clear();
  for (std::size_t i = 0; i + kPacket <= muxed_.size(); i += kPacket) {
    emitPacket(muxed_.data() + i, damaged_);
  }
  const std::size_t message = kPacket * kPacketsPerMessage;
  for (std::size_t i = 0; i < damaged_.size(); i += message) {
    sendToCallers(damaged_.data() + i, std::min(message, damaged_.size() - i));
  }
  std::lock_guard lock(mutex_);
  ++stats_.picturesSent;
}

// Stream thread.
void StreamSender::emitPacket(const std::uint8_t* packet, std::vector<std::uint8_t>& out) {
  const int pid = ((packet[1] & 0x1F) << 8) | packet[2];
  bool faulted = false;
  PacketFault fault = PacketFault::Drop;
  if (pid == 0x100) {
    {
      std::lock_guard lock(mutex_);
      if (!queuedFaults_.empty()) {
        fault = queuedFaults_.front();
        queuedFaults_.erase(queuedFaults_.begin());
        faulted = true;
      }
    }
    const FaultRates& r = options_.faults;
    std::uniform_real_distribution<double> chance(0, 1);
    const std::pair<double, PacketFault> kinds[] = {
        {r.drop, PacketFault::Drop},
        {r.duplicate, PacketFault::Duplicate},
        {r.corrupt, PacketFault::Corrupt},
        {r.transportError, PacketFault::TransportError},
        {r.continuityJump, PacketFault::ContinuityJump}};
    for (const auto& [rate, kind] : kinds) {
      if (!faulted && rate > 0 && chance(random_) < rate) {
        fault = kind;
        faulted = true;
      }
    }
  }
  if (!faulted) {
    out.insert(out.end(), packet, packet + kPacket);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    ++stats_.faultsInjected;
  }
  if (fault == PacketFault::Drop) return;
  const std::size_t at = out.size();
  out.insert(out.end(), packet, packet + kPacket);
  std::uint8_t* p = out.data() + at;
  switch (fault) {
    case PacketFault::Duplicate:
      out.insert(out.end(), p, p + kPacket);
      break;
    case PacketFault::Corrupt:
      for (std::size_t i = kPacket - 16; i < kPacket; ++i) p[i] ^= 0xA5;
      break;
    case PacketFault::TransportError:
      p[1] |= 0x80;
      break;
    case PacketFault::ContinuityJump:
      p[3] = static_cast<std::uint8_t>((p[3] & 0xF0) | ((p[3] + 5) & 0x0F));
      break;
    case PacketFault::Drop:
      break;
  }
}

// Stream thread. A caller whose send fails is closed and forgotten.
void StreamSender::sendToCallers(const std::uint8_t* data, std::size_t size) {
  std::vector<int> callers;
  {
    std::lock_guard lock(mutex_);
    callers = callers_;
  }
  std::vector<int> failed;
  std::uint64_t sent = 0;
  for (int s : callers) {
    if (srt_sendmsg2(s, reinterpret_cast<const char*>(data), static_cast<int>(size), nullptr) ==
        SRT_ERROR) {
      failed.push_back(s);
    } else {
      sent += size;
    }
  }
  for (int s : failed) srt_close(s);
  std::lock_guard lock(mutex_);
  stats_.bytesSent += sent;
  for (int s : failed) std::erase(callers_, s);
  stats_.callersConnected = callers_.size();
}

}  // namespace mirandel::phone
