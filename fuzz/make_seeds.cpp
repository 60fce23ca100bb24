// Makes the fuzz targets' seed inputs from real data at fuzz time, so that no
// binary seed lives in the tree:
//   make_fuzz_seeds <out dir> <rack.json> [<stream.ts> ...] [--capture]
// - transport streams: the ones given (FFmpeg's multiplexer) and the phone
//   emulator's own (its encoder and multiplexer, with end-of-picture markers)
//   for fuzz_demux; their access units for fuzz_decoder and their parameter
//   sets for fuzz_sequence_info;
// - the emulator's describe answers (the whole rack, each effect) for
//   fuzz_rack and fuzz_describe_reply;
// - with --capture, which must run in a private network namespace: every
//   datagram the emulator sends a clip during a session on loopback, for
//   fuzz_control_decode.
// Each seed is written to <out dir>/<target without "fuzz_">/<name>.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/ControlCodec.h"
#include "link/UdpSocket.h"
#include "tools/phone/PhoneApp.h"
#include "tools/phone/TsMuxer.h"
#include "tools/phone/VideoEncoder.h"
#include "video/AnnexB.h"
#include "video/TsDemuxer.h"

namespace {

using namespace mirandel;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

fs::path gOut;

void write(const std::string& target, const std::string& name, const Bytes& bytes) {
  const fs::path dir = gOut / target;
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The access units of a stream, cut by the product's own demultiplexer.
std::vector<AccessUnit> accessUnits(const Bytes& ts, CodecKind& codec) {
  std::vector<AccessUnit> units;
  TsDemuxer demuxer([&](AccessUnit& u) { units.push_back(std::move(u)); });
  demuxer.feed(ts.data(), ts.size());
  codec = demuxer.codec();
  return units;
}

// One stream's seeds for the demultiplexer, the decoder and the parameter set reader.
void streamSeeds(const std::string& name, const Bytes& ts) {
  // Byte 0 of a demux input: bit 2 cuts messages of 7 packets, as SRT carries them;
  // byte 1 seeds the generator of uneven message sizes.
  write("demux", name + "-srt-sized", Bytes{0x04, 0x01} + ts);
  write("demux", name + "-uneven", Bytes{0x08, 0x5A} + ts);

  CodecKind codec = kCodecNone;
  const std::vector<AccessUnit> units = accessUnits(ts, codec);
  const std::uint8_t hevc = codec == kCodecHevc ? 1 : 0;
  // Decoder input: byte 0 the codec; then per unit a 16-bit length, flags, the bytes.
  Bytes decoder{hevc};
  int taken = 0;
  std::set<Bytes> parameterSets;
  for (const AccessUnit& u : units) {
    if (u.bytes.size() > 0xFFFF || taken == 6) break;
    decoder.push_back(static_cast<std::uint8_t>(u.bytes.size()));
    decoder.push_back(static_cast<std::uint8_t>(u.bytes.size() >> 8));
    decoder.push_back(u.randomAccess ? 1 : 0);
    decoder.insert(decoder.end(), u.bytes.begin(), u.bytes.end());
    ++taken;
    NalReader reader(u.bytes.data(), u.bytes.size());
    for (NalUnit nal; reader.next(nal);) {
      const unsigned type = nalType(nal, codec);
      if (type == (codec == kCodecHevc ? 33u : 7u))
        parameterSets.insert(Bytes{hevc} + Bytes(nal.data, nal.data + nal.size));
    }
  }
  if (taken > 0) write("decoder", name, decoder);
  int k = 0;
  for (const Bytes& sps : parameterSets)
    write("sequence_info", name + "-" + std::to_string(k++), sps);
}

// A few pictures of the emulator's moving pattern, as the phone streams them.
Bytes emulatorStream(CodecKind codec) {
  phone::EncoderOptions options;
  options.codec = codec;
  options.width = 160;
  options.height = 96;
  options.bitrateKbps = 300;
  options.keyInterval = 4;
  phone::VideoEncoder encoder(options);
  phone::TsMuxerOptions muxOptions;
  muxOptions.codec = codec;
  phone::TsMuxer muxer(muxOptions);
  phone::YuvPicture picture;
  std::vector<phone::EncodedPicture> coded;
  Bytes ts;
  for (std::uint32_t i = 0; i < 6; ++i) {
    phone::renderTestPattern(phone::Stamp{i, 1000u * i}, options.width, options.height, picture);
    coded.clear();
    if (!encoder.encode(picture, i, i == 0, coded)) throw std::runtime_error("encoder failed");
    for (const phone::EncodedPicture& p : coded)
      muxer.muxPicture(p.bytes.data(), p.bytes.size(), p.pts90k, p.key, ts);
  }
  return ts;
}

// Rack answers as the emulator gives them, and sessions of the clip target built on them.
void rackSeeds(const std::string& rackJson) {
  phone::PhoneAppOptions options;
  options.rackJson = rackJson;
  const phone::PhoneApp app(options);
  std::vector<std::string> answers{*app.describeText("rack")};
  const nlohmann::json rack = nlohmann::json::parse(rackJson);
  for (const auto& effect : rack.at("effects")) {
    if (auto text = app.describeText(effect.value("address", ""))) answers.push_back(*text);
  }
  write("rack", "file", bytesOf(rackJson));
  // After the reply, fuzz_describe_reply's operations: the host reads, moves the hero and
  // the option menu (a mode change, so a relayout), time passes with a step, the phone
  // sends feedback and a patch, the host picks an effect, the reply comes again.
  const Bytes operations{6, 0,  15, 0, 0,  0, 0x3F, 0, 21, 0, 0, 0x80, 0x3F,
                         4, 80, 1,  3, 64, 2, 2,    3, 1,  4, 4, 5,    6};
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const std::string name = i == 0 ? "rack" : "effect-" + std::to_string(i - 1);
    write("rack", name, bytesOf(answers[i]));
    // The whole rack comes first and whole; an effect's answer follows the valid first
    // reply, the way it merges.
    const std::uint8_t mode = i == 0 ? 0 : 1;
    write("describe_reply", name, Bytes{mode, 0} + bytesOf(answers[i]) + Bytes{0} + operations);
  }
  write("describe_reply", "rack-in-parts",
        Bytes{2, 199} + bytesOf(answers[0]) + Bytes{0} + operations);
}

// A clip's session with the emulator on loopback, from a socket on the clip's port: every
// datagram the phone sends is kept once.
void captureSession(const std::string& rackJson) {
  phone::PhoneAppOptions options;
  options.rackJson = rackJson;
  options.partSize = 700;
  options.statusInterval = std::chrono::milliseconds(100);
  phone::PhoneApp app(options);
  UdpSocket clip = UdpSocket::open();
  if (!clip.bind(9001, "127.0.0.1") || !clip.setReceiveTimeout(std::chrono::milliseconds(50)) ||
      !app.start())
    throw std::runtime_error("cannot open the loopback session (not in a network namespace?)");

  auto ask = [&](const std::string& address, std::vector<ControlArg> args) {
    const Bytes bytes = encode(ControlMessage{address, std::move(args)});
    clip.sendTo("127.0.0.1", 9000, bytes.data(), bytes.size());
  };
  std::set<Bytes> seen;
  auto collect = [&](std::chrono::milliseconds during) {
    const auto end = std::chrono::steady_clock::now() + during;
    Bytes buffer(65536);
    std::string sender;
    while (std::chrono::steady_clock::now() < end) {
      const long n = clip.receive(buffer.data(), buffer.size(), sender);
      if (n > 0) seen.insert(Bytes(buffer.begin(), buffer.begin() + n));
    }
  };

  ask("/mirandel/discover", {});
  ask("/mirandel/describe", {ControlArg::ofText("rack"), ControlArg::ofInt(900)});
  std::string mode[3];  // effect, field and a choice of the first option control
  const nlohmann::json rack = nlohmann::json::parse(rackJson);
  for (const auto& effect : rack.at("effects")) {
    const std::string address = effect.value("address", "");
    ask("/mirandel/describe", {ControlArg::ofText(address), ControlArg::ofInt(900)});
    for (const auto& control : effect.value("params", nlohmann::json::array()))
      if (mode[0].empty() && control.value("type", "") == "option" &&
          !control.value("options", nlohmann::json::array()).empty())
        mode[0] = address, mode[1] = control.value("field", ""),
        mode[2] = control["options"].back().get<std::string>();
  }
  ask("/mirandel/stream/quality", {});
  ask("/mirandel/stream/grain", {ControlArg::ofInt(0)});
  ask("/mirandel/zoom", {ControlArg::ofFloat(2.0f)});
  collect(std::chrono::milliseconds(400));
  app.patchTo(1);
  if (!mode[0].empty()) app.setMode(mode[0], mode[1], mode[2]);
  app.setRecording(true);
  app.setQuality(2);
  collect(std::chrono::milliseconds(400));
  app.stop();

  int k = 0;
  for (const Bytes& datagram : seen) {
    char name[32];
    std::snprintf(name, sizeof name, "captured-%03d", k++);
    write("control_decode", name, datagram);
  }
  std::printf("captured %d distinct datagrams\n", k);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: make_fuzz_seeds <out dir> <rack.json> [<stream.ts> ...] [--capture]\n");
    return 2;
  }
  try {
    gOut = argv[1];
    const Bytes rackBytes = readFile(argv[2]);
    const std::string rack(rackBytes.begin(), rackBytes.end());
    bool capture = false;
    for (int i = 3; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg == "--capture") {
        capture = true;
        continue;
      }
      streamSeeds("ffmpeg-" + fs::path(arg).stem().string(), readFile(arg));
    }
    streamSeeds("emulator-h264", emulatorStream(kCodecH264));
    streamSeeds("emulator-hevc", emulatorStream(kCodecHevc));
    rackSeeds(rack);
    if (capture) captureSession(rack);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_fuzz_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
