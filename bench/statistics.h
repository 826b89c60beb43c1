#pragma once

#include <optional>
#include <vector>

namespace darq::bench {

// Durations in milliseconds.
double median(std::vector<double> samples);
double worst(const std::vector<double>& samples);
double p95(const std::vector<double>& samples);
double p99(const std::vector<double>& samples);

// The statistic of the samples; none when there are no samples.
template <typename Statistic>
std::optional<double> ifAny(const std::vector<double>& samples, Statistic statistic) {
    return samples.empty() ? std::nullopt : std::optional<double>(statistic(samples));
}

} // namespace darq::bench
