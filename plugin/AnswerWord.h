#pragma once
// The host's 64-bit answer word: a 32-bit number in the low half (the high
// half zero), a pointer, or a float's bits. Host thread.
#include <algorithm>
#include <cstring>
#include <string>

#include "ffgl/FFGL.h"

namespace mirandel {

inline FFMixed word(FFUInt32 value) {
  FFMixed m;
  m.PointerValue = nullptr;
  m.UIntValue = value;
  return m;
}

inline FFMixed pointer(const void* p) {
  FFMixed m;
  m.PointerValue = const_cast<void*>(p);
  return m;
}

inline FFMixed floatWord(float value) {
  FFUInt32 bits;
  std::memcpy(&bits, &value, sizeof bits);
  return word(bits);
}

inline float wordFloat(FFMixed m) {
  float value;
  std::memcpy(&value, &m.UIntValue, sizeof value);
  return value;
}

// At most the buffer's size, without a terminator: hosts hand zeroed buffers.
inline void copyText(const std::string& text, const GetParameterGroupStruct& target) {
  const std::size_t n = std::min<std::size_t>(text.size(), target.targetBufferSize);
  std::memcpy(target.targetBuffer, text.data(), n);
}

}  // namespace mirandel
