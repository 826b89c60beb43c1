#include "result_table.h"

#include "statistics.h"

#include <algorithm>
#include <cstdio>

namespace darq::bench {

namespace {

// Columns are counted in characters, not bytes: "x" and "≤" take one place each.
std::size_t displayWidth(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char byte) {
        return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
    }));
}

std::string formatted(const char* format, double value) {
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string valueText(double value, Unit unit) {
    switch (unit) {
    case Unit::Milliseconds:
        return formatted("%.1f ms", value);
    case Unit::CpuMilliseconds:
        return formatted("%.3f ms", value);
    case Unit::Seconds:
        return formatted("%.1f s", value);
    case Unit::Ratio:
        return formatted("x%.3f", value);
    case Unit::PercentOfCore:
        return formatted("%.3f %%", value);
    case Unit::PerSecond:
        return formatted("%.2f /s", value);
    case Unit::KiB:
        return formatted("%.0f KiB", value);
    case Unit::MiB:
        return formatted("%.1f MiB", value);
    case Unit::Count:
        break;
    }
    return formatted("%.0f", value);
}

std::string targetText(const Row& row) {
    if (!row.target) {
        return "-";
    }
    const char* compare = "<=";
    switch (row.target->compare) {
    case Target::Compare::AtMost:
        break;
    case Target::Compare::Below:
        compare = "<";
        break;
    case Target::Compare::Exactly:
        compare = "=";
        break;
    case Target::Compare::AtLeast:
        compare = ">=";
        break;
    }
    return std::string(compare) + " " + valueText(row.target->bound, row.unit);
}

std::vector<double> valuesOf(const std::vector<Row>& runs) {
    std::vector<double> values;
    for (const Row& run : runs) {
        if (run.value) {
            values.push_back(*run.value);
        }
    }
    return values;
}

std::string joinedNotes(const std::vector<Row>& runs) {
    std::vector<std::string> notes;
    for (const Row& run : runs) {
        if (!run.note.empty() && std::find(notes.begin(), notes.end(), run.note) == notes.end()) {
            notes.push_back(run.note);
        }
    }
    std::string joined;
    for (const std::string& note : notes) {
        joined += (joined.empty() ? "" : " | ") + note;
    }
    return joined;
}

enum class Align { Left, Right };

void printAligned(std::ostream& out, const std::vector<std::vector<std::string>>& lines,
                  const std::vector<Align>& aligns) {
    std::vector<std::size_t> widths(aligns.size(), 0);
    for (const auto& cells : lines) {
        for (std::size_t column = 0; column < cells.size(); ++column) {
            widths[column] = std::max(widths[column], displayWidth(cells[column]));
        }
    }
    std::size_t totalWidth = 0;
    for (std::size_t column = 0; column + 1 < widths.size(); ++column) {
        totalWidth += widths[column] + 2;
    }
    for (std::size_t line = 0; line < lines.size(); ++line) {
        std::string text;
        for (std::size_t column = 0; column < widths.size(); ++column) {
            const std::string& cell = lines[line][column];
            const std::string padding(widths[column] - displayWidth(cell), ' ');
            const bool last = column + 1 == widths.size();
            if (aligns[column] == Align::Right) {
                text += padding + cell;
            } else {
                text += cell + (last ? "" : padding);
            }
            text += last ? "" : "  ";
        }
        out << text << '\n';
        if (line == 0) {
            out << std::string(totalWidth + widths.back(), '-') << '\n';
        }
    }
}

} // namespace

bool Target::heldBy(double value) const {
    switch (compare) {
    case Compare::AtMost:
        return value <= bound;
    case Compare::Below:
        return value < bound;
    case Compare::AtLeast:
        return value >= bound;
    case Compare::Exactly:
        break;
    }
    return value == bound;
}

Row& RunRows::add(std::string figure, std::string rate, std::string statistic,
                  std::optional<double> value, Unit unit) {
    Row row;
    row.figure = std::move(figure);
    row.rate = std::move(rate);
    row.statistic = std::move(statistic);
    row.value = value;
    row.unit = unit;
    rows_.push_back(std::move(row));
    return rows_.back();
}

