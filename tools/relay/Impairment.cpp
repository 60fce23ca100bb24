#include "tools/relay/Impairment.h"

#include <algorithm>
#include <cmath>

namespace mirandel::relay {
namespace {

Nanos fromMs(double ms) { return static_cast<Nanos>(std::llround(ms * 1e6)); }

}  // namespace

Impairment::Impairment(const FaultSettings& settings, std::uint32_t stream)
    : settings_(settings), random_((static_cast<std::uint64_t>(settings.seed) << 32) | stream) {
  if (settings.blackoutAtSeconds >= 0 && settings.blackoutForSeconds > 0) {
    blackoutStart_ = fromMs(settings.blackoutAtSeconds * 1000.0);
    blackoutEnd_ = blackoutStart_ + fromMs(settings.blackoutForSeconds * 1000.0);
  }
}

bool Impairment::inBlackout(Nanos now) const {
  return blackoutStart_ >= 0 && now >= blackoutStart_ && now < blackoutEnd_;
}

void Impairment::offer(std::vector<std::uint8_t> bytes, std::uint64_t session, Nanos now) {
  ++counters_.in;
  std::uniform_real_distribution<double> percent(0.0, 100.0);
  // All draws first, whatever the packet's fate (see the header).
  const double burst = percent(random_), loss = percent(random_), duplicate = percent(random_),
               reorder = percent(random_), jitter = percent(random_) / 100.0;

  if (inBlackout(now)) {
    ++counters_.blackedOut;
    return;
  }
  if (burstLeft_ > 0) {
    --burstLeft_;
    ++counters_.burstDropped;
    return;
  }
  if (settings_.burstLength > 0 && burst < settings_.burstPercent) {
    burstLeft_ = settings_.burstLength - 1;
    ++counters_.burstDropped;
    return;
  }
  if (loss < settings_.lossPercent) {
    ++counters_.dropped;
    return;
  }

  Datagram d{std::move(bytes), session,
             now + fromMs(settings_.delayMs) + fromMs(settings_.jitterMs * jitter)};
  // Jitter keeps order: a packet leaves no earlier than the one ahead of it.
  d.due = std::max(d.due, lastDue_);
  if (duplicate < settings_.duplicatePercent) {
    ++counters_.duplicated;
    enqueue(d);
  }
  if (reorder < settings_.reorderPercent && !held_) {
    heldDeadline_ = d.due + kReorderHoldLimit;
    held_ = std::move(d);
    return;
  }
  enqueue(std::move(d));
}

void Impairment::enqueue(Datagram d) {
  if (waiting_.size() >= kMaxWaiting) {
    ++counters_.overflow;
    return;
  }
  lastDue_ = d.due;
  waiting_.push_back(std::move(d));
  if (held_) {
    // The held packet leaves right after the first one to pass it, never before its own time.
    ++counters_.reordered;
    release();
  }
}

void Impairment::release() {
  held_->due = std::max(held_->due, lastDue_);
  lastDue_ = held_->due;
  if (waiting_.size() < kMaxWaiting) {
    waiting_.push_back(std::move(*held_));
  } else {
    ++counters_.overflow;
  }
  held_.reset();
}

std::optional<Nanos> Impairment::nextDue() const {
  std::optional<Nanos> next;
  if (!waiting_.empty()) next = waiting_.front().due;
  if (held_ && (!next || heldDeadline_ < *next)) next = heldDeadline_;
  return next;
}

void Impairment::takeDue(Nanos now, std::vector<Datagram>& out) {
  // Nothing passed the held packet in time: it leaves after everything ahead of it, late but
  // in order.
  if (held_ && heldDeadline_ <= now) {
    held_->due = heldDeadline_;
    release();
  }
  while (!waiting_.empty() && waiting_.front().due <= now) {
    out.push_back(std::move(waiting_.front()));
    waiting_.pop_front();
    ++counters_.out;
  }
}

}  // namespace mirandel::relay
