#include "PollBudget.h"

#include <algorithm>
#include <cmath>

namespace schedule {

namespace {

const double kLow = static_cast<double>(kMinInterval.count());
const double kHigh = static_cast<double>(kMaxInterval.count());

double Root(seconds gap) {
    return std::pow(static_cast<double>(std::max<long long>(gap.count(), 1)), TPollBudget::kGapExponent);
}

}  // namespace

void TPollBudget::SetRoundRate(double requestsPerSecond) {
    const double rate = std::max(0.0, requestsPerSecond) * kShare;
    if (rate != FRate) FScale.reset();
    FRate = rate;
}

void TPollBudget::Note(const std::string& id, seconds gap) {
    const double root = Root(gap);
    auto [at, added] = FRoots.try_emplace(id, root);
    if (!added && at->second == root) return;
    at->second = root;
    FScale.reset();
}

void TPollBudget::Forget(const std::string& id) {
    if (FRoots.erase(id) != 0) FScale.reset();
}

// The scale c at which the feeds' requests, sum 1 / clamp(c * root), meet
// the budget. The sum falls as c grows, so halving the bracket in log space
// finds it; outside the bracket every feed sits at a bound.
double TPollBudget::Scale() const {
    if (FScale) return *FScale;
    double lowRoot = HUGE_VAL;
    double highRoot = 0;
    for (const auto& [id, root] : FRoots) {
        lowRoot = std::min(lowRoot, root);
        highRoot = std::max(highRoot, root);
    }
    const auto spent = [this](double scale) {
        double sum = 0;
        for (const auto& [id, root] : FRoots) sum += 1.0 / std::clamp(scale * root, kLow, kHigh);
        return sum;
    };
    double low = kLow / highRoot;   // every feed at the floor
    double high = kHigh / lowRoot;  // every feed at the ceiling
    if (spent(high) >= FRate) {
        FScale = high;
    } else if (spent(low) <= FRate) {
        FScale = low;
    } else {
        for (int step = 0; step < 48; ++step) {
            const double middle = std::sqrt(low * high);
            (spent(middle) > FRate ? low : high) = middle;
        }
        FScale = high;
    }
    return *FScale;
}

seconds TPollBudget::Interval(seconds gap) const {
    if (FRate <= 0 || FRoots.empty()) return std::clamp(gap, kMinInterval, kMaxInterval);
    const double interval = std::clamp(Scale() * Root(gap), kLow, kHigh);
    return seconds(static_cast<long long>(std::llround(interval)));
}

}  // namespace schedule
