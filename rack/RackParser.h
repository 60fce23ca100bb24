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

// What a sane rack holds at most. The phone's racks hold a dozen effects in a
// few kilobytes; a description beyond either bound is refused as unreadable,
// since reading it on the host's thread would hold the host up: 10 MB take a
// quarter of a second to parse, and half a megabyte of empty effects, 170,000
// of them, as long to install. No host could show such a list anyway.
inline constexpr std::size_t kMaxDescriptionBytes = std::size_t{512} << 10;
inline constexpr std::size_t kMaxRackEffects = 1000;

// Parses one complete description; nullopt when any part of it is unreadable
// or when it passes the bounds above. Called on the host's thread.
std::optional<DescribeReply> parseDescribeReply(std::string_view text);

}  // namespace mirandel
