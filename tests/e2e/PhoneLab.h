#pragma once
// End-to-end set-up: the emulated phone in a peer network namespace joined to
// the test's own namespace by veth pairs. The clip side (a clip made directly,
// or the real plug-in in the headless host) lives in the test's namespace.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/NetLab.h"
#include "support/TestSupport.h"
#include "tools/host/RgbaImage.h"
#include "tools/phone/PhoneApp.h"
#include "tools/phone/Stamp.h"

namespace mirandel::test {

using std::chrono::milliseconds;
using std::chrono::seconds;

inline constexpr const char* kWifiClip = "10.77.0.1";
inline constexpr const char* kWifiPhone = "10.77.0.2";
inline constexpr const char* kWiredClip = "169.254.1.1";
inline constexpr const char* kWiredPhone = "169.254.1.2";

// A live "Picture" line read back into its parts.
struct PictureLine {
  unsigned width = 0, height = 0;
  std::string codec;
  int fps = 0;
  double transportMs = 0;
  bool noFrames = false;
};

// Nullopt when the line has another shape: rebuilt from its parts it must come
// out byte for byte the same.
inline std::optional<PictureLine> parsePictureLine(const std::string& text) {
  PictureLine p;
  char codec[16] = {}, transport[16] = {};
  int used = 0;
  if (std::sscanf(text.c_str(), "%ux%u %15s %d fps \xC2\xB7 %15[0-9.] ms transport \xC2\xB7 sw%n",
                  &p.width, &p.height, codec, &p.fps, transport, &used) != 5) {
    return std::nullopt;
  }
  p.codec = codec;
  p.noFrames = text.substr(static_cast<std::size_t>(used)) == " \xC2\xB7 no frames";
  p.transportMs = std::atof(transport);
  char rebuilt[256];
  std::snprintf(rebuilt, sizeof rebuilt, "%ux%u %s %d fps \xC2\xB7 %.1f ms transport \xC2\xB7 sw%s",
                p.width, p.height, codec, p.fps, p.transportMs,
                p.noFrames ? " \xC2\xB7 no frames" : "");
  if (text != rebuilt || (p.codec != "H.264" && p.codec != "HEVC")) return std::nullopt;
  return p;
}

// The stamp in a drawn frame (the host reads RGBA, the reader wants BGRA).
inline std::optional<phone::Stamp> stampOf(const host::RgbaImage& image) {
  std::vector<std::uint8_t> bgra(image.pixels);
  for (std::size_t i = 0; i + 3 < bgra.size(); i += 4) std::swap(bgra[i], bgra[i + 2]);
  return phone::readStamp(bgra.data(), image.width * 4u, static_cast<int>(image.width),
                          static_cast<int>(image.height));
}

// Phone options for tests: the sample rack and a small, cheap stream.
inline phone::PhoneAppOptions phoneOptions() {
  phone::PhoneAppOptions o;
  o.rackJson = phone::readTextFile(sourcePath("tools/phone/racks/sample.json")).value_or("");
  o.control.name = "Ada's phone";
  o.control.identity = "ada-1";
  // Replies on the link-local route carry no link text: wired by address.
  o.control.linkText = [](const std::string& asker) {
    return asker.rfind("169.254.", 0) == 0 ? std::string() : std::string("wifi");
  };
  o.stream.encoder.width = 320;
  o.stream.encoder.height = 240;
  o.stream.encoder.bitrateKbps = 400;
  o.stream.encoder.keyInterval = 15;
  return o;
}

class PhoneLab : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab.ok());
    ASSERT_TRUE(
        lab.addLink("h1", std::string(kWifiClip) + "/24", "p1", std::string(kWifiPhone) + "/24"));
  }
  void TearDown() override {
    if (phone) phone->stop();
  }
  void addWiredLink() {
    ASSERT_TRUE(
        lab.addLink("h0", std::string(kWiredClip) + "/16", "p0", std::string(kWiredPhone) + "/16"));
  }
  // Starts the phone inside the peer namespace, so its sockets (the SRT
  // listener too, opened later on its own thread) belong there. `prepare`
  // gets the phone before it starts.
  void startPhone(phone::PhoneAppOptions options,
                  const std::function<void(phone::PhoneApp&)>& prepare = {}) {
    bool started = false;
    lab.runInPeer([&] {
      phone = std::make_unique<phone::PhoneApp>(std::move(options));
      if (prepare) prepare(*phone);
      started = phone->start();
    });
    ASSERT_TRUE(started);
  }

  NetLab lab;
  std::unique_ptr<phone::PhoneApp> phone;
};

}  // namespace mirandel::test
