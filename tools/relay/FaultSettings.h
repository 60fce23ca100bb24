#pragma once
// What the relay does to the packets it forwards, as set on its command line. Every fault
// applies to both directions, each with a random sequence of its own drawn from the seed: Wi-Fi
// loses and delays packets both ways, and SRT's recovery rides on the return path (its loss
// reports and acknowledgements), so a fault on the stream's direction alone would make
// retransmission look better than it is. The blackout cuts both at once: a phone that vanishes
// neither sends nor hears.
#include <cstdint>

namespace mirandel::relay {

struct FaultSettings {
  double lossPercent = 0;   // each packet lost with this chance
  double burstPercent = 0;  // chance per packet that a burst of losses starts with it
  int burstLength = 0;      // packets a burst loses, the one that starts it included
  double delayMs = 0;       // added to every packet, one way
  // Each packet waits a further random 0 to jitterMs. Order is kept: a packet never leaves
  // before the one ahead of it, as on Wi-Fi, which delivers in order after its own
  // retransmissions, so a long wait holds back the packets behind it. Only reorderPercent
  // reorders.
  double jitterMs = 0;
  // Each packet held back with this chance and sent right after the next packet of its
  // direction (or kReorderHoldLimit after its own time when none follows).
  double reorderPercent = 0;
  double duplicatePercent = 0;    // each packet sent twice with this chance
  double blackoutAtSeconds = -1;  // after the relay started; negative: no blackout
  double blackoutForSeconds = 0;  // everything arriving in this window is dropped
  std::uint32_t seed = 1;
};

}  // namespace mirandel::relay
