#include "clip/TextBuffer.h"

#include <cstring>

namespace mirandel {

std::size_t utf8PrefixLength(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t n = limit;
  // Step back over continuation bytes to the start of the character that
  // straddles the limit; that character is dropped whole.
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

void copyTerminatedUtf8(std::string_view text, char* buffer, std::size_t capacity) {
  const std::size_t n = utf8PrefixLength(text, capacity - 1);
  if (n != 0) std::memcpy(buffer, text.data(), n);
  buffer[n] = 0;
}

}  // namespace mirandel
