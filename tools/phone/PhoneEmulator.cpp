#include "tools/phone/PhoneEmulator.h"

#include <algorithm>

#include "link/ControlCodec.h"

namespace mirandel {
namespace {
constexpr std::chrono::milliseconds kPoll{20};
constexpr std::size_t kReceivedLimit = 100000;
}  // namespace

PhoneEmulator::PhoneEmulator(PhoneConfig config) : config_(std::move(config)) {
  on("/mirandel/discover", [](PhoneEmulator& phone, const IncomingMessage& probe) {
    phone.send(probe.sender, phone.hereReply(probe.sender));
    std::vector<ControlMessage> extras;
    {
      std::lock_guard lock(phone.mutex_);
      extras = phone.extraReplies_;
    }
    for (const ControlMessage& m : extras) phone.send(probe.sender, m);
  });
}

PhoneEmulator::~PhoneEmulator() { stop(); }

bool PhoneEmulator::start() {
  if (thread_.joinable()) return true;
  socket_ = UdpSocket::open();
  if (!socket_.valid() || !socket_.prepareWellKnownPort() ||
      !socket_.bind(config_.listenPort, config_.bindAddress) || !socket_.setReceiveTimeout(kPoll)) {
    socket_.close();
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    stop_ = false;
  }
  thread_ = std::thread(&PhoneEmulator::run, this);
  return true;
}

void PhoneEmulator::stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  if (thread_.joinable()) thread_.join();
  socket_.close();
}

void PhoneEmulator::on(const std::string& address, Handler handler) {
  std::lock_guard lock(mutex_);
  handlers_[address] = std::move(handler);
}

void PhoneEmulator::setFallback(Handler handler) {
  std::lock_guard lock(mutex_);
  fallback_ = std::move(handler);
}

void PhoneEmulator::addExtraReply(ControlMessage message) {
  std::lock_guard lock(mutex_);
  extraReplies_.push_back(std::move(message));
}

void PhoneEmulator::setSendFilter(SendFilter filter) {
  std::lock_guard lock(mutex_);
  filter_ = std::move(filter);
}

void PhoneEmulator::setReceiveFilter(ReceiveFilter filter) {
  std::lock_guard lock(mutex_);
  receiveFilter_ = std::move(filter);
}

void PhoneEmulator::setSendDelay(std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  delay_ = delay;
}

ControlMessage PhoneEmulator::hereReply(const std::string& asker) const {
  ControlMessage reply{"/mirandel/here",
                       {ControlArg::ofText(config_.name), ControlArg::ofText(config_.ownText),
                        ControlArg::ofText(config_.extra), ControlArg::ofText(config_.identity)}};
  const std::string link = config_.linkText ? config_.linkText(asker) : std::string();
  if (!link.empty()) reply.args.push_back(ControlArg::ofText(link));
  return reply;
}

void PhoneEmulator::send(const std::string& to, const ControlMessage& message) {
  SendFilter filter;
  std::chrono::milliseconds delay;
  {
    std::lock_guard lock(mutex_);
    filter = filter_;
    delay = delay_;
  }
  if (filter && !filter(to, message)) return;
  std::vector<std::uint8_t> bytes = encode(message);
  if (delay.count() > 0) {
    std::lock_guard lock(mutex_);
    pending_.push_back({std::chrono::steady_clock::now() + delay, to, std::move(bytes)});
    return;
  }
  if (socket_.sendTo(to, config_.replyPort, bytes.data(), bytes.size())) {
    std::lock_guard lock(mutex_);
    ++sent_;
  }
}

void PhoneEmulator::flushDue() {
  std::vector<Pending> due;
  {
    std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    auto split = std::stable_partition(pending_.begin(), pending_.end(),
                                       [&](const Pending& p) { return p.due > now; });
    due.assign(std::make_move_iterator(split), std::make_move_iterator(pending_.end()));
    pending_.erase(split, pending_.end());
  }
  for (const Pending& p : due) {
    if (socket_.sendTo(p.to, config_.replyPort, p.bytes.data(), p.bytes.size())) {
      std::lock_guard lock(mutex_);
      ++sent_;
    }
  }
}

void PhoneEmulator::run() {
  std::vector<std::uint8_t> buffer(65536);
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
    }
    flushDue();
    std::string sender;
    const long size = socket_.receive(buffer.data(), buffer.size(), sender);
    if (size <= 0) continue;
    ControlMessage message;
    if (!decode(buffer.data(), static_cast<std::size_t>(size), message)) continue;
    IncomingMessage incoming{sender, message.address, std::move(message.args)};
    ReceiveFilter filter;
    {
      std::lock_guard lock(mutex_);
      filter = receiveFilter_;
    }
    if (filter && !filter(incoming)) continue;
    Handler handler;
    {
      std::lock_guard lock(mutex_);
      if (received_.size() < kReceivedLimit) {
        received_.push_back(incoming);
        receivedAt_.push_back(std::chrono::steady_clock::now());
      }
      auto it = handlers_.find(incoming.address);
      handler = it != handlers_.end() ? it->second : fallback_;
    }
    if (handler) handler(*this, incoming);
  }
}

std::vector<IncomingMessage> PhoneEmulator::received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

std::size_t PhoneEmulator::receivedCount(const std::string& address) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(received_.begin(), received_.end(),
                    [&](const IncomingMessage& m) { return m.address == address; }));
}

std::vector<std::chrono::steady_clock::time_point> PhoneEmulator::receivedTimes(
    const std::string& address) const {
  std::lock_guard lock(mutex_);
  std::vector<std::chrono::steady_clock::time_point> out;
  for (std::size_t i = 0; i < received_.size(); ++i) {
    if (received_[i].address == address) out.push_back(receivedAt_[i]);
  }
  return out;
}

std::size_t PhoneEmulator::sentCount() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

void PhoneEmulator::clearReceived() {
  std::lock_guard lock(mutex_);
  received_.clear();
  receivedAt_.clear();
}

}  // namespace mirandel
