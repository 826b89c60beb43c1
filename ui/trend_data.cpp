#include "ui/trend_data.h"

#include "protocol/total_check.h"

#include <algorithm>

namespace darq {

namespace {

using Status = ReadingRecord::Status;

} // namespace

void widen(std::optional<std::pair<double, double>>& range, double value) {
    if (!range) {
        range = std::make_pair(value, value);
    } else {
        range->first = std::min(range->first, value);
        range->second = std::max(range->second, value);
    }
}

std::optional<TrendSample> trendSample(const ReadingRecord& record) {
    if (record.status == Status::NotSent || !record.address) {
        return std::nullopt;
    }
    TrendSample sample;
    sample.timeMs =
        double(std::chrono::duration_cast<std::chrono::milliseconds>(record.time.time_since_epoch())
                   .count());
    sample.address = *record.address;
    if (record.status != Status::Completed) {
        sample.gap = TrendGap::Interrupted;
        return sample;
    }
    const ReadOutcome& outcome = record.outcome;
    if (outcome.kind != ReadOutcome::Kind::Decoded) {
        sample.gap = TrendGap::NoData;
        return sample;
    }
    const std::optional<double> flow = decimalValue(numberText(outcome.flowText));
    const std::optional<double> total = decimalValue(numberText(outcome.totalText));
    if (!outcome.isReading() || !flow || !total) {
        sample.gap = TrendGap::BadReply;
        return sample;
    }
    sample.flow = *flow;
    sample.total = *total;
    sample.totalBack = record.totalBackFrom.has_value();
    return sample;
}

bool TrendTrace::startsPiece(const TrendSample& sample) {
    State& state = states_[sample.address];
    const bool starts = !state.lastReadingMs ||
                        (state.gapSince && sample.timeMs - *state.lastReadingMs > bridgeMs_);
    state.lastReadingMs = sample.timeMs;
    state.gapSince = false;
    return starts;
}

TrendPicture trendPicture(const std::deque<TrafficLogEntry>& entries, double fromMs, double toMs,
                          TrendTrace& trace) {
    std::vector<TrendSample> samples;
    // The rows come in the order of their reads; the one reading before the view and the one
    // after it join the lines to the edges.
    std::map<int, TrendSample> before;
    std::map<int, bool> afterTaken;
    for (const TrafficLogEntry& entry : entries) {
        const std::optional<TrendSample> sample = trendSample(entry.record);
        if (!sample) {
            continue;
        }
        if (sample->timeMs < fromMs) {
            if (!sample->gap) {
                before[sample->address] = *sample;
            } else {
                before.erase(sample->address);
            }
            continue;
        }
        if (sample->timeMs > toMs) {
            if (!afterTaken[sample->address]) {
                afterTaken[sample->address] = true;
                samples.push_back(*sample);
            }
            continue;
        }
        samples.push_back(*sample);
    }
    for (const auto& [address, sample] : before) {
        samples.insert(samples.begin(), sample);
    }
    std::stable_sort(
        samples.begin(), samples.end(),
        [](const TrendSample& a, const TrendSample& b) { return a.timeMs < b.timeMs; });

    TrendPicture picture;
    for (const TrendSample& sample : samples) {
        const bool inView = sample.timeMs >= fromMs && sample.timeMs <= toMs;
        if (sample.gap) {
            trace.noteGap(sample);
            if (inView) {
                picture.gapTimesMs[std::size_t(*sample.gap)].push_back(sample.timeMs);
            }
            continue;
        }
        TrendLines& lines = picture.lines[sample.address];
        if (trace.startsPiece(sample)) {
            lines.flowPieces.emplace_back();
            lines.totalPieces.emplace_back();
        }
        lines.flowPieces.back().emplace_back(sample.timeMs, sample.flow);
        lines.totalPieces.back().emplace_back(sample.timeMs, sample.total);
        if (inView) {
            widen(picture.flowRange, sample.flow);
            widen(picture.totalRange, sample.total);
            if (sample.totalBack) {
                picture.totalBacks.emplace_back(sample.timeMs, sample.total);
            }
        }
    }
    return picture;
}

} // namespace darq
