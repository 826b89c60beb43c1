#include "ui/trend_window.h"

#include "ui/file_saving.h"

#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScatterSeries>
#include <QSvgGenerator>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <set>

namespace darq {

namespace {

// A line breaks where the readings on either side of a gap are this many pixels apart or more.
constexpr double kBridgedGapPixels = 3.0;
// Narrower than this the time axis shows no more than a few readings.
constexpr double kNarrowestSpanMs = 2000.0;
// Room before the oldest reading and after the newest, as a share of the width, so that neither
// sits on the edge.
constexpr double kRoomAfterNewest = 0.02;
// While following, the view steps on by this share of its width when the newest reading reaches
// its right edge, and stays put in between: a view that moved at every reading would have every
// line in it drawn afresh each time.
constexpr double kFollowStep = 0.25;
// The newest piece of a line takes new readings up to this many points, then is left as it is and
// the line goes on in a new piece: each reading costs the drawing of a short piece, whatever the
// length of the line.
constexpr int kHeadPoints = 32;
// A reading is drawn at once, but readings that come faster than this (a search, several
// addresses read in turn) are drawn together: the chart is drawn no more often than the eye
// follows it.
constexpr int kRedrawIntervalMs = 250;
constexpr double kWheelStepFactor = 0.8; // one notch of the wheel in
constexpr double kKeyPanShare = 0.25;
constexpr double kGapMarkHeight = 0.04; // on the hidden axis from 0 to 1: at the foot of the plot

// Distinct on a light and a dark background; flow and total of one address in neighbouring ones.
const QColor kLineColours[] = {
    QColor(0xd6, 0x27, 0x28), QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e),
    QColor(0x2c, 0xa0, 0x2c), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
    QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf),
};
constexpr int kColourCount = int(sizeof kLineColours / sizeof kLineColours[0]);

std::optional<double> firstTime(const std::deque<TrafficLogEntry>& entries) {
    for (const TrafficLogEntry& entry : entries) {
        if (const std::optional<TrendSample> sample = trendSample(entry.record)) {
            return sample->timeMs;
        }
    }
    return std::nullopt;
}

std::optional<double> lastTime(const std::deque<TrafficLogEntry>& entries) {
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (const std::optional<TrendSample> sample = trendSample(entry->record)) {
            return sample->timeMs;
        }
    }
    return std::nullopt;
}

} // namespace

// The chart with the operator's hands on it: the wheel zooms the time around the pointer, a drag
// pans it, and the keys do both.
class TrendChartView : public QChartView {
public:
    TrendChartView(QChart* chart, TrendWindow* window)
        : QChartView(chart, window), window_(window) {
        setRenderHint(QPainter::Antialiasing);
        setFocusPolicy(Qt::StrongFocus);
        setDragMode(QGraphicsView::NoDrag);
    }

protected:
    void wheelEvent(QWheelEvent* event) override {
        const double notches = event->angleDelta().y() / 120.0;
        if (notches == 0) {
            return;
        }
        window_->zoom(std::pow(kWheelStepFactor, notches), plotFraction(event->position().x()));
        event->accept();
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) {
            QChartView::mousePressEvent(event);
            return;
        }
        dragFromX_ = event->position().x();
        setCursor(Qt::ClosedHandCursor);
        event->accept();
    }

    void mouseMoveEvent(QMouseEvent* event) override {
        if (!dragFromX_) {
            QChartView::mouseMoveEvent(event);
            return;
        }
        const double moved = event->position().x() - *dragFromX_;
        dragFromX_ = event->position().x();
        const double width = chart()->plotArea().width();
        if (moved != 0 && width > 0) {
            window_->pan(-moved / width);
        }
        event->accept();
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && dragFromX_) {
            dragFromX_.reset();
            unsetCursor();
            event->accept();
            return;
        }
        QChartView::mouseReleaseEvent(event);
    }

    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
        case Qt::Key_End:
            window_->follow();
            return;
        case Qt::Key_Home:
            window_->showWholeLog();
            return;
        case Qt::Key_Left:
            window_->pan(-kKeyPanShare);
            return;
        case Qt::Key_Right:
            window_->pan(kKeyPanShare);
            return;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            window_->zoom(kWheelStepFactor, 0.5);
            return;
        case Qt::Key_Minus:
            window_->zoom(1 / kWheelStepFactor, 0.5);
            return;
        default:
            QChartView::keyPressEvent(event);
        }
    }

