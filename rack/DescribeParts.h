#pragma once
// Joins a rack description that the phone sends in numbered pieces. Pieces of
// several transfers may arrive in any order and interleaved; a transfer that
// stays incomplete is dropped 10 s after its last piece.
//
// The peer chooses every number here, so what is held is bounded: at most
// kMaxTransfers transfers, kMaxParts pieces per transfer and kMaxBytes of text
// across all of them. A piece that would pass a bound abandons its transfer.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "base/Clock.h"

namespace mirandel {

class DescribeParts {
 public:
  static constexpr Nanos kExpiry = 10 * kSecond;
  static constexpr std::size_t kMaxTransfers = 64;
  static constexpr std::size_t kMaxParts = 4096;
  static constexpr std::size_t kMaxBytes = 16u << 20;

  // Files one piece received at `now`. Once the transfer holds as many
  // distinct pieces as its latest `total`, answers the texts of pieces
  // 0..total-1 joined in order (missing ones add nothing) and forgets the
  // transfer. Called on the host's thread.
  std::optional<std::string> add(std::int32_t transferId, std::int32_t total,
                                 std::int32_t partIndex, std::string text, Nanos now);

  std::size_t transfersInProgress() const { return assemblies_.size(); }
  std::size_t bytesHeld() const { return bytes_; }

 private:
  struct Assembly {
    std::int32_t total = 0;
    std::map<std::int32_t, std::string> parts;
    Nanos lastUpdate = 0;
  };

  void drop(std::map<std::int32_t, Assembly>::iterator it);

  std::map<std::int32_t, Assembly> assemblies_;
  std::size_t bytes_ = 0;  // text bytes held across all assemblies
};

}  // namespace mirandel
