#include "sim/faults.h"

namespace qv::sim {

std::uint64_t deriveSeed(std::uint64_t seed, std::uint64_t stream) {
    // splitmix64 of (seed, stream): well-spread seeds even for neighbouring inputs.
    std::uint64_t z = seed + 0x9E3779B97F4A7C15ull * (stream + 1);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double FaultInjector::uniform() {
    return static_cast<double>(rng_() >> 11) * (1.0 / 9007199254740992.0);
}

int FaultInjector::copies() {
    const double lossDraw = uniform();
    const double dupDraw = uniform();
    if (lossDraw * 100.0 < settings_.lossPercent) {
        ++lost_;
        return 0;
    }
    if (dupDraw * 100.0 < settings_.dupPercent) {
        ++duplicated_;
        return 2;
    }
    return 1;
}

}  // namespace qv::sim
