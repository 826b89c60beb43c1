#pragma once

#include "ui/traffic_log.h"

#include <QPointF>

#include <array>
#include <deque>
#include <map>
#include <optional>
#include <vector>

namespace darq {

// Why a read left no point in the trend.
enum class TrendGap {
    NoData,      // nothing came, or not a 17-byte reply
    BadReply,    // 17 bytes, but a wrong check value or the answer to another request
    Interrupted, // the port closed or went away during the wait
};
constexpr int kTrendGapKinds = 3;

// What one row of the traffic log means to the trend: a reading with its two values, or a gap in
// the line of its address. A read that was never sent has no place in it.
struct TrendSample {
    double timeMs = 0; // since the epoch, as the time axis counts
    int address = 0;
    std::optional<TrendGap> gap; // none for a reading
    double flow = 0;
    double total = 0;
    bool totalBack = false;
};

std::optional<TrendSample> trendSample(const ReadingRecord& record);

// Where each address's line is broken. A gap splits the line only when the readings on either side
// of it lie more than `bridgeMs` apart: a gap narrower than a few pixels would not show, and every
// break costs a series of its own.
class TrendTrace {
public:
    explicit TrendTrace(double bridgeMs) : bridgeMs_(bridgeMs) {}
    void setBridgeMs(double bridgeMs) { bridgeMs_ = bridgeMs; }

    // Whether `sample`, a reading, starts a new piece of its address's line; notes it.
    bool startsPiece(const TrendSample& sample);
    void noteGap(const TrendSample& sample) { states_[sample.address].gapSince = true; }

private:
    struct State {
        std::optional<double> lastReadingMs;
        bool gapSince = false;
    };
    double bridgeMs_;
    std::map<int, State> states_;
};

// The trend of one address between two times: the pieces of its flow and total lines.
struct TrendLines {
    std::vector<std::vector<QPointF>> flowPieces;
    std::vector<std::vector<QPointF>> totalPieces;
};

// Everything the trend draws between `fromMs` and `toMs`, from the log's rows, its lines broken as
// `trace` says; `trace` is left as the last row leaves it, for the readings still to come. The
// reading just outside either end is taken too, so that the lines run to the edges.
struct TrendPicture {
    std::map<int, TrendLines> lines; // by address
    std::array<std::vector<double>, kTrendGapKinds> gapTimesMs;
    std::vector<QPointF> totalBacks; // at the lower total
    // The values in view; none where there are none.
    std::optional<std::pair<double, double>> flowRange;
    std::optional<std::pair<double, double>> totalRange;
};

// Stretches `range` to take in `value`.
void widen(std::optional<std::pair<double, double>>& range, double value);

TrendPicture trendPicture(const std::deque<TrafficLogEntry>& entries, double fromMs, double toMs,
                          TrendTrace& trace);

} // namespace darq
