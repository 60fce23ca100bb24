// The hub on real sockets in the test's private namespace. Probes reach a
// listener on loopback because the hub is told loopback is a broadcast
// interface (loopback has no broadcast address of its own).
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/ControlCodec.h"
#include "link/LinkHub.h"
#include "support/TestSupport.h"
#include "tools/phone/PhoneEmulator.h"

namespace mirandel {
namespace {

using std::chrono::milliseconds;
using test::waitFor;

const char* const kDiscover = "/mirandel/discover";

LinkHubOptions loopbackOptions(ClockFn clock = steadyClock()) {
  LinkHubOptions o;
  o.clock = std::move(clock);
  o.listInterfaces = [] {
    return std::vector<BroadcastInterface>{{"lo", "127.0.0.1", "127.0.0.1"}};
  };
  return o;
}

PhoneConfig loopbackPhone() {
  PhoneConfig c;
  c.bindAddress = "127.0.0.1";
  return c;
}

// Sends datagrams to the hub's receive port from an ordinary socket.
struct Sender {
  UdpSocket socket = UdpSocket::open();
  void send(const ControlMessage& m) {
    const auto bytes = encode(m);
    socket.sendTo("127.0.0.1", kClipControlPort, bytes.data(), bytes.size());
  }
};

ControlMessage numbered(int i) { return {"/mirandel/n", {ControlArg::ofInt(i)}}; }

bool hasNumber(const std::vector<IncomingMessage>& inbox, int i) {
  for (const auto& m : inbox)
    if (m.args.size() == 1 && m.args[0].intValue == i) return true;
  return false;
}

int threadCount() {
  // Sanitizer runtimes start a helper thread with the first thread of the
  // process; make sure that has happened before anything is counted.
  static const bool settled = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)settled;
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/task")) {
    while (const dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
    ::closedir(d);
  }
  return n;
}

// Waits until the worker has gone round its loop `n` more times, so that a
// probe that was going to be sent has been.
void waitTurns(const LinkHub& hub, std::uint64_t n) {
  const auto target = hub.workerTurns() + n;
  ASSERT_TRUE(waitFor([&] { return hub.workerTurns() >= target; }));
}

// Guards against one clip stealing the others' messages.
TEST(LinkHub, TwoSubscribersBothReceiveEveryDatagram) {
  LinkHub hub(loopbackOptions());
  std::atomic<int> wakesA{0}, wakesB{0};
  const int a = hub.subscribe([&] { ++wakesA; });
  const int b = hub.subscribe([&] { ++wakesB; });
  EXPECT_NE(a, b);
  hub.drainInbox(a);  // inboxes take messages from the first drain on
  hub.drainInbox(b);
  Sender s;
  s.send(numbered(1));
  s.send({"/mirandel/status", {ControlArg::ofText("meant for the other clip's phone")}});
  std::vector<IncomingMessage> inboxA, inboxB;
  ASSERT_TRUE(waitFor([&] {
    for (auto& m : hub.drainInbox(a)) inboxA.push_back(m);
    for (auto& m : hub.drainInbox(b)) inboxB.push_back(m);
    return inboxA.size() >= 2 && inboxB.size() >= 2;
  }));
  EXPECT_EQ(inboxA, inboxB);
  EXPECT_EQ(inboxA[0].sender, "127.0.0.1");
  EXPECT_EQ(inboxA[0].address, "/mirandel/n");
  EXPECT_EQ(inboxA[1].address, "/mirandel/status");
  EXPECT_GE(wakesA, 2);
  EXPECT_GE(wakesB, 2);
  hub.unsubscribe(a);
  hub.unsubscribe(b);
}

// Guards against messages piling up for a clip that is gone.
TEST(LinkHub, UnsubscribeDropsTheInboxAndLeavesOtherClipsAlone) {
  LinkHub hub(loopbackOptions());
  const int a = hub.subscribe([] {});
  const int b = hub.subscribe([] {});
  hub.drainInbox(a);
  hub.drainInbox(b);
  Sender s;
  s.send(numbered(1));
  ASSERT_TRUE(waitFor([&] { return hub.drainInbox(a).size() == 1; }));
  hub.unsubscribe(a);
  s.send(numbered(2));
  std::vector<IncomingMessage> inboxB;
  ASSERT_TRUE(waitFor([&] {
    for (auto& m : hub.drainInbox(b)) inboxB.push_back(m);
    return hasNumber(inboxB, 2);
  }));
  EXPECT_EQ(inboxB.size(), 2u);
  EXPECT_TRUE(hub.drainInbox(a).empty());
  EXPECT_TRUE(hub.drainInbox(12345).empty());  // never subscribed
  hub.unsubscribe(b);
}

// Guards against memory blown up by a flood: tag-only datagrams cost a record
// per tag in every inbox, so an inbox is bounded by bytes as well as by
// messages, and the oldest go first.
TEST(LinkHub, AFloodOfTagOnlyDatagramsKeepsEachInboxWithinItsBoundsOldestFirst) {
  // The most arguments a message may have: a number and 63 bare tags.
  auto tagOnly = [](int i) {
    ControlMessage m = numbered(i);
    m.args.resize(kMaxControlArguments, ControlArg::ofKind(ArgKind::True));
    return m;
  };
  const ControlMessage sample = tagOnly(0);
  const std::size_t cost = footprint({"127.0.0.1", sample.address, sample.args});
  struct Case {
    const char* bound;
    std::size_t messages;
    std::size_t bytes;
    std::size_t held;
  } cases[] = {
      {"messages", 16, 4 << 20, 16},
      {"bytes", 4096, 64 << 10, (64 << 10) / cost},
  };
  constexpr int kSent = 200;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bound);
    LinkHubOptions o = loopbackOptions();
    o.inboxLimit = c.messages;
    o.inboxByteLimit = c.bytes;
    LinkHub hub(o);
    std::atomic<int> wakes{0};
    const int id = hub.subscribe([&] { ++wakes; });
    hub.drainInbox(id);
    Sender s;
    // Paced by the wake-ups so the kernel drops none of the flood.
    for (int i = 0; i < kSent; ++i) {
      s.send(tagOnly(i));
      if (i % 50 == 49) {
        ASSERT_TRUE(waitFor([&] { return wakes == i + 1; }));
      }
    }
    const LinkHub::InboxLoad load = hub.inboxLoad(id);
    EXPECT_EQ(load.messages, c.held);
    EXPECT_EQ(load.bytes, c.held * cost);  // within the byte bound: held is at most bytes / cost
    const auto inbox = hub.drainInbox(id);
    ASSERT_EQ(inbox.size(), c.held);
    for (std::size_t i = 0; i < inbox.size(); ++i)
      EXPECT_EQ(inbox[i].args.at(0).intValue, static_cast<int>(kSent - c.held + i));
    EXPECT_EQ(hub.inboxLoad(id).bytes, 0u);
    hub.unsubscribe(id);
  }
}

