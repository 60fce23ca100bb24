// The supervision step: everything timed that a clip decides, run on the
// host's calls since a clip has no thread of its own. Host thread.
#include "base/Log.h"
#include "clip/MirandelLink.h"

namespace mirandel {
namespace {
constexpr Nanos kDescribeRetry = 3 * kSecond;
constexpr Nanos kDevicePoll = 250 * kMillisecond;
constexpr Nanos kBetterLinkCheck = 1 * kSecond;
constexpr Nanos kProbeInterval = 3 * kSecond;
// A phone seen for this long while the clip has none is taken without asking.
constexpr Nanos kAutoConnectDelay = 400 * kMillisecond;
}  // namespace

void MirandelLink::takeUpMessages() {
  PhoneSession& s = session_;
  s.describeWork = 0;
  // Drained only once what was drained before is handled: a phone that keeps
  // sending then fills the hub's bounded inbox, not this list.
  if (s.backlogNext == s.backlog.size()) {
    s.backlog = link_->drainInbox(s.subscriptionId);
    s.backlogNext = 0;
  }
  // Nothing that a message's handling calls drains or steps again, so the
  // list stays as it is while a message of it is handled.
  while (s.backlogNext < s.backlog.size() && s.describeWork < kDescribeWorkPerStep)
    dispatchIncoming(s.backlog[s.backlogNext++]);
}

void MirandelLink::rebuildDeviceMenu(std::vector<DeviceRecord> snapshot) {
  if (takeDevices(discovery_, std::move(snapshot))) showDeviceMenu(discovery_, *this);
  const std::vector<DeviceRecord>& devices = discovery_.devices;
  if (session_.address.empty() && session_.ipText.empty() && !devices.empty() &&
      now() - devices[0].firstSeen > kAutoConnectDelay) {
    discovery_.deviceValue = 0.0f;
    RaiseParamEvent(param::kDevice, FF_EVENT_FLAG_VALUE);
    connectToPhone(devices[0].bestAddress);
  }
}

void MirandelLink::superviseClip() {
  discovery_.seenThisStep = false;
  takeUpMessages();
  for (const ControlMessage& request : stream_.step(session_.address, video_, frameSlot_, now()))
    send(request);
  if (stream_.updatePictureLine(video_, renderer_))
    RaiseParamEvent(param::kPicture, FF_EVENT_FLAG_VALUE);

  const Nanos t = now();
  const std::string& phone = session_.address;

  if (!phone.empty() && t - session_.lastDescribeAt > kDescribeRetry && !rackComplete(rack_))
    requestDescribe();

  if (session_.ipText.empty()) {
    if (phone.empty()) {
      // While no phone is known every step looks, so the first reply is
      // picked up at once.
      if (t - discovery_.lastDeviceCheckAt > kDevicePoll) {
        if (auto snapshot = link_->listDevices(); !snapshot.empty()) {
          discovery_.lastDeviceCheckAt = t;
          rebuildDeviceMenu(std::move(snapshot));
        }
      }
    } else if (t - discovery_.lastDeviceCheckAt > kBetterLinkCheck) {
      discovery_.lastDeviceCheckAt = t;
      for (const DeviceRecord& d : link_->listDevices()) {
        if (!d.routes.count(phone) || d.bestAddress.empty() || d.bestAddress == phone) continue;
        const std::string better = d.bestAddress;
        hostLog("Mirandel: better link " + phone + " \xE2\x86\x92 " + better);
        connectToPhone(better);
        break;
      }
    }
  }

  if (session_.address.empty() && t - discovery_.lastProbeAt > kProbeInterval) {
    if (discovery_.devices.empty()) {
      if (auto snapshot = link_->listDevices(); !snapshot.empty())
        rebuildDeviceMenu(std::move(snapshot));
    }
    if (session_.address.empty()) link_->probeNow();
    discovery_.lastProbeAt = t;
  }

  superviseRack(rack_, *this, now());
}

}  // namespace mirandel
