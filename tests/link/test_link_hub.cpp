// The hub on real sockets in the test's private namespace. Probes reach the phone emulator on
// loopback because the hub is told loopback is a broadcast interface.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "link/ControlCodec.h"
#include "link/LinkHub.h"
#include "support/TestPlatform.h"
#include "support/TestSupport.h"
#include "tools/phone/PhoneEmulator.h"

namespace mirandel {
namespace {

using std::chrono::milliseconds;
using test::processThreadCount;
using test::waitFor;

const char* const kDiscover = "/mirandel/discover";

ControlMessage numbered(int i) { return {"/mirandel/n", {ControlArg::ofInt(i)}}; }

class LinkHubTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(phone.start()); }

  static LinkHubOptions options(ClockFn clock = steadyClock()) {
    LinkHubOptions o;
    o.clock = std::move(clock);
    o.listInterfaces = [] {
      return std::vector<BroadcastInterface>{{"lo", "127.0.0.1", "127.0.0.1"}};
    };
    return o;
  }
  // Sends to the hub's receive port from an ordinary socket.
  void send(const ControlMessage& m, std::uint16_t port = kClipControlPort) {
    const auto bytes = encode(m);
    sender.sendTo("127.0.0.1", port, bytes.data(), bytes.size());
  }
  std::size_t probes() const { return phone.receivedCount(kDiscover); }
  // Until the worker has gone round its loop `n` more times: a probe that was due has gone.
  static void waitTurns(const LinkHub& hub, std::uint64_t n) {
    const auto target = hub.workerTurns() + n;
    ASSERT_TRUE(waitFor([&] { return hub.workerTurns() >= target; }));
  }

  // Counts what the hub sends; its replies go to a port nobody reads, out of the inboxes.
  PhoneEmulator phone{PhoneConfig{.replyPort = 9002, .bindAddress = "127.0.0.1"}};
  UdpSocket sender = UdpSocket::open();
};

// Guards against one clip stealing the others' messages, messages piling up for a clip that
// is gone, and the prototype gathering an inbox it never reads: nothing is queued for a
// subscriber before its first drain, though it is woken so that its host calls it to drain.
TEST_F(LinkHubTest, EveryDrainingClipGetsACopyOfEveryDatagramAndNoOtherInboxFills) {
  LinkHub hub(options());
  std::atomic<int> idleWakes{0};
  const int a = hub.subscribe([] {}), b = hub.subscribe([] {});
  const int idle = hub.subscribe([&] { ++idleWakes; });
  hub.drainInbox(a);
  hub.drainInbox(b);
  send(numbered(1));
  send({"/mirandel/status", {ControlArg::ofText("meant for the other clip's phone")}});
  std::vector<IncomingMessage> inboxA, inboxB;
  ASSERT_TRUE(waitFor([&] {
    for (auto& m : hub.drainInbox(a)) inboxA.push_back(m);
    for (auto& m : hub.drainInbox(b)) inboxB.push_back(m);
    return inboxA.size() >= 2 && inboxB.size() >= 2;
  }));
  EXPECT_EQ(inboxA, inboxB);
  EXPECT_EQ(inboxA[0], (IncomingMessage{"127.0.0.1", "/mirandel/n", {ControlArg::ofInt(1)}}));
  EXPECT_EQ(inboxA[1].address, "/mirandel/status");
  ASSERT_TRUE(waitFor([&] { return idleWakes == 2; }));
  EXPECT_EQ(hub.inboxLoad(idle).messages, 0u);
  hub.unsubscribe(a);
  EXPECT_TRUE(hub.drainInbox(idle).empty());
  send(numbered(2));
  ASSERT_TRUE(waitFor([&] { return hub.inboxLoad(idle).messages == 1; }));
  ASSERT_TRUE(waitFor([&] { return hub.inboxLoad(b).messages == 1; }));
  EXPECT_TRUE(hub.drainInbox(a).empty());
  EXPECT_TRUE(hub.drainInbox(12345).empty());  // never subscribed
  EXPECT_EQ(hub.drainInbox(idle).at(0).args, numbered(2).args);
}

