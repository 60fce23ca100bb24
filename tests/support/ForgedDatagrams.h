#pragma once
// Datagrams that other devices on the network may throw at a clip's port: bytes that are no
// message, damaged messages, bundles, discovery replies with made-up identities and routes, and
// every message a phone may send, with sound and unsound arguments. For the forged-datagram test
// and its benchmark; the same seed makes the same sequence.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "link/ControlCodec.h"

namespace mirandel::test {

class DatagramForger {
 public:
  // `feedbackAddresses`: control addresses ("/mirandel/<effect>/<field>") of
  // the rack the clip holds, so that forged feedback names real controls.
  DatagramForger(std::uint32_t seed, std::vector<std::string> feedbackAddresses)
      : random_(seed), feedback_(std::move(feedbackAddresses)) {}

  std::vector<std::uint8_t> next() {
    const std::uint32_t kind = below(8);
    if (kind == 0) return noise();
    if (kind == 2) return bundle();
    if (kind == 3 || kind == 4) return encode(here());
    std::vector<std::uint8_t> bytes = encode(phoneMessage());
    if (kind != 1) return bytes;
    // Cut short, or with bytes of its type tags and data overwritten.
    if (below(2) == 0) bytes.resize(below(bytes.size()));
    for (std::uint32_t k = below(4); k > 0 && !bytes.empty(); --k)
      bytes[below(bytes.size())] = static_cast<std::uint8_t>(below(256));
    return bytes;
  }

 private:
  std::uint32_t below(std::size_t n) {
    const auto most = static_cast<std::uint32_t>(n - 1);
    return n == 0 ? 0 : std::uniform_int_distribution<std::uint32_t>(0, most)(random_);
  }
  std::string word(std::uint32_t maxLength) {
    std::string s(below(maxLength) + 1, 'a');
    for (char& c : s) c = static_cast<char>('a' + below(26));
    return s;
  }
  ControlArg anyArg() {
    const std::uint32_t kind = below(6);
    if (kind == 0) return ControlArg::ofInt(static_cast<std::int32_t>(random_()));
    if (kind == 1)
      return ControlArg::ofFloat(std::uniform_real_distribution<float>(-1e6f, 1e6f)(random_));
    if (kind == 2) return ControlArg::ofText(word(40));
    if (kind == 3) return ControlArg::ofText(std::to_string(static_cast<int>(below(10)) - 2));
    return ControlArg::ofKind(kind == 4 ? ArgKind::True : ArgKind::Nil);
  }
  std::vector<ControlArg> anyArgs(std::uint32_t most) {
    std::vector<ControlArg> args(below(most + 1));
    for (ControlArg& a : args) a = anyArg();
    return args;
  }

  std::vector<std::uint8_t> noise() {
    std::vector<std::uint8_t> bytes(below(300));
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(below(256));
    // Half of it looks like the start of a message, so the decoder reads on.
    if (!bytes.empty() && below(2) == 0) bytes[0] = '/';
    return bytes;
  }

  std::vector<std::uint8_t> bundle() {
    std::vector<std::uint8_t> bytes{'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const std::vector<std::uint8_t> element = encode(phoneMessage());
    const auto size = static_cast<std::uint32_t>(element.size());
    for (int shift = 24; shift >= 0; shift -= 8)
      bytes.push_back(static_cast<std::uint8_t>(size >> shift));
    bytes.insert(bytes.end(), element.begin(), element.end());
    return bytes;
  }

  ControlMessage here() {
    static const char* const kLinks[] = {"wired", "wifi", "", "Wired", "cellular"};
    return {"/mirandel/here",
            {ControlArg::ofText("Phone " + word(12)), ControlArg::ofText("1.1"),
             ControlArg::ofText(word(8)), ControlArg::ofText(word(16)),
             ControlArg::ofText(kLinks[below(5)])}};
  }

  ControlMessage phoneMessage() {
    const std::uint32_t kind = below(10);
    if (kind == 0)
      return {"/mirandel/describe",
              {ControlArg::ofText(
                  R"({"name": "Forged", "active": 0, "effects": [{"name": "Evil", )"
                  R"("address": "evil", "params": [{"field": "x", "normalized": 1}]}]})")}};
    if (kind == 1)
      return {"/mirandel/describe/part",
              {ControlArg::ofInt(static_cast<std::int32_t>(below(4))), ControlArg::ofInt(2),
               ControlArg::ofInt(static_cast<std::int32_t>(below(2))),
               ControlArg::ofText(R"({"effects": [)")}};
    if (kind == 2)
      return {"/mirandel/patch", {ControlArg::ofInt(static_cast<std::int32_t>(below(4)))}};
    if (kind == 3) {
      std::vector<ControlArg> args(7, ControlArg::ofFloat(1.0f));
      for (ControlArg& a : args)
        if (below(3) == 0) a = anyArg();
      return {"/mirandel/status", args};
    }
    if (kind == 4) return {"/mirandel/stream/grain/add", {anyArg()}};
    if (kind == 5)
      return {"/mirandel/stream/quality", {ControlArg::ofInt(static_cast<std::int32_t>(below(3)))}};
    if (kind == 6) return {"/mirandel/rec", {ControlArg::ofInt(1)}};
    if (kind == 7 && !feedback_.empty()) return {feedback_[below(feedback_.size())], {anyArg()}};
    if (kind == 9) return {"/mirandel/" + word(10) + "/" + word(10), anyArgs(4)};
    // What clips send and phones receive, and addresses no one uses.
    static const char* const kOthers[] = {"/mirandel/discover", "/mirandel/zoom",
                                          "/mirandel/stream",   "/mirandel/snap",
                                          "/mirandel/flip",     "/mirandel/"};
    return {kOthers[below(6)], anyArgs(3)};
  }

  std::mt19937 random_;
  std::vector<std::string> feedback_;
};

}  // namespace mirandel::test
