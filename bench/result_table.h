#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace darq::bench {

enum class Unit {
    Milliseconds,
    CpuMilliseconds, // processor time, finer than a wall-clock millisecond
    Seconds,
    Ratio,
    PercentOfCore,
    PerSecond,
    KiB,
    MiB,
    Count,
};

// What a statistic must stay within to meet its target.
struct Target {
    enum class Compare { AtMost, Below, Exactly, AtLeast };

    static Target atMost(double bound) { return {Compare::AtMost, bound}; }
    static Target atLeast(double bound) { return {Compare::AtLeast, bound}; }
    static Target below(double bound) { return {Compare::Below, bound}; }
    static Target exactly(double bound) { return {Compare::Exactly, bound}; }

    bool heldBy(double value) const;

    Compare compare = Compare::AtMost;
    double bound = 0;
};

// One statistic of one figure in one run of the bench: "darq-read latency_ms, 9600, p95".
// A row with a target is judged on its value alone; the figure says beside it what else matters.
struct Row {
    std::string figure;
    std::string rate; // baud, or empty where the rate does not matter
    std::string statistic;
    std::optional<double> value; // none when the measurement failed; the note says why
    Unit unit = Unit::Milliseconds;
    std::optional<Target> target;
    // False when the run behind the value did not go as it must (a reading lost, cycles that
    // stopped ending): the target is then not met whatever the value.
    bool sound = true;
    std::string note;

    Row& judge(Target judgedBy, bool runWasSound = true) {
        target = judgedBy;
        sound = runWasSound;
        return *this;
    }
    Row& withNote(std::string text) {
        note = std::move(text);
        return *this;
    }
    bool met() const { return sound && value && target && target->heldBy(*value); }
};

// The rows one run of the bench added, in the order the figures added them.
class RunRows {
public:
    Row& add(std::string figure, std::string rate, std::string statistic,
             std::optional<double> value, Unit unit);
    const std::vector<Row>& rows() const { return rows_; }

private:
    std::vector<Row> rows_;
};

// Every run of the bench side by side: each statistic with its minimum, median and maximum over
// the runs that measured it, and a verdict on the median of those runs.
class ResultTable {
public:
    void addRun(const RunRows& run);
    void print(std::ostream& out) const;
    // "darq-read latency_ms 9600 p95", one for each target not met.
    std::vector<std::string> targetsNotMet() const;

private:
    struct Line {
        Row first; // the figure, rate, statistic, unit and target, as the first run gave them
        std::vector<Row> runs;
    };
    bool lineMet(const Line& line) const;
    std::string verdictText(const Line& line) const;

    std::vector<Line> lines_;
    int runCount_ = 0;
};

// "262.3"
std::string milliseconds(double value);
// "48/50"
std::string fraction(int part, int whole);

} // namespace darq::bench
