#pragma once
// The target of a clip's video pipeline: where the phone's SRT listener is and how the
// received pictures are to be delivered.
#include <cstdint>
#include <string>

namespace mirandel {

inline constexpr std::int32_t kDefaultStreamPort = 9010;

struct StreamConfig {
  std::string host;                        // host name or dotted IPv4 address of the phone
  std::int32_t port = kDefaultStreamPort;  // UDP port of the phone's SRT listener
  std::int32_t latencyMs = 40;             // SRT receive latency
  std::uint32_t maxDimension = 0;          // largest side of delivered pictures, 0 for no limit

  bool operator==(const StreamConfig&) const = default;
};

}  // namespace mirandel