private:
    // Where `viewX` lies across the plot, 0 at its left edge and 1 at its right.
    double plotFraction(double viewX) const {
        const QRectF plot = chart()->plotArea();
        const QPointF inChart = chart()->mapFromScene(mapToScene(QPoint(int(viewX), 0)));
        return plot.width() > 0 ? std::clamp((inChart.x() - plot.left()) / plot.width(), 0.0, 1.0)
                                : 0.5;
    }

    TrendWindow* window_;
    std::optional<double> dragFromX_;
};

TrendWindow::TrendWindow(TrafficLogModel& model, QWidget* parent)
    : QWidget(parent, Qt::Window), model_(model), chart_(new QChart),
      view_(new TrendChartView(chart_, this)),
      followButton_(new QPushButton(tr("Follow newest (End)"), this)),
      saveStatus_(new QLabel(this)), timeAxis_(new QDateTimeAxis), flowAxis_(new QValueAxis),
      totalAxis_(new QValueAxis), markAxis_(new QValueAxis), totalBackMarks_(new QScatterSeries),
      trace_(0) {
    setObjectName(QStringLiteral("trendWindow"));
    setWindowTitle(tr("Trend"));
    view_->setObjectName(QStringLiteral("trendChart"));
    followButton_->setObjectName(QStringLiteral("followNewest"));
    followButton_->setCheckable(true);
    followButton_->setChecked(true);
    followButton_->setToolTip(tr("Keep the newest reading in view. The mouse wheel zooms, a drag "
                                 "pans, End follows again and Home shows the whole log."));
    auto* saveButton = new QPushButton(tr("Save…"), this);
    saveButton->setObjectName(QStringLiteral("saveTrend"));
    saveStatus_->setObjectName(QStringLiteral("trendSaveStatus"));
    saveStatus_->setTextFormat(Qt::PlainText);
    saveStatus_->setWordWrap(true);

    chart_->setAnimationOptions(QChart::NoAnimation);
    chart_->legend()->setAlignment(Qt::AlignBottom);
    timeAxis_->setFormat(QStringLiteral("HH:mm:ss"));
    timeAxis_->setTitleText(tr("Time"));
    flowAxis_->setTitleText(tr("Flow"));
    totalAxis_->setTitleText(tr("Total"));
    markAxis_->setRange(0, 1);
    markAxis_->setVisible(false);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(flowAxis_, Qt::AlignLeft);
    chart_->addAxis(totalAxis_, Qt::AlignRight);
    chart_->addAxis(markAxis_, Qt::AlignRight);

    struct GapLook {
        QString name;
        QScatterSeries::MarkerShape shape;
        QColor colour;
    };
    const GapLook gapLooks[kTrendGapKinds] = {
        {tr("No data"), QScatterSeries::MarkerShapeCircle, QColor(0x80, 0x80, 0x80)},
        {tr("Wrong check value or reply"), QScatterSeries::MarkerShapeRectangle,
         QColor(0xff, 0x8c, 0x00)},
        {tr("Interrupted"), QScatterSeries::MarkerShapeRotatedRectangle, QColor(0x94, 0x67, 0xbd)},
    };
    for (int kind = 0; kind < kTrendGapKinds; ++kind) {
        auto* marks = new QScatterSeries;
        marks->setName(gapLooks[kind].name);
        chart_->addSeries(marks);
        marks->setMarkerShape(gapLooks[kind].shape);
        marks->setMarkerSize(8);
        marks->setColor(gapLooks[kind].colour);
        marks->setBorderColor(gapLooks[kind].colour);
        marks->attachAxis(timeAxis_);
        marks->attachAxis(markAxis_);
        gapMarks_[std::size_t(kind)] = marks;
    }
    totalBackMarks_->setName(tr("Total went back"));
    chart_->addSeries(totalBackMarks_);
    totalBackMarks_->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
    totalBackMarks_->setMarkerSize(14);
    totalBackMarks_->setColor(QColor(0xcc, 0x00, 0x00));
    totalBackMarks_->setBorderColor(Qt::black);
    totalBackMarks_->attachAxis(timeAxis_);
    totalBackMarks_->attachAxis(totalAxis_);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(saveStatus_, 1);
    buttons->addWidget(followButton_);
    buttons->addWidget(saveButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_, 1);
    layout->addLayout(buttons);
    resize(960, 560);

    connect(followButton_, &QPushButton::clicked, this, [this](bool checked) {
        if (checked) {
            follow();
        } else {
            showView(fromMs_, toMs_);
        }
    });
    saving_ = new FileSaving(
        this, saveStatus_, [this](const QString& path) { return picture(path); },
        [](const QString& path, const QString& reason) {
            return reason.isEmpty() ? tr("Saved to %1").arg(path)
                                    : tr("The trend was not saved to %1: %2").arg(path, reason);
        });
    connect(saveButton, &QPushButton::clicked, this, &TrendWindow::save);
    connect(&model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { onRowsInserted(first, last); });
    connect(&model_, &QAbstractItemModel::modelReset, this, &TrendWindow::rebuild);
    drawTimer_.setSingleShot(true);
    drawTimer_.setInterval(kRedrawIntervalMs);
    connect(&drawTimer_, &QTimer::timeout, this, [this] {
        if (pendingRows_ > 0) {
            drawPendingRows();
            drawTimer_.start();
        }
    });
    rebuild();
}

