#pragma once

#include <functional>
#include <vector>

#include "history/refine/FirstCopyView.h"
#include "likelihood/SiteLikelihood.h"

// Fits the free parameters of the likelihood's model on a fixed tree with
// fixed edge lengths, one at a time, each by Brent's method on its
// logarithm: the gamma shape (0.02 to 100), the transition/transversion
// ratio of K2P and HKY (0.01 to 100), the five free exchange rates of GTR
// (0.001 to 1000). Frequencies stay those of the model or of the alignment.
// Each is sought within `span` of its value (on the log scale; 0 for its
// whole range) to within `tolerance`.
// `current` is the log-likelihood of the model as it stands, with every
// matrix and down vector made for it (as SiteLikelihood::evaluate and
// SiteLikelihood::optimiseLengths leave them).
// Leaves the best model set and every matrix and down vector made for it;
// gives its log-likelihood. A model with nothing free is left as it is.
struct FitSteps {
    double tolerance = 1e-3;
    double span = 0.0;
};
double fitModelParameters(SiteLikelihood& likelihood, const refine::FirstCopyView& view,
                          const std::vector<double>& above, double current, const FitSteps& steps = FitSteps{});

// Whether the model has anything that fitModelParameters fits.
bool hasFreeParameters(const SubstitutionModel& model);

// The x in [low, high] (start between them) where f is least, by Brent's
// method to within `tolerance`; fStart is f(start). Sets `least` to f there.
double brentMinimum(const std::function<double(double)>& f, double low, double high, double start, double fStart,
                    double tolerance, double& least);
