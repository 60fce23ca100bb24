#include "link/ControlCodec.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace mirandel {
namespace {

// A string of n bytes plus 1 to 4 NULs, rounded to a multiple of 4.
constexpr std::size_t paddedSize(std::size_t n) { return (n + 4) & ~std::size_t{3}; }

void appendPadded(std::vector<std::uint8_t>& out, const std::string& s) {
  out.insert(out.end(), s.begin(), s.end());
  out.resize(out.size() + (paddedSize(s.size()) - s.size()), 0);
}

void appendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 24));
  out.push_back(static_cast<std::uint8_t>(v >> 16));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

std::uint32_t readBigEndian(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

// Index of the first NUL in [from, length), or length when there is none.
std::size_t findNul(const std::uint8_t* bytes, std::size_t from, std::size_t length) {
  if (from >= length) return length;
  const void* hit = std::memchr(bytes + from, 0, length - from);
  return hit ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - bytes) : length;
}

bool isCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// strtod's reading of a leading number, but independent of the process
// locale: hosts may switch LC_NUMERIC to a comma decimal point, and "3.5" from
// a phone must still read as 3.5 there.
bool leadingNumber(const std::string& text, double& out) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p != end && isCSpace(*p)) ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  // from_chars accepts no sign of its own after ours ("+-1" is not a number).
  if (p == end || *p == '+' || *p == '-') return false;
  double value = 0.0;
  std::from_chars_result r{p, std::errc::invalid_argument};
  if (end - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    r = std::from_chars(p + 2, end, value, std::chars_format::hex);
    if (r.ec == std::errc::invalid_argument) r = std::from_chars(p, end, value);  // just "0"
  } else {
    r = std::from_chars(p, end, value);
  }
  if (r.ec == std::errc::invalid_argument) return false;
  if (r.ec == std::errc::result_out_of_range) {
    // strtod's answer for magnitudes beyond double; the text is plain ASCII
    // digits here, so the locale cannot change it.
    value = std::strtod(std::string(p, r.ptr).c_str(), nullptr);
  }
  out = negative ? -value : value;
  return true;
}

}  // namespace

std::vector<std::uint8_t> encode(const ControlMessage& message) {
  std::string tags = ",";
  std::vector<std::uint8_t> data;
  for (const ControlArg& arg : message.args) {
    switch (arg.kind) {
      case ArgKind::Int:
        tags += 'i';
        appendBigEndian(data, static_cast<std::uint32_t>(arg.intValue));
        break;
      case ArgKind::Float:
        tags += 'f';
        appendBigEndian(data, std::bit_cast<std::uint32_t>(arg.floatValue));
        break;
      case ArgKind::String:
        tags += 's';
        appendPadded(data, arg.text);
        break;
      case ArgKind::True:
        tags += 'T';
        break;
      case ArgKind::False:
        tags += 'F';
        break;
      case ArgKind::Nil:
        tags += 'N';
        break;
      case ArgKind::Impulse:
        tags += 'I';
        break;
      default:
        break;  // unknown kinds are left out, tag and data alike
    }
  }
  std::vector<std::uint8_t> out;
  out.reserve(paddedSize(message.address.size()) + paddedSize(tags.size()) + data.size());
  appendPadded(out, message.address);
  appendPadded(out, tags);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

bool decode(const std::uint8_t* bytes, std::size_t length, ControlMessage& out) {
  out.address.clear();
  out.args.clear();
  if (length == 0 || bytes == nullptr || bytes[0] != '/') return false;  // also rejects '#bundle'
  const std::size_t addressEnd = findNul(bytes, 0, length);
  if (addressEnd == length) return false;
  out.address.assign(reinterpret_cast<const char*>(bytes), addressEnd);

  const std::size_t tagsBegin = std::min(paddedSize(addressEnd), length);
  const std::size_t tagsEnd = findNul(bytes, tagsBegin, length);
  if (tagsEnd == length) return true;  // no tag string: a message without arguments
  const std::size_t tagCount = tagsEnd - tagsBegin;
  if (tagCount < 2 || bytes[tagsBegin] != ',') return true;
  if (tagCount - 1 > kMaxControlArguments) {
    out.address.clear();
    return false;
  }

  std::size_t data = std::min(tagsBegin + paddedSize(tagCount), length);
  for (std::size_t t = tagsBegin + 1; t < tagsEnd; ++t) {
    const std::size_t remaining = length - data;
    switch (bytes[t]) {
      case 'i':
        if (remaining < 4) return true;
        out.args.push_back(
            ControlArg::ofInt(static_cast<std::int32_t>(readBigEndian(bytes + data))));
        data += 4;
        break;
      case 'f':
        if (remaining < 4) return true;
        out.args.push_back(ControlArg::ofFloat(std::bit_cast<float>(readBigEndian(bytes + data))));
        data += 4;
        break;
      case 's':
      case 'S': {
        if (remaining == 0) return true;
        const std::size_t textEnd = findNul(bytes, data, length);
        if (textEnd == length) return true;
        out.args.push_back(ControlArg::ofText(
            std::string(reinterpret_cast<const char*>(bytes + data), textEnd - data)));
        data = std::min(data + paddedSize(textEnd - data), length);
        break;
      }
      case 'T':
        out.args.push_back(ControlArg::ofKind(ArgKind::True));
        break;
      case 'F':
        out.args.push_back(ControlArg::ofKind(ArgKind::False));
        break;
      case 'N':
        out.args.push_back(ControlArg::ofKind(ArgKind::Nil));
        break;
      case 'I':
        out.args.push_back(ControlArg::ofKind(ArgKind::Impulse));
        break;
      default:
        return true;  // a kind we do not read ends the list
    }
  }
  return true;
}

bool toNumber(const ControlArg& arg, double& out) {
  switch (arg.kind) {
    case ArgKind::Int:
      out = arg.intValue;
      return true;
    case ArgKind::Float:
      out = static_cast<double>(arg.floatValue);
      return true;
    case ArgKind::String:
      return leadingNumber(arg.text, out);
    case ArgKind::True:
    case ArgKind::Impulse:
      out = 1.0;
      return true;
    case ArgKind::False:
      out = 0.0;
      return true;
    default:
      return false;
  }
}

}  // namespace mirandel