TrendWindow::~TrendWindow() = default;

void TrendWindow::follow() {
    if (!following_) {
        spanMs_ = std::max(toMs_ - fromMs_, kNarrowestSpanMs);
    }
    following_ = true;
    followButton_->setChecked(true);
    rebuild();
}

void TrendWindow::showWholeLog() {
    const std::optional<double> first = firstTime(model_.entries());
    const std::optional<double> last = lastTime(model_.entries());
    if (!first || !last) {
        return;
    }
    const double room = std::max(*last - *first, kNarrowestSpanMs) * kRoomAfterNewest;
    showView(*first - room, *last + room);
}

void TrendWindow::showView(double fromMs, double toMs) {
    following_ = false;
    followButton_->setChecked(false);
    fromMs_ = fromMs;
    toMs_ = std::max(toMs, fromMs + kNarrowestSpanMs);
    applyView();
    rebuildSoon();
}

void TrendWindow::zoom(double factor, double anchorFraction) {
    const double span = std::max((toMs_ - fromMs_) * factor, kNarrowestSpanMs);
    const double anchor = fromMs_ + anchorFraction * (toMs_ - fromMs_);
    const double from = anchor - anchorFraction * span;
    showView(from, from + span);
}

void TrendWindow::pan(double fraction) {
    const double shift = (toMs_ - fromMs_) * fraction;
    showView(fromMs_ + shift, toMs_ + shift);
}

std::pair<double, double> TrendWindow::followedView() const {
    const std::optional<double> last = lastTime(model_.entries());
    const double newest = last ? *last : double(QDateTime::currentMSecsSinceEpoch());
    const std::optional<double> first = firstTime(model_.entries());
    // A session younger than the view fills it from the left.
    if (first && newest - *first < spanMs_ * (1 - kFollowStep)) {
        const double from = *first - spanMs_ * kRoomAfterNewest;
        return {from, from + spanMs_};
    }
    const double from = newest - spanMs_ * (1 - kFollowStep);
    return {from, from + spanMs_};
}

