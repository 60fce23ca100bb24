#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "support/SilentNameServer.h"
#include "support/SrtTestPeer.h"
#include "support/TestPlatform.h"
#include "support/TestSupport.h"
#include "video/NameLookup.h"
#include "video/SrtReceiver.h"
#include "video/SrtStartup.h"

namespace mirandel {
namespace {

using std::chrono::milliseconds;
using test::waitFor;

// Collects what the receiver hands on, from its receive thread.
struct Sink {
  std::mutex mutex;
  std::vector<std::uint8_t> bytes;  // guarded by mutex; every message but the one-byte warm-ups
  std::size_t total = 0;            // guarded by mutex; the bytes of every message
  std::vector<bool> states;         // guarded by mutex
  // Guarded by mutex; the first byte of every message and whether a loss was reported before it.
  std::vector<std::pair<std::uint8_t, bool>> firsts;
  bool lossReported = false;  // guarded by mutex

  SrtReceiver::DataFn data() {
    return [this](const std::uint8_t* p, std::size_t n) {
      std::lock_guard lock(mutex);
      total += n;
      if (n > 1) bytes.insert(bytes.end(), p, p + n);
      firsts.emplace_back(p[0], std::exchange(lossReported, false));
    };
  }
  SrtReceiver::LossFn loss() {
    return [this] {
      std::lock_guard lock(mutex);
      lossReported = true;
    };
  }
  SrtReceiver::StateFn state() {
    return [this](bool c) {
      std::lock_guard lock(mutex);
      states.push_back(c);
    };
  }
  std::size_t size() {
    std::lock_guard lock(mutex);
    return total;
  }
  std::vector<std::uint8_t> received() {
    std::lock_guard lock(mutex);
    return bytes;
  }
};

std::vector<std::uint8_t> randomMessage(std::mt19937& rng, std::size_t size) {
  std::vector<std::uint8_t> m(size);
  for (auto& b : m) b = static_cast<std::uint8_t>(rng());
  return m;
}

bool statusIs(const SrtReceiver& r, const std::string& text, milliseconds timeout) {
  return waitFor([&] { return r.status().statusText == text; }, timeout);
}

// Live mode may drop what is sent in the first moments after a connect, so tests that need
// data through keep sending a small message until some arrives.
template <typename Sender>
bool sendUntilReceived(Sender& sender, Sink& sink, std::size_t atLeast,
                       const std::vector<std::uint8_t>& message = {0x47, 1, 2, 3}) {
  return waitFor(
      [&] {
        sender.send(message);
        return sink.size() >= atLeast;
      },
      milliseconds(5000), milliseconds(50));
}

// Relays UDP between a caller at 127.0.0.1:listenPort and 127.0.0.1:targetPort, swallowing
// every SRT data packet, retransmissions included, whose payload begins with `doomed`: the
// receiver asks for them again and again until their time to play has passed.
class DoomingRelay {
 public:
  DoomingRelay(int listenPort, int targetPort, std::uint8_t doomed)
      : front_(test::boundLoopbackUdp(listenPort)),
        back_(test::boundLoopbackUdp(0)),
        doomed_(doomed),
        target_(test::loopback(targetPort)) {
    thread_ = std::thread([this] { run(); });
  }
  ~DoomingRelay() {
    stop_ = true;
    thread_.join();
    close(front_);
    close(back_);
  }

 private:
  // A data packet has the top bit of its first word clear; its payload follows the 16-byte
  // header.
  bool doomed(const std::uint8_t* d, ssize_t n) const {
    return n > 16 && (d[0] & 0x80) == 0 && d[16] == doomed_;
  }
  void run() {
    sockaddr_in caller{};
    std::uint8_t d[2048];
    pollfd fds[2] = {{front_, POLLIN, 0}, {back_, POLLIN, 0}};
    while (!stop_) {
      if (poll(fds, 2, 50) <= 0) continue;
      if (fds[0].revents & POLLIN) {
        socklen_t length = sizeof caller;
        const ssize_t n =
            recvfrom(front_, d, sizeof d, 0, reinterpret_cast<sockaddr*>(&caller), &length);
        if (n > 0 && !doomed(d, n))
          sendto(back_, d, static_cast<std::size_t>(n), 0,
                 reinterpret_cast<const sockaddr*>(&target_), sizeof target_);
      }
      if (fds[1].revents & POLLIN) {
        const ssize_t n = recv(back_, d, sizeof d, 0);
        if (n > 0 && caller.sin_port != 0 && !doomed(d, n))
          sendto(front_, d, static_cast<std::size_t>(n), 0,
                 reinterpret_cast<const sockaddr*>(&caller), sizeof caller);
      }
    }
  }

