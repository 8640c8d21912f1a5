#pragma once
// Least-squares fit of an induction-motor model by damped Gauss-Newton iterations: a fixed
// number of iterations, a forward-difference Jacobian with an absolute step of 1e-6, the
// diagonal of the normal equations scaled by 1 + λ with λ = 100 + 900·iteration/limit, and no
// acceptance test: every step is taken. Results are reproducible bit for bit on every x86-64
// CPU (vectorised where the CPU allows, in the same order of operations everywhere).
#include <atomic>
#include <optional>
#include <span>
#include <vector>

#include "tools/im_models.h"

namespace qv {

inline constexpr double kImJacobianStep = 1e-6;

// The instruction sets the fit is built for; every one gives the same bits.
enum class ImFitPath { Baseline, Avx2, Avx512 };

// "baseline", "avx2", "avx512".
const char* imFitPathName(ImFitPath path);
// Whether this CPU (and this build) runs the path.
bool imFitPathAvailable(ImFitPath path);
// The path fits take: the forced one, else QV_IM_FIT_PATH=baseline|avx2|avx512 from the
// environment when the CPU runs it, else the widest the CPU runs.
ImFitPath imFitPath();
// Forces `path` for every fit that starts from now on (nothing: back to the choice above).
// False, with nothing changed, when the CPU does not run it.
bool forceImFitPath(std::optional<ImFitPath> path);

struct ImFitResult {
    // The parameters after the last iteration's step.
    ImParameters parameters{};
    // The model values of the last iteration, at the parameters before its step (at the start
    // values when no iteration ran).
    std::vector<double> model;
    // False when any parameter or model value is not finite (complex poles of the step model,
    // an overflowing system), or when the model at the fitted parameters is not finite
    // everywhere. Such a result must not be stored.
    bool usable = false;
    // The fit was cancelled before its last iteration: nothing in it is a result.
    bool cancelled = false;
};

// Fits `model` to the measured values y at abscissae x (rad/s for the frequency response, s for
// the step response) from `start`, running `limit` iterations (none when limit <= 0).
// `amplitude` holds one voltage amplitude per point for the frequency response and is not read
// for the step response (it may be empty). Throws std::invalid_argument when x (or, for the
// frequency response, amplitude) does not have one entry per measured value. A model value
// outside 0 and 1 evaluates nothing: the start values come back with zero model values, not
// usable. While `cancel` is given, the fit looks at it every few hundred iterations and stops,
// cancelled and not usable, once it is set.
ImFitResult fitModel(ImModel model, std::span<const double> y, std::span<const double> amplitude,
                     std::span<const double> x, const ImParameters& start, int limit,
                     const std::atomic<bool>* cancel = nullptr);

// Solves the n×n system held in `augmented` (row-major, n + 1 columns, the last one the
// right-hand side) by elimination with partial pivoting, writing the solution into `delta`.
// A column with no non-zero pivot candidate is skipped and its unknown set to 0. `scratch`
// holds n integers. The matrix is overwritten. Allocates nothing.
void solveAugmented(std::span<double> augmented, int n, std::span<double> delta,
                    std::span<int> scratch);

}  // namespace qv
