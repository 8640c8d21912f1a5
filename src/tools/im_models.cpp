#include "tools/im_models.h"

namespace qv {

double frequencyResponseModel(const ImParameters& p, double omega, double amplitude) {
    const double w2 = omega * omega;
    const double num = im_detail::sweepNumerator(p[1], p[3], w2);
    const double den = im_detail::sweepDenominator(p[0], p[1], p[2], p[3], omega, w2);
    return amplitude * num / den - p[4];
}

double stepResponseModel(const ImParameters& p, double t) {
    const im_detail::StepTerms terms = im_detail::stepTerms(p);
    const double tau = t + p[4];
    const double e1 = portableExp(-terms.r1 * tau);
    const double e2 = portableExp(-terms.r2 * tau);
    return p[3] * im_detail::stepShape(terms, e1, e2);
}

}  // namespace qv
