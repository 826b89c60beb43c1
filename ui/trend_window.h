#pragma once

#include "ui/trend_data.h"

#include <QTimer>
#include <QWidget>

#include <map>

class QLabel;
class QPushButton;

class QChart;
class QDateTimeAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

namespace darq {

class FileSaving;
class TrendChartView;

// The session's readings as two lines over time, flow on the left axis and total on the right,
// one pair for each address read, beside the main window. It draws the rows of the traffic log,
// so it holds the same newest readings as the log and keeps none of its own.
//
// It follows the newest reading until the operator zooms (mouse wheel, + and -) or pans (drag,
// arrow keys); End follows again at the width then shown, Home shows the whole log. A new reading
// adds a point to the newest short piece of its line; only a change of the view, or a step of
// the followed view when the newest reading reaches its right edge, draws the lines afresh.
class TrendWindow : public QWidget {
    Q_OBJECT

public:
    // The width of the followed view until the operator chooses another.
    static constexpr double kDefaultSpanMs = 10 * 60 * 1000.0;

    explicit TrendWindow(TrafficLogModel& model, QWidget* parent = nullptr);
    ~TrendWindow() override;

    bool following() const { return following_; }
    // The times shown, in milliseconds since the epoch.
    std::pair<double, double> view() const { return {fromMs_, toMs_}; }
    void follow();
    void showWholeLog();
    // Shows `fromMs` to `toMs` and stops following.
    void showView(double fromMs, double toMs);

    // Asks where to save the picture; it is written once the operator has chosen a file.
    void save();
    // Writes the picture as SVG when `path` ends in .svg, otherwise as PNG; a failure is told to
    // the operator, naming the file and the reason.
    bool saveImage(const QString& path);

    // What the chart holds now: the line pieces of an address, and the points of all its pieces.
    int pieceCount(int address) const;
    int pointCount(int address) const;
    int gapMarkCount(TrendGap gap) const;
    int totalBackMarkCount() const;

private:
    struct AddressSeries {
        QLineSeries* flowLegend = nullptr; // empty: names the line in the legend
        QLineSeries* totalLegend = nullptr;
        std::vector<QLineSeries*> flowPieces;
        std::vector<QLineSeries*> totalPieces;
    };

    void onRowsInserted(int first, int last);
    void drawPendingRows();
    void onRowsAboutToBeRemoved(int first, int last);
    void rebuildSoon();
    void rebuild();
    void addReading(const TrendSample& sample, bool startsPiece);
    void addGap(const TrendSample& sample);
    AddressSeries& seriesOf(int address);
    QLineSeries* newPiece(const AddressSeries& series, bool flow);
    void clearLines();
    void dropPiecesBefore(double timeMs);
    void applyView();
    void fitValueAxes(const std::optional<std::pair<double, double>>& flow,
                      const std::optional<std::pair<double, double>>& total);
    std::pair<double, double> followedView() const;
    double bridgeMs() const;
    void zoom(double factor, double anchorFraction);
    void pan(double fraction);
    // The chart as SVG when `path` ends in .svg, otherwise as PNG.
    QByteArray picture(const QString& path);

    friend class TrendChartView;

    TrafficLogModel& model_;
    QChart* chart_;
    TrendChartView* view_;
    QPushButton* followButton_;
    QLabel* saveStatus_;
    QDateTimeAxis* timeAxis_;
    QValueAxis* flowAxis_;
    QValueAxis* totalAxis_;
    QValueAxis* markAxis_; // hidden, 0 to 1: the gap marks sit at its foot
    std::array<QScatterSeries*, kTrendGapKinds> gapMarks_{};
    QScatterSeries* totalBackMarks_;
    std::map<int, AddressSeries> series_;
    TrendTrace trace_;
    bool following_ = true;
    bool followingData_ = false; // the followed view was set by a reading, not by the clock
    double spanMs_ = kDefaultSpanMs;
    double fromMs_ = 0;
    double toMs_ = 0;
    bool rebuildPending_ = false;
    int pendingRows_ = 0; // the newest rows of the log, not drawn yet
    QTimer drawTimer_;
    FileSaving* saving_;
};

} // namespace darq
