#pragma once
// The receiver's name resolution, made so that nobody ever has to wait on a name server.
//
// getaddrinfo cannot be interrupted, and against a name server that never answers it holds its
// caller for the resolver's whole timeout (seconds). The receive thread must not be that caller:
// stop() joins it from the host's thread. So a name is looked up on a detached thread of its own
// that shares nothing with anyone but a reference-counted answer block. Whoever waits for the
// answer can be woken and walk away at any moment; the lookup thread then finishes getaddrinfo
// alone, writes into the block it co-owns and ends. It never touches the receiver, the clip or
// the SRT library, nor any object with static storage that has a destructor, so it may outlive
// the receiver, the clip and an unload of the plug-in (which stays mapped), and may still be
// inside getaddrinfo when the process exits.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/ThreadSafety.h"

namespace mirandel {

class NameLookup {
 public:
  enum class Result { Found, NotFound, Abandoned };

  NameLookup() = default;
  NameLookup(const NameLookup&) = delete;
  NameLookup& operator=(const NameLookup&) = delete;

  // Receive thread. Looks `host` up as an IPv4 address and stores it, in network byte order,
  // in `address`. A dotted address is answered at once, without a thread. A name waits for its
  // lookup thread until that answers, or answers Abandoned as soon as abandon() is called.
  // A lookup of the same name that an abandoned wait left running is waited for again rather
  // than started anew, so restarts against a silent name server do not pile up threads; and at
  // most a few lookup threads exist in the whole process (beyond that: NotFound, and the caller
  // tries again later).
  Result resolve(const std::string& host, std::uint32_t& address);

  // Any thread. Makes the resolve() in progress, and every later one, answer Abandoned at once.
  void abandon();

  // Host thread, while no resolve() is in progress: lets resolve() wait again.
  void reset() { abandoned_ = false; }

  // Any thread. Lookup threads of the whole process that have not ended yet.
  static int threadsInFlight();

 private:
  struct Answer;  // shared with the lookup thread

  std::atomic<bool> abandoned_{false};
  Mutex mutex_;
  std::shared_ptr<Answer> newest_ GUARDED_BY(mutex_);  // the last lookup started
  std::string newestHost_ GUARDED_BY(mutex_);          // the name it looks up
};

}  // namespace mirandel
