// A clip's whole handling of a rack description as its phone can drive it:
// parsing, installing or merging, the Effect menu, the mapping of the active
// effect onto the host parameters, the requests for effects still loading,
// and what the host and the phone do with the mapped slots afterwards. Nothing
// may crash, the current effect must always name a real effect, the effect
// list must stay within a sane rack's bounds however the replies merge, and
// every number the host reads must lie in its parameter's range.
//
// The clip talks to a scripted link, and its phone address names port 0,
// which no stream can use, so its supervision never starts a video pipeline.
//
// Input: byte 0 chooses how the reply arrives (bit 0: after the valid first
// reply below; bit 1: in "/mirandel/describe/part" pieces of byte 1 + 1
// bytes, last piece first). The reply text runs from byte 2 to the first NUL
// (an OSC string holds none). Operations follow, each a code byte (mod 7)
// and its operands:
//   0 i v v v v  the host writes parameter i (mod 64) with the float whose
//                little-endian bits follow
//   1 c v        phone feedback on control c of the current effect: an option
//                control gets choice v of its list, any other v / 128
//   2 i          "/mirandel/patch" to effect i
//   3 i          the host picks effect i
//   4 t          t * 25 ms later, a supervision step (relayouts, re-announce)
//   5            the same reply again, whole
//   6            the host collects its events and reads every parameter
// At the end the host reads every parameter and its display.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "clip/MirandelLink.h"
#include "rack/RackBounds.h"
#include "support/FakeLink.h"

namespace mirandel {
namespace {

const char* const kPhone = "phone:0";

// A rack with every feature the mapping reads: a hero chosen by mode, a quick
// row of a bool and an action, a show condition, sections, action labels, and
// an effect still loading.
const char* const kFirstReply = R"({"name": "Fuzz", "version": "1", "active": 0, "effects": [
  {"index": 0, "name": "Grain", "address": "grain", "hero": "amount",
   "params": [
     {"field": "amount", "label": "Amount", "normalized": 0.4},
     {"field": "size", "normalized": 0.2},
     {"field": "colour", "type": "bool", "value": true},
     {"field": "mode", "type": "option", "value": "fine", "options": ["fine", "coarse"]},
     {"field": "clump", "normalized": 0.7}],
   "heroByMode": {"field": "mode", "heroes": {"coarse": "size"}},
   "when": {"clump": {"mode": ["coarse"]}},
   "actions": ["reset", "randomize"], "actionLabels": {"reset": "again"},
   "toggles": [{"slot": 2, "label": "Shuffle"}],
   "layout": [{"section": "Quick row", "fields": ["colour", "randomize"]},
              {"section": "Look", "fields": ["mode", "size", "clump", "reset"]}]},
  {"index": 1, "name": "Glow", "address": "glow"},
  {"index": 2, "name": "Echo", "address": "echo",
   "params": [{"field": "decay", "normalized": 0.5}], "actions": ["tap"]}]})";

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

class Driver {
 public:
  Driver() : clip_(ClipEnvironment{&link_, clock_.fn()}) {
    clip_.SetIdentity(&clip_);
    clip_.SetTextParameter(param::kPhoneIp, kPhone);
  }

  void reply(const std::string& text) {
    fromPhone("/mirandel/describe", {ControlArg::ofText(text)});
  }

  void replyInParts(const std::string& text, std::size_t piece) {
    const auto total = static_cast<std::int32_t>((text.size() + piece - 1) / piece);
    for (std::int32_t i = total - 1; i >= 0; --i) {
      fromPhone("/mirandel/describe/part",
                {ControlArg::ofInt(7), ControlArg::ofInt(total), ControlArg::ofInt(i),
                 ControlArg::ofText(text.substr(static_cast<std::size_t>(i) * piece, piece))});
    }
  }

  void hostWrites(std::uint32_t index, float value) { clip_.SetFloatParameter(index, value); }