double TrendWindow::bridgeMs() const {
    const double width = chart_->plotArea().width() > 0 ? chart_->plotArea().width() : 800.0;
    return (toMs_ - fromMs_) / width * kBridgedGapPixels;
}

void TrendWindow::rebuildSoon() {
    if (!rebuildPending_) {
        rebuildPending_ = true;
        QTimer::singleShot(0, this, [this] {
            if (rebuildPending_) {
                rebuild();
            }
        });
    }
}

void TrendWindow::rebuild() {
    rebuildPending_ = false;
    pendingRows_ = 0;
    if (following_) {
        std::tie(fromMs_, toMs_) = followedView();
        followingData_ = lastTime(model_.entries()).has_value();
    }
    clearLines();
    trace_ = TrendTrace(bridgeMs());
    const TrendPicture picture = trendPicture(model_.entries(), fromMs_, toMs_, trace_);
    for (const auto& [address, lines] : picture.lines) {
        AddressSeries& series = seriesOf(address);
        for (std::size_t piece = 0; piece < lines.flowPieces.size(); ++piece) {
            series.flowPieces.push_back(newPiece(series, true));
            series.flowPieces.back()->replace(
                QList<QPointF>(lines.flowPieces[piece].begin(), lines.flowPieces[piece].end()));
            series.totalPieces.push_back(newPiece(series, false));
            series.totalPieces.back()->replace(
                QList<QPointF>(lines.totalPieces[piece].begin(), lines.totalPieces[piece].end()));
        }
    }
    for (int kind = 0; kind < kTrendGapKinds; ++kind) {
        QList<QPointF> marks;
        for (const double time : picture.gapTimesMs[std::size_t(kind)]) {
            marks.append(QPointF(time, kGapMarkHeight));
        }
        gapMarks_[std::size_t(kind)]->replace(marks);
    }
    totalBackMarks_->replace(QList<QPointF>(picture.totalBacks.begin(), picture.totalBacks.end()));
    applyView();
    fitValueAxes(picture.flowRange, picture.totalRange);
}

void TrendWindow::onRowsInserted(int first, int last) {
    if (rebuildPending_) {
        return;
    }
    pendingRows_ += last - first + 1;
    if (drawTimer_.isActive()) {
        return;
    }
    drawPendingRows();
    drawTimer_.start();
}

void TrendWindow::drawPendingRows() {
    // Rows only ever come at the end of the log, whatever went from its front meanwhile.
    const std::deque<TrafficLogEntry>& rows = model_.entries();
    const int first = std::max(0, int(rows.size()) - pendingRows_);
    const int last = int(rows.size()) - 1;
    pendingRows_ = 0;
    // Gaps are bridged as the width now shown allows.
    trace_.setBridgeMs(bridgeMs());
    bool added = false;
    for (int row = first; row <= last; ++row) {
        const std::optional<TrendSample> sample =
            trendSample(model_.entries()[std::size_t(row)].record);
        if (!sample) {
            continue;
        }
        if (!following_) {
            // Out of view, it is drawn when the operator looks there.
            if (sample->timeMs >= fromMs_ && sample->timeMs <= toMs_) {
                rebuildSoon();
                return;
            }
            continue;
        }
        if (sample->gap) {
            trace_.noteGap(*sample);
            addGap(*sample);
        } else {
            addReading(*sample, trace_.startsPiece(*sample));
        }
        added = true;
    }
    if (!added) {
        return;
    }
    const std::optional<double> newest = lastTime(model_.entries());
    // The first reading of an empty log sets the view, as does one outside it.
    if (newest &&
        (!followingData_ || *newest < fromMs_ || *newest > toMs_ - spanMs_ * kRoomAfterNewest)) {
        followingData_ = true;
        std::tie(fromMs_, toMs_) = followedView();
        dropPiecesBefore(fromMs_);
        applyView();
    }
    // The values in view, from the rows in view: newest first, as far back as the view goes.
    std::optional<std::pair<double, double>> flow;
    std::optional<std::pair<double, double>> total;
    const std::deque<TrafficLogEntry>& entries = model_.entries();
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        const std::optional<TrendSample> sample = trendSample(entry->record);
        if (!sample) {
            continue;
        }
        if (sample->timeMs < fromMs_) {
            break;
        }
        if (!sample->gap) {
            widen(flow, sample->flow);
            widen(total, sample->total);
        }
    }
    fitValueAxes(flow, total);
}

