// Induction-motor model fit: the library's fit beside a literal implementation, on a 40-point
// frequency sweep (100,000 iterations) and a 199-point step response (20,000 iterations).
//
//     bench_im_fit [--repetitions N] [--reference-repetitions N]
//
// Prints, for each fit, the median CPU and wall time of each implementation, the ratio of the
// medians and the largest relative difference between their results.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "../tests/support/im_fit_reference.h"

namespace {

struct Times {
    double cpuMs;
    double wallMs;
};

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

template <class F>
Times timed(F&& run) {
    const double cpu0 = threadCpuMs();
    const auto wall0 = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double, std::milli> wall = std::chrono::steady_clock::now() - wall0;
    return {threadCpuMs() - cpu0, wall.count()};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double relative(double a, double b) {
    if (a == b) return 0.0;
    return std::fabs(a - b) / std::max(std::fabs(a), std::fabs(b));
}

void compare(const char* name, const qv::ImFitInput& in, int repetitions,
             int referenceRepetitions) {
    std::vector<double> fastCpu, fastWall, refCpu, refWall;
    qv::ImFitResult fast;
    qv::reference::FitResult literal;
    for (int r = 0; r < repetitions; ++r) {
        const Times t = timed([&] { fast = qv::runFit(in); });
        fastCpu.push_back(t.cpuMs);
        fastWall.push_back(t.wallMs);
    }
    for (int r = 0; r < referenceRepetitions; ++r) {
        const Times t = timed([&] { literal = qv::test::referenceFit(in, in.iterations); });
        refCpu.push_back(t.cpuMs);
        refWall.push_back(t.wallMs);
    }
    double parameters = 0, model = 0;
    for (int j = 0; j < qv::kImParameterCount; ++j)
        parameters = std::max(parameters, relative(fast.parameters[j], literal.p[j]));
    for (std::size_t k = 0; k < literal.f.size(); ++k)
        model = std::max(model, relative(fast.model[k], literal.f[k]));
    std::printf(
        "%-13s %3zu points %6d iterations | fast %8.1f ms cpu %8.1f ms wall | literal %8.1f ms "
        "cpu %8.1f ms wall | ratio %5.1f cpu %5.1f wall | largest relative difference: "
        "parameters %.2e, model values %.2e | usable %s\n",
        name, in.y.size(), in.iterations, median(fastCpu), median(fastWall), median(refCpu),
        median(refWall), median(refCpu) / median(fastCpu), median(refWall) / median(fastWall),
        parameters, model, fast.usable ? "yes" : "no");
    std::printf("%-13s fitted:", "");
    for (double p : fast.parameters) std::printf(" %.10g", p);
    std::printf("\n");
}

int intOption(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return std::max(1, std::atoi(argv[i + 1]));
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = intOption(argc, argv, "--repetitions", 7);
    const int referenceRepetitions = intOption(argc, argv, "--reference-repetitions", 3);
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    std::printf("vector path: %s\n", __builtin_cpu_supports("avx512f") ? "AVX-512"
                                     : __builtin_cpu_supports("avx2")  ? "AVX2"
                                                                       : "baseline x86-64");
#endif
    compare("sweep (mode 0)", qv::test::benchmarkSweep(), repetitions, referenceRepetitions);
    compare("step (mode 1)", qv::test::benchmarkStep(), repetitions, referenceRepetitions);
    return 0;
}
