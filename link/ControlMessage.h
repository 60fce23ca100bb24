#pragma once
// The records of the control channel: one OSC 1.0 message per UDP datagram,
// in both directions between a clip and its phone.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mirandel {

// Kind of a ControlArg; the numbers are part of the records' meaning.
enum class ArgKind : std::uint32_t {
  Int = 0,
  Float = 1,
  String = 2,
  True = 3,
  False = 4,
  Nil = 5,
  Impulse = 6,
};

// One argument. Only the field named by kind carries a value; the others stay
// zero / empty so that records compare and print predictably.
struct ControlArg {
  ArgKind kind = ArgKind::Nil;
  std::int32_t intValue = 0;
  float floatValue = 0.0f;
  std::string text;

  static ControlArg ofInt(std::int32_t v) { return {ArgKind::Int, v, 0.0f, {}}; }
  static ControlArg ofFloat(float v) { return {ArgKind::Float, 0, v, {}}; }
  static ControlArg ofText(std::string v) { return {ArgKind::String, 0, 0.0f, std::move(v)}; }
  static ControlArg ofKind(ArgKind k) { return {k, 0, 0.0f, {}}; }

  friend bool operator==(const ControlArg&, const ControlArg&) = default;
};

struct ControlMessage {
  std::string address;  // begins with "/" in every valid message
  std::vector<ControlArg> args;

  friend bool operator==(const ControlMessage&, const ControlMessage&) = default;
};

// A message as the receive worker hands it to a clip.
struct IncomingMessage {
  std::string sender;  // dotted IPv4 text of the datagram's source
  std::string address;
  std::vector<ControlArg> args;

  friend bool operator==(const IncomingMessage&, const IncomingMessage&) = default;
};

// Bytes a queued copy of the message holds: its records and the bytes of its
// texts (allocator overhead aside). Inboxes are bounded by this.
inline std::size_t footprint(const IncomingMessage& m) {
  std::size_t bytes = sizeof m + m.sender.size() + m.address.size();
  for (const ControlArg& arg : m.args) bytes += sizeof arg + arg.text.size();
  return bytes;
}

}  // namespace mirandel
