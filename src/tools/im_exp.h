#pragma once
// The exponential used by the induction-motor step model. It is written out here instead of
// calling the C library so that (1) the fit's model loops vectorise and (2) every x86-64 CPU
// computes the same bits: the library picks a different implementation per CPU, this one is
// plain IEEE arithmetic (the files that use it are built with -ffp-contract=off, so no fused
// multiply-add changes the rounding).
//
// Method: x = k·ln2/128 + r with |r| <= ln2/256, exp(x) = 2^(k/128)·exp(r); 2^(i/128) comes
// from a table of 128 entries kept as the nearest double plus a relative correction, exp(r) − 1
// from its Taylor polynomial of degree 5. Error below 0.52 units in the last place.
#include <bit>
#include <cmath>
#include <cstdint>

namespace qv {

struct ExpTable {
    double scale[128];  // nearest double to 2^(i/128)
    double tail[128];   // (2^(i/128) − scale[i]) / scale[i]
};

// Built on first use.
const ExpTable& expTable();

// Inputs in this range take the table path; outside it (and NaN) the C library decides.
inline constexpr double kExpTableLow = -700.0;  // keeps scale·poly out of subnormals
inline constexpr double kExpTableHigh = 709.0;

// exp(x) for x in [kExpTableLow, kExpTableHigh]; any other x gives an unspecified value without
// undefined behaviour. Inline and branch-free so that loops over it vectorise.
inline double expInRange(double x, const ExpTable& t) {
    constexpr double kInvLn2N = 0x1.71547652b82fep+7;   // 128 / ln 2
    constexpr double kLn2HiN = 0x1.62e42fefc0000p-8;    // ln2/128, 35 bits: k·hi is exact
    constexpr double kLn2LoN = -0x1.c610ca86c3899p-44;  // ln2/128 − hi
    constexpr double kShift = 0x1.8p52;  // adding it rounds to an integer kept in the low bits
    const double shifted = x * kInvLn2N + kShift;
    const std::uint64_t ki = std::bit_cast<std::uint64_t>(shifted);
    const double kd = shifted - kShift;
    const double r = (x - kd * kLn2HiN) - kd * kLn2LoN;
    const std::uint64_t index = ki & 127;
    // floor(k / 128) moved into the exponent field (two's complement wraps for negative k).
    const std::uint64_t exponent = (ki >> 7) << 52;
    const double scale =
        std::bit_cast<double>(std::bit_cast<std::uint64_t>(t.scale[index]) + exponent);
    const double r2 = r * r;
    const double poly = t.tail[index] + r + r2 * (0.5 + r * (1.0 / 6.0)) +
                        r2 * r2 * (1.0 / 24.0 + r * (1.0 / 120.0));
    return scale + scale * poly;
}

inline double portableExp(double x) {
    if (x >= kExpTableLow && x <= kExpTableHigh) return expInRange(x, expTable());
    return std::exp(x);  // overflow, underflow into subnormals, infinities, NaN
}

}  // namespace qv
