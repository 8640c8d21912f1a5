#include "tools/im_fit.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

// The hot loops are built for the baseline x86-64 instruction set and again for AVX2 and
// AVX-512, and the widest path the CPU runs is taken (imFitPath). All of them do the same IEEE
// operations in the same order (element-wise vector arithmetic, sums in point order, no fused
// multiply-add: this file is built with -ffp-contract=off), so every CPU gives the same bits.
#if defined(__x86_64__) && defined(__GNUC__)
#define QV_IM_VECTOR_PATHS 1
#else
#define QV_IM_VECTOR_PATHS 0
#endif
#define QV_IM_INLINE [[gnu::always_inline]] inline
// The loops over points read and write distinct arrays.
#if defined(__GNUC__) && !defined(__clang__)
#define QV_IM_IVDEP _Pragma("GCC ivdep")
#else
#define QV_IM_IVDEP
#endif

namespace qv {

namespace {

constexpr int P = kImParameterCount;
// The Jacobian is kept point by point: for point k the P derivatives, then the residual, then
// padding, so that the normal equations are sums of one row's products in point order.
constexpr int kRowStride = 8;
constexpr int kResidualColumn = P;

// Every array of one call, carved from one allocation.
class Workspace {
  public:
    Workspace(int points, int arrays) : m_(points), storage_(std::size_t(points) * arrays, 0.0) {}
    double* array(int index) { return storage_.data() + std::size_t(index) * m_; }

  private:
    std::size_t m_;
    std::vector<double> storage_;
};

// The frequency-response model over all points, keeping the terms that a perturbation of one
// parameter leaves unchanged.
struct SweepModel {
    int m;
    const double* __restrict y;
    const double* __restrict v;   // voltage amplitude
    const double* __restrict w;   // angular frequency
    const double* __restrict w2;  // w·w
    double* __restrict vn;        // v·numerator at p
    double* __restrict q;         // v·numerator / denominator at p
    double* __restrict f0;        // model at p
    double* __restrict rows;      // Jacobian and residual, kRowStride per point

    QV_IM_INLINE void evaluate(const ImParameters& p) {
        const double Rs = p[0], Rr = p[1], Lls = p[2], Lm = p[3], Ib = p[4];
        const double* __restrict v = this->v;
        const double* __restrict w = this->w;
        const double* __restrict w2 = this->w2;
        double* __restrict vn = this->vn;
        double* __restrict q = this->q;
        double* __restrict f0 = this->f0;
        QV_IM_IVDEP for (int k = 0; k < m; ++k) {
            vn[k] = v[k] * im_detail::sweepNumerator(Rr, Lm, w2[k]);
            q[k] = vn[k] / im_detail::sweepDenominator(Rs, Rr, Lls, Lm, w[k], w2[k]);
            f0[k] = q[k] - Ib;
        }
    }

