// Control message decoder: arbitrary datagrams must never crash it, and every
// message it accepts must survive a round trip through the encoder unchanged
// (the encoder writes exactly what the decoder reads).
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "link/ControlCodec.h"

namespace {
// Same message, comparing floats by bit pattern (a NaN must survive too).
bool same(const mirandel::ControlMessage& a, const mirandel::ControlMessage& b) {
  if (a.address != b.address || a.args.size() != b.args.size()) return false;
  for (std::size_t i = 0; i < a.args.size(); ++i) {
    const mirandel::ControlArg& x = a.args[i];
    const mirandel::ControlArg& y = b.args[i];
    if (x.kind != y.kind || x.intValue != y.intValue || x.text != y.text ||
        std::bit_cast<std::uint32_t>(x.floatValue) != std::bit_cast<std::uint32_t>(y.floatValue)) {
      return false;
    }
  }
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  mirandel::ControlMessage message;
  if (!mirandel::decode(data, size, message)) return 0;
  double number = 0;
  for (const mirandel::ControlArg& arg : message.args) (void)mirandel::toNumber(arg, number);

  const std::vector<std::uint8_t> again = mirandel::encode(message);
  mirandel::ControlMessage reread;
  if (!mirandel::decode(again.data(), again.size(), reread) || !same(reread, message)) std::abort();
  return 0;
}
