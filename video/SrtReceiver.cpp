#include "video/SrtReceiver.h"

#include "base/ShownTexts.h"

#include <srt/srt.h>

#include <chrono>
#include <system_error>
#include <utility>
#include <vector>

#include "video/SrtStartup.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

namespace mirandel {

namespace {

constexpr int kReceiveBufferSize = 1500;
constexpr int kConnectTimeoutMs = 3000;
constexpr int kReceiveTimeoutMs = 250;
constexpr Nanos kStatisticsInterval = 500 * kMillisecond;
// The library gives up on a silent peer after its peer idle timeout (5 s by default).
constexpr Nanos kSilenceBeforeLoss = 4 * kSecond;
constexpr int kConnectWaitSliceMs = 100;
constexpr int kPauseSlices = 10;
constexpr std::int32_t kMaxSequence = 0x7FFFFFFF;  // packet numbers wrap to 0 after this
constexpr auto kPauseSlice = std::chrono::milliseconds(100);

// The receiver whose session loop runs on this thread. stop() asks this instead of the thread
// handle, which start() may still be writing when a fast first callback calls stop().
thread_local const SrtReceiver* tlsSessionOf = nullptr;

void setIntOption(SRTSOCKET s, SRT_SOCKOPT option, int value) {
  // Results are deliberately unchecked: a refused option leaves the library's default.
  srt_setsockopt(s, 0, option, &value, sizeof value);
}

// Receive thread. Waits for a non-blocking connect in slices so that a stop, which closes the
// published socket, ends the wait at once. The library's connect timeout still applies.
bool connectUnlessStopped(SRTSOCKET s, const sockaddr_in& address,
                          const std::atomic<bool>& stopRequested, std::string& error) {
  if (srt_connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SRT_ERROR) {
    error = srt_getlasterror_str();
    return false;
  }
  const int eid = srt_epoll_create();
  int events = SRT_EPOLL_OUT | SRT_EPOLL_ERR;
  srt_epoll_add_usock(eid, s, &events);
  bool connected = false;
  while (!stopRequested) {
    const SRT_SOCKSTATUS state = srt_getsockstate(s);
    if (state == SRTS_CONNECTED) {
      connected = true;
      break;
    }
    if (state != SRTS_CONNECTING && state != SRTS_OPENED && state != SRTS_INIT) {
      error = srt_rejectreason_str(srt_getrejectreason(s));
      break;
    }
    SRT_EPOLL_EVENT ready[1];
    srt_epoll_uwait(eid, ready, 1, kConnectWaitSliceMs);
  }
  srt_epoll_release(eid);
  return connected;
}

}  // namespace

SrtReceiver::SrtReceiver(ClockFn clock) : clock_(std::move(clock)) {}

SrtReceiver::~SrtReceiver() {
  try {
    stop();
  } catch (...) {
    // Destroyed from inside its own callback: nothing sensible is left to do.
  }
}

void SrtReceiver::start(std::string host, std::int32_t port, std::int32_t latencyMs, DataFn onData,
                        StateFn onState, LossFn onLoss) {
  stop();
  host_ = std::move(host);
  port_ = port;
  latencyMs_ = latencyMs;
  onData_ = std::move(onData);
  onState_ = std::move(onState);
  onLoss_ = std::move(onLoss);
  stopRequested_ = false;
  lookup_.reset();
  {
    MutexLock lock(mutex_);
    status_ = ReceiverStatus{};
    status_.statusText = text::kLinkConnecting;
  }
  running_ = true;
  try {
    joinSrtSessions(*this);
    thread_ = std::thread([this] { sessionLoop(); });
  } catch (...) {
    leaveSrtSessions(*this);
    running_ = false;
    throw;
  }
}

void SrtReceiver::stop() {
  stopRequested_ = true;
  // A name lookup that hangs is left to its own thread; the session loop stops waiting for it.
  lookup_.abandon();
  closePublishedSocket();
  if (tlsSessionOf == this) {
    throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur),
                            "SrtReceiver::stop from its own receive thread");
  }
  if (thread_.joinable()) {
    thread_.join();
    thread_ = std::thread();
  }
  leaveSrtSessions(*this);
  running_ = false;
}

ReceiverStatus SrtReceiver::status() const {
  MutexLock lock(mutex_);
  return status_;
}

void SrtReceiver::closePublishedSocket() {
  const int old = socket_.exchange(-1);
  if (old >= 0) srt_close(old);
}

void SrtReceiver::setState(bool connected, std::string text) {
  MutexLock lock(mutex_);
  status_.connected = connected;
  status_.statusText = std::move(text);
  if (!connected) {
    status_.rttMs = 0;
    status_.recvRateMbps = 0;
  }
}

// Receive thread.
void SrtReceiver::sessionLoop() {
  tlsSessionOf = this;
  while (!stopRequested_) {
    if (!runAttempt()) break;
    pause();
  }
  running_ = false;
}

