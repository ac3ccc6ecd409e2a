// The constants of the single-precision fast path and the error bound that
// decides which of its bytes are certain. docs/fast-normals.md derives each
// step; the names here are the names there, and the static_asserts check the
// inequalities the derivation needs, evaluated from the same formulas.
//
// The fast path forms w = 384 + 127 n r with r ~ 1/sqrt(q) in single
// precision, so w lies in [256, 512): its float has 15 fraction bits, the
// byte is its integer part minus 256 and the fraction says how far w is from
// a truncation boundary, in units of 2^-15. A lane whose fraction is within
// kMarginUnits of an integer is recomputed by the exact path.
#ifndef QUARNEL_FASTNORMALBOUND_H
#define QUARNEL_FASTNORMALBOUND_H

#include <cstdint>

namespace fastnormal {

// Rows whose |texel size| lies outside [kMinTexel, kMaxTexel] (and zero,
// infinite, NaN and denormal ones) take the exact path whole: within it
// s^4 is a normal float (2^-124 .. 2^124) and no step below under- or
// overflows, which the relative error bounds assume.
constexpr float kMinTexel = 0x1p-31f;
constexpr float kMaxTexel = 0x1p31f;

// Unit roundoff of single and double precision.
constexpr double kUnitF = 0x1p-24;
constexpr double kUnitD = 0x1p-53;

// Documented relative error of the approximate reciprocal square roots:
// vrsqrt14ps (AVX-512F) and vrsqrtps (AVX).
constexpr double kRsqrt14Error = 0x1p-14;
constexpr double kRsqrtpsError = 1.5 * 0x1p-12;
// AArch64's frsqrte, whose result the architecture defines bit for bit
// (RecipSqrtEstimate below); checked against all its inputs further down.
constexpr double kFrsqrteError = 0x1p-8;

// w in [256, 512): 23 mantissa bits, 15 of them below the binary point.
constexpr int kFractionBits = 15;
constexpr std::uint32_t kFractionMask = (1u << kFractionBits) - 1;
constexpr double kUnitW = 0x1p-15;  // one unit of the fraction
constexpr float kBias = 384.0f;     // 256 + 128: keeps w in [256, 512)

// Lanes whose w lies within this many units of an integer are recomputed.
// The kernels add the margin to the bias, exactly (2^-12 is a multiple of
// a unit), so a lane is certain when the fraction of w + margin is at least
// twice the margin: one bit test, with the integer part unchanged wherever
// it passes.
constexpr std::uint32_t kMarginUnits = 8;
static_assert((kMarginUnits & (kMarginUnits - 1)) == 0, "the lane test needs a power of two");
constexpr float kBiasWithMargin = kBias + static_cast<float>(kMarginUnits * kUnitW);

// Relative error of r against 1/sqrt(q) after one Newton step
// r = r0 + (r0 / 2) (1 - (q r0) r0), from r0's relative error e0 and the
// roundings of q r0, the fused 1 - y r0 and the fused update.
constexpr double NewtonError(double e0)
{
    const double u = kUnitF;
    const double g = 1.0 + e0;
    const double ideal = 1.5 * e0 * e0 + 0.5 * e0 * e0 * e0;
    const double rounding = 0.5 * g * g * g * u + 0.5 * g * (g * g * (1.0 + u) - 1.0) * u;
    return (1.0 + ideal + rounding) * (1.0 + u) - 1.0;
}

// The same for the step frsqrts makes: r = r0 fl((3 - fl(q r0) r0) / 2), the
// step's product, difference and halving fused into one rounding, then the
// rounded product with r0. The ideal part is the one above; the roundings
// add g^3 u / 2 and two more of u.
constexpr double RsqrtsStepError(double e0)
{
    const double u = kUnitF;
    const double g = 1.0 + e0;
    const double ideal = 1.5 * e0 * e0 + 0.5 * e0 * e0 * e0;
    return (1.0 + ideal + 0.5 * g * g * g * u) * (1.0 + u) * (1.0 + u) - 1.0;
}

// Relative error of q = fma(nx, nx, fma(ny, ny, z2)), where z2 is s^4
// rounded to double and then to float; every term is positive.
constexpr double kSquareSumError = (1.0 + kUnitD) * (1.0 + kUnitF) * (1.0 + kUnitF) * (1.0 + kUnitF) - 1.0;

// (1 - eta)^(-1/2) - 1 <= eta / 2 + eta^2 for eta <= 0.1.
constexpr double kRootOfSumError = kSquareSumError / 2.0 + kSquareSumError * kSquareSumError;

// Bound on |w - (256 + V)| in units, V the exact 128 + 127 n / |N|, from
// the relative error of r against 1/sqrt(q'): r's error, the rounding of
// 127 r and of nz = s * s in single (the x and y components are exact
// floats, so this covers all three), and the rounding of the final fused
// multiply-add, half a unit.
constexpr double ErrorUnits(double refined)
{
    const double r = (1.0 + kRootOfSumError) * (1.0 + refined) - 1.0;
    const double product = (1.0 + r) * (1.0 + kUnitF) * (1.0 + kUnitF) - 1.0;
    return 127.0 * product / kUnitW + 0.5;
}

// With one Newton step from an approximation of relative error e0 (x86).
constexpr double FastErrorUnits(double e0)
{
    return ErrorUnits(NewtonError(e0));
}

// With two frsqrts steps from frsqrte (NEON): one leaves about 1.5 e0^2,
// some 2^-15 and so 95 units, too many for the margin.
constexpr double kNeonErrorUnits = ErrorUnits(RsqrtsStepError(RsqrtsStepError(kFrsqrteError)));
static_assert(ErrorUnits(RsqrtsStepError(kFrsqrteError)) > kMarginUnits, "one frsqrts step would do");

// Bound on |D - V|, D the exact path's double result before truncation:
// q rounded three times, the square root (under the division), the
// division, two products, and half an ulp of the final sum below 256.
constexpr double kExactSumError = (1.0 + kUnitD) * (1.0 + kUnitD) * (1.0 + kUnitD) - 1.0;
constexpr double kExactError =
    127.0 * ((1.0 + kExactSumError / 2.0 + kExactSumError * kExactSumError) * (1.0 + kUnitD) * (1.0 + kUnitD) *
                 (1.0 + kUnitD) / (1.0 - kUnitD) -
             1.0) +
    0x1p-46;
constexpr double kExactErrorUnits = kExactError / kUnitW;

static_assert(FastErrorUnits(kRsqrt14Error) + kExactErrorUnits < kMarginUnits, "AVX-512 margin too small");
static_assert(FastErrorUnits(kRsqrtpsError) + kExactErrorUnits < kMarginUnits, "AVX2 margin too small");
static_assert(kNeonErrorUnits + kExactErrorUnits < kMarginUnits, "NEON margin too small");

// frsqrte as the Arm Architecture Reference Manual defines it for a normal
// single: the operand scaled into [0.25, 1) by an even power of two, so the
// exponent's parity keeps 8 (odd exponent: 7) leading fraction bits, and
// a = 512 x (scaled value, truncated) in [128, 512). The estimate is
// r / 256 times that power's inverse square root, r in [256, 512).
constexpr int RecipSqrtEstimate(int a)
{
    a = a < 256 ? a * 2 + 1 : (((a >> 1) << 1) + 1) * 2;
    // The manual's loop counts b up from 512 while a (b + 1)^2 < 2^28; the
    // same largest b, found bit by bit.
    long long b = 512;
    for (long long bit = 256; bit > 0; bit >>= 1) {
        if (a * (b + bit) * (b + bit) < (1LL << 28))
            b += bit;
    }
    return static_cast<int>((b + 1) / 2);
}

// Every operand whose scaled value lies in [a / 512, (a + 1) / 512) gets
// r / 256 for 1/sqrt of it, so its relative error is largest at the ends:
// (r/256)^2 a/512 >= (1 - e)^2 and (r/256)^2 (a + 1)/512 <= (1 + e)^2,
// all exact in double.
constexpr bool FrsqrteWithin(double e)
{
    for (int a = 128; a < 512; ++a) {
        const double r = RecipSqrtEstimate(a);
        if (r * r * a < (1.0 - e) * (1.0 - e) * 0x1p25 || r * r * (a + 1) > (1.0 + e) * (1.0 + e) * 0x1p25)
            return false;
    }
    return true;
}
static_assert(FrsqrteWithin(kFrsqrteError), "frsqrte less accurate than assumed");
static_assert(!FrsqrteWithin(kFrsqrteError / 2), "frsqrte bound loose by half");

// A non-flat pixel's z stays below 255 - kTopGap for |s| <= kTopTexel: its
// smallest nonzero |nx| or |ny| is |s| 2^-8, so (nx^2 + ny^2) / nz^2 >= rho,
// and 1 - 1/sqrt(1 + rho) >= rho/2 - 3 rho^2/8. The exact path's error is far
// smaller, so its byte is 254 wherever w is at least kTopW.
constexpr float kTopTexel = 0x1p15f;
constexpr double kTopRho = 0x1p-16 / (static_cast<double>(kTopTexel) * static_cast<double>(kTopTexel));
constexpr double kTopGap = 127.0 * (kTopRho / 2.0 - 3.0 * kTopRho * kTopRho / 8.0);
static_assert(kTopGap > 2.0 * kExactError, "z shortcut unsafe");
// w >= kTopW puts V above 254 by far more than the bound.
constexpr float kTopW = 510.5f;
// Above every w: where no z is known to stay below 255, each is left to the bound.
constexpr float kNoTopW = 0x1.fffffep127f;

}  // namespace fastnormal

#endif
