#include "statistics.h"

#include <algorithm>
#include <cmath>

namespace darq::bench {

namespace {

// The value below which `fraction` (0..1) of the samples lie, nearest rank.
double percentile(std::vector<double> samples, double fraction) {
    if (samples.empty()) {
        return 0.0;
    }
    std::sort(samples.begin(), samples.end());
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * double(samples.size())));
    return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

} // namespace

double median(std::vector<double> samples) {
    if (samples.empty()) {
        return 0.0;
    }
    std::sort(samples.begin(), samples.end());
    const std::size_t middle = samples.size() / 2;
    return samples.size() % 2 == 1 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
}

double worst(const std::vector<double>& samples) {
    return samples.empty() ? 0.0 : *std::max_element(samples.begin(), samples.end());
}

double p95(const std::vector<double>& samples) {
    return percentile(samples, 0.95);
}

double p99(const std::vector<double>& samples) {
    return percentile(samples, 0.99);
}

} // namespace darq::bench
