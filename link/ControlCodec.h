#pragma once
// Byte form of control messages (OSC 1.0 messages, no bundles).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/ControlMessage.h"

namespace mirandel {

// The datagram bytes of a message. Arguments of an unknown kind are left out
// entirely. Never fails; no size limit is checked. Any thread.
std::vector<std::uint8_t> encode(const ControlMessage& message);

// More arguments than any phone message carries. Each decoded argument is a
// record of its own, copied into every clip's inbox, so a datagram of bare
// tags would otherwise cost about 48 times its size per clip.
inline constexpr std::size_t kMaxControlArguments = 64;

// Reads one datagram. False when the bytes carry no address (empty, not
// starting with '/', or no NUL at all) or when the tag string announces more
// than kMaxControlArguments arguments. Otherwise true, with every argument
// that could be read: a truncated or unsupported argument silently ends the
// list. `out` is overwritten either way (left empty on false). Any thread.
bool decode(const std::uint8_t* bytes, std::size_t length, ControlMessage& out);

// Numeric reading of an argument: Int and Float as is, the leading number of
// a String (always with '.' as the decimal point, whatever the process
// locale), True/Impulse 1, False 0. False for Nil and unknown kinds, and for a
// String with no leading number. Any thread.
bool toNumber(const ControlArg& arg, double& out);

}  // namespace mirandel
