#pragma once
// Conversion through linear light, for pictures that the matrix rule cannot
// show as they are meant: BT.2020 primaries, and the HLG and PQ transfers.
// Any thread.
//
// Per pixel: R'G'B' by the picture's matrix, in steps of 1/4095; each
// channel to linear display light by a table with linear interpolation
// between its steps (1.0 is SDR white); the BT.2020
// primaries to BT.709's by the ITU-R BT.2087 matrix; negative values and
// values above white clipped; back to an 8-bit BT.709 signal by a table.
// What the tables hold per transfer:
//   SDR  the BT.1886 display (gamma 2.4, black at 0), both ways, so a BT.2020
//        SDR picture keeps its transfer and only its primaries change;
//   HLG  the inverse OETF of ITU-R BT.2100, then the system gamma of a
//        1000 cd/m2 display (1.2) on each channel, scaled so that 203 cd/m2,
//        the 75 % signal, is SDR white (ITU-R BT.2408);
//   PQ   the SMPTE ST 2084 EOTF in cd/m2 over 203, through pqToneCurve().
// The output is the inverse of the BT.1886 display, as an SDR display shows
// its signal.
#include <array>
#include <bit>
#include <cstdint>

#include "video/Yuv420ToBgra.h"

namespace mirandel {

// The tables and constants of one sample format and colour description.
struct LinearRule {
  // R'G'B' steps: 0 is black, kSignalSteps white.
  static constexpr int kSignalSteps = 4095;
  // Output table entries: 256 per octave of linear light from 2^-24 up to
  // 1.0, which takes the last entry.
  static constexpr int kOutputOctaves = 24;
  static constexpr int kOutputEntries = 256 * kOutputOctaves + 1;
  // The float bits of 2^-24 shifted as outputIndex shifts them.
  static constexpr std::int32_t kOutputBase = (127 - kOutputOctaves) << 8;

  // In steps: r' = luma (Y - yOffset) + vr e, g' = luma (Y - yOffset) - (ug d + vg e),
  // b' = luma (Y - yOffset) + ub d, with d = U - centre, e = V - centre.
  float luma, vr, ug, vg, ub;
  std::int32_t yOffset, centre;
  // Linear light of each R'G'B' step, and the rise to the next step (0 after
  // the last): light = toLinear[i] + f * slope[i] at step i + f.
  std::array<float, kSignalSteps + 1> toLinear;
  std::array<float, kSignalSteps + 1> slope;
  // BT.709 linear light from the source primaries' linear light, by rows.
  std::array<float, 9> primaries;
  // 8-bit signal of each output index; three bytes of padding, so that a
  // 4-byte gather at the last entry stays inside.
  std::array<std::uint8_t, kOutputEntries + 3> toOutput;
};

// The rule for a picture's depth, range and colour description; made on
// first use and kept for the process.
const LinearRule& linearRuleFor(const YuvPicture& picture);

// Index of linear light x in LinearRule::toOutput: the exponent and top eight
// mantissa bits of max(x, 0), so every entry spans 1/256 of an octave.
inline std::int32_t outputIndex(float x) {
  const float positive = x > 0.0f ? x : 0.0f;  // as MAXPS(x, 0) picks, -0 included
  const std::int32_t i = (std::bit_cast<std::int32_t>(positive) >> 15) - LinearRule::kOutputBase;
  return i < 0 ? 0 : (i > LinearRule::kOutputEntries - 1 ? LinearRule::kOutputEntries - 1 : i);
}

// One pixel by the rule: the plain reference that the SIMD rows are held to.
void linearPixel(const LinearRule& rule, int y, int u, int v, std::uint8_t* bgra);

// The formulas the tables are made from, in double precision, for tests.
// Linear display light (1.0 = SDR white) of a normalised signal 0..1.
double displayLightOf(ColorTransfer transfer, double signal);
// The 0..1 BT.709 signal that shows linear light x on an SDR display.
double sdrSignalOf(double x);
// PQ's tone curve on x = cd/m2 / 203: x up to 0.5 as it is; from there a
// cubic shoulder k + (1 - k)(t + t^2 - t^3), t = (x - k) / (1 - k), k = 0.5,
// meets white with zero slope at 203 cd/m2; brighter is white.
double pqToneCurve(double x);
// The BT.2020-to-BT.709 matrix, by rows.
extern const std::array<double, 9> kBt2020ToBt709;

}  // namespace mirandel
