#include "likelihood/ParameterFit.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

// One free parameter: how to read it from a model and write it back, and
// its bounds.
struct Parameter {
    std::function<double(const SubstitutionModel&)> get;
    std::function<void(SubstitutionModel&, double)> set;
    double low, high;
};

std::vector<Parameter> freeParameters(const SubstitutionModel& model) {
    using Kind = SubstitutionModel::Kind;
    std::vector<Parameter> parameters;
    if (model.gamma)
        parameters.push_back({[](const SubstitutionModel& m) { return m.alpha; },
                              [](SubstitutionModel& m, double x) { m.alpha = x; }, 0.02, 100.0});
    if (model.kind == Kind::K2P || model.kind == Kind::HKY)
        parameters.push_back({[](const SubstitutionModel& m) { return m.rates[1]; },
                              [](SubstitutionModel& m, double x) { m.rates[1] = m.rates[4] = x; }, 0.01, 100.0});
    if (model.kind == Kind::GTR)
        for (std::size_t k = 0; k < 5; ++k)
            parameters.push_back({[k](const SubstitutionModel& m) { return m.rates[k]; },
                                  [k](SubstitutionModel& m, double x) { m.rates[k] = x; }, 1e-3, 1e3});
    return parameters;
}

}  // namespace

// Golden-section steps, and parabolic steps where they fall inside the
// bracket and shrink it fast enough.

double brentMinimum(const std::function<double(double)>& f, double low, double high, double start, double fStart,
                    double tolerance, double& least) {
    const double golden = 0.3819660112501051;
    double a = low, b = high;
    double x = start, w = start, v = start;
    double fx = fStart, fw = fStart, fv = fStart;
    double d = 0.0, e = 0.0;
    for (int iteration = 0; iteration < 100; ++iteration) {
        const double middle = 0.5 * (a + b);
        const double tol1 = tolerance, tol2 = 2.0 * tol1;
        if (std::fabs(x - middle) <= tol2 - 0.5 * (b - a)) break;
        bool golden_step = true;
        if (std::fabs(e) > tol1) {
            const double r = (x - w) * (fx - fv);
            double q = (x - v) * (fx - fw);
            double p = (x - v) * q - (x - w) * r;
            q = 2.0 * (q - r);
            if (q > 0.0) p = -p;
            q = std::fabs(q);
            const double previous = e;
            e = d;
            if (std::fabs(p) < std::fabs(0.5 * q * previous) && p > q * (a - x) && p < q * (b - x)) {
                d = p / q;
                const double u = x + d;
                if (u - a < tol2 || b - u < tol2) d = x < middle ? tol1 : -tol1;
                golden_step = false;
            }
        }
        if (golden_step) {
            e = x >= middle ? a - x : b - x;
            d = golden * e;
        }
        const double u = std::fabs(d) >= tol1 ? x + d : x + (d > 0 ? tol1 : -tol1);
        const double fu = f(u);
        if (fu <= fx) {
            (u >= x ? a : b) = x;
            v = w;
            fv = fw;
            w = x;
            fw = fx;
            x = u;
            fx = fu;
        } else {
            (u < x ? a : b) = u;
            if (fu <= fw || w == x) {
                v = w;
                fv = fw;
                w = u;
                fw = fu;
            } else if (fu <= fv || v == x || v == w) {
                v = u;
                fv = fu;
            }
        }
    }
    least = fx;
    return x;
}

bool hasFreeParameters(const SubstitutionModel& model) { return !freeParameters(model).empty(); }

double fitModelParameters(SiteLikelihood& likelihood, const refine::FirstCopyView& view,
                          const std::vector<double>& above, double current, const FitSteps& steps) {
    SubstitutionModel model = likelihood.model();
    double best = current;
    for (const Parameter& parameter : freeParameters(model)) {
        const double low = std::log(parameter.low), high = std::log(parameter.high);
        double logX = std::log(std::clamp(parameter.get(model), parameter.low, parameter.high));
        auto minusLogL = [&](double logY) {
            SubstitutionModel trial = model;
            parameter.set(trial, std::exp(logY));
            likelihood.setModel(trial);
            return -likelihood.evaluate(view, above);
        };
        // Within `span` of the value held, moved on while the least falls on
        // an edge of that window that is not a bound.
        for (int window = 0; window < 8; ++window) {
            const double from = steps.span > 0 ? std::max(low, logX - steps.span) : low;
            const double to = steps.span > 0 ? std::min(high, logX + steps.span) : high;
            double least = 0.0;
            const double found = brentMinimum(minusLogL, from, to, logX, -best, steps.tolerance, least);
            if (!(-least > best)) break;
            logX = found;
            parameter.set(model, std::exp(logX));
            best = -least;
            const double edge = 4 * steps.tolerance;
            if (!((found - from < edge && from > low) || (to - found < edge && to < high))) break;
        }
    }
    likelihood.setModel(model);
    return likelihood.evaluate(view, above);
}
