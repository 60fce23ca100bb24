#include "video/StreamUrl.h"

#include "base/ShownTexts.h"

#include <cctype>

namespace mirandel {

namespace {

bool fail(std::string* why, const char* reason) {
  if (why) *why = reason;
  return false;
}

bool allDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

bool parseStreamUrl(std::string_view text, std::string& host, std::int32_t& port,
                    std::string* why) {
  std::string s;
  s.reserve(text.size());
  for (char c : text) {
    if (!std::isspace(static_cast<unsigned char>(c))) s.push_back(c);
  }
  if (s.empty()) return fail(why, text::kNoAddress);

  std::string_view rest(s);
  constexpr std::string_view kScheme = "srt://";
  if (rest.substr(0, kScheme.size()) == kScheme) rest.remove_prefix(kScheme.size());
  rest = rest.substr(0, rest.find_first_of("?/"));
  if (rest.empty()) return fail(why, text::kNoAddress);

  std::string_view hostPart = rest;
  const auto colon = rest.find(':');
  if (colon != std::string_view::npos && colon == rest.rfind(':')) {
    hostPart = rest.substr(0, colon);
    const std::string_view portText = rest.substr(colon + 1);
    if (allDigits(portText)) {
      // Accumulate with an early exit instead of a throwing conversion: a digit string of any
      // length must end as "out of range", never as an exception on the host's thread.
      std::int64_t value = 0;
      for (char c : portText) {
        value = value * 10 + (c - '0');
        if (value > 65535) break;
      }
      if (value < 1 || value > 65535) return fail(why, text::kPortOutOfRange);
      port = static_cast<std::int32_t>(value);
    }
  }
  if (hostPart.empty()) return fail(why, text::kNoHost);
  host.assign(hostPart);
  return true;
}

}  // namespace mirandel