// Guards against memory blown up by a flood: tag-only datagrams cost a record per tag in every
// inbox, so an inbox is bounded by bytes as well as by messages, the oldest going first.
TEST_F(LinkHubTest, AFloodOfTagOnlyDatagramsKeepsEachInboxWithinItsBoundsOldestFirst) {
  // The most arguments a message may have: a number and 63 bare tags.
  auto tagOnly = [](int i) {
    ControlMessage m = numbered(i);
    m.args.resize(kMaxControlArguments, ControlArg::ofKind(ArgKind::True));
    return m;
  };
  const ControlMessage sample = tagOnly(0);
  const std::size_t cost = footprint({"127.0.0.1", sample.address, sample.args});
  // Bound, messages and bytes allowed, messages held, and a port each: a hub's socket stays
  // bound until its detached worker ends, and on Windows no other may bind it meanwhile.
  const std::tuple<const char*, std::size_t, std::size_t, std::size_t, std::uint16_t> cases[] = {
      {"messages", 16, 4 << 20, 16, 9101}, {"bytes", 4096, 64 << 10, (64 << 10) / cost, 9102}};
  constexpr int kSent = 200;
  for (const auto& [bound, messages, bytes, held, port] : cases) {
    SCOPED_TRACE(bound);
    LinkHubOptions o = options();
    o.inboxLimit = messages;
    o.inboxByteLimit = bytes;
    o.receivePort = port;
    LinkHub hub(o);
    std::atomic<int> wakes{0};
    const int id = hub.subscribe([&] { ++wakes; });
    hub.drainInbox(id);
    // Each datagram waits for its wake-up, so no socket buffer (Wine's are
    // slower to drain) drops any of the flood and the count below is exact.
    for (int i = 0; i < kSent; ++i) {
      send(tagOnly(i), port);
      ASSERT_TRUE(waitFor([&] { return wakes == i + 1; }));
    }
    EXPECT_EQ(hub.inboxLoad(id).bytes, held * cost);
    const auto inbox = hub.drainInbox(id);
    ASSERT_EQ(inbox.size(), held);
    for (std::size_t i = 0; i < inbox.size(); ++i)
      EXPECT_EQ(inbox[i].args.at(0).intValue, static_cast<int>(kSent - held + i));
    EXPECT_EQ(hub.inboxLoad(id).bytes, 0u);
  }
}

// Guards the host's thread against listing the interfaces (GetAdaptersAddresses is slow with
// many virtual adapters) for each probe a clip asks: the worker lists them, and its refreshed
// list carries the directed broadcast of an interface that came up meanwhile. Then the probe
// schedule (on a hand clock): every 3 s while a clip searches, every 10 s once none does, never
// without subscribers, and at once on setSearching whatever the last probe.
TEST_F(LinkHubTest, ProbesListInterfacesOnTheWorkerAndGoEveryThreeSecondsWhileSearchingTenIdle) {
  ManualClock clock(1000 * kSecond);
  std::mutex m;
  std::vector<std::thread::id> listedOn;  // guarded by m
  std::atomic<bool> loopbackUp{false};
  LinkHubOptions o = options(clock.fn());
  o.listInterfaces = [&] {
    {
      std::lock_guard lock(m);
      listedOn.push_back(std::this_thread::get_id());
    }
    return loopbackUp ? options().listInterfaces() : std::vector<BroadcastInterface>{};
  };
  LinkHub hub(o);
  hub.probeNow();           // starts the worker without subscribing
  waitTurns(hub, 2);        // the round asked for has gone out
  EXPECT_EQ(probes(), 0u);  // the limited broadcast alone has no way to the phone
  loopbackUp = true;
  clock.advance(10 * kSecond);
  hub.probeNow();
  ASSERT_TRUE(waitFor([&] { return probes() == 1; }));
  {
    std::lock_guard lock(m);
    EXPECT_EQ(listedOn.size(), 2u);
    for (const std::thread::id& id : listedOn) EXPECT_NE(id, std::this_thread::get_id());
  }
  clock.advance(60 * kSecond);
  waitTurns(hub, 3);
  EXPECT_EQ(probes(), 1u) << "no periodic probe without subscribers";
  const int id = hub.subscribe([] {});
  ASSERT_TRUE(waitFor([&] { return probes() == 2; }));  // overdue at once
  clock.advance(10 * kSecond);
  waitTurns(hub, 3);
  EXPECT_EQ(probes(), 2u) << "exactly 10 s is not yet due";
  clock.advance(1);
  ASSERT_TRUE(waitFor([&] { return probes() == 3; }));
  const auto asked = std::chrono::steady_clock::now();
  hub.setSearching(id, true);
  ASSERT_TRUE(waitFor([&] { return probes() == 4; }));
  EXPECT_LT(phone.receivedTimes(kDiscover).back() - asked, milliseconds(400));
  clock.advance(3 * kSecond);
  waitTurns(hub, 3);
  EXPECT_EQ(probes(), 4u);
  clock.advance(1);
  ASSERT_TRUE(waitFor([&] { return probes() == 5; }));
  hub.unsubscribe(id);
  clock.advance(60 * kSecond);
  waitTurns(hub, 3);
  EXPECT_EQ(probes(), 5u);
}

