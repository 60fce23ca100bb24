#pragma once
// A LinkPort that records what a clip sends and lets a test script what it
// receives, with no sockets.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "link/LinkPort.h"

namespace mirandel::test {

class FakeLink : public LinkPort {
 public:
  struct Sent {
    std::string destination;
    ControlMessage message;
  };

  int subscribe(std::function<void()> wake) override {
    const int id = nextId_++;
    wakes_[id] = std::move(wake);
    return id;
  }
  void unsubscribe(int id) override {
    wakes_.erase(id);
    searching_.erase(id);
    inbox_.erase(id);
  }
  void setSearching(int id, bool searching) override { searching_[id] = searching; }
  std::vector<IncomingMessage> drainInbox(int id) override {
    std::vector<IncomingMessage> out;
    out.swap(inbox_[id]);
    return out;
  }
  std::vector<DeviceRecord> listDevices() override {
    ++snapshots;
    return devices;
  }
  void probeNow() override { ++probes; }
  void sendTo(const std::string& destination, const ControlMessage& message) override {
    sent.push_back({destination, message});
  }

  // Queues a message for every subscriber and runs their wake-ups.
  void deliver(const IncomingMessage& m) {
    for (auto& [id, box] : wakes_) inbox_[id].push_back(m);
    for (auto& [id, wake] : wakes_) wake();
  }
  bool searching(int id) const { return searching_.count(id) && searching_.at(id); }
  std::size_t subscribers() const { return wakes_.size(); }
  // Messages sent so far with this address.
  std::vector<ControlMessage> sentTo(const std::string& address) const {
    std::vector<ControlMessage> out;
    for (const Sent& s : sent)
      if (s.message.address == address) out.push_back(s.message);
    return out;
  }

  std::vector<DeviceRecord> devices;
  std::vector<Sent> sent;
  int probes = 0;
  int snapshots = 0;

 private:
  int nextId_ = 1;
  std::map<int, std::function<void()>> wakes_;
  std::map<int, bool> searching_;
  std::map<int, std::vector<IncomingMessage>> inbox_;
};

}  // namespace mirandel::test