void TrendWindow::addReading(const TrendSample& sample, bool startsPiece) {
    AddressSeries& series = seriesOf(sample.address);
    if (startsPiece || series.flowPieces.empty()) {
        series.flowPieces.push_back(newPiece(series, true));
        series.totalPieces.push_back(newPiece(series, false));
    } else if (series.flowPieces.back()->count() >= kHeadPoints) {
        // Joined to the piece before at its last point, so that the line shows no seam.
        for (std::vector<QLineSeries*>* pieces : {&series.flowPieces, &series.totalPieces}) {
            const QLineSeries* full = pieces->back();
            const QPointF join = full->at(full->count() - 1);
            pieces->push_back(newPiece(series, pieces == &series.flowPieces));
            pieces->back()->append(join);
        }
    }
    series.flowPieces.back()->append(sample.timeMs, sample.flow);
    series.totalPieces.back()->append(sample.timeMs, sample.total);
    if (sample.totalBack) {
        totalBackMarks_->append(sample.timeMs, sample.total);
    }
}

void TrendWindow::addGap(const TrendSample& sample) {
    gapMarks_[std::size_t(*sample.gap)]->append(sample.timeMs, kGapMarkHeight);
}

TrendWindow::AddressSeries& TrendWindow::seriesOf(int address) {
    const auto found = series_.find(address);
    if (found != series_.end()) {
        return found->second;
    }
    const int colour = int(series_.size()) * 2;
    AddressSeries series;
    series.flowLegend = new QLineSeries;
    series.flowLegend->setName(tr("Flow, address %1").arg(address));
    series.totalLegend = new QLineSeries;
    series.totalLegend->setName(tr("Total, address %1").arg(address));
    for (QLineSeries* legend : {series.flowLegend, series.totalLegend}) {
        const bool flow = legend == series.flowLegend;
        chart_->addSeries(legend);
        legend->attachAxis(timeAxis_);
        legend->attachAxis(flow ? flowAxis_ : totalAxis_);
        QPen pen(kLineColours[(colour + (flow ? 0 : 1)) % kColourCount], 2);
        pen.setStyle(flow ? Qt::SolidLine : Qt::DashLine);
        legend->setPen(pen);
    }
    return series_.emplace(address, series).first->second;
}

QLineSeries* TrendWindow::newPiece(const AddressSeries& series, bool flow) {
    QLineSeries* legend = flow ? series.flowLegend : series.totalLegend;
    auto* piece = new QLineSeries;
    chart_->addSeries(piece);
    piece->attachAxis(timeAxis_);
    piece->attachAxis(flow ? flowAxis_ : totalAxis_);
    piece->setPen(legend->pen());
    // The empty series above names the line once, however many pieces it falls into.
    for (QLegendMarker* marker : chart_->legend()->markers(piece)) {
        marker->setVisible(false);
    }
    return piece;
}

void TrendWindow::clearLines() {
    for (auto& [address, series] : series_) {
        for (std::vector<QLineSeries*>* pieces : {&series.flowPieces, &series.totalPieces}) {
            for (QLineSeries* piece : *pieces) {
                chart_->removeSeries(piece);
                delete piece;
            }
            pieces->clear();
        }
    }
}