// Receive thread. One connect and, when it succeeds, one session.
bool SrtReceiver::runAttempt() {
  const std::string port = std::to_string(port_);

  std::uint32_t ipv4 = 0;
  switch (lookup_.resolve(host_, ipv4)) {
    case NameLookup::Result::Abandoned:
      return false;
    case NameLookup::Result::NotFound:
      setState(false, text::fillText(text::kLinkCannotResolve, {host_}));
      return true;
    case NameLookup::Result::Found:
      break;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = ipv4;
  address.sin_port = htons(static_cast<std::uint16_t>(port_));

  const SRTSOCKET s = srt_create_socket();
  if (s == SRT_INVALID_SOCK) {
    setState(false, text::fillText(text::kLinkSocket, {srt_getlasterror_str()}));
    return true;
  }
  setIntOption(s, SRTO_RCVLATENCY, latencyMs_);
  // The connect runs non-blocking and is waited for in slices: a blocking srt_connect is not
  // cut short by srt_close from another thread, so stop would wait out the connect timeout.
  // Receiving is blocking again once connected.
  setIntOption(s, SRTO_RCVSYN, 0);
  setIntOption(s, SRTO_CONNTIMEO, kConnectTimeoutMs);
  setIntOption(s, SRTO_RCVTIMEO, kReceiveTimeoutMs);
  socket_ = s;
  // A stop that came in before the socket was published found nothing to close.
  if (stopRequested_) {
    closePublishedSocket();
    return false;
  }
  setState(false, text::fillText(text::kLinkConnectingTo, {host_, port}));

  std::string failure;
  if (!connectUnlessStopped(s, address, stopRequested_, failure)) {
    closePublishedSocket();
    if (stopRequested_) return false;
    setState(false, text::fillText(text::kLinkNoAnswer, {host_, port, failure}));
    return true;
  }
  setIntOption(s, SRTO_RCVSYN, 1);

  {
    MutexLock lock(mutex_);
    if (status_.bytesReceived > 0) ++status_.reconnects;
  }
  setState(true, text::kLinkConnected);
  if (onState_) onState_(true);

  std::vector<std::uint8_t> buffer(kReceiveBufferSize);
  std::string reason;
  Nanos t0 = clock_();
  Nanos lastHeard = t0;
  // Live mode sends each message as one packet, numbered. A number that skips ahead means the
  // library dropped packets that came too late; the transport stream's own counters cannot
  // always tell (they wrap every 16 packets), so the loss is reported as such.
  std::int32_t lastSequence = -1;
  while (!stopRequested_) {
    SRT_MSGCTRL control = srt_msgctrl_default;
    const int n =
        srt_recvmsg2(s, reinterpret_cast<char*>(buffer.data()), kReceiveBufferSize, &control);
    if (n == 0) {
      reason = text::kClosedBySender;
      break;
    }
    if (n < 0) {
      const int error = srt_getlasterror(nullptr);
      if (error == SRT_ECONNLOST) {
        // The library reports a sender's orderly close and a peer gone silent alike as a
        // broken connection. Only a peer that vanished leaves the link silent for its whole
        // idle timeout, so the silence before the break tells the two apart.
        reason = clock_() - lastHeard >= kSilenceBeforeLoss ? text::kConnectionLost
                                                            : text::kClosedBySender;
        break;
      }
      // A blocking receive with a timeout reports an idle period as SRT_ETIMEOUT; the
      // non-blocking code SRT_EASYNCRCV means the same. Neither is a failure by itself.
      if (error != SRT_EASYNCRCV && error != SRT_ETIMEOUT) {
        reason = srt_getlasterror_str();
        break;
      }
      if (srt_getsockstate(s) != SRTS_CONNECTED) {
        reason = text::kConnectionLost;
        break;
      }
    } else {
      lastHeard = clock_();
      const bool lost = lastSequence >= 0 &&
                        control.pktseq != (lastSequence == kMaxSequence ? 0 : lastSequence + 1);
      lastSequence = control.pktseq;
      {
        MutexLock lock(mutex_);
        status_.bytesReceived += static_cast<std::uint64_t>(n);
      }
      if (lost && onLoss_) onLoss_();
      if (onData_) onData_(buffer.data(), static_cast<std::size_t>(n));
    }
    const Nanos now = clock_();
    if (now - t0 >= kStatisticsInterval) {
      const int current = socket_.load();
      if (current >= 0) sampleStatistics(current);
      t0 = now;
    }
  }

  closePublishedSocket();
  setState(false, stopRequested_ ? std::string(text::kLinkStopped)
                                 : text::fillText(text::kLinkReconnecting, {reason}));
  if (onState_) onState_(false);
  return !stopRequested_;
}

void SrtReceiver::sampleStatistics(int socket) {
  SRT_TRACEBSTATS stats{};
  if (srt_bistats(socket, &stats, 0, 1) != 0) return;
  MutexLock lock(mutex_);
  status_.rttMs = stats.msRTT;
  status_.recvRateMbps = stats.mbpsRecvRate;
  status_.pktRecvTotal = stats.pktRecvTotal;
  status_.pktRcvLossTotal = stats.pktRcvLossTotal;
  status_.pktRcvDropTotal = stats.pktRcvDropTotal;
  status_.pktRetransTotal = stats.pktRetransTotal;
}

// Receive thread. The 1 s pause between attempts, cut into slices so a stop is seen quickly.
void SrtReceiver::pause() {
  for (int i = 0; i < kPauseSlices && !stopRequested_; ++i) {
    std::this_thread::sleep_until(std::chrono::steady_clock::now() + kPauseSlice);
  }
}

}  // namespace mirandel
