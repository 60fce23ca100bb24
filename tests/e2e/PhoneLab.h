#pragma once
// End-to-end set-up: the emulated phone in a peer network namespace joined to
// the test's own namespace by veth pairs. The clip side (a clip made directly,
// or the real plug-in in the headless host) lives in the test's namespace.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <string>

#include "support/NetLab.h"
#include "support/TestSupport.h"
#include "tools/host/DrawnStamp.h"
#include "tools/phone/PhoneApp.h"

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

// Nullopt when the line has another shape, every number written as printf writes it (a
// transport time with one decimal).
inline std::optional<PictureLine> parsePictureLine(const std::string& text) {
  static const std::regex kLine(
      "(0|[1-9]\\d*)x(0|[1-9]\\d*) (H\\.264|HEVC) (0|-?[1-9]\\d*) fps \xC2\xB7 "
      "((?:0|[1-9]\\d*)\\.\\d) ms transport \xC2\xB7 sw( \xC2\xB7 no frames)?");
  std::smatch m;
  if (!std::regex_match(text, m, kLine)) return std::nullopt;
  const auto number = [&](int i) { return static_cast<unsigned>(std::stoul(m[i])); };
  return PictureLine{number(1), number(2), m[3], std::stoi(m[4]), std::stod(m[5]), m[6].matched};
}

// The stamp in a drawn frame of the picture's own size.
inline std::optional<phone::Stamp> stampOf(const host::RgbaImage& image) {
  return host::readDrawnStamp(image, {0, 0, image.width, image.height}, {}, image.width,
                              image.height);
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
  std::unique_ptr<phone::PhoneApp> phone;  // after the lab: stopped before its links go
};

}  // namespace mirandel::test