// Guards against a clip called after its destructor: a wake-up already copied finishes before
// unsubscribe returns, none starts afterwards, and a clip leaving from inside its own wake-up
// (the host destroys it there) does not deadlock the worker.
TEST_F(LinkHubTest, UnsubscribeWaitsForARunningWakeUpOfThatClipUnlessCalledFromIt) {
  LinkHub hub(options());
  std::atomic<bool> entered{false}, release{false}, returned{false}, left{false};
  std::atomic<int> calls{0};
  const int id = hub.subscribe([&] {
    ++calls;
    entered = true;
    waitFor([&] { return release.load(); });
  });
  send(numbered(1));
  ASSERT_TRUE(waitFor([&] { return entered.load(); }));
  std::thread destructor([&] {
    hub.unsubscribe(id);
    returned = true;
  });
  EXPECT_FALSE(waitFor([&] { return returned.load(); }, milliseconds(300)));
  release = true;
  destructor.join();
  const int before = calls;
  std::atomic<int> self{0};
  self = hub.subscribe([&] {
    hub.unsubscribe(self);
    left = true;
  });
  send(numbered(2));
  ASSERT_TRUE(waitFor([&] { return left.load(); }));
  waitTurns(hub, 2);  // the worker is still alive
  EXPECT_EQ(calls, before);
}

// Guards against a silent or spinning hub when another program holds port 9001 without
// address reuse: one clear log line, a paced worker, and commands still go out.
TEST_F(LinkHubTest, ATakenReceivePortIsLoggedOnceWithoutSpinningAndSendingStillWorks) {
  UdpSocket squatter = UdpSocket::open();
  ASSERT_TRUE(squatter.bind(kClipControlPort));
  std::mutex m;
  std::vector<std::string> lines;
  LinkHubOptions o = options();
  o.log = [&](const std::string& line) {
    std::lock_guard lock(m);
    lines.push_back(line);
  };
  LinkHub hub(o);
  hub.subscribe([] {});
  const auto turns0 = hub.workerTurns();
  const auto t0 = std::chrono::steady_clock::now();
  hub.sendTo("127.0.0.1", {"/mirandel/stream/quality", {}});
  ASSERT_TRUE(waitFor([&] { return phone.receivedCount("/mirandel/stream/quality") == 1; }));
  ASSERT_TRUE(waitFor([&] { return hub.workerTurns() >= turns0 + 4; }));
  // Paced at the receive time-out: 4 turns take about 750 ms or more.
  EXPECT_GT(std::chrono::steady_clock::now() - t0, milliseconds(600));
  std::lock_guard lock(m);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Mirandel: ", 0), 0u);
  EXPECT_NE(lines[0].find("9001"), std::string::npos);
}

