#include "base/ShownTexts.h"

namespace mirandel::text {

std::string fillText(std::string_view pattern, std::initializer_list<std::string_view> values) {
  std::string out;
  out.reserve(pattern.size() + 32);
  auto next = values.begin();
  for (std::size_t i = 0; i < pattern.size();) {
    const std::size_t close = pattern[i] == '{' ? pattern.find('}', i) : std::string_view::npos;
    if (close == std::string_view::npos || next == values.end()) {
      out += pattern[i++];
      continue;
    }
    out += *next++;
    i = close + 1;
  }
  return out;
}

}  // namespace mirandel::text
