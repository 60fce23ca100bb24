// What the fault relay adds with no fault set: a 1316-byte datagram's round trip to a UDP echo
// on loopback, straight and through the relay (which it then passes twice). Loopback only; run
// it in a private namespace:
//   unshare -n sh -c 'ip link set lo up && build/release/bench/bench_relay'
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "tools/relay/Relay.h"

namespace {

constexpr std::uint16_t kEchoPort = 7101, kRelayPort = 7100;

sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// Answers every datagram to its sender until shut down.
class Echo {
 public:
  Echo() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    const sockaddr_in a = loopback(kEchoPort);
    bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    thread_ = std::thread([this] {
      std::vector<char> b(2048);
      sockaddr_in from{};
      socklen_t length = sizeof from;
      for (long n; (n = recvfrom(fd_, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&from),
                                 &length)) > 0;
           length = sizeof from) {
        sendto(fd_, b.data(), static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&from),
               length);
      }
    });
  }
  ~Echo() {
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
  }

 private:
  int fd_;
  std::thread thread_;
};

void roundTrips(benchmark::State& state, std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  const timeval wait{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  const sockaddr_in to = loopback(port);
  std::vector<char> message(1316, 'x'), answer(2048);
  for (auto _ : state) {
    const auto t = std::chrono::steady_clock::now();
    sendto(fd, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&to),
           sizeof to);
    if (recv(fd, answer.data(), answer.size(), 0) <= 0) {
      state.SkipWithError("no answer");
      break;
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count());
  }
  close(fd);
}

// The reference: the echo straight.
void BM_RoundTripStraight(benchmark::State& state) {
  Echo echo;
  roundTrips(state, kEchoPort);
}
BENCHMARK(BM_RoundTripStraight)->UseManualTime()->Iterations(20000);

void BM_RoundTripThroughRelay(benchmark::State& state) {
  Echo echo;
  mirandel::relay::Relay relay;
  if (!relay.start({{"127.0.0.1", kRelayPort}, {"127.0.0.1", kEchoPort}, {}})) {
    state.SkipWithError("relay did not start");
    return;
  }
  roundTrips(state, kRelayPort);
  const auto report = relay.report();
  state.counters["relay_median_us"] = report.lateness.percentileMs(0.5) * 1000;
  state.counters["relay_p99_us"] = report.lateness.percentileMs(0.99) * 1000;
}
BENCHMARK(BM_RoundTripThroughRelay)->UseManualTime()->Iterations(20000);

}  // namespace

BENCHMARK_MAIN();
