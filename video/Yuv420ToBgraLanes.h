// The 8-bit rows' split arithmetic (Yuv420ToBgraSimd.cpp says why it is
// exact) for one vector width. Yuv420ToBgraSimd.cpp includes it once per
// width, each time inside a namespace of its own and with:
//   MIRANDEL_LANES            what each function is declared with: inline,
//                             and the target the width needs
//   MIRANDEL_LANES_VEC        the vector type
//   MIRANDEL_LANES_OP(name)   an intrinsic on 16-bit lanes or bytes, by the
//                             part of its name after the width's prefix
//   MIRANDEL_LANES_BITS(name) a whole-register intrinsic, by its verb
// No include guard: each inclusion makes another width.

using Vec = MIRANDEL_LANES_VEC;

MIRANDEL_LANES Vec add16(Vec a, Vec b) { return MIRANDEL_LANES_OP(add_epi16)(a, b); }
MIRANDEL_LANES Vec sub16(Vec a, Vec b) { return MIRANDEL_LANES_OP(sub_epi16)(a, b); }
MIRANDEL_LANES Vec splat16(short k) { return MIRANDEL_LANES_OP(set1_epi16)(k); }
MIRANDEL_LANES Vec lowBytes(Vec a) { return MIRANDEL_LANES_BITS(and)(a, splat16(0xFF)); }
MIRANDEL_LANES Vec zero() { return MIRANDEL_LANES_BITS(setzero)(); }

// Multiplier constants hidden from the optimiser: left alone, it turns each
// multiply into a longer chain of shifts and adds.
MIRANDEL_LANES Vec opaque(Vec v) {
  asm("" : "+x"(v));
  return v;
}

// k x, with the small factors as adds.
template <int k>
MIRANDEL_LANES Vec times(Vec x) {
  if constexpr (k == 1) {
    return x;
  } else if constexpr (k == 2) {
    return add16(x, x);
  } else if constexpr (k == -1) {
    return sub16(zero(), x);
  } else {
    return MIRANDEL_LANES_OP(mullo_epi16)(x, opaque(splat16(static_cast<short>(k))));
  }
}

// a d + b e + bias.
template <int a, int b>
MIRANDEL_LANES Vec sum(Vec d, Vec e, Vec bias) {
  if constexpr (a == 0 && b == 0) {
    return bias;
  } else if constexpr (a == 0) {
    return add16(times<b>(e), bias);
  } else if constexpr (b == 0) {
    return add16(times<a>(d), bias);
  } else {
    return add16(add16(times<a>(d), times<b>(e)), bias);
  }
}

// One channel's terms per chroma sample: qh and ql, or P alone for a whole
// part; qh alone for full range.
struct Terms {
  Vec h, l;
};

template <bool kFull, ChromaSplit s>
MIRANDEL_LANES Terms terms(Vec d, Vec e) {
  const Vec p = sum<s.rd, s.re>(d, e, splat16(kFull ? 128 : -4640));
  if constexpr (s.whole()) {
    return {kFull ? MIRANDEL_LANES_OP(srai_epi16)(p, 8) : p, p};
  } else {
    const Vec h = sum<s.hd, s.he>(d, e, MIRANDEL_LANES_OP(srai_epi16)(p, 8));
    return {h, kFull ? h : lowBytes(p)};
  }
}

// Y + qh + ((42 Y + ql) >> 8); Y + ((42 Y + P) >> 8) for a whole part; Y + qh
// for full range.
template <bool kFull, ChromaSplit s>
MIRANDEL_LANES Vec channel(Vec y, Vec y42, const Terms& t) {
  if constexpr (kFull) {
    return add16(y, t.h);
  } else if constexpr (s.whole()) {
    return add16(y, MIRANDEL_LANES_OP(srai_epi16)(add16(y42, t.h), 8));
  } else {
    return add16(add16(y, t.h), MIRANDEL_LANES_OP(srli_epi16)(add16(y42, t.l), 8));
  }
}

struct Chroma {
  Terms r, g, b;
};

template <bool kFull, ColorMatrix kM>
MIRANDEL_LANES Chroma chromaTerms(Vec u16, Vec v16) {
  using S = RuleSplits<kFull, kM>;
  const Vec d = sub16(u16, splat16(128));
  const Vec e = sub16(v16, splat16(128));
  return {terms<kFull, S::r>(d, e), terms<kFull, S::g>(d, e), terms<kFull, S::b>(d, e)};
}

// The BGRA pixels of one register of luma bytes, in four registers of four
// pixels per 128-bit lane, in pixel order within each lane.
struct Quads {
  Vec q0, q1, q2, q3;
};

template <bool kFull, ColorMatrix kM>
MIRANDEL_LANES Quads pixels(const std::uint8_t* y, const Chroma& c) {
  using S = RuleSplits<kFull, kM>;
  const Vec yBytes = MIRANDEL_LANES_BITS(loadu)(reinterpret_cast<const Vec*>(y));
  const Vec yEven = lowBytes(yBytes);
  const Vec yOdd = MIRANDEL_LANES_OP(srli_epi16)(yBytes, 8);
  Vec y42Even = yEven, y42Odd = yOdd;  // unused for full range
  if constexpr (!kFull) {
    y42Even = MIRANDEL_LANES_OP(mullo_epi16)(yEven, opaque(splat16(42)));
    y42Odd = MIRANDEL_LANES_OP(mullo_epi16)(yOdd, opaque(splat16(42)));
  }

  // Each packed channel holds the even pixels, then the odd ones.
  const Vec b = MIRANDEL_LANES_OP(packus_epi16)(channel<kFull, S::b>(yEven, y42Even, c.b),
                                                channel<kFull, S::b>(yOdd, y42Odd, c.b));
  const Vec g = MIRANDEL_LANES_OP(packus_epi16)(channel<kFull, S::g>(yEven, y42Even, c.g),
                                                channel<kFull, S::g>(yOdd, y42Odd, c.g));
  const Vec r = MIRANDEL_LANES_OP(packus_epi16)(channel<kFull, S::r>(yEven, y42Even, c.r),
                                                channel<kFull, S::r>(yOdd, y42Odd, c.r));
  const Vec a = MIRANDEL_LANES_OP(set1_epi8)(static_cast<char>(0xFF));

  const Vec bgEven = MIRANDEL_LANES_OP(unpacklo_epi8)(b, g);
  const Vec bgOdd = MIRANDEL_LANES_OP(unpackhi_epi8)(b, g);
  const Vec raEven = MIRANDEL_LANES_OP(unpacklo_epi8)(r, a);
  const Vec raOdd = MIRANDEL_LANES_OP(unpackhi_epi8)(r, a);
  const Vec even03 = MIRANDEL_LANES_OP(unpacklo_epi16)(bgEven, raEven);  // pixels 0, 2, 4, 6
  const Vec even47 = MIRANDEL_LANES_OP(unpackhi_epi16)(bgEven, raEven);  // pixels 8 .. 14
  const Vec odd03 = MIRANDEL_LANES_OP(unpacklo_epi16)(bgOdd, raOdd);     // pixels 1 .. 7
  const Vec odd47 = MIRANDEL_LANES_OP(unpackhi_epi16)(bgOdd, raOdd);     // pixels 9 .. 15
  return {MIRANDEL_LANES_OP(unpacklo_epi32)(even03, odd03),
          MIRANDEL_LANES_OP(unpackhi_epi32)(even03, odd03),
          MIRANDEL_LANES_OP(unpacklo_epi32)(even47, odd47),
          MIRANDEL_LANES_OP(unpackhi_epi32)(even47, odd47)};
}