// Guards the describe de-duplication: a request in flight is not repeated within 2 s, while
// other requests and other messages pass.
TEST_F(LinkHubTest, RepeatedDescribeRequestsWithinTwoSecondsAreSentOnce) {
  ManualClock clock;
  LinkHub hub(options(clock.fn()));
  auto describe = [](const char* what) {
    return ControlMessage{"/mirandel/describe", {ControlArg::ofText(what), ControlArg::ofInt(900)}};
  };
  const ControlMessage other{"/mirandel/stream/quality", {}};
  for (const ControlMessage& m : {describe("rack"), describe("rack"), describe("fx/blur"), other})
    hub.sendTo("127.0.0.1", m);
  hub.sendTo("127.0.0.1", other);
  hub.sendTo("", other);             // no destination: nothing
  hub.sendTo("phone.local", other);  // not dotted IPv4: nothing
  clock.advance(2 * kSecond - 1);
  hub.sendTo("127.0.0.1", describe("rack"));
  clock.advance(1);
  hub.sendTo("127.0.0.1", describe("rack"));
  ASSERT_TRUE(waitFor([&] { return phone.received().size() >= 5; }));
  waitTurns(hub, 1);
  std::vector<std::string> got;
  for (const auto& m : phone.received()) got.push_back(m.args.empty() ? m.address : m.args[0].text);
  EXPECT_EQ(got,
            (std::vector<std::string>{"rack", "fx/blur", other.address, other.address, "rack"}));
}

// Guards the hub's return to its first state when the plug-in is de-initialised: refused while
// a clip is subscribed; once unused, its worker joined (not detached) and its port free; and the
// next clip finds it probing and receiving. Three rounds, as a host rescanning plug-ins does. Then,
// with three clips left subscribed under one worker, shut down for good (nothing left to stop)
// and destroyed while datagrams pour in: it neither hangs nor touches freed tables, and
// releases its port.
TEST_F(LinkHubTest, StoppedWhenUnusedTheHubLeavesNoThreadStartsAgainAndEndsCleanlyInAFlood) {
  const int before = processThreadCount();
  std::optional<LinkHub> hub(std::in_place, options());
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::size_t probesBefore = probes();
    const int id = hub->subscribe([] {});
    hub->setSearching(id, true);
    hub->drainInbox(id);
    EXPECT_EQ(processThreadCount(), before + 1);
    ASSERT_TRUE(waitFor([&] { return probes() > probesBefore; }));
    ASSERT_TRUE(waitFor([&] {
      send(numbered(round));
      return !hub->drainInbox(id).empty();
    }));
    EXPECT_FALSE(hub->stopWhenUnused());
    ASSERT_TRUE(hub->receiving());
    hub->unsubscribe(id);
    EXPECT_TRUE(hub->stopWhenUnused());
    EXPECT_EQ(processThreadCount(), before);
    EXPECT_FALSE(hub->receiving());
    UdpSocket port = UdpSocket::open();
    EXPECT_TRUE(port.bind(kClipControlPort)) << "the hub still holds its port";
  }
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    UdpSocket s = UdpSocket::open();
    const auto bytes = encode(numbered(7));
    while (flooding) s.sendTo("127.0.0.1", kClipControlPort, bytes.data(), bytes.size());
  });
  const int id = hub->subscribe([] {});
  for (int i = 0; i < 2; ++i) hub->subscribe([] {});  // left subscribed on purpose
  hub->probeNow();
  EXPECT_EQ(processThreadCount(), before + 2);  // the flooder and one worker
  ASSERT_TRUE(waitFor([&] { return !hub->drainInbox(id).empty(); }));
  hub->unsubscribe(id);
  hub->shutdown();
  EXPECT_FALSE(hub->stopWhenUnused()) << "a hub shut down for good has nothing to stop";
  hub.reset();
  EXPECT_TRUE(waitFor([&] { return processThreadCount() == before + 1; }));  // only the flooder
  flooding = false;
  flood.join();
  UdpSocket again = UdpSocket::open();
  EXPECT_TRUE(again.bind(kClipControlPort));  // no reuse option: only if ours is closed
}

}  // namespace
}  // namespace mirandel
