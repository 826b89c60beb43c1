#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace darq::bench {

enum class Verdict { None, Met, NotMet };

struct TableRow {
    std::string figure;
    std::string rate; // baud, or empty where the rate does not matter
    std::string measured;
    std::string limit;
    std::string target;
    Verdict verdict = Verdict::None;
};

// The bench's one table, columns aligned, one row a line.
class ReportTable {
public:
    void add(TableRow row);
    void print(std::ostream& out) const;
    bool everyTargetMet() const;

private:
    std::vector<TableRow> rows_;
};

// "262.3"
std::string milliseconds(double value);
// "41.2 MiB"
std::string mebibytes(long kibibytes);
Verdict verdictOf(bool met);

} // namespace darq::bench