// Guards against the prototype gathering an inbox it never reads: until a
// subscriber first drains, nothing is queued for it.
TEST(LinkHub, AnUndrainedSubscriptionGathersNothing) {
  LinkHub hub(loopbackOptions());
  std::atomic<int> wakesIdle{0};
  const int idle = hub.subscribe([&] { ++wakesIdle; });
  const int reader = hub.subscribe([] {});
  hub.drainInbox(reader);
  Sender s;
  for (int i = 0; i < 3; ++i) s.send(numbered(i));
  // Still woken, so that its host calls it and it drains.
  ASSERT_TRUE(waitFor([&] { return wakesIdle == 3; }));
  EXPECT_EQ(hub.inboxLoad(reader).messages, 3u);
  EXPECT_EQ(hub.inboxLoad(idle).messages, 0u);
  EXPECT_EQ(hub.inboxLoad(idle).bytes, 0u);

  EXPECT_TRUE(hub.drainInbox(idle).empty());
  s.send(numbered(3));
  ASSERT_TRUE(waitFor([&] { return hub.inboxLoad(idle).messages == 1; }));
  EXPECT_TRUE(hasNumber(hub.drainInbox(idle), 3));
  hub.unsubscribe(idle);
  hub.unsubscribe(reader);
}

// Guards the searching promise: a new clip's probe leaves within a worker
// wake, whatever the time since the last one.
TEST(LinkHub, SetSearchingProbesWithinAboutAQuarterSecond) {
  ManualClock clock;  // frozen: no periodic probe can fall due
  LinkHub hub(loopbackOptions(clock.fn()));
  PhoneEmulator phone(loopbackPhone());
  ASSERT_TRUE(phone.start());
  const int id = hub.subscribe([] {});
  ASSERT_TRUE(waitFor([&] { return phone.receivedCount(kDiscover) == 1; }));  // the first one
  waitTurns(hub, 2);
  ASSERT_EQ(phone.receivedCount(kDiscover), 1u);

  const auto asked = std::chrono::steady_clock::now();
  hub.setSearching(id, true);
  ASSERT_TRUE(waitFor([&] { return phone.receivedCount(kDiscover) == 2; }));
  EXPECT_LT(phone.receivedTimes(kDiscover).back() - asked, milliseconds(400));
  hub.unsubscribe(id);
}

