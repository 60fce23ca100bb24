// The supervision step: everything timed that a clip decides, run on the
// host's calls since a clip has no thread of its own. Host thread.
#include <algorithm>

#include "clip/MirandelLink.h"
#include "base/Log.h"

namespace mirandel {
namespace {
constexpr Nanos kDescribeRetry = 3 * kSecond;
constexpr Nanos kDevicePoll = 250 * kMillisecond;
constexpr Nanos kBetterLinkCheck = 1 * kSecond;
constexpr Nanos kProbeInterval = 3 * kSecond;
constexpr Nanos kReannounceDelay = 1500 * kMillisecond;
}  // namespace

void MirandelLink::takeUpMessages() {
  describeWork_ = 0;
  // Drained only once what was drained before is handled: a phone that keeps
  // sending then fills the hub's bounded inbox, not this list.
  if (backlogNext_ == backlog_.size()) {
    backlog_ = link_->drainInbox(subscriptionId_);
    backlogNext_ = 0;
  }
  // Nothing that a message's handling calls drains or steps again, so the
  // list stays as it is while a message of it is handled.
  while (backlogNext_ < backlog_.size() && describeWork_ < kDescribeWorkPerStep)
    dispatchIncoming(backlog_[backlogNext_++]);
}

void MirandelLink::superviseClip() {
  devicesSeenThisStep_ = false;
  takeUpMessages();
  updateStream();
  updateStatusLine();

  const Nanos t = now();
  const bool connected = !phoneAddress_.empty();

  if (connected && t - lastDescribeAt_ > kDescribeRetry &&
      (effects_.empty() || std::any_of(effects_.begin(), effects_.end(),
                                       [](const RackEffect& e) { return !e.controlsLoaded; })))
    requestDescribe();

  if (phoneIpText_.empty()) {
    if (!connected) {
      // While no phone is known every step looks, so the first reply is
      // picked up at once.
      if (t - lastDeviceCheckAt_ > kDevicePoll) {
        if (auto snapshot = link_->listDevices(); !snapshot.empty()) {
          lastDeviceCheckAt_ = t;
          rebuildDeviceMenu(std::move(snapshot));
        }
      }
    } else if (t - lastDeviceCheckAt_ > kBetterLinkCheck) {
      lastDeviceCheckAt_ = t;
      for (const DeviceRecord& d : link_->listDevices()) {
        if (!d.routes.count(phoneAddress_) || d.bestAddress.empty() ||
            d.bestAddress == phoneAddress_)
          continue;
        const std::string better = d.bestAddress;
        hostLog("Mirandel: better link " + phoneAddress_ + " \xE2\x86\x92 " + better);
        connectToPhone(better);
        break;
      }
    }
  }

  if (phoneAddress_.empty() && t - lastProbeAt_ > kProbeInterval) {
    if (devices_.empty()) {
      if (auto snapshot = link_->listDevices(); !snapshot.empty())
        rebuildDeviceMenu(std::move(snapshot));
    }
    if (phoneAddress_.empty()) link_->probeNow();
    lastProbeAt_ = t;
  }

  if (relayoutRequested_) {
    relayoutRequested_ = false;
    const std::int32_t effect = currentEffect_;
    currentEffect_ = -1;
    feedbackGuard_ = true;
    applyEffect(effect, true);
    feedbackGuard_ = false;
  }

  if (localEffectChange_ && now() - localEffectChangeAt_ >= kReannounceDelay) {
    localEffectChange_ = false;
    reannounceValues();
  }
}

}  // namespace mirandel