void ResultTable::addRun(const RunRows& run) {
    ++runCount_;
    for (const Row& row : run.rows()) {
        const auto same = std::find_if(lines_.begin(), lines_.end(), [&row](const Line& line) {
            return line.first.figure == row.figure && line.first.rate == row.rate &&
                   line.first.statistic == row.statistic;
        });
        if (same == lines_.end()) {
            lines_.push_back({row, {row}});
        } else {
            same->runs.push_back(row);
        }
    }
}

bool ResultTable::lineMet(const Line& line) const {
    const bool everyRunSound = std::all_of(line.runs.begin(), line.runs.end(),
                                           [](const Row& run) { return run.sound && run.value; });
    return everyRunSound && line.first.target &&
           line.first.target->heldBy(median(valuesOf(line.runs)));
}

std::string ResultTable::verdictText(const Line& line) const {
    if (!line.first.target) {
        return "-";
    }
    std::string text = lineMet(line) ? "met (" : "NOT MET (";
    text += line.first.statistic;
    const auto runs = static_cast<int>(line.runs.size());
    if (runs > 1) {
        const auto met = std::count_if(line.runs.begin(), line.runs.end(),
                                       [](const Row& run) { return run.met(); });
        text += "; " + fraction(int(met), runs) + " runs";
    } else if (runCount_ > 1) {
        text += "; once";
    }
    return text + ")";
}

std::vector<std::string> ResultTable::targetsNotMet() const {
    std::vector<std::string> names;
    for (const Line& line : lines_) {
        if (line.first.target && !lineMet(line)) {
            names.push_back(line.first.figure + (line.first.rate.empty() ? "" : " ") +
                            line.first.rate + ", " + line.first.statistic);
        }
    }
    return names;
}

void ResultTable::print(std::ostream& out) const {
    const bool severalRuns = runCount_ > 1;
    std::vector<std::vector<std::string>> cells;
    std::vector<Align> aligns{Align::Left, Align::Left, Align::Left};
    if (severalRuns) {
        cells.push_back(
            {"Figure", "Rate", "Statistic", "min", "median", "max", "Target", "Verdict", "Note"});
        aligns.insert(aligns.end(), {Align::Right, Align::Right, Align::Right});
    } else {
        cells.push_back({"Figure", "Rate", "Statistic", "Value", "Target", "Verdict", "Note"});
        aligns.push_back(Align::Right);
    }
    aligns.insert(aligns.end(), {Align::Left, Align::Left, Align::Left});

    const Row* previous = nullptr;
    for (const Line& line : lines_) {
        const Row& row = line.first;
        const bool sameFigure = previous != nullptr && previous->figure == row.figure;
        const bool sameRate = sameFigure && previous->rate == row.rate;
        std::vector<std::string> text{sameFigure ? "" : row.figure,
                                      sameRate ? "" : (row.rate.empty() ? "-" : row.rate),
                                      row.statistic};
        const std::vector<double> values = valuesOf(line.runs);
        const auto shown = [&](double value) { return valueText(value, row.unit); };
        if (!severalRuns) {
            text.push_back(values.empty() ? "-" : shown(values.front()));
        } else if (values.size() == 1) {
            text.insert(text.end(), {"-", shown(values.front()), "-"});
        } else if (values.empty()) {
            text.insert(text.end(), {"-", "-", "-"});
        } else {
            text.insert(text.end(), {shown(*std::min_element(values.begin(), values.end())),
                                     shown(median(values)), shown(worst(values))});
        }
        text.insert(text.end(), {targetText(row), verdictText(line), joinedNotes(line.runs)});
        cells.push_back(std::move(text));
        previous = &row;
    }
    printAligned(out, cells, aligns);
}

std::string milliseconds(double value) {
    return formatted("%.1f", value);
}

std::string fraction(int part, int whole) {
    return std::to_string(part) + "/" + std::to_string(whole);
}

} // namespace darq::bench
