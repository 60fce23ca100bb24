// libFuzzer target for the transport-stream demultiplexer: arbitrary bytes, cut into messages
// of input-chosen sizes, each in a buffer of exactly its own length so that any read past a
// message is caught. The first byte chooses whether valid tables come first (so that the
// fuzzer reaches PES assembly quickly), the codec, the message sizes and a mid-stream reset.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "video/TsDemuxer.h"

namespace {

constexpr std::size_t kCap = 1 << 16;

void append(std::vector<std::uint8_t>& out, std::initializer_list<std::uint8_t> head) {
  std::vector<std::uint8_t> p(188, 0xFF);
  std::size_t i = 0;
  for (std::uint8_t b : head) p[i++] = b;
  out.insert(out.end(), p.begin(), p.end());
}

std::vector<std::uint8_t> tables(bool hevc) {
  std::vector<std::uint8_t> t;
  append(t, {0x47, 0x40, 0x00, 0x10, 0x00, 0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1,
             0x00, 0x00, 0x00, 0x01, 0xF0, 0x00, 0x2A, 0xB1, 0x04, 0xB2});
  append(t, {0x47, 0x50, 0x00, 0x10, 0x00, 0x02,
             0xB0, 0x12, 0x00, 0x01, 0xC1, 0x00,
             0x00, 0xE1, 0x00, 0xF0, 0x00, static_cast<std::uint8_t>(hevc ? 0x24 : 0x1B),
             0xE1, 0x00, 0xF0, 0x00, 0x00, 0x00,
             0x00, 0x00});
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t mode = data[0];
  std::uint32_t split = data[1] | 1u;  // small generator for message sizes
  data += 2;
  size -= 2;

  std::uint64_t emitted = 0;
  mirandel::TsDemuxer demuxer(
      [&](mirandel::AccessUnit& unit) {
        ++emitted;
        if (unit.bytes.size() > kCap) std::abort();
        if (unit.pts < -1 || unit.pts >= (std::int64_t{1} << 33)) std::abort();
      },
      [] { return mirandel::Nanos{1}; }, kCap);

  auto feedCopy = [&](const std::uint8_t* bytes, std::size_t length) {
    std::vector<std::uint8_t> message(bytes, bytes + length);
    demuxer.feed(message.data(), message.size());
  };

  if (mode & 1) {
    const std::vector<std::uint8_t> t = tables(mode & 2);
    feedCopy(t.data(), t.size());
  }
  std::size_t pos = 0;
  bool resetDone = false;
  while (pos < size) {
    split = split * 1103515245u + 12345u;
    std::size_t length = (mode & 4) ? 7 * 188 : 1 + (split >> 16) % 400;
    if (length > size - pos) length = size - pos;
    feedCopy(data + pos, length);
    pos += length;
    if ((mode & 8) && !resetDone && pos > size / 2) {
      demuxer.reset();
      resetDone = true;
    }
  }
  if (demuxer.counters().auCount != emitted) std::abort();
  return 0;
}