  const int front_, back_;
  const std::uint8_t doomed_;
  const sockaddr_in target_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Guards against the pipeline never hearing of messages that the library gave up on. Live
// mode skips, silently, what has not arrived when its time to play comes, and a picture
// skipped whole can pass the stream's own continuity check, so the next picture would be
// decoded without its reference. The first message after the gap, and only it, must say so.
TEST(SrtReceiver, FlagsTheFirstMessageAfterOnesTheLibraryGaveUpOn) {
  test::SrtTestListener listener(9011);
  DoomingRelay relay(9010, 9011, 0x66);
  Sink sink;
  SrtReceiver receiver;
  receiver.start("127.0.0.1", 9010, 40, sink.data(), sink.state(), sink.loss());
  ASSERT_TRUE(listener.accept());
  ASSERT_TRUE(sendUntilReceived(listener, sink, 4));
  // Messages 0x10 to 0x1F, but the three from 0x15 on are swallowed.
  for (std::uint8_t m = 0x10; m < 0x20; ++m) {
    ASSERT_TRUE(listener.send({m >= 0x15 && m < 0x18 ? std::uint8_t{0x66} : m, 1, 2, 3}));
    std::this_thread::sleep_for(milliseconds(2));  // pacing, not waiting
  }
  ASSERT_TRUE(waitFor([&] {
    std::lock_guard lock(sink.mutex);
    return !sink.firsts.empty() && sink.firsts.back().first == 0x1F;
  }));
  std::vector<std::pair<std::uint8_t, bool>> after;
  {
    std::lock_guard lock(sink.mutex);
    for (const auto& f : sink.firsts)
      if (f.first != 0x47) after.push_back(f);  // the warm-up messages may have gaps of their own
  }
  std::vector<std::pair<std::uint8_t, bool>> expected;
  for (std::uint8_t m = 0x10; m < 0x20; ++m)
    if (m < 0x15 || m >= 0x18) expected.emplace_back(m, m == 0x18);
  EXPECT_EQ(after, expected);
}

// Guards the byte path end to end against an SRT implementation we did not write: every
// message must arrive whole, in order and unaltered, and the link statistics must be sampled.
// Then the sender vanishes without closing: the session must end as "connection lost" once the
// library gives up on the peer, not hang as "connected".
TEST(SrtReceiver, ReceivesExactBytesFromSrtLiveTransmitAndNoticesWhenItVanishes) {
  test::ChildProcess sender(
      {"srt-live-transmit", "-q", "udp://:5000", "srt://127.0.0.1:9010?mode=listener"});
  Sink sink;
  SrtReceiver receiver;
  receiver.start("127.0.0.1", 9010, 40, sink.data(), sink.state());
  ASSERT_TRUE(statusIs(receiver, "connected", milliseconds(5000))) << receiver.status().statusText;

  std::mt19937 rng(7);
  std::vector<std::uint8_t> sent;
  test::UdpSender udp(5000);
  ASSERT_TRUE(sendUntilReceived(udp, sink, 1, {0}));  // one byte: not among the bytes compared
  for (int i = 0; i < 150; ++i) {
    const auto m = randomMessage(rng, 1316);
    sent.insert(sent.end(), m.begin(), m.end());
    udp.send(m);
    if (i % 10 == 9) std::this_thread::sleep_for(milliseconds(5));  // pacing, not waiting
  }
  ASSERT_TRUE(waitFor([&] { return sink.received().size() >= sent.size(); }, milliseconds(5000)))
      << sink.size() << " of " << sent.size();
  EXPECT_EQ(sink.received(), sent);
  EXPECT_EQ(receiver.status().bytesReceived, sink.size());
  // Sampling needs a further message after 500 ms, so keep a trickle going.
  ASSERT_TRUE(waitFor(
      [&] {
        udp.send(randomMessage(rng, 188));
        const ReceiverStatus s = receiver.status();
        return s.pktRecvTotal >= 150 && s.rttMs > 0;
      },
      milliseconds(5000), milliseconds(50)));
  EXPECT_EQ(receiver.status().reconnects, 0u);
  {
    std::lock_guard lock(sink.mutex);
    EXPECT_EQ(sink.states, std::vector<bool>{true});
  }

  sender.kill(SIGKILL);
  EXPECT_TRUE(statusIs(receiver, "reconnecting (connection lost)", milliseconds(8000)))
      << receiver.status().statusText;
}

// Guards the idle-timeout fault: the library reports a blocking receive that timed out as
// SRT_ETIMEOUT, and treating that as an error would drop a healthy but quiet link every
// 250 ms. It also guards against the library writing a line per timeout to the host's stderr,
// and against a stop that waits for the receive timeout, leaves a stale text or is not
// repeatable.
TEST(SrtReceiver, IdleLinkStaysConnectedWithoutLoggingAndStopsPromptly) {
  test::SrtTestListener listener(9010);
  Sink sink;
  SrtReceiver receiver;
  receiver.start("127.0.0.1", 9010, 40, sink.data(), sink.state());
  ASSERT_TRUE(listener.accept());
  ASSERT_TRUE(statusIs(receiver, "connected", milliseconds(3000)));

  testing::internal::CaptureStderr();
  // Six receive timeouts' worth of silence; the state must hold throughout.
  const bool dropped = waitFor([&] { return !receiver.status().connected; }, milliseconds(1500));
  const std::string logged = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(dropped) << receiver.status().statusText;
  EXPECT_EQ(logged, "");
  ASSERT_TRUE(listener.send({1, 2, 3}));
  EXPECT_TRUE(waitFor([&] { return sink.size() == 3; }));

  const auto t = std::chrono::steady_clock::now();
  receiver.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t, milliseconds(500));
  EXPECT_EQ(receiver.status().statusText, "stopped");
  EXPECT_FALSE(receiver.status().connected);
  receiver.stop();  // idempotent
  std::lock_guard lock(sink.mutex);
  EXPECT_EQ(sink.states, (std::vector<bool>{true, false}));
}

// Guards against a host call waiting on the network. With the phone's address a name that the
// name server never answers, getaddrinfo held the receive thread for seconds, and stop(), which
// joins that thread on the host's thread, held the host as long (5.7 s seen). Stop, a restart
// with a new latency and destruction must each return at once, and restarts must not pile up
// lookups. The lookup is left hanging: the process must still exit cleanly with it.
TEST(SrtReceiver, StopRestartAndDestructionReturnAtOnceWhileANameLookupHangs) {
  test::SilentNameServer dns;
  ASSERT_EQ(dns.failure(), "");
  const std::string name = test::SilentNameServer::kName;
  const auto bounded = [](const char* what, const std::function<void()>& call) {
    const auto t = std::chrono::steady_clock::now();
    call();
    EXPECT_LT(std::chrono::steady_clock::now() - t, milliseconds(500)) << what;
  };
  auto receiver = std::make_unique<SrtReceiver>();
  receiver->start(name, 9010, 40, nullptr, nullptr);
  ASSERT_TRUE(waitFor([&] { return dns.queries() > 0; }));
  bounded("stop", [&] { receiver->stop(); });
  receiver->start(name, 9010, 120, nullptr, nullptr);
  bounded("restart with a new latency",
          [&] { receiver->start(name, 9010, 200, nullptr, nullptr); });
  EXPECT_EQ(receiver->status().statusText, "connecting");
  bounded("destruction", [&] { receiver.reset(); });
  EXPECT_EQ(NameLookup::threadsInFlight(), 1);
}

// Guards the texts shown while a phone does not answer, the retry after the pause, and stop
// latency: stop must cut a blocking connect short by closing the socket, not wait out the 3 s
// connect timeout, and must not overwrite the status afterwards.
TEST(SrtReceiver, ReportsAPhoneThatDoesNotAnswerKeepsTryingAndStopsPromptlyDuringConnect) {
  test::UdpBlackHole silent(9011);
  SrtReceiver receiver;
  receiver.start("127.0.0.1", 9011, 40, nullptr, nullptr);
  EXPECT_EQ(receiver.status().statusText.rfind("connecting", 0), 0u);
  EXPECT_TRUE(statusIs(receiver, "connecting to 127.0.0.1:9011", milliseconds(1000)));
  ASSERT_TRUE(waitFor([&] { return receiver.status().statusText.rfind("no answer from ", 0) == 0; },
                      milliseconds(5000)));
  EXPECT_THAT(receiver.status().statusText,
              testing::MatchesRegex("no answer from 127\\.0\\.0\\.1:9011 \\(.+\\)"));
  // The next attempt follows the pause; stop it while its connect is pending.
  ASSERT_TRUE(statusIs(receiver, "connecting to 127.0.0.1:9011", milliseconds(2000)));
  const auto t = std::chrono::steady_clock::now();
  receiver.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t, milliseconds(500));
  EXPECT_EQ(receiver.status().statusText, "connecting to 127.0.0.1:9011");
}

// Guards the reconnect cycle: a sender that closes is reported as such, the receiver comes
// back by itself when the sender returns, and only that second connect counts as a reconnect.
// Then a restart must end the session and reset the counters, and a host that cannot be
// resolved must say so rather than look like a silent phone: an IPv6 literal, as only IPv4 is
// asked for.
TEST(SrtReceiver, ReconnectsAfterTheSenderClosesAndRestartsWithFreshCounters) {
  Sink sink;
  SrtReceiver receiver;
  {
    test::SrtTestListener listener(9010);
    receiver.start("127.0.0.1", 9010, 40, sink.data(), sink.state());
    ASSERT_TRUE(listener.accept());
    ASSERT_TRUE(statusIs(receiver, "connected", milliseconds(3000)));
    ASSERT_TRUE(sendUntilReceived(listener, sink, 4));
    listener.closePeer();
    EXPECT_TRUE(statusIs(receiver, "reconnecting (closed by the sender)", milliseconds(3000)))
        << receiver.status().statusText;
    EXPECT_EQ(receiver.status().rttMs, 0);
  }
  test::SrtTestListener again(9010);
  ASSERT_TRUE(again.accept(5000));
  ASSERT_TRUE(statusIs(receiver, "connected", milliseconds(3000)));
  const std::size_t before = sink.size();
  ASSERT_TRUE(sendUntilReceived(again, sink, before + 4));
  const ReceiverStatus s = receiver.status();
  EXPECT_EQ(s.reconnects, 1u);
  EXPECT_EQ(s.bytesReceived, sink.size());
  {
    std::lock_guard lock(sink.mutex);
    EXPECT_EQ(sink.states, (std::vector<bool>{true, false, true}));
  }

  receiver.start("fe80::1", 9010, 80, nullptr, nullptr);
  EXPECT_EQ(receiver.status().bytesReceived, 0u);
  EXPECT_EQ(receiver.status().reconnects, 0u);
  EXPECT_TRUE(statusIs(receiver, "cannot resolve fe80::1", milliseconds(3000)))
      << receiver.status().statusText;
}

// Guards the library's stop and restart around receive sessions, as the plug-in stops it when
// it is de-initialised with no clip left: while a session runs it must not stop (it would close
// the socket under the receive thread); once none is left, srt_cleanup must end every thread
// of the library; and the next session must start it again and receive. The sender is a
// process of its own, so that nothing else in this one holds the library.
TEST(SrtReceiver, TheLibraryStopsOnlyWithNoSessionLeftAndStartsAgainForTheNext) {
  test::ChildProcess sender(
      {"srt-live-transmit", "-q", "udp://:5000", "srt://127.0.0.1:9010?mode=listener"});
  std::thread([] {}).join();  // a sanitizer's helper thread starts with the first thread
  const int before = test::processThreadCount();
  test::UdpSender udp(5000);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Sink sink;
    SrtReceiver receiver;
    receiver.start("127.0.0.1", 9010, 40, sink.data(), sink.state());
    ASSERT_TRUE(statusIs(receiver, "connected", milliseconds(5000)))
        << receiver.status().statusText;
    EXPECT_FALSE(stopSrtWhenUnused());
    ASSERT_TRUE(sendUntilReceived(udp, sink, 1));
    receiver.stop();
    EXPECT_TRUE(stopSrtWhenUnused());
    EXPECT_FALSE(srtStarted());
    EXPECT_EQ(test::processThreadCount(), before);
  }
}

// Guards against a self-join: stop from inside a callback would deadlock, so it must fail
// with the standard resource-deadlock error and the receiver must still stop cleanly later.
TEST(SrtReceiver, StopFromTheReceiveThreadRaisesResourceDeadlock) {
  test::SrtTestListener listener(9010);
  SrtReceiver receiver;
  std::atomic<int> code{0};
  receiver.start("127.0.0.1", 9010, 40, nullptr, [&](bool connected) {
    if (!connected) return;
    try {
      receiver.stop();
    } catch (const std::system_error& e) {
      code = e.code().value();
    }
  });
  // No accept: the library completes the handshake by itself, and the caller leaves again at
  // once (the stop from the callback still ends the session), so there may be nothing left
  // to accept.
  ASSERT_TRUE(waitFor([&] { return code != 0; }));
  EXPECT_EQ(code, static_cast<int>(std::errc::resource_deadlock_would_occur));
  receiver.stop();
}

}  // namespace
}  // namespace mirandel