void TrendWindow::dropPiecesBefore(double timeMs) {
    for (auto& [address, series] : series_) {
        while (series.flowPieces.size() > 1 && series.flowPieces.front()->count() > 0 &&
               series.flowPieces.front()->at(series.flowPieces.front()->count() - 1).x() < timeMs) {
            for (std::vector<QLineSeries*>* pieces : {&series.flowPieces, &series.totalPieces}) {
                chart_->removeSeries(pieces->front());
                delete pieces->front();
                pieces->erase(pieces->begin());
            }
        }
        // The oldest piece loses its points as they leave the view, but for the last one, which
        // carries its line to the edge: a line that never ends would cost more at each reading.
        if (!series.flowPieces.empty()) {
            QLineSeries* flow = series.flowPieces.front();
            int gone = 0;
            while (gone + 1 < flow->count() && flow->at(gone + 1).x() < timeMs) {
                ++gone;
            }
            if (gone > 0) {
                flow->removePoints(0, gone);
                series.totalPieces.front()->removePoints(0, gone);
            }
        }
    }
    for (QScatterSeries* marks : gapMarks_) {
        int gone = 0;
        while (gone < marks->count() && marks->at(gone).x() < timeMs) {
            ++gone;
        }
        if (gone > 0) {
            marks->removePoints(0, gone);
        }
    }
}

void TrendWindow::applyView() {
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(qint64(fromMs_)),
                        QDateTime::fromMSecsSinceEpoch(qint64(toMs_)));
}

void TrendWindow::fitValueAxes(const std::optional<std::pair<double, double>>& flow,
                               const std::optional<std::pair<double, double>>& total) {
    const auto fit = [](QValueAxis* axis, const std::optional<std::pair<double, double>>& range) {
        if (!range) {
            return;
        }
        double low = range->first;
        double high = range->second;
        const double room = high > low ? (high - low) * 0.05 : std::max(std::abs(high) * 0.05, 1.0);
        low -= room;
        high += room;
        // Moved only when the values leave it, or fill less than half of it: not at every reading.
        const double shown = axis->max() - axis->min();
        if (low >= axis->min() && high <= axis->max() && (high - low) * 2 >= shown) {
            return;
        }
        axis->setRange(low, high);
        axis->applyNiceNumbers();
    };
    fit(flowAxis_, flow);
    fit(totalAxis_, total);
}

int TrendWindow::pieceCount(int address) const {
    const auto found = series_.find(address);
    return found == series_.end() ? 0 : int(found->second.flowPieces.size());
}

int TrendWindow::pointCount(int address) const {
    const auto found = series_.find(address);
    // Neighbouring pieces share the point they are joined at.
    std::set<double> times;
    if (found != series_.end()) {
        for (const QLineSeries* piece : found->second.flowPieces) {
            for (int point = 0; point < piece->count(); ++point) {
                times.insert(piece->at(point).x());
            }
        }
    }
    return int(times.size());
}

int TrendWindow::gapMarkCount(TrendGap gap) const {
    return gapMarks_[std::size_t(gap)]->count();
}

int TrendWindow::totalBackMarkCount() const {
    return totalBackMarks_->count();
}

void TrendWindow::save() {
    saving_->ask(tr("Save trend"), {tr("PNG image (*.png)"), tr("SVG drawing (*.svg)")},
                 QStringLiteral("trend-%1.png"));
}

bool TrendWindow::saveImage(const QString& path) {
    return saving_->write(path);
}

QByteArray TrendWindow::picture(const QString& path) {
    QBuffer image;
    image.open(QIODevice::WriteOnly);
    if (path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
        QSvgGenerator drawing;
        drawing.setOutputDevice(&image);
        drawing.setSize(view_->size());
        drawing.setViewBox(view_->rect());
        drawing.setTitle(windowTitle());
        QPainter painter(&drawing);
        view_->render(&painter);
    } else {
        view_->grab().save(&image, "PNG");
    }
    return image.data();
}

} // namespace darq