// Guards the probe schedule: every 3 s while a clip searches, every 10 s once
// none does, never without subscribers (driven by a hand clock).
TEST(LinkHub, ProbesEveryThreeSecondsWhileSearchingTenWhenIdleAndNeverWithoutClips) {
  ManualClock clock(1000 * kSecond);
  LinkHub hub(loopbackOptions(clock.fn()));
  PhoneEmulator phone(loopbackPhone());
  ASSERT_TRUE(phone.start());
  auto probes = [&] { return phone.receivedCount(kDiscover); };

  hub.probeNow();  // starts the worker without subscribing
  ASSERT_TRUE(waitFor([&] { return probes() == 1; }));
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

  hub.setSearching(id, true);
  ASSERT_TRUE(waitFor([&] { return probes() == 4; }));
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

// Guards against a clip being called after its destructor: a wake-up that
// the worker already copied must finish before unsubscribe returns, and none
// may start afterwards.
TEST(LinkHub, UnsubscribeWaitsForARunningWakeUpCallbackOfThatClip) {
  LinkHub hub(loopbackOptions());
  std::mutex m;
  std::condition_variable cv;
  bool entered = false, release = false;
  std::atomic<int> calls{0};
  const int id = hub.subscribe([&] {
    ++calls;
    std::unique_lock lock(m);
    entered = true;
    cv.notify_all();
    cv.wait(lock, [&] { return release; });
  });
  Sender s;
  s.send(numbered(1));
  {
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return entered; }));
  }
  std::atomic<bool> returned{false};
  std::thread destructor([&] {
    hub.unsubscribe(id);
    returned = true;
  });
  EXPECT_FALSE(waitFor([&] { return returned.load(); }, milliseconds(300)));
  {
    std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
  destructor.join();
  EXPECT_TRUE(returned);
  const int before = calls;
  s.send(numbered(2));
  waitTurns(hub, 2);
  EXPECT_EQ(calls, before);
}

// A clip may leave from inside its own wake-up (e.g. the host destroys it
// from that call); that must not deadlock the worker.
TEST(LinkHub, AClipMayUnsubscribeFromItsOwnWakeUp) {
  LinkHub hub(loopbackOptions());
  std::atomic<int> id{0};
  std::atomic<bool> done{false};
  id = hub.subscribe([&] {
    hub.unsubscribe(id);
    done = true;
  });
  Sender s;
  s.send(numbered(1));
  ASSERT_TRUE(waitFor([&] { return done.load(); }));
  waitTurns(hub, 2);  // the worker is still alive
}

// Guards against a silent or spinning hub when port 9001 is taken by a
// program that did not allow address reuse: one clear log line, a paced
// worker, and commands still go out.
TEST(LinkHub, ATakenReceivePortIsLoggedOnceWithoutSpinningAndSendingStillWorks) {
  UdpSocket squatter = UdpSocket::open();
  ASSERT_TRUE(squatter.bind(kClipControlPort));
  std::mutex m;
  std::vector<std::string> lines;
  LinkHubOptions o = loopbackOptions();
  o.log = [&](const std::string& line) {
    std::lock_guard lock(m);
    lines.push_back(line);
  };
  LinkHub hub(o);
  PhoneEmulator phone(loopbackPhone());
  ASSERT_TRUE(phone.start());

  const int a = hub.subscribe([] {});
  const int b = hub.subscribe([] {});
  EXPECT_FALSE(hub.receiving());
  const auto turns0 = hub.workerTurns();
  const auto t0 = std::chrono::steady_clock::now();
  hub.sendTo("127.0.0.1", {"/mirandel/stream/quality", {}});
  ASSERT_TRUE(waitFor([&] { return phone.receivedCount("/mirandel/stream/quality") == 1; }));
  ASSERT_TRUE(waitFor([&] { return hub.workerTurns() >= turns0 + 4; }));
  const auto elapsed = std::chrono::steady_clock::now() - t0;
  // Paced at the receive time-out: 4 turns take about 750 ms or more.
  EXPECT_GT(elapsed, milliseconds(600));
  {
    std::lock_guard lock(m);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Mirandel: ", 0), 0u);
    EXPECT_NE(lines[0].find("9001"), std::string::npos);
  }
  hub.unsubscribe(a);
  hub.unsubscribe(b);
}

