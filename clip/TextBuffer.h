#pragma once
// Copying texts into the fixed buffers handed to the host.
#include <cstddef>
#include <string_view>

namespace mirandel {

// Length of the longest prefix of `text` that fits in `limit` bytes without
// splitting a UTF-8 sequence.
std::size_t utf8PrefixLength(std::string_view text, std::size_t limit);

// Copies at most capacity - 1 bytes of text, never splitting a UTF-8
// character, and terminates. Capacity must be at least 1.
void copyTerminatedUtf8(std::string_view text, char* buffer, std::size_t capacity);

}  // namespace mirandel
