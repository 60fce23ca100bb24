#pragma once
// What a clip needs from the process's link hub. LinkHub implements it; clip
// tests substitute a fake.
#include <functional>
#include <string>
#include <vector>

#include "link/ControlMessage.h"
#include "link/DeviceRecord.h"

namespace mirandel {

class LinkPort {
 public:
  virtual ~LinkPort() = default;

  // Registers a wake-up callback, run on the network worker whenever messages
  // arrive; returns a fresh id (never reused). Messages are queued for the id
  // only from its first drainInbox on, so a subscriber that never reads (the
  // prototype) holds nothing; it is woken all the same. Host thread.
  virtual int subscribe(std::function<void()> wake) = 0;
  // Drops the id's inbox, callback and searching flag. Returns only once no
  // callback of this id is running or can start. Host thread.
  virtual void unsubscribe(int id) = 0;
  // Searching ids make the hub probe every 3 s instead of every 10 s; setting
  // it probes at the worker's next wake. Host thread.
  virtual void setSearching(int id, bool searching) = 0;
  // The id's queued messages, oldest first; the queue is emptied. A queue
  // holds a bounded number of messages and bytes, dropping the oldest first.
  // Host thread.
  virtual std::vector<IncomingMessage> drainInbox(int id) = 0;
  // A snapshot of the device table in identity order. Host thread.
  virtual std::vector<DeviceRecord> listDevices() = 0;
  // Asks for one discovery probe round now; it goes out within a moment, and
  // nothing slow (such as listing the interfaces) is done on the caller's
  // thread. Host thread.
  virtual void probeNow() = 0;
  // Sends a message to port 9000 of a dotted IPv4 destination; repeated
  // describe requests within 2 s are sent once. Host thread.
  virtual void sendTo(const std::string& destination, const ControlMessage& message) = 0;
};

}  // namespace mirandel
