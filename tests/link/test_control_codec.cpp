#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "link/ControlCodec.h"
#include "support/TestPlatform.h"
#include "support/TestSupport.h"

namespace mirandel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Guards against any deviation from the wire form phones and liblo expect: tag letters, big-endian
// order, padding of strings (a length of 4k needs four NULs) and of the tag string.
TEST(ControlCodec, EncodesEveryKindByteForByte) {
  // The tag string and data after the padded address "/ab\0".
  const std::vector<std::tuple<const char*, ControlArg, Bytes>> cases = {
      {"int -1", ControlArg::ofInt(-1), {',', 'i', 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"int 0x01020304", ControlArg::ofInt(0x01020304), {',', 'i', 0, 0, 1, 2, 3, 4}},
      {"float 1.0", ControlArg::ofFloat(1.0f), {',', 'f', 0, 0, 0x3F, 0x80, 0, 0}},
      {"float -2.5", ControlArg::ofFloat(-2.5f), {',', 'f', 0, 0, 0xC0, 0x20, 0, 0}},
      {"empty string", ControlArg::ofText(""), {',', 's', 0, 0, 0, 0, 0, 0}},
      {"string abc", ControlArg::ofText("abc"), {',', 's', 0, 0, 'a', 'b', 'c', 0}},
      {"string abcd", ControlArg::ofText("abcd"), {',', 's', 0, 0, 'a', 'b', 'c', 'd', 0, 0, 0, 0}},
      {"string a", ControlArg::ofText("a"), {',', 's', 0, 0, 'a', 0, 0, 0}},
      {"true", ControlArg::ofKind(ArgKind::True), {',', 'T', 0, 0}},
      {"false", ControlArg::ofKind(ArgKind::False), {',', 'F', 0, 0}},
      {"nil", ControlArg::ofKind(ArgKind::Nil), {',', 'N', 0, 0}},
      {"impulse", ControlArg::ofKind(ArgKind::Impulse), {',', 'I', 0, 0}},
      {"unknown kind", ControlArg::ofKind(static_cast<ArgKind>(7)), {',', 0, 0, 0}},
  };
  for (const auto& [what, arg, tagsAndData] : cases)
    EXPECT_EQ(encode({"/ab", {arg}}), cat({{'/', 'a', 'b', 0}, tagsAndData})) << what;
}

// Guards the discovery probe that every phone must recognise.
TEST(ControlCodec, TheDiscoveryProbeIsTwentyFourBytes) {
  EXPECT_EQ(encode({"/mirandel/discover", {}}),
            cat({bytesOf("/mirandel/discover"), {0, 0, ',', 0, 0, 0}}));
}

// Guards the leniency rules: whatever has an address is accepted, and reading
// stops at the first argument that cannot be read.
TEST(ControlCodec, DecodesLenientlyAndStopsAtTheFirstUnreadableArgument) {
  const Bytes addr = {'/', 'a', 'b', 0};
  const std::vector<std::tuple<const char*, Bytes, std::vector<ControlArg>>> cases = {
      {"only the padded address", addr, {}},
      {"64 arguments, the most a message may have", cat({addr, {','}, Bytes(64, 'T'), {0, 0, 0}}),
       std::vector<ControlArg>(64, ControlArg::ofKind(ArgKind::True))},
      {"float", cat({addr, {',', 'f', 0, 0, 0xC0, 0x20, 0, 0}}), {ControlArg::ofFloat(-2.5f)}},
      {"address without its padding", {'/', 'a', 'b', 'c', 0}, {}},
      {"tag string without NUL", cat({addr, {',', 'i'}}), {}},
      {"empty tag string", cat({addr, {0, 0, 0, 0}}), {}},
      {"tag string not starting with comma", cat({addr, {'i', 0, 0, 0, 0, 0, 0, 1}}), {}},
      {"only a comma", cat({addr, {',', 0, 0, 0}}), {}},
      {"int then string with only 4 data bytes",
       cat({addr, {',', 'i', 's', 0, 0, 0, 0, 5}}),
       {ControlArg::ofInt(5)}},
      {"int, then b stops before the string",
       cat({addr, {',', 'i', 'b', 's', 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 1, 'x', 0, 0, 0, 'a', 0}}),
       {ControlArg::ofInt(9)}},
      {"truncated int", cat({addr, {',', 'i', 0, 0, 0, 0, 1}}), {}},
      {"truncated float", cat({addr, {',', 'f', 0, 0, 0x3F, 0x80}}), {}},
      {"string whose NUL is missing",
       cat({addr, {',', 'i', 's', 0}, {0, 0, 0, 2}, bytesOf("abc")}),
       {ControlArg::ofInt(2)}},
      {"string at the very end", cat({addr, {',', 's', 0, 0}}), {}},
      {"string with its padding cut short",
       cat({addr, {',', 's', 'T', 0}, bytesOf("ab"), {0}}),
       {ControlArg::ofText("ab"), ControlArg::ofKind(ArgKind::True)}},
      {"S reads as a string",
       cat({addr, {',', 'S', 0, 0}, bytesOf("sym"), {0}}),
       {ControlArg::ofText("sym")}},
      {"data-less kinds",
       cat({addr, {',', 'T', 'F', 'N', 'I', 0, 0, 0}}),
       {ControlArg::ofKind(ArgKind::True), ControlArg::ofKind(ArgKind::False),
        ControlArg::ofKind(ArgKind::Nil), ControlArg::ofKind(ArgKind::Impulse)}},
      {"trailing bytes ignored",
       cat({addr, {',', 'i', 0, 0}, {0, 0, 0, 4}, {1, 2, 3}}),
       {ControlArg::ofInt(4)}},
      {"tag string cut by the datagram's end",
       cat({addr, {',', 'T', 'F', 0}}),
       {ControlArg::ofKind(ArgKind::True), ControlArg::ofKind(ArgKind::False)}},
  };
  for (const auto& [what, bytes, args] : cases) {
    SCOPED_TRACE(what);
    ControlMessage m;
    ASSERT_TRUE(decode(bytes.data(), bytes.size(), m));
    EXPECT_EQ(m.address, bytes[3] == 'c' ? "/abc" : "/ab");
    EXPECT_EQ(m.args, args);
  }
}

// Guards against accepting bundles or garbage as messages, and against a tag-only datagram costing
// a whole record per tag byte: a 64 KB datagram of "T" tags once became 65,000 arguments in every
// inbox. Sixty-four arguments pass (see the decoding cases); one more and the message is dropped,
// counted by what the tags announce whether or not their data is there.
TEST(ControlCodec, RejectsDatagramsWithoutAnAddressOrWithMoreThanSixtyFourArguments) {
  const std::vector<Bytes> rejected = {
      {},
      cat({bytesOf("#bundle"), {0}, Bytes(8, 0)}),
      bytesOf("/no/nul/at/all"),
      {'a', '/', 0, 0},
      {0, 0, 0, 0},
      cat({{'/', 'a', 0, 0, ','}, Bytes(65, 'T'), {0, 0}}),
      cat({{'/', 'a', 0, 0, ','}, Bytes(65, 'i'), {0, 0}, Bytes(64 * 4, 0)}),
  };
  for (const Bytes& b : rejected) {
    ControlMessage m{"/stale", {ControlArg::ofInt(1)}};
    EXPECT_FALSE(decode(b.data(), b.size(), m)) << b.size();
    EXPECT_TRUE(m.args.empty());
  }
}

// Guards every handler's numeric reading, including strtod's leniency.
TEST(ControlCodec, ToNumberReadsEveryNumericKind) {
  const std::pair<ControlArg, double> numbers[] = {{ControlArg::ofInt(-7), -7.0},
                                                   {ControlArg::ofFloat(0.5f), 0.5},
                                                   {ControlArg::ofText("12abc"), 12.0},
                                                   {ControlArg::ofText("  3.5"), 3.5},
                                                   {ControlArg::ofText("\t-2e3x"), -2000.0},
                                                   {ControlArg::ofText("+.25"), 0.25},
                                                   {ControlArg::ofText("0x10"), 16.0},
                                                   {ControlArg::ofText("1e999"), HUGE_VAL},
                                                   {ControlArg::ofKind(ArgKind::True), 1.0},
                                                   {ControlArg::ofKind(ArgKind::Impulse), 1.0},
                                                   {ControlArg::ofKind(ArgKind::False), 0.0}};
  for (const auto& [arg, value] : numbers) {
    double v = -123.0;
    EXPECT_TRUE(toNumber(arg, v)) << arg.text;
    EXPECT_EQ(v, value) << arg.text;
  }
  for (const ControlArg& arg :
       {ControlArg::ofText("abc"), ControlArg::ofText(""), ControlArg::ofText("  "),
        ControlArg::ofText("-"), ControlArg::ofText("+-1"), ControlArg::ofKind(ArgKind::Nil),
        ControlArg::ofKind(static_cast<ArgKind>(42))}) {
    double v = 0;
    EXPECT_FALSE(toNumber(arg, v)) << arg.text;
  }
}

// Guards against a host that switched the C locale to a comma decimal point
// turning the phone's "0.75" into 0.
TEST(ControlCodec, ToNumberIgnoresTheProcessLocale) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  if (!test::useCommaDecimalLocale()) GTEST_SKIP() << "no comma-decimal locale";
  ASSERT_EQ(std::string(std::localeconv()->decimal_point), ",");
  double v = 0;
  EXPECT_TRUE(toNumber(ControlArg::ofText("0.75"), v));
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(v, 0.75);
}

}  // namespace
}  // namespace mirandel
