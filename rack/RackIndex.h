#pragma once
// Looks up the clip's effect list by the names the phone's feedback uses, in
// constant time: feedback comes in bursts, and a scan of every control per
// message held a step for most of a second. Built anew whenever the list
// changes shape (installing, merging, connecting); the values inside the list
// may change freely meanwhile.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "rack/RackModel.h"

namespace mirandel {

class RackIndex {
 public:
  struct ControlRef {
    std::int32_t effect = -1;   // position in the effect list
    std::int32_t control = -1;  // position in that effect's controls
  };

  // Indexes `effects`, forgetting what was indexed before. Host thread.
  void rebuild(const std::vector<RackEffect>& effects);

  // The first effect in list order whose address is `address` and that has a
  // control whose field is `field`, with its first such control; nullopt when
  // there is none. Host thread.
  std::optional<ControlRef> find(std::string_view address, std::string_view field) const;

  // Whether the control `field` of effect `effect` chooses the effect's hero
  // or decides whether something of it is shown, so that a new value of it
  // maps the effect again. Host thread.
  bool namesMode(std::int32_t effect, const std::string& field) const;

 private:
  // The address and the field, the address's length first, so that no two
  // pairs share a key.
  static std::string keyOf(std::string_view address, std::string_view field);

  std::unordered_map<std::string, ControlRef> controls_;
  std::vector<std::unordered_set<std::string>> modeFields_;  // by effect position
};

}  // namespace mirandel
