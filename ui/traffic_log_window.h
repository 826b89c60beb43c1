#pragma once

#include "ui/traffic_log.h"

#include <QWidget>

#include <array>

class QLabel;
class QTableView;

namespace darq {

class FileSaving;

// The traffic log beside the main window: the session's counters, every exchange as a row, and
// the rows saved as CSV on request. Never modal, and closing it only hides it: the log it shows
// belongs to its owner and goes on being kept.
class TrafficLogWindow : public QWidget {
    Q_OBJECT

public:
    explicit TrafficLogWindow(TrafficLogModel& model, QWidget* parent = nullptr);

    // Asks where to save the rows; they are written once the operator has chosen a file.
    void save();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showCounters();
    // Widths that show each column's caption and its usual contents whole.
    void fitColumnsToHeaders();
    // Widens the columns that rows `first` to `last` need wider, up to a bound.
    void fitColumnsToRows(int first, int last);

    TrafficLogModel& model_;
    QLabel* counters_;
    QTableView* table_;
    QLabel* saveStatus_;
    FileSaving* saving_;
    int cellPadding_ = 0;
    // The width each column was last fitted to, the explanation's aside.
    std::array<int, TrafficLogModel::ExplanationColumn> fittedWidths_{};
    // Whether the newest row was in view when rows began to change; otherwise the operator
    // scrolled up to read, and the rows in view stay put.
    bool followingNewest_ = true;
};

} // namespace darq
