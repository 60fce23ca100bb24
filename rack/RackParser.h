#pragma once
// Reading the phone's rack description (one JSON text) into rack records.
// The parser never throws; it reports how far the reply was usable so the clip
// can apply the parts that were read before the fault.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rack/RackModel.h"

namespace mirandel {

struct DescribeReply {
  enum class Failure {
    None,
    Effects,        // the text or an effect is unreadable: change nothing
    NameOrVersion,  // effects are complete; "name" or "version" is unusable
    Active,         // effects, name and version are complete; "active" is unusable
  };
  Failure failure = Failure::None;
  std::vector<RackEffect> effects;  // complete unless failure == Effects
  std::string name = "Mirandel";    // valid when failure is None or Active
  std::string version;
  // Position of the phone's active effect; nullopt when the reply does not say,
  // so the clip keeps its own. A number beyond the int range reads as -1, which
  // lies outside every effect list.
  std::optional<std::int64_t> active;
};

// Parses one complete description. Called on the host's thread.
DescribeReply parseDescribeReply(std::string_view text);

}  // namespace mirandel
