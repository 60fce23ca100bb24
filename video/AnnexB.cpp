#include "video/AnnexB.h"

#include <cstring>

namespace mirandel {

NalReader::NalReader(const std::uint8_t* data, std::size_t size)
    : data_(data), size_(size), pos_(size) {
  const std::size_t first = findStartCode(0);
  if (first < size_) pos_ = first + 3;
}

std::size_t NalReader::findStartCode(std::size_t from) const {
  // Look for the 01 and check the two zeros before it; memchr keeps the scan
  // of long slices fast.
  std::size_t i = from + 2;
  while (i < size_) {
    const void* hit = std::memchr(data_ + i, 0x01, size_ - i);
    if (hit == nullptr) return size_;
    i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data_);
    if (data_[i - 1] == 0 && data_[i - 2] == 0) return i - 2;
    ++i;
  }
  return size_;
}

bool NalReader::next(NalUnit& nal) {
  while (pos_ < size_) {
    const std::size_t start = pos_;
    const std::size_t code = findStartCode(start);
    std::size_t end = code;
    if (code < size_) {
      if (end > start && data_[end - 1] == 0) --end;
      pos_ = code + 3;
    } else {
      pos_ = size_;
    }
    if (end > start) {
      nal.data = data_ + start;
      nal.size = end - start;
      return true;
    }
  }
  return false;
}

bool holdsKeyPicture(const std::uint8_t* data, std::size_t size, CodecKind codec) {
  NalReader reader(data, size);
  NalUnit nal;
  while (reader.next(nal)) {
    const unsigned type = nalType(nal, codec);
    if (codec == kCodecHevc ? (type >= 16 && type <= 23) : type == 5) return true;
  }
  return false;
}

}  // namespace mirandel
