#include "video/LinearLight.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>

#include "base/ThreadSafety.h"
#include "video/Yuv420ToBgraSimd.h"

namespace mirandel {

namespace {

// ITU-R BT.2100 HLG.
constexpr double kHlgA = 0.17883277;
constexpr double kHlgB = 1 - 4 * kHlgA;
const double kHlgC = 0.5 - kHlgA * std::log(4 * kHlgA);
constexpr double kHlgSystemGamma = 1.2;  // a 1000 cd/m2 display
// HLG's peak over reference white: 1000 cd/m2 over 203 cd/m2.
constexpr double kHlgPeak = 1000.0 / 203.0;

// SMPTE ST 2084.
constexpr double kPqM1 = 0.1593017578125;
constexpr double kPqM2 = 78.84375;
constexpr double kPqC1 = 0.8359375;
constexpr double kPqC2 = 18.8515625;
constexpr double kPqC3 = 18.6875;
constexpr double kReferenceWhite = 203.0;  // cd/m2, ITU-R BT.2408

constexpr double kDisplayGamma = 2.4;  // BT.1886
constexpr double kToneKnee = 0.5;

double clamp01(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

std::unique_ptr<LinearRule> makeRule(std::uint32_t bitDepth, ColorRange range, ColorMatrix matrix,
                                     ColorTransfer transfer, ColorPrimaries primaries) {
  auto rule = std::make_unique<LinearRule>();
  const simd::MatrixCoefficients c = simd::coefficientsOf(matrix);
  const double maxCode = (1 << bitDepth) - 1;
  const bool limited = range == ColorRange::kLimited;
  const double scale = 1 << (bitDepth - 8);
  const double lumaSpan = limited ? 219 * scale : maxCode;
  const double chromaSpan = limited ? 224 * scale : maxCode;
  const double steps = LinearRule::kSignalSteps;
  rule->luma = static_cast<float>(steps / lumaSpan);
  rule->vr = static_cast<float>(c.vr * steps / chromaSpan);
  rule->ug = static_cast<float>(c.ug * steps / chromaSpan);
  rule->vg = static_cast<float>(c.vg * steps / chromaSpan);
  rule->ub = static_cast<float>(c.ub * steps / chromaSpan);
  rule->yOffset = limited ? 16 << (bitDepth - 8) : 0;
  rule->centre = 1 << (bitDepth - 1);
  for (int i = 0; i <= LinearRule::kSignalSteps; ++i) {
    rule->toLinear[i] = static_cast<float>(displayLightOf(transfer, i / steps));
  }
  for (int i = 0; i < LinearRule::kSignalSteps; ++i) {
    rule->slope[i] = rule->toLinear[i + 1] - rule->toLinear[i];
  }
  rule->slope[LinearRule::kSignalSteps] = 0;
  for (std::size_t i = 0; i < 9; ++i) {
    const bool diagonal = i % 4 == 0;
    rule->primaries[i] = static_cast<float>(
        primaries == ColorPrimaries::kBt2020 ? kBt2020ToBt709[i] : (diagonal ? 1.0 : 0.0));
  }
  // Each entry shows the middle of its span, halfway between the signals of
  // its ends.
  for (int i = 0; i < LinearRule::kOutputEntries; ++i) {
    const double low = std::ldexp(1.0 + (i % 256) / 256.0, i / 256 - LinearRule::kOutputOctaves);
    const double high = low + std::ldexp(1.0 / 256.0, i / 256 - LinearRule::kOutputOctaves);
    const double signal =
        i == LinearRule::kOutputEntries - 1 ? 1.0 : (sdrSignalOf(low) + sdrSignalOf(high)) / 2;
    rule->toOutput[i] = static_cast<std::uint8_t>(std::lround(255 * signal));
  }
  // The first entry also holds everything below 2^-24, black included.
  rule->toOutput[0] = 0;
  for (int i = LinearRule::kOutputEntries; i < LinearRule::kOutputEntries + 3; ++i) {
    rule->toOutput[i] = 0;
  }
  return rule;
}

inline std::uint8_t channelOf(const LinearRule& k, float x) { return k.toOutput[outputIndex(x)]; }

// The light of one channel's R'G'B' value in steps.
inline float lightOf(const LinearRule& k, float v) {
  // As MAXPS and MINPS pick, then CVTTPS2DQ's truncation.
  const float low = v > 0.0f ? v : 0.0f;
  const float clamped = low < 4095.0f ? low : 4095.0f;
  const auto i = static_cast<std::int32_t>(clamped);
  const float f = clamped - static_cast<float>(i);
  return k.toLinear[i] + f * k.slope[i];
}

}  // namespace

const std::array<double, 9> kBt2020ToBt709 = {1.6605,  -0.5876, -0.0728, -0.1246, 1.1329,
                                              -0.0083, -0.0182, -0.1006, 1.1187};

double displayLightOf(ColorTransfer transfer, double signal) {
  const double v = clamp01(signal);
  switch (transfer) {
    case ColorTransfer::kHlg: {
      const double scene = v <= 0.5 ? v * v / 3 : (std::exp((v - kHlgC) / kHlgA) + kHlgB) / 12;
      return std::pow(scene, kHlgSystemGamma) * kHlgPeak;
    }
    case ColorTransfer::kPq: {
      const double p = std::pow(v, 1 / kPqM2);
      const double nits =
          10000 * std::pow(std::max(p - kPqC1, 0.0) / (kPqC2 - kPqC3 * p), 1 / kPqM1);
      return pqToneCurve(nits / kReferenceWhite);
    }
    default:
      return std::pow(v, kDisplayGamma);
  }
}

double sdrSignalOf(double x) { return std::pow(clamp01(x), 1 / kDisplayGamma); }

double pqToneCurve(double x) {
  if (x <= kToneKnee) return x;
  if (x >= 1) return 1;
  const double t = (x - kToneKnee) / (1 - kToneKnee);
  return kToneKnee + (1 - kToneKnee) * (t + t * t - t * t * t);
}

const LinearRule& linearRuleFor(const YuvPicture& p) {
  // depth (8, 10) x range x matrix x transfer x primaries
  constexpr std::size_t kRules = 2 * 2 * 3 * 3 * 2;
  static std::array<std::atomic<const LinearRule*>, kRules> rules{};
  static Mutex making;
  const std::size_t key = ((((p.bitDepth > 8 ? 1u : 0u) * 2 + static_cast<unsigned>(p.range)) * 3 +
                            static_cast<unsigned>(p.matrix)) *
                               3 +
                           static_cast<unsigned>(p.transfer)) *
                              2 +
                          static_cast<unsigned>(p.primaries);
  const LinearRule* rule = rules[key].load(std::memory_order_acquire);
  if (rule != nullptr) return *rule;
  MutexLock lock(making);
  rule = rules[key].load(std::memory_order_relaxed);
  if (rule == nullptr) {
    // Kept for the process, as the conversion's other constants are.
    rule = makeRule(p.bitDepth > 8 ? 10 : 8, p.range, p.matrix, p.transfer, p.primaries).release();
    rules[key].store(rule, std::memory_order_release);
  }
  return *rule;
}

void linearPixel(const LinearRule& k, int y, int u, int v, std::uint8_t* bgra) {
  const float l = k.luma * static_cast<float>(y - k.yOffset);
  const float d = static_cast<float>(u - k.centre);
  const float e = static_cast<float>(v - k.centre);
  const float dr = k.vr * e;
  const float dg = k.ug * d + k.vg * e;
  const float db = k.ub * d;
  const float r = lightOf(k, l + dr);
  const float g = lightOf(k, l - dg);
  const float b = lightOf(k, l + db);
  const auto& m = k.primaries;
  bgra[0] = channelOf(k, m[6] * r + m[7] * g + m[8] * b);
  bgra[1] = channelOf(k, m[3] * r + m[4] * g + m[5] * b);
  bgra[2] = channelOf(k, m[0] * r + m[1] * g + m[2] * b);
  bgra[3] = 255;
}

}  // namespace mirandel
