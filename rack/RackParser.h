#pragma once
// Reading the phone's rack description (one JSON text) into rack records.
// The parser never throws. A reply is read whole before the clip uses any of
// it: a fault anywhere, even in the last top-level key, makes the whole reply
// unreadable, so the clip never installs half of one.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rack/RackBounds.h"
#include "rack/RackModel.h"

namespace mirandel {

struct DescribeReply {
  std::vector<RackEffect> effects;
  std::string name = "Mirandel";
  std::string version;
  // Position of the phone's active effect; nullopt when the reply does not say,
  // so the clip keeps its own. A number beyond the int range reads as -1, which
  // lies outside every effect list.
  std::optional<std::int64_t> active;
};

// Parses one complete description; nullopt when any part of it is unreadable
// or when it passes a bound of RackBounds.h. Called on the host's thread.
std::optional<DescribeReply> parseDescribeReply(std::string_view text);

}  // namespace mirandel
