#pragma once

#include <vector>

namespace darq::bench {

// Durations in milliseconds.
double median(std::vector<double> samples);
double worst(const std::vector<double>& samples);
// The value below which `fraction` (0..1) of the samples lie, nearest rank.
double percentile(std::vector<double> samples, double fraction);

} // namespace darq::bench
