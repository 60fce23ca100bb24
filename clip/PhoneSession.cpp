// The clip's session with its phone: connecting, describe requests, commands
// and every message the phone sends. Host thread only.
#include <algorithm>
#include <cmath>

#include "base/Log.h"
#include "base/Rounding.h"
#include "clip/MirandelLink.h"
#include "link/ControlCodec.h"

namespace mirandel {

void MirandelLink::connectToPhone(const std::string& address) {
  if (address.empty()) return;
  session_.address = address;
  stream_.settings().grainAmount = 0.0f;
  link_->setSearching(session_.subscriptionId, false);
  clearRack(rack_, *this);
  session_.statusText = text::fillText(text::kConnectingTo, {address});
  RaiseParamEvent(param::kStatus, FF_EVENT_FLAG_VALUE);
  requestDescribe();
  sendCommand("/mirandel/stream/quality");
  hostLog("Mirandel: describe " + address);
}

void MirandelLink::requestDescribe() {
  if (session_.address.empty()) return;
  session_.lastDescribeAt = now();
  for (const std::string& target : describeTargets(rack_))
    sendCommand("/mirandel/describe", {ControlArg::ofText(target), ControlArg::ofInt(900)});
}

void MirandelLink::sendCommand(const std::string& address, std::vector<ControlArg> args) {
  send(ControlMessage{address, std::move(args)});
}

void MirandelLink::send(const std::optional<ControlMessage>& message) {
  if (!message || session_.address.empty()) return;
  link_->sendTo(session_.address, *message);
}

void MirandelLink::dispatchIncoming(const IncomingMessage& m) {
  const std::string& a = m.address;
  double v = 0.0;
  const bool hasNumber = !m.args.empty() && toNumber(m.args[0], v);
  if (a == "/mirandel/here") {
    // Anyone can send these, in any number: the table is looked at once per
    // step, which already holds every phone the worker filed before queueing.
    if (!discovery_.seenThisStep) {
      discovery_.seenThisStep = true;
      rebuildDeviceMenu(link_->listDevices());
    }
    return;
  }
  if (m.sender != session_.address) return;

  if (a == "/mirandel/describe") {
    if (!m.args.empty() && m.args[0].kind == ArgKind::String) handleDescribeReply(m.args[0].text);
  } else if (a == "/mirandel/describe/part") {
    if (m.args.size() >= 4) handleDescribePart(m);
  } else if (a == "/mirandel/patch") {
    if (const auto i = hasNumber ? truncateToInt(v) : std::nullopt)
      takeEffectFromPhone(rack_, *this, *i, now());
  } else if (a == "/mirandel/status") {
    if (m.args.size() >= 7)
      for (std::uint32_t changed : takeCameraStatus(camera_, m.args, now()))
        RaiseParamEvent(changed, FF_EVENT_FLAG_VALUE);
  } else if (a == "/mirandel/stream/grain/add") {
    // A grain amount that is not a finite number would poison every pixel.
    if (hasNumber && std::isfinite(v))
      stream_.settings().grainAmount = v < 0.0 ? 0.0f : static_cast<float>(v);
  } else if (a == "/mirandel/stream/quality") {
    const auto q = hasNumber ? truncateToInt(v) : std::nullopt;
    // Only 0..2 name a quality; anything outside is the nearest one.
    if (q && std::clamp(*q, 0, 2) != stream_.settings().quality) {
      stream_.settings().quality = std::clamp(*q, 0, 2);
      RaiseParamEvent(param::kQuality, FF_EVENT_FLAG_VALUE);
    }
  } else if (a == "/mirandel/rec") {
    if (hasNumber) {
      camera_.recording = v != 0.0;
      RaiseParamEvent(param::kRec, FF_EVENT_FLAG_VALUE);
    }
  } else if (!m.args.empty()) {
    takeFeedback(rack_, *this, a, m.args[0], now());
  }
}

void MirandelLink::handleDescribePart(const IncomingMessage& m) {
  double id = 0, total = 0, index = 0;
  if (!toNumber(m.args[0], id) || !toNumber(m.args[1], total) || !toNumber(m.args[2], index) ||
      m.args[3].kind != ArgKind::String)
    return;
  const auto i = truncateToInt(id), t = truncateToInt(total), k = truncateToInt(index);
  if (!i || !t || !k) return;
  if (auto text = rack_.parts.add(*i, *t, *k, m.args[3].text, now())) handleDescribeReply(*text);
}

void MirandelLink::refuseDescribeReply() {
  session_.statusText = text::kBadDescribeReply;
  RaiseParamEvent(param::kStatus, FF_EVENT_FLAG_VALUE);
}

void MirandelLink::handleDescribeReply(const std::string& text) {
  session_.describeWork += std::min(text.size(), kMaxDescriptionBytes) + kDescribeCharge;
  // The reply is read whole first: one that fails anywhere, or whose merge
  // would hold more than one description may, leaves the effect list, the
  // menus and the mapping exactly as they were.
  const std::optional<DescribeReply> reply = parseDescribeReply(text);
  if (!reply || !installReply(rack_, *reply, *this, now())) {
    refuseDescribeReply();
    return;
  }
  const bool any = !rack_.effects.empty();
  for (std::uint32_t i : {param::kRec, param::kSnap, param::kFlipCamera, param::kZoom, param::kFps})
    SetParamVisibility(i, any, true);

  session_.statusText = reply->name + "  " + reply->version + "  " + session_.address;
  RaiseParamEvent(param::kStatus, FF_EVENT_FLAG_VALUE);

  const auto loading = std::count_if(rack_.effects.begin(), rack_.effects.end(),
                                     [](const RackEffect& e) { return !e.controlsLoaded; });
  std::string suffix;
  if (loading > 0) {
    requestDescribe();
    suffix = ", " + std::to_string(loading) + " loading";
  }
  hostLog("Mirandel: " + std::to_string(rack_.effects.size()) + " effects from " +
          session_.address + suffix);
}

}  // namespace mirandel