    // Model values at p (evaluate) and the rows: derivatives and residual.
    QV_IM_INLINE void linearise(const ImParameters& p) {
        evaluate(p);
        const double Rs = p[0], Rr = p[1], Lls = p[2], Lm = p[3], Ib = p[4];
        const double h = kImJacobianStep;
        const double Rs1 = Rs + h, Rr1 = Rr + h, Lls1 = Lls + h, Lm1 = Lm + h, Ib1 = Ib + h;
        double* __restrict r = rows;
        QV_IM_IVDEP for (int k = 0; k < m; ++k) {
            const double f =
                vn[k] / im_detail::sweepDenominator(Rs1, Rr, Lls, Lm, w[k], w2[k]) - Ib;
            r[k * kRowStride + 0] = (f - f0[k]) / h;
        }
        QV_IM_IVDEP for (int k = 0; k < m; ++k) {
            const double f = v[k] * im_detail::sweepNumerator(Rr1, Lm, w2[k]) /
                                 im_detail::sweepDenominator(Rs, Rr1, Lls, Lm, w[k], w2[k]) -
                             Ib;
            r[k * kRowStride + 1] = (f - f0[k]) / h;
        }
        QV_IM_IVDEP for (int k = 0; k < m; ++k) {
            const double f =
                vn[k] / im_detail::sweepDenominator(Rs, Rr, Lls1, Lm, w[k], w2[k]) - Ib;
            r[k * kRowStride + 2] = (f - f0[k]) / h;
        }
        QV_IM_IVDEP for (int k = 0; k < m; ++k) {
            const double f = v[k] * im_detail::sweepNumerator(Rr, Lm1, w2[k]) /
                                 im_detail::sweepDenominator(Rs, Rr, Lls, Lm1, w[k], w2[k]) -
                             Ib;
            r[k * kRowStride + 3] = (f - f0[k]) / h;
        }
        QV_IM_IVDEP for (int k = 0; k < m; ++k) {
            const double f = q[k] - Ib1;
            r[k * kRowStride + 4] = (f - f0[k]) / h;
            r[k * kRowStride + kResidualColumn] = y[k] - f0[k];
        }
    }
};

// exp over an array: the table path for every element, then the C library for the few outside
// its range.
QV_IM_INLINE void expArray(const double* __restrict in, double* __restrict out, int n,
                           const ExpTable& table) {
    int inside = 1;
    QV_IM_IVDEP for (int i = 0; i < n; ++i) {
        out[i] = expInRange(in[i], table);
        inside &= (in[i] >= kExpTableLow) & (in[i] <= kExpTableHigh);
    }
    if (inside) return;
    for (int i = 0; i < n; ++i)
        if (!(in[i] >= kExpTableLow && in[i] <= kExpTableHigh)) out[i] = std::exp(in[i]);
}

// The step-response model over all points, keeping the shape (the current over I∞) at p.
struct StepModel {
    int m;
    const double* __restrict y;
    const double* __restrict t;
    double* __restrict arg;    // 2m exponents
    double* __restrict e;      // 2m exponentials
    double* __restrict shape;  // shape at p
    double* __restrict f0;
    double* __restrict rows;
    const ExpTable& table;

    // Fills e with exp(−r1·τ) and exp(−r2·τ), τ = t + t0.
    QV_IM_INLINE void exponentials(const im_detail::StepTerms& terms, double t0) {
        QV_IM_IVDEP for (int k = 0; k < m; ++k) {
            const double tau = t[k] + t0;
            arg[k] = -terms.r1 * tau;
            arg[m + k] = -terms.r2 * tau;
        }
        expArray(arg, e, 2 * m, table);
    }

    QV_IM_INLINE void evaluate(const ImParameters& p) {
        const im_detail::StepTerms terms = im_detail::stepTerms(p);
        exponentials(terms, p[4]);
        QV_IM_IVDEP for (int k = 0; k < m; ++k) {
            shape[k] = im_detail::stepShape(terms, e[k], e[m + k]);
            f0[k] = p[3] * shape[k];
        }
    }

    // Derivative column j from the exponentials in e for the given terms.
    QV_IM_INLINE void column(int j, const im_detail::StepTerms& terms, double scale) {
        const double h = kImJacobianStep;
        QV_IM_IVDEP for (int k = 0; k < m; ++k) {
            const double f = scale * im_detail::stepShape(terms, e[k], e[m + k]);
            rows[k * kRowStride + j] = (f - f0[k]) / h;
        }
    }

