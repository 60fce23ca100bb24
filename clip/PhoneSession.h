#pragma once
// Who the clip talks to: the phone's address, the texts about it, and the messages from the
// link waiting to be handled. Host thread.
#include <cstddef>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/ShownTexts.h"
#include "link/ControlMessage.h"

namespace mirandel {

struct PhoneSession {
  int subscriptionId = -1;  // the clip's subscription to the link
  std::string address;      // the phone in use; empty while there is none
  std::string ipText;       // what the host wrote to "Phone IP"
  std::string statusText = text::kSearching;
  Nanos lastDescribeAt = 0;
  // Messages drained from the inbox, handled up to backlogNext: at most one inbox's worth,
  // since the inbox is drained again only once all are handled.
  std::vector<IncomingMessage> backlog;
  std::size_t backlogNext = 0;
  std::size_t describeWork = 0;  // charged in this step, see MirandelLink::kDescribeWorkPerStep
};

}  // namespace mirandel
