#include "video/NameLookup.h"

#include <condition_variable>
#include <cstring>
#include <exception>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace mirandel {

namespace {

// A name server that never answers keeps each lookup thread for the resolver's timeout. Every
// clip reuses its own pending lookup, so this is only reached by many clips or many different
// names at once; it bounds the threads and the memory such a storm can cost.
constexpr int kMaxLookupsInFlight = 16;

// Trivially destructible, so lookup threads that end after the static destructors at process
// exit still find it intact.
std::atomic<int> gLookupsInFlight{0};

}  // namespace

struct NameLookup::Answer {
  Mutex mutex;
  ConditionVariable changed;
  std::atomic<bool> done{false};  // written under mutex; read without it to decide on reuse
  bool found GUARDED_BY(mutex) = false;
  std::uint32_t address GUARDED_BY(mutex) = 0;  // network byte order
};

NameLookup::Result NameLookup::resolve(const std::string& host, std::uint32_t& address) {
  in_addr numeric{};
  if (inet_pton(AF_INET, host.c_str(), &numeric) == 1) {
    std::memcpy(&address, &numeric, sizeof address);
    return Result::Found;
  }

  std::shared_ptr<Answer> answer;
  {
    MutexLock lock(mutex_);
    if (abandoned_) return Result::Abandoned;
    if (newest_ && newestHost_ == host && !newest_->done) {
      answer = newest_;
    } else {
      if (gLookupsInFlight.fetch_add(1) >= kMaxLookupsInFlight) {
        --gLookupsInFlight;
        return Result::NotFound;
      }
      answer = std::make_shared<Answer>();
      try {
        // The thread gets its own copies: the name and a share of the answer block, nothing else.
        std::thread([answer, name = host] {
          addrinfo hints{};
          hints.ai_family = AF_INET;
          hints.ai_socktype = SOCK_DGRAM;
          addrinfo* found = nullptr;
          const bool ok = getaddrinfo(name.c_str(), nullptr, &hints, &found) == 0 && found &&
                          found->ai_addr && found->ai_family == AF_INET;
          std::uint32_t ipv4 = 0;
          if (ok) {
            ipv4 = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
          }
          if (found) freeaddrinfo(found);
          {
            MutexLock answered(answer->mutex);
            answer->found = ok;
            answer->address = ipv4;
            answer->done = true;
          }
          answer->changed.notifyAll();
          --gLookupsInFlight;
        }).detach();
      } catch (const std::exception&) {
        // No thread to be had: report the name as unresolved; the receiver tries again later.
        --gLookupsInFlight;
        return Result::NotFound;
      }
      newest_ = answer;
      newestHost_ = host;
    }
  }

  MutexLock lock(answer->mutex);
  answer->changed.wait(lock, [&] { return answer->done || abandoned_; });
  if (abandoned_) return Result::Abandoned;
  if (!answer->found) return Result::NotFound;
  address = answer->address;
  return Result::Found;
}

int NameLookup::threadsInFlight() { return gLookupsInFlight.load(); }

void NameLookup::abandon() {
  abandoned_ = true;
  std::shared_ptr<Answer> waitedOn;
  {
    MutexLock lock(mutex_);
    waitedOn = newest_;
  }
  if (!waitedOn) return;
  // Taking the answer's mutex orders this wake-up after a waiter's check of abandoned_, so the
  // waiter is either woken here or sees the flag before it sleeps.
  { MutexLock lock(waitedOn->mutex); }
  waitedOn->changed.notifyAll();
}

}  // namespace mirandel
