#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "link/ControlCodec.h"
#include "support/TagLetters.h"
#include "support/TestPlatform.h"

namespace mirandel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

using test::F, test::I, test::S, test::kTrue, test::kFalse, test::kNil, test::kImpulse;

// Guards against any deviation from the wire form phones and liblo expect: tag letters, big-endian
// order, padding of strings (a length of 4k needs four NULs) and of the tag string, and against
// a discovery probe that phones would not recognise. The data-less kinds, the empty string and a
// string of 4k + 3 bytes are read back by liblo in
// OscInterop.MessagesWeEncodeArePrintedCorrectlyByOscdump.
TEST(ControlCodec, EncodesEachKindByteForByte) {
  // The tag string and data after the padded address "/ab\0".
  const std::vector<std::tuple<const char*, ControlArg, Bytes>> cases = {
      {"int 0x01020304", I(0x01020304), {',', 'i', 0, 0, 1, 2, 3, 4}},
      {"float -2.5", F(-2.5f), {',', 'f', 0, 0, 0xC0, 0x20, 0, 0}},
      {"string abcd", S("abcd"), {',', 's', 0, 0, 'a', 'b', 'c', 'd', 0, 0, 0, 0}},
      {"string a", S("a"), {',', 's', 0, 0, 'a', 0, 0, 0}},
      {"unknown kind", ControlArg::ofKind(static_cast<ArgKind>(7)), {',', 0, 0, 0}}};
  for (const auto& [what, arg, tagsAndData] : cases)
    EXPECT_EQ(encode({"/ab", {arg}}), cat({{'/', 'a', 'b', 0}, tagsAndData})) << what;
  // The discovery probe that every phone must recognise: 24 bytes.
  EXPECT_EQ(encode({"/mirandel/discover", {}}),
            cat({bytesOf("/mirandel/discover"), {0, 0, ',', 0, 0, 0}}));
}

// Guards the leniency rules: whatever has an address is accepted, and reading
// stops at the first argument that cannot be read. Whole arguments of every kind as liblo sends
// them are read in OscInterop.MessagesSentByOscsendDecodeToTheSameValues.
TEST(ControlCodec, DecodesLenientlyAndStopsAtTheFirstUnreadableArgument) {
  const Bytes addr = {'/', 'a', 'b', 0};
  const std::vector<std::tuple<const char*, Bytes, std::vector<ControlArg>>> cases = {
      {"only the padded address", addr, {}},
      {"64 arguments, the most a message may have", cat({addr, {','}, Bytes(64, 'T'), {0, 0, 0}}),
       std::vector<ControlArg>(64, kTrue)},
      {"address without its padding", {'/', 'a', 'b', 'c', 0}, {}},
      {"tag string without NUL", cat({addr, {',', 'i'}}), {}},
      {"empty tag string", cat({addr, {0, 0, 0, 0}}), {}},
      {"tag string not starting with comma", cat({addr, {'i', 0, 0, 0, 0, 0, 0, 1}}), {}},
      {"only a comma", cat({addr, {',', 0, 0, 0}}), {}},
      {"int, then a string of 4 bytes", cat({addr, {',', 'i', 's', 0, 0, 0, 0, 5}}), {I(5)}},
      {"int, then b stops before the string",
       cat({addr, {',', 'i', 'b', 's', 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 1, 'x', 0, 0, 0, 'a', 0}}),
       {I(9)}},
      {"truncated int", cat({addr, {',', 'i', 0, 0, 0, 0, 1}}), {}},
      {"truncated float", cat({addr, {',', 'f', 0, 0, 0x3F, 0x80}}), {}},
      {"string without NUL", cat({addr, {',', 'i', 's', 0}, {0, 0, 0, 2}, bytesOf("abc")}), {I(2)}},
      {"string at the very end", cat({addr, {',', 's', 0, 0}}), {}},
      {"padding cut short", cat({addr, {',', 's', 'T', 0}, bytesOf("ab"), {0}}), {S("ab"), kTrue}},
      {"trailing bytes ignored", cat({addr, {',', 'i', 0, 0}, {0, 0, 0, 4}, {1, 2, 3}}), {I(4)}},
      {"tag string cut by the datagram's end", cat({addr, {',', 'T', 'F', 0}}), {kTrue, kFalse}}};
  for (const auto& [what, bytes, args] : cases) {
    SCOPED_TRACE(what);
    ControlMessage m;
    ASSERT_TRUE(decode(bytes.data(), bytes.size(), m));
    EXPECT_EQ(m.address, bytes[3] == 'c' ? "/abc" : "/ab");
    EXPECT_EQ(m.args, args);
  }
}

// Guards against bundles or garbage read as messages, and tag-only datagrams costing a record per
// tag (64 KB of "T" once became 65,000 arguments per inbox): over 64 arguments, counted by the
// tags whether or not their data is there, drop the message (64 pass, see the decoding cases).
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
    ControlMessage m{"/stale", {I(1)}};
    EXPECT_FALSE(decode(b.data(), b.size(), m)) << b.size();
    EXPECT_TRUE(m.args.empty());
  }
}

// Guards every handler's numeric reading, including strtod's leniency.
TEST(ControlCodec, ToNumberReadsEveryNumericKind) {
  const std::pair<ControlArg, double> numbers[] = {
      {I(-7), -7.0},     {F(0.5f), 0.5},          {S("12abc"), 12.0},
      {S("  3.5"), 3.5}, {S("\t-2e3x"), -2000.0}, {S("+.25"), 0.25},
      {S("0x10"), 16.0}, {S("1e999"), HUGE_VAL},  {kTrue, 1.0},
      {kImpulse, 1.0},   {kFalse, 0.0},
  };
  for (const auto& [arg, value] : numbers) {
    double v = -123.0;
    EXPECT_TRUE(toNumber(arg, v)) << arg.text;
    EXPECT_EQ(v, value) << arg.text;
  }
  for (const ControlArg& arg : {S("abc"), S(""), S("  "), S("-"), S("+-1"), kNil,
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
  EXPECT_TRUE(toNumber(S("0.75"), v));
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(v, 0.75);
}

}  // namespace
}  // namespace mirandel
