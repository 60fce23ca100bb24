#pragma once
// Turns the phone's address text ("10.0.0.7", "srt://10.0.0.7:7001?latency=80", ...) into the
// host and port of its SRT stream.
#include <cstdint>
#include <string>
#include <string_view>

namespace mirandel {

// White space anywhere is removed, a leading "srt://" (exact case) is dropped, and the text is
// cut at the first '?' or '/'. With exactly one ':' the part after it, when it is a non-empty run
// of decimal digits, is the port; with two or more the whole text is the host.
//
// On true `host` is set and `port` is set when the text names one (it keeps the caller's value
// otherwise). On false the address is unusable: `why`, when given, receives a short reason the
// caller can show (empty host, port out of range). `host` and `port` are then unspecified.
// Never throws. Any thread.
bool parseStreamUrl(std::string_view text, std::string& host, std::int32_t& port,
                    std::string* why = nullptr);

}  // namespace mirandel