  void feedback(std::uint8_t which, std::uint8_t value) {
    const std::int32_t current = clip_.currentEffect();
    if (current < 0) return;
    const RackEffect& effect = clip_.effects()[current];
    if (effect.controls.empty()) return;
    const RackControl& c = effect.controls[which % effect.controls.size()];
    ControlArg arg = ControlArg::ofFloat(static_cast<float>(value) / 128.0f);
    if (c.type == "option")
      arg = ControlArg::ofText(c.optionList.empty() ? std::string(1, static_cast<char>(value))
                                                    : c.optionList[value % c.optionList.size()]);
    fromPhone("/mirandel/" + effect.address + "/" + c.field, {arg});
  }

  void patch(std::uint8_t index) { fromPhone("/mirandel/patch", {ControlArg::ofInt(index)}); }

  void stepAfter(Nanos delay) {
    clock_.advance(delay);
    clip_.superviseClip();
  }

  // What a host does between frames: collects the pending events and reads
  // every parameter, with its display text when `displays` (each display runs
  // a supervision step, which makes it the costly part).
  void hostReads(bool displays) {
    for (ParamInfo& p : clip_.Params()) {
      (void)p.pendingEvents.take();
      const float v = clip_.GetFloatParameter(p.id);
      if (p.type == FF_TYPE_STANDARD && !(v >= p.rangeMin && v <= p.rangeMax)) {
        std::fprintf(stderr, "parameter %u reads %g\n", p.id, static_cast<double>(v));
        check(false, "a value out of its range");
      }
      if (p.type == FF_TYPE_OPTION) check(std::isfinite(v), "an option position not a number");
      check(std::strlen(clip_.GetTextParameter(p.id)) < 512, "a text longer than its buffer");
      if (!displays) continue;
      const char* display = clip_.GetParameterDisplay(p.id);
      check(display == nullptr || std::strlen(display) < 512, "a display longer than its buffer");
    }
    checkState();
  }

  void checkState() {
    const std::int32_t current = clip_.currentEffect();
    check(current >= -1 && current < static_cast<std::int32_t>(clip_.effects().size()),
          "the current effect names no effect");
    check(withinBounds(tallyOf(clip_.effects())), "an effect list beyond the rack's bounds");
    for (const test::FakeLink::Sent& s : link_.sent)
      check(s.destination == kPhone, "a message to another address");
    link_.sent.clear();
  }

 private:
  void fromPhone(const std::string& address, std::vector<ControlArg> args) {
    clip_.dispatchIncoming(IncomingMessage{kPhone, address, std::move(args)});
  }

  ManualClock clock_{100 * kSecond};
  test::FakeLink link_;
  MirandelLink clip_;
};

}  // namespace
}  // namespace mirandel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using mirandel::Driver;
  if (size < 2) return 0;
  const std::uint8_t mode = data[0];
  const std::size_t piece = std::size_t{data[1]} + 1;
  const auto* begin = reinterpret_cast<const char*>(data + 2);
  const std::size_t rest = size - 2;
  const auto* nul = static_cast<const char*>(std::memchr(begin, 0, rest));
  const std::string text(begin, nul ? static_cast<std::size_t>(nul - begin) : rest);
  std::size_t pos = nul ? static_cast<std::size_t>(nul - begin) + 3 : size;

  Driver driver;
  if (mode & 1) driver.reply(mirandel::kFirstReply);
  if (mode & 2)
    driver.replyInParts(text, piece);
  else
    driver.reply(text);
  driver.checkState();

  while (pos < size) {
    const std::uint8_t code = data[pos++] % 7;
    auto operand = [&]() -> std::uint8_t { return pos < size ? data[pos++] : 0; };
    switch (code) {
      case 0: {
        const std::uint32_t index = operand() % 64;
        std::uint32_t bits = 0;
        for (int k = 0; k < 4; ++k) bits |= std::uint32_t{operand()} << (8 * k);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        driver.hostWrites(index, value);
        break;
      }
      case 1: {
        const std::uint8_t which = operand();
        driver.feedback(which, operand());
        break;
      }
      case 2:
        driver.patch(operand());
        break;
      case 3:
        driver.hostWrites(mirandel::param::kEffect, static_cast<float>(operand()));
        break;
      case 4:
        driver.stepAfter(operand() * 25 * mirandel::kMillisecond);
        break;
      case 5:
        driver.reply(text);
        break;
      default:
        driver.hostReads(false);
        break;
    }
    driver.checkState();
  }
  driver.hostReads(true);
  return 0;
}