// Guards the describe de-duplication: a request already in flight is not
// repeated within 2 s, while other requests and other messages pass.
TEST(LinkHub, RepeatedDescribeRequestsWithinTwoSecondsAreSentOnce) {
  ManualClock clock;
  LinkHub hub(loopbackOptions(clock.fn()));
  PhoneEmulator phone(loopbackPhone());
  ASSERT_TRUE(phone.start());
  const ControlMessage rack{"/mirandel/describe",
                            {ControlArg::ofText("rack"), ControlArg::ofInt(900)}};
  const ControlMessage fx{"/mirandel/describe",
                          {ControlArg::ofText("fx/blur"), ControlArg::ofInt(900)}};
  const ControlMessage other{"/mirandel/stream/quality", {}};
  hub.sendTo("127.0.0.1", rack);
  hub.sendTo("127.0.0.1", rack);
  hub.sendTo("127.0.0.1", fx);
  hub.sendTo("127.0.0.1", other);
  hub.sendTo("127.0.0.1", other);
  hub.sendTo("", other);             // no destination: nothing
  hub.sendTo("phone.local", other);  // not dotted IPv4: nothing
  clock.advance(2 * kSecond - 1);
  hub.sendTo("127.0.0.1", rack);
  clock.advance(1);
  hub.sendTo("127.0.0.1", rack);
  ASSERT_TRUE(waitFor([&] { return phone.received().size() >= 5; }));
  waitTurns(hub, 1);
  const auto got = phone.received();
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[0].args.at(0).text, "rack");
  EXPECT_EQ(got[1].args.at(0).text, "fx/blur");
  EXPECT_EQ(got[2].address, "/mirandel/stream/quality");
  EXPECT_EQ(got[3].address, "/mirandel/stream/quality");
  EXPECT_EQ(got[4].args.at(0).text, "rack");
}

// Guards the start-up promise: one worker however many clips subscribe.
TEST(LinkHub, TheFirstSubscribeStartsExactlyOneWorker) {
  LinkHub hub(loopbackOptions());
  const int before = threadCount();
  std::vector<int> ids;
  for (int i = 0; i < 3; ++i) ids.push_back(hub.subscribe([] {}));
  hub.probeNow();
  EXPECT_EQ(threadCount(), before + 1);
  for (int id : ids) hub.unsubscribe(id);
}

// Guards teardown: destroying the hub while datagrams pour in must neither
// hang nor touch freed tables, and the worker must end and release the port.
TEST(LinkHub, DestroyingTheHubDuringAFloodEndsTheWorkerAndFreesItsSockets) {
  const int before = threadCount();
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    Sender s;
    while (flooding) s.send(numbered(7));
  });
  {
    LinkHub hub(loopbackOptions());
    const int id = hub.subscribe([] {});
    ASSERT_TRUE(waitFor([&] { return !hub.drainInbox(id).empty(); }));
    hub.unsubscribe(id);
    hub.subscribe([] {});  // left subscribed on purpose
  }
  EXPECT_TRUE(waitFor([&] { return threadCount() == before + 1; }));  // only the flooder
  flooding = false;
  flood.join();
  UdpSocket again = UdpSocket::open();
  EXPECT_TRUE(again.bind(kClipControlPort));  // no reuse option: only if ours is closed
}

// Guards the process-wide accessor against creating two hubs when first
// calls race.
TEST(LinkHub, TheProcessHubIsCreatedOnceEvenWhenFirstCallsRace) {
  std::vector<std::thread> threads;
  std::vector<LinkHub*> seen(8);
  for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { seen[i] = &LinkHub::instance(); });
  for (auto& t : threads) t.join();
  for (LinkHub* h : seen) EXPECT_EQ(h, seen[0]);
}

}  // namespace
}  // namespace mirandel
