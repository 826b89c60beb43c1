#include "report_table.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace darq::bench {

namespace {

// Columns are counted in characters, not bytes: "x" and "≤" take one place each.
std::size_t displayWidth(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char byte) {
        return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
    }));
}

std::string verdictText(Verdict verdict) {
    switch (verdict) {
    case Verdict::Met:
        return "met";
    case Verdict::NotMet:
        return "NOT MET";
    case Verdict::None:
        break;
    }
    return "-";
}

} // namespace

void ReportTable::add(TableRow row) {
    rows_.push_back(std::move(row));
}

bool ReportTable::everyTargetMet() const {
    return std::none_of(rows_.begin(), rows_.end(),
                        [](const TableRow& row) { return row.verdict == Verdict::NotMet; });
}

void ReportTable::print(std::ostream& out) const {
    using Cells = std::array<std::string, 6>;
    std::vector<Cells> lines{{"Figure", "Rate", "Measured", "Limit", "Target", "Verdict"}};
    for (const TableRow& row : rows_) {
        lines.push_back({row.figure, row.rate.empty() ? "-" : row.rate, row.measured,
                         row.limit.empty() ? "-" : row.limit, row.target.empty() ? "-" : row.target,
                         verdictText(row.verdict)});
    }
    std::array<std::size_t, 6> widths{};
    for (const Cells& cells : lines) {
        for (std::size_t column = 0; column < cells.size(); ++column) {
            widths[column] = std::max(widths[column], displayWidth(cells[column]));
        }
    }
    std::size_t totalWidth = 0;
    for (std::size_t width : widths) {
        totalWidth += width + 2;
    }
    for (std::size_t line = 0; line < lines.size(); ++line) {
        std::string text;
        for (std::size_t column = 0; column < widths.size(); ++column) {
            const std::string& cell = lines[line][column];
            text += cell;
            if (column + 1 < widths.size()) {
                text += std::string(widths[column] - displayWidth(cell) + 2, ' ');
            }
        }
        out << text << '\n';
        if (line == 0) {
            out << std::string(totalWidth - 2, '-') << '\n';
        }
    }
}

std::string milliseconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string mebibytes(long kibibytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", double(kibibytes) / 1024.0);
    return text;
}

Verdict verdictOf(bool met) {
    return met ? Verdict::Met : Verdict::NotMet;
}

} // namespace darq::bench
