// The phone emulator on real sockets in the test's private namespace: the control side's
// answers and scripting hooks, and the application's answers to a clip's requests, its status
// and its own changes.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "link/ControlCodec.h"
#include "link/UdpSocket.h"
#include "support/TagLetters.h"
#include "support/TestSupport.h"
#include "tools/phone/PhoneApp.h"
#include "tools/phone/PhoneEmulator.h"
#include "tools/phone/PhoneScript.h"

namespace mirandel::phone {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using test::F, test::I, test::S, test::kTrue, test::waitFor;

// The clip's end of the control channel: UDP port 9001, where every phone message must arrive.
struct ClipSocket {
  UdpSocket socket = UdpSocket::open();

  ClipSocket() {
    EXPECT_TRUE(socket.bind(9001));
    EXPECT_TRUE(socket.setReceiveTimeout(milliseconds(3000)));
  }
  // To the phone's port 9000 on loopback.
  void send(const std::string& address, std::vector<ControlArg> args = {}) {
    const auto bytes = encode({address, std::move(args)});
    EXPECT_TRUE(socket.sendTo("127.0.0.1", 9000, bytes.data(), bytes.size()));
  }
  // The next message, passing over the phone's periodic status unless asked for; an empty
  // address on time-out.
  IncomingMessage next(bool skipStatus = true) {
    std::vector<std::uint8_t> buffer(65536);
    for (;;) {
      std::string sender;
      const long n = socket.receive(buffer.data(), buffer.size(), sender);
      ControlMessage m;
      if (n <= 0 || !decode(buffer.data(), static_cast<std::size_t>(n), m)) return {};
      if (!skipStatus || m.address != "/mirandel/status") return {sender, m.address, m.args};
    }
  }
  // Sends a quality query and answers everything that arrived before its reply: UDP on
  // loopback keeps order, so this proves what was not sent.
  std::vector<IncomingMessage> drainUntilQualityReply() {
    send("/mirandel/stream/quality");
    std::vector<IncomingMessage> before;
    for (IncomingMessage m = next(); !m.address.empty(); m = next()) {
      if (m.address == "/mirandel/stream/quality" && m.args.size() == 1) return before;
      before.push_back(m);
    }
    ADD_FAILURE() << "no quality reply";
    return before;
  }
};

// A message as it arrives at the clip from the phone on loopback.
IncomingMessage fromPhone(const std::string& address, std::vector<ControlArg> args = {}) {
  return {"127.0.0.1", address, std::move(args)};
}

// Guards the probe reply discovery relies on (all five arguments, the link text chosen per
// asker and left out when empty, sent to port 9001) and the scripting hooks that only tests
// use: replies injected after it, in order, and delays. (Handlers and the received log are the
// application's own, under every PhoneApp test here; send filters hold back the wired replies
// in ClipAndPhone.ConnectsMapsFollowsControlAndPatches..., which connects over Wi-Fi first.)
TEST(PhoneEmulator, AnswersAProbeAsConfiguredAndCanBeScriptedWithRepliesAndDelays) {
  int asked = 0;
  PhoneEmulator phone(
      {.name = "Ada",
       .ownText = "2.0",
       .extra = "studio",
       .identity = "ada-1",
       .linkText = [&asked](const std::string&) { return ++asked == 1 ? "wired" : ""; }});
  phone.addExtraReply({"/mirandel/status", {F(30.0f)}});  // after each probe reply
  ASSERT_TRUE(phone.start());
  ClipSocket clip;
  clip.send("/mirandel/discover");
  EXPECT_EQ(clip.next(false),
            fromPhone("/mirandel/here", {S("Ada"), S("2.0"), S("studio"), S("ada-1"), S("wired")}));
  EXPECT_EQ(clip.next(false), fromPhone("/mirandel/status", {F(30.0f)}));

  phone.setSendDelay(milliseconds(300));
  const auto sent = std::chrono::steady_clock::now();
  clip.send("/mirandel/discover");
  EXPECT_EQ(clip.next(),
            fromPhone("/mirandel/here", {S("Ada"), S("2.0"), S("studio"), S("ada-1")}));
  EXPECT_GE(std::chrono::steady_clock::now() - sent, milliseconds(300));
}

struct Phone {
  explicit Phone(PhoneAppOptions o = {})
      : app((o.rackJson =
                 readTextFile(test::sourcePath("tools/phone/racks/sample.json")).value_or(""),
             std::move(o))) {
    EXPECT_TRUE(app.start());
  }
  PhoneApp app;
};

struct Description {
  std::string text;
  std::int32_t transfer = -1;         // -1: sent whole
  std::vector<std::int32_t> arrival;  // part indexes in arrival order
};

// Collects one description, whole or in parts, checking the parts' numbering: one transfer
// number and total throughout, each index from 0 to total - 1 once.
Description receiveDescription(ClipSocket& clip) {
  Description d;
  std::map<std::int32_t, std::string> parts;
  for (std::int32_t total = -1; std::ssize(parts) != total;) {
    const IncomingMessage m = clip.next();
    if (m.address == "/mirandel/describe" && !m.args.empty()) {
      d.text = m.args[0].text;
      return d;
    }
    if (m.address != "/mirandel/describe/part" || m.args.size() != 4) {
      ADD_FAILURE() << "unexpected " << m.address;
      return d;
    }
    if (d.arrival.empty()) d.transfer = m.args[0].intValue, total = m.args[1].intValue;
    EXPECT_EQ(std::tuple(m.args[0].intValue, m.args[1].intValue), std::tuple(d.transfer, total));
    EXPECT_TRUE(parts.emplace(m.args[2].intValue, m.args[3].text).second) << "index repeated";
    d.arrival.push_back(m.args[2].intValue);
  }
  EXPECT_EQ(parts.begin()->first, 0);
  EXPECT_EQ(parts.rbegin()->first, std::ssize(parts) - 1);
  for (const auto& [index, piece] : parts) d.text += piece;
  return d;
}

// Guards the part splitter: the pieces join back byte for byte and none begins mid-character.
TEST(PhoneApp, SplitsTextIntoPiecesThatJoinBackAndNeverCutACharacter) {
  const std::string text =
      "ab\xC2\xB7"
      "cd\xE2\x86\x92"
      "e\xF0\x9F\x8E\xA5"
      "fgh";  // · → 🎥
  for (std::size_t size : {1u, 2u, 3u, 5u, 7u, 100u}) {
    SCOPED_TRACE(size);
    const auto pieces = PhoneApp::splitText(text, size);
    std::string joined;
    for (const auto& p : pieces) {
      ASSERT_FALSE(p.empty());
      EXPECT_NE(static_cast<unsigned char>(p[0]) & 0xC0, 0x80) << "piece starts mid-character";
      EXPECT_LE(p.size(), std::max<std::size_t>(size, 4));
      joined += p;
    }
    EXPECT_EQ(joined, text);
  }
  EXPECT_EQ(PhoneApp::splitText("", 10), std::vector<std::string>{""});
}

// Guards the answers the clip loads its rack from, whole or in pieces of any order: the whole
// rack with every effect, the on-request ones without "params", no leak of the emulator's
// marker key, a new transfer each time; a missing effect's request answered with that effect
// alone, its controls and the phone's active position; an unknown address not answered at all.
TEST(PhoneApp, AnswersTheWholeRackWithOnRequestEffectsListedWithoutParamsAndEachOnRequest) {
  const std::pair<std::size_t, PartOrder> cases[] = {{0, PartOrder::InOrder},
                                                     {300, PartOrder::InOrder},
                                                     {300, PartOrder::Reversed},
                                                     {250, PartOrder::Shuffled}};
  for (const auto& [partSize, order] : cases) {
    SCOPED_TRACE(partSize);
    ClipSocket clip;
    Phone phone({.partSize = partSize, .partOrder = order});
    clip.send("/mirandel/describe", {S("rack"), I(900)});
    const Description d = receiveDescription(clip);
    const json rack = json::parse(d.text);
    ASSERT_EQ(rack["effects"].size(), 12u);
    EXPECT_EQ(rack["active"], 0);
    EXPECT_EQ(rack["name"], "Mirandel");
    std::set<std::string> lacking;
    for (const json& e : rack["effects"]) {
      EXPECT_FALSE(e.contains("describeOnRequest"));
      if (!e.contains("params")) lacking.insert(e["address"].get<std::string>());
    }
    EXPECT_EQ(lacking,
              (std::set<std::string>{"glow", "kaleido", "split", "tunnel", "grade", "thermal"}));

    clip.send("/mirandel/describe", {S("glow"), I(900)});
    const json reply = json::parse(receiveDescription(clip).text);
    ASSERT_EQ(reply["effects"].size(), 1u);
    const json& glow = reply["effects"][0];
    EXPECT_EQ(std::tuple(glow["address"], glow["params"].size(), glow.contains("describeOnRequest"),
                         reply["active"]),
              std::tuple("glow", 5u, false, 0));
    clip.send("/mirandel/describe", {S("nosuch"), I(900)});
    EXPECT_TRUE(clip.drainUntilQualityReply().empty());

    if (partSize == 0) {
      EXPECT_TRUE(d.arrival.empty());
      continue;
    }
    ASSERT_GT(d.arrival.size(), 3u);
    if (order == PartOrder::Reversed) {
      EXPECT_EQ(d.arrival.front(), std::ssize(d.arrival) - 1);
    }
    if (order == PartOrder::Shuffled) {
      EXPECT_FALSE(std::is_sorted(d.arrival.begin(), d.arrival.end()));
    }
    clip.send("/mirandel/describe", {S("rack"), I(900)});
    EXPECT_NE(receiveDescription(clip).transfer, d.transfer);
  }
}

// Guards the echo the clip's control feedback relies on: a command the phone takes is confirmed
// as sent and kept in its rack; one it cannot take, and an action, are not confirmed.
TEST(PhoneApp, ConfirmsTheControlCommandsItTakesAndKeepsTheirValues) {
  // (address, arguments, confirmed, the key of the control record it changes, its value)
  const std::tuple<const char*, std::vector<ControlArg>, bool, const char*, json> cases[] = {
      {"/mirandel/grain/amount", {F(0.75f)}, true, "normalized", 0.75},
      {"/mirandel/grain/colour", {I(0)}, true, "value", false},
      {"/mirandel/grain/mono", {kTrue}, true, "value", true},
      {"/mirandel/grain/mode", {S("coarse")}, true, "value", "coarse"},
      {"/mirandel/grain/mode", {I(1)}, false, "value", "fine"},
      {"/mirandel/grain/amount", {S("loud")}, false, "normalized", 0.4},
      {"/mirandel/grain/nosuch", {F(0.5f)}, false, nullptr, nullptr},
      {"/mirandel/glow/radius", {F(0.9f)}, true, "normalized", 0.9},
      {"/mirandel/echo/tap", {}, false, nullptr, nullptr}};
  for (const auto& [address, args, echoed, key, value] : cases) {
    SCOPED_TRACE(address);
    ClipSocket clip;
    Phone phone;
    clip.send(address, args);
    EXPECT_EQ(clip.drainUntilQualityReply(),
              echoed ? std::vector{fromPhone(address, args)} : std::vector<IncomingMessage>{});
    if (key == nullptr) continue;
    const std::string path = std::string(address).substr(10);
    const json record =
        phone.app.controlState(path.substr(0, path.find('/')), path.substr(path.find('/') + 1));
    if (value.is_number_float()) {
      EXPECT_NEAR(record[key].get<double>(), value.get<double>(), 1e-6);
    } else {
      EXPECT_EQ(record[key], value);
    }
  }
}

// Guards the phone's own changes and its answers to a clip. Its changes go to the clip it last
// heard from (nowhere before any spoke) and are refused where the rack has no such effect,
// control or mode (the forms the clip's feedback reads are checked by
// ClipAndPhone.ConnectsMapsFollowsControlAndPatches...). The quality is limited to 2, a
// non-number ignored; one stream starts however often the clip asks (it repeats until it sees a
// picture), none for other values; the seven-argument status carries the zoom and recording the
// clip set (the grain answer is read by the clip in ClipAndPhone.ShowsEitherCodecsLine...). A
// patch by address or position switches the active effect, which later answers carry; one
// beyond the rack changes nothing.
TEST(PhoneApp, ReportsItsOwnChangesToTheClipItLastHeardFromAndAnswersItsRequests) {
  ClipSocket clip;
  Phone phone(
      {.stream = {.encoder = {.width = 320, .height = 240}}, .statusInterval = milliseconds(50)});
  EXPECT_TRUE(phone.app.patchTo(1));
  EXPECT_EQ(phone.app.control().sentCount(), 0u);
  clip.send("/mirandel/stream/quality");
  EXPECT_EQ(clip.next(), fromPhone("/mirandel/stream/quality", {I(1)}));
  EXPECT_EQ(phone.app.clipAddress(), "127.0.0.1");
  phone.app.setRecording(true);
  EXPECT_EQ(clip.next(), fromPhone("/mirandel/rec", {I(1)}));
  EXPECT_FALSE(phone.app.patchTo(12));
  EXPECT_FALSE(phone.app.setMode("grain", "mode", "bogus"));
  EXPECT_FALSE(phone.app.setMode("grain", "amount", "fine"));
  EXPECT_FALSE(phone.app.setControl("grain", "nosuch", F(1)));
  EXPECT_FALSE(phone.app.setControl("nosuch", "amount", F(1)));
  EXPECT_TRUE(clip.drainUntilQualityReply().empty());

  clip.send("/mirandel/stream/quality", {I(5)});
  EXPECT_EQ(clip.next(), fromPhone("/mirandel/stream/quality", {I(2)}));
  EXPECT_EQ(phone.app.quality(), 2);
  clip.send("/mirandel/stream/quality", {F(NAN)});
  clip.send("/mirandel/stream/quality");
  EXPECT_EQ(clip.next(), fromPhone("/mirandel/stream/quality", {I(2)}));

  clip.send("/mirandel/stream", {I(0)});
  clip.drainUntilQualityReply();
  EXPECT_EQ(phone.app.streamStarts(), 0);
  for (int i = 0; i < 3; ++i) clip.send("/mirandel/stream", {I(1)});
  clip.drainUntilQualityReply();
  EXPECT_EQ(phone.app.streamStarts(), 1);
  EXPECT_TRUE(phone.app.stream().running());

  // Recording since the phone's own change: the clip's stop must show.
  clip.send("/mirandel/zoom", {F(2.0f)});
  clip.send("/mirandel/rec", {I(0)});
  EXPECT_EQ(clip.next(), fromPhone("/mirandel/rec", {I(0)}));
  ASSERT_TRUE(waitFor([&] {
    const IncomingMessage m = clip.next(false);
    if (m.address != "/mirandel/status") return false;
    EXPECT_EQ(m.args.size(), 7u);
    return m.args.size() == 7 && m.args[3].floatValue == 2.0f && m.args[4].intValue == 0 &&
           m.args[1].intValue == 30;
  }));
  EXPECT_FALSE(phone.app.recording());

  const std::vector<std::pair<ControlArg, int>> steps = {
      {S("echo"), 2}, {I(4), 4}, {I(99), 4}, {S("nosuch"), 4}, {F(7.0f), 7}, {I(-1), 7}};
  for (const auto& [arg, active] : steps) {
    clip.send("/mirandel/patch", {arg});
    EXPECT_TRUE(clip.drainUntilQualityReply().empty()) << "a patch is not echoed";
    EXPECT_EQ(phone.app.activeEffect(), active);
  }
  EXPECT_EQ(json::parse(*phone.app.describeText("rack"))["active"], 7);
  EXPECT_EQ(json::parse(*phone.app.describeText("grain"))["active"], 7);
}

// Guards the CLI's script steps: well-formed ones parse to what they say, malformed ones are
// refused rather than half-run.
TEST(PhoneScript, ParsesWellFormedStepsAndRefusesTheRest) {
  // (step, milliseconds, action, target, value)
  const std::tuple<const char*, long long, const char*, const char*, const char*> good[] = {
      {"3:patch:2", 3000, "patch", "2", ""},
      {"1.5:set:grain/amount:0.7", 1500, "set", "grain/amount", "0.7"},
      {"2:set:grain/colour:false", 2000, "set", "grain/colour", "false"},
      {"4:mode:grain/mode:coarse", 4000, "mode", "grain/mode", "coarse"},
      {"0:rec:1", 0, "rec", "1", ""},
      {"6:pause:0", 6000, "pause", "0", ""}};
  for (const auto& [text, ms, action, target, value] : good) {
    SCOPED_TRACE(text);
    const auto step = parseScriptStep(text);
    ASSERT_TRUE(step.has_value());
    EXPECT_EQ(std::tuple(step->at.count(), step->action, step->target, step->value),
              std::tuple(ms, action, target, value));
  }
  for (const char* bad :
       {"3:patch:-1", "3:patch:1.5", "x:patch:1", "-1:patch:1", "nan:patch:1", "3:set:grain:0.5",
        "3:set:/amount:0.5", "3:set:grain/amount:loud", "3:rec:2", "3:dance:1", "3"}) {
    EXPECT_FALSE(parseScriptStep(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace mirandel::phone
