#include "rack/DescribeParts.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace mirandel {

void DescribeParts::drop(std::map<std::int32_t, Assembly>::iterator it) {
  for (const auto& [index, text] : it->second.parts) bytes_ -= text.size();
  assemblies_.erase(it);
}

std::optional<std::string> DescribeParts::add(std::int32_t transferId, std::int32_t total,
                                              std::int32_t partIndex, std::string text, Nanos now) {
  for (auto it = assemblies_.begin(); it != assemblies_.end();) {
    const auto next = std::next(it);
    if (now - it->second.lastUpdate > kExpiry) drop(it);
    it = next;
  }

  auto it = assemblies_.find(transferId);
  if (it == assemblies_.end()) {
    if (assemblies_.size() >= kMaxTransfers) return std::nullopt;
    it = assemblies_.emplace(transferId, Assembly{}).first;
  }
  Assembly& assembly = it->second;

  const auto previous = assembly.parts.find(partIndex);
  const std::size_t replaced = previous == assembly.parts.end() ? 0 : previous->second.size();
  const bool isNew = previous == assembly.parts.end();
  if ((isNew && assembly.parts.size() >= kMaxParts) ||
      bytes_ - replaced + text.size() > kMaxBytes) {
    drop(it);
    return std::nullopt;
  }
  bytes_ = bytes_ - replaced + text.size();
  assembly.parts[partIndex] = std::move(text);
  assembly.total = total;
  assembly.lastUpdate = now;

  if (assembly.parts.size() < static_cast<std::size_t>(std::max(total, 0))) return std::nullopt;

  // Walk what is stored rather than 0..total-1: a huge total costs nothing.
  std::string joined;
  for (auto part = assembly.parts.lower_bound(0);
       part != assembly.parts.end() && part->first < total; ++part)
    joined += part->second;
  drop(it);
  return joined;
}

}  // namespace mirandel