    QV_IM_INLINE void linearise(const ImParameters& p) {
        evaluate(p);
        const double h = kImJacobianStep;
        for (int j = 0; j < 3; ++j) {  // ρ, μ, λs move the poles
            ImParameters moved = p;
            moved[j] = p[j] + h;
            const im_detail::StepTerms terms = im_detail::stepTerms(moved);
            exponentials(terms, p[4]);
            column(j, terms, p[3]);
        }
        const double scale1 = p[3] + h;  // I∞ scales the shape
        QV_IM_IVDEP for (int k = 0; k < m; ++k) {
            const double f = scale1 * shape[k];
            rows[k * kRowStride + 3] = (f - f0[k]) / h;
            rows[k * kRowStride + kResidualColumn] = y[k] - f0[k];
        }
        const im_detail::StepTerms terms = im_detail::stepTerms(p);  // t0 moves τ
        exponentials(terms, p[4] + h);
        column(4, terms, p[3]);
    }
};

// Elimination with partial pivoting on the augmented n×(n+1) matrix `a`, then back
// substitution; a column without a pivot keeps a zero step. Rows are exchanged in place, which
// does the same arithmetic as exchanging row references. N > 0 fixes the size at compile time
// (the fit's loops unroll), N = 0 takes it from n. `columns`: n ints.
template <int N>
QV_IM_INLINE void eliminate(double* __restrict a, int n, double* __restrict delta,
                            int* __restrict columns) {
    const int size = N > 0 ? N : n;
    const int width = size + 1;
    for (int i = 0; i < size; ++i) delta[i] = 0.0;
    int pivot = 0;
    for (int j = 0; j < size; ++j) {
        int best = pivot;
        for (int r = pivot + 1; r < size; ++r)
            if (std::abs(a[r * width + j]) > std::abs(a[best * width + j])) best = r;
        if (a[best * width + j] == 0.0) continue;  // no pivot: this unknown's step stays 0
        double* top = a + pivot * width;
        if (best != pivot)
            for (int c = j; c < width; ++c) std::swap(top[c], a[best * width + c]);
        const double v = top[j];
        for (int c = j; c < width; ++c) top[c] = top[c] / v;
        for (int r = pivot + 1; r < size; ++r) {
            double* row = a + r * width;
            const double factor = row[j];
            for (int c = j; c < width; ++c) row[c] = row[c] - factor * top[c];
        }
        columns[pivot] = j;
        ++pivot;
    }
    for (int i = pivot - 1; i >= 0; --i) {
        const double* row = a + i * width;
        const int j = columns[i];
        double sum = 0.0;
        for (int k = j + 1; k < size; ++k) sum = sum + row[k] * delta[k];
        delta[j] = row[size] - sum;
    }
}

// One damped Gauss-Newton step from the rows of the current iteration.
QV_IM_INLINE void takeStep(const double* __restrict rows, int m, int iteration, int limit,
                           ImParameters& p) {
    // Each sum runs over the points in order; the lanes of a vector are different sums, never
    // parts of one. Per point: J0…J3 times each of J0…J3 (the upper triangle is used), J0…J3
    // times J4 and times the residual, and J4 times J4 and the residual.
    typedef double Quad __attribute__((vector_size(4 * sizeof(double))));
    Quad low[4] = {}, byJ4 = {}, byResidual = {}, last = {};
    for (int k = 0; k < m; ++k) {
        const double* row = rows + k * kRowStride;
        Quad head, tail;
        std::memcpy(&head, row, sizeof head);
        std::memcpy(&tail, row + 4, sizeof tail);
        for (int i = 0; i < 4; ++i) low[i] += row[i] * head;
        byJ4 += row[4] * head;
        byResidual += row[kResidualColumn] * head;
        last += row[4] * tail;
    }
    double A[P * (P + 1)];
    auto at = [&A](int i, int j) -> double& { return A[i * (P + 1) + j]; };
    for (int i = 0; i < 4; ++i) {
        for (int j = i; j < 4; ++j) at(i, j) = at(j, i) = low[i][j];
        at(i, 4) = at(4, i) = byJ4[i];
        at(i, P) = byResidual[i];
    }
    at(4, 4) = last[0];
    at(4, P) = last[1];
    const double lambda = 100.0 + 900.0 * iteration / limit;
    for (int i = 0; i < P; ++i) at(i, i) = at(i, i) * (1.0 + lambda);
    double delta[P];
    int columns[P];
    eliminate<P>(A, P, delta, columns);
    for (int j = 0; j < P; ++j) p[j] = p[j] + delta[j];
}

// How often a running fit looks at its cancel flag, in iterations.
constexpr int kCancelCheckInterval = 256;

// False when the fit was cancelled before its last iteration.
template <class Model>
QV_IM_INLINE bool iterate(Model& model, ImParameters& p, int limit,
                          const std::atomic<bool>* cancel) {
    for (int iteration = 0; iteration < limit; ++iteration) {
        if (cancel && iteration % kCancelCheckInterval == 0 &&
            cancel->load(std::memory_order_relaxed))
            return false;
        model.linearise(p);
        takeStep(model.rows, model.m, iteration, limit, p);
    }
    return true;
}

// The four entry points of one instruction-set path.
struct PathFunctions {
    bool (*fitSweep)(SweepModel&, ImParameters&, int, const std::atomic<bool>*);
    bool (*fitStep)(StepModel&, ImParameters&, int, const std::atomic<bool>*);
    void (*evaluateSweep)(SweepModel&, const ImParameters&);
    void (*evaluateStep)(StepModel&, const ImParameters&);
};

// Everything above is inlined into these, so each path compiles it for its instruction set.
#define QV_IM_PATH(name, target)                                                              \
    namespace name {                                                                          \
    target bool fitSweep(SweepModel& m, ImParameters& p, int limit,                          \
                         const std::atomic<bool>* cancel) {                                  \
        return iterate(m, p, limit, cancel);                                                  \
    }                                                                                         \
    target bool fitStep(StepModel& m, ImParameters& p, int limit,                            \
                        const std::atomic<bool>* cancel) {                                   \
        return iterate(m, p, limit, cancel);                                                  \
    }                                                                                         \
    target void evaluateSweep(SweepModel& m, const ImParameters& p) { m.evaluate(p); }       \
    target void evaluateStep(StepModel& m, const ImParameters& p) { m.evaluate(p); }         \
    constexpr PathFunctions kFunctions{&fitSweep, &fitStep, &evaluateSweep, &evaluateStep}; \
    }

QV_IM_PATH(baseline, )
#if QV_IM_VECTOR_PATHS
QV_IM_PATH(avx2, __attribute__((target("avx2"))))
QV_IM_PATH(avx512, __attribute__((target("avx512f"))))
#endif

const PathFunctions& pathFunctions(ImFitPath path) {
#if QV_IM_VECTOR_PATHS
    if (path == ImFitPath::Avx512) return avx512::kFunctions;
    if (path == ImFitPath::Avx2) return avx2::kFunctions;
#endif
    (void)path;
    return baseline::kFunctions;
}

// The forced path (-1: none).
std::atomic<int> forcedPath{-1};

// QV_IM_FIT_PATH=baseline|avx2|avx512 forces a path for the whole run (when the CPU runs it).
int pathFromEnvironment() {
    const char* name = std::getenv("QV_IM_FIT_PATH");
    if (!name) return -1;
    for (ImFitPath p : {ImFitPath::Baseline, ImFitPath::Avx2, ImFitPath::Avx512})
        if (std::strcmp(name, imFitPathName(p)) == 0 && imFitPathAvailable(p))
            return static_cast<int>(p);
    return -1;
}

bool allFinite(std::span<const double> values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

}  // namespace

ImFitResult fitModel(ImModel model, std::span<const double> y, std::span<const double> amplitude,
                     std::span<const double> x, const ImParameters& start, int limit,
                     const std::atomic<bool>* cancel) {
    const int m = static_cast<int>(y.size());
    if (x.size() != y.size())
        throw std::invalid_argument("fitModel: one abscissa per measured value is needed");
    if (model == ImModel::FrequencyResponse && amplitude.size() != y.size())
        throw std::invalid_argument("fitModel: one voltage amplitude per measured value is needed");
    limit = std::max(limit, 0);

    const PathFunctions& path = pathFunctions(imFitPath());
    ImFitResult result;
    result.parameters = start;
    result.model.assign(y.size(), 0.0);
    ImParameters& p = result.parameters;
    bool finiteAtEnd = false;
    bool finished = true;

    if (model == ImModel::FrequencyResponse) {
        Workspace ws(m, 7 + kRowStride);
        double* v = ws.array(0);
        double* w = ws.array(1);
        double* w2 = ws.array(2);
        double* yy = ws.array(3);
        for (int k = 0; k < m; ++k) {
            v[k] = amplitude[k];
            w[k] = x[k];
            w2[k] = x[k] * x[k];
            yy[k] = y[k];
        }
        SweepModel s{m, yy, v, w, w2, ws.array(4), ws.array(5), ws.array(6), ws.array(7)};
        if (limit == 0) {
            path.evaluateSweep(s, p);
        } else {
            finished = path.fitSweep(s, p, limit, cancel);
        }
        std::copy(s.f0, s.f0 + m, result.model.begin());
        path.evaluateSweep(s, p);
        finiteAtEnd = allFinite({s.f0, std::size_t(m)});
    } else if (model == ImModel::StepResponse) {
        Workspace ws(m, 8 + kRowStride);
        double* t = ws.array(0);
        double* yy = ws.array(1);
        std::copy(x.begin(), x.end(), t);
        std::copy(y.begin(), y.end(), yy);
        StepModel s{m,           yy,          t,           ws.array(2), ws.array(4),
                    ws.array(6), ws.array(7), ws.array(8), expTable()};
        if (limit == 0) {
            path.evaluateStep(s, p);
        } else {
            finished = path.fitStep(s, p, limit, cancel);
        }
        std::copy(s.f0, s.f0 + m, result.model.begin());
        path.evaluateStep(s, p);
        finiteAtEnd = allFinite({s.f0, std::size_t(m)});
    } else {
        return result;  // no model: nothing evaluated, nothing fitted
    }
    if (!finished) {
        result.cancelled = true;
        return result;
    }
    result.usable = finiteAtEnd && allFinite(p) && allFinite(result.model);
    return result;
}

const char* imFitPathName(ImFitPath path) {
    switch (path) {
        case ImFitPath::Avx512:
            return "avx512";
        case ImFitPath::Avx2:
            return "avx2";
        default:
            return "baseline";
    }
}

bool imFitPathAvailable(ImFitPath path) {
    if (path == ImFitPath::Baseline) return true;
#if QV_IM_VECTOR_PATHS
    __builtin_cpu_init();
    if (path == ImFitPath::Avx2) return __builtin_cpu_supports("avx2");
    if (path == ImFitPath::Avx512) return __builtin_cpu_supports("avx512f");
#endif
    return false;
}

ImFitPath imFitPath() {
    static const int fromEnvironment = pathFromEnvironment();
    const int forced = forcedPath.load(std::memory_order_relaxed);
    if (forced >= 0) return static_cast<ImFitPath>(forced);
    if (fromEnvironment >= 0) return static_cast<ImFitPath>(fromEnvironment);
    for (ImFitPath p : {ImFitPath::Avx512, ImFitPath::Avx2})
        if (imFitPathAvailable(p)) return p;
    return ImFitPath::Baseline;
}

bool forceImFitPath(std::optional<ImFitPath> path) {
    if (path && !imFitPathAvailable(*path)) return false;
    forcedPath.store(path ? static_cast<int>(*path) : -1, std::memory_order_relaxed);
    return true;
}

void solveAugmented(std::span<double> augmented, int n, std::span<double> delta,
                    std::span<int> scratch) {
    eliminate<0>(augmented.data(), n, delta.data(), scratch.data());
}

}  // namespace qv
