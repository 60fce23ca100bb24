#pragma once
// One direction of the relay's path: decides each arriving packet's fate from the fault
// settings and holds the packets that wait to leave, in the order they leave.
//
// Repeatable: every packet takes the same number of random draws whatever its fate, so with
// one seed the n-th packet of a direction always meets the same faults, however the packets
// are timed. Times are nanoseconds since the relay started.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <vector>

#include "base/Clock.h"
#include "tools/relay/FaultSettings.h"

namespace mirandel::relay {

// How long a packet held back for reordering waits for another to pass it.
inline constexpr Nanos kReorderHoldLimit = 50 * kMillisecond;
// Packets waiting per direction; more are dropped (counted as overflow), so a long delay on a
// fast stream costs bounded memory.
inline constexpr std::size_t kMaxWaiting = 16384;

struct DirectionCounters {
  std::uint64_t in = 0;            // packets that arrived
  std::uint64_t out = 0;           // packets handed out to be sent, copies included
  std::uint64_t dropped = 0;       // random loss
  std::uint64_t burstDropped = 0;  // lost in bursts
  std::uint64_t duplicated = 0;    // extra copies made
  std::uint64_t reordered = 0;     // held back and passed by a later packet
  std::uint64_t blackedOut = 0;    // arrived during the blackout
  std::uint64_t overflow = 0;      // no room to wait
};

// A packet on its way: its bytes, which session it belongs to, and when it leaves.
struct Datagram {
  std::vector<std::uint8_t> bytes;
  std::uint64_t session = 0;
  Nanos due = 0;
};

class Impairment {
 public:
  // `stream` tells the directions' random sequences apart.
  Impairment(const FaultSettings& settings, std::uint32_t stream);

  // A packet that arrived at `now`. Relay thread.
  void offer(std::vector<std::uint8_t> bytes, std::uint64_t session, Nanos now);
  // When the next packet leaves; nullopt when none waits. Relay thread.
  std::optional<Nanos> nextDue() const;
  // Moves every packet due by `now` to the end of `out`, in leaving order. Relay thread.
  void takeDue(Nanos now, std::vector<Datagram>& out);

  const DirectionCounters& counters() const { return counters_; }

 private:
  bool inBlackout(Nanos now) const;
  void enqueue(Datagram d);
  // Puts the held packet in line after the last one queued.
  void release();

  FaultSettings settings_;
  Nanos blackoutStart_ = -1, blackoutEnd_ = -1;
  std::mt19937_64 random_;
  int burstLeft_ = 0;
  Nanos lastDue_ = 0;
  std::deque<Datagram> waiting_;  // due times never decrease along it
  std::optional<Datagram> held_;  // held back for reordering
  Nanos heldDeadline_ = 0;        // when it leaves if nothing passes it
  DirectionCounters counters_;
};

}  // namespace mirandel::relay
