#include "ui/traffic_log_window.h"

#include "ui/file_saving.h"

#include "ui/traffic_log.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QShowEvent>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>
#include <QtMath>

#include <algorithm>

namespace darq {

namespace {

// The columns fitted to what they hold. The time has one format, which its first width fits, and
// reading a row's local time is the dearest part of measuring it; the explanation, last, takes
// the room that is left.
constexpr int kFirstFittedColumn = TrafficLogModel::TimeColumn + 1;
constexpr int kFittedColumns = TrafficLogModel::ExplanationColumn;
// A cell wider than this many characters is cut off and shown whole in its tooltip: a burst of
// noise on the line must not push the other columns out of view.
constexpr int kMaxFittedCharacters = 100;

// Narrower, the log would show little of its explanations.
constexpr int kLeastWidth = 1280;

// The room the delegate below leaves on either side of a cell's text.
int textMargin(const QWidget* view) {
    return view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
}

// How much wider than its text a column must be to show it whole: the margins and the grid line.
int cellPadding(const QWidget* view) {
    return 2 * textMargin(view) + 1;
}

// Draws each cell's text from a cache of laid-out texts. Every new row moves all rows in view, so
// the whole table is painted again; the standard delegate lays out every cell's text anew each
// time, which made that paint the largest cost of a read with the log open. Most cells repeat
// (the device, the request, the outcome words) and each row is painted again while it stays in
// view, so laying out each text once halves that paint.
class CachedTextDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        const QString text = cell.text;
        cell.text.clear();
        const QWidget* view = cell.widget;
        QStyle* style = view->style();
        // Background, selection and focus as the desktop style draws them.
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, view);
        if (text.isEmpty()) {
            return;
        }
        const int margin = textMargin(view);
        const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, view)
                               .adjusted(margin, 0, -margin, 0);
        const QStaticText& laidOut = layOut(text, cell.font, area.width());
        const Qt::Alignment alignment =
            QStyle::visualAlignment(cell.direction, cell.displayAlignment);
        const QSizeF size = laidOut.size();
        const qreal x = alignment & Qt::AlignRight ? area.right() + 1 - size.width() : area.left();
        const qreal y = area.top() + (area.height() - size.height()) / 2;
        QPalette::ColorGroup group =
            cell.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
        if (group == QPalette::Normal && !(cell.state & QStyle::State_Active)) {
            group = QPalette::Inactive;
        }
        painter->save();
        painter->setFont(cell.font);
        painter->setPen(cell.palette.color(group, cell.state & QStyle::State_Selected
                                                      ? QPalette::HighlightedText
                                                      : QPalette::Text));
        painter->drawStaticText(QPointF(x, y), laidOut);
        painter->restore();
    }

private:
    struct Key {
        QString text;
        QFont font;
        int width;

        bool operator==(const Key& other) const {
            return width == other.width && text == other.text && font == other.font;
        }
    };
    friend size_t qHash(const Key& key, size_t seed) {
        return qHashMulti(seed, key.text, key.font, key.width);
    }

    // Enough for every cell in view many times over; the rows that scrolled away go when it is
    // full.
    static constexpr int kMaxCachedTexts = 4096;

    const QStaticText& layOut(const QString& text, const QFont& font, int width) const {
        Key key{text, font, width};
        auto found = cache_.constFind(key);
        if (found != cache_.constEnd()) {
            return *found;
        }
        if (cache_.size() >= kMaxCachedTexts) {
            cache_.clear();
        }
        QStaticText laidOut(QFontMetrics(font).elidedText(text, Qt::ElideRight, width));
        laidOut.setTextFormat(Qt::PlainText);
        laidOut.setPerformanceHint(QStaticText::AggressiveCaching);
        laidOut.prepare(QTransform(), font);
        return *cache_.insert(std::move(key), std::move(laidOut));
    }

    mutable QHash<Key, QStaticText> cache_;
};

} // namespace

TrafficLogWindow::TrafficLogWindow(TrafficLogModel& model, QWidget* parent)
    : QWidget(parent, Qt::Window), model_(model), counters_(new QLabel(this)),
      table_(new QTableView(this)), saveStatus_(new QLabel(this)) {
    auto* clearButton = new QPushButton(tr("Clear"), this);
    auto* saveButton = new QPushButton(tr("Save…"), this);
    setObjectName(QStringLiteral("trafficLogWindow"));
    setWindowTitle(tr("Traffic log"));
    counters_->setObjectName(QStringLiteral("trafficCounters"));
    counters_->setTextFormat(Qt::PlainText);
    table_->setObjectName(QStringLiteral("trafficTable"));
    clearButton->setObjectName(QStringLiteral("clearTrafficLog"));
    saveButton->setObjectName(QStringLiteral("saveTrafficLog"));
    saveStatus_->setObjectName(QStringLiteral("saveStatus"));
    saveStatus_->setTextFormat(Qt::PlainText);
    saveStatus_->setWordWrap(true);

    table_->setModel(&model_);
    table_->setItemDelegate(new CachedTextDelegate(table_));
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setAlternatingRowColors(true);
    table_->setWordWrap(false);
    table_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    table_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Row numbers would shift as the oldest rows go; and rows of one fixed height, with columns
    // that Qt never fits to their contents, keep a new row cheap in a full log: the window widens
    // a column itself when a new row needs it.
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().lineSpacing() + 6);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table_->horizontalHeader()->setStretchLastSection(true);
    cellPadding_ = cellPadding(table_);
    fitColumnsToHeaders();
    fitColumnsToRows(0, model_.rowCount() - 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(saveStatus_, 1);
    buttons->addWidget(clearButton);
    buttons->addWidget(saveButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(counters_);
    layout->addWidget(table_, 1);
    layout->addLayout(buttons);
    // Wide enough for every column where the screen allows, the explanation's first part
    // included.
    const QMargins margins = layout->contentsMargins();
    int width = table_->horizontalHeader()->length() +
                table_->verticalScrollBar()->sizeHint().width() + 2 * table_->frameWidth() +
                margins.left() + margins.right();
    if (const QScreen* screen = this->screen()) {
        width = std::min(width, screen->availableGeometry().width());
    }
    resize(std::max(width, kLeastWidth), 480);

    connect(clearButton, &QPushButton::clicked, &model_, &TrafficLogModel::clear);
    saving_ = new FileSaving(
        this, saveStatus_, [this](const QString&) { return trafficLogCsv(model_.entries()); },
        [this](const QString& path, const QString& reason) {
            return reason.isEmpty()
                       ? tr("%n row(s) saved to %1", nullptr, int(model_.entries().size()))
                             .arg(path)
                       : tr("The traffic log was not saved to %1: %2").arg(path, reason);
        });
    connect(saveButton, &QPushButton::clicked, this, &TrafficLogWindow::save);
    connect(&model_, &TrafficLogModel::countersChanged, this, &TrafficLogWindow::showCounters);

    QScrollBar* rows = table_->verticalScrollBar();
    const auto noteFollowing = [this, rows] {
        followingNewest_ = rows->value() >= rows->maximum();
    };
    connect(&model_, &QAbstractItemModel::rowsAboutToBeRemoved, this, noteFollowing);
    connect(&model_, &QAbstractItemModel::rowsAboutToBeInserted, this, noteFollowing);
    connect(&model_, &QAbstractItemModel::rowsRemoved, this,
            [this, rows](const QModelIndex&, int first, int last) {
                // The rows above the ones being read went: scroll up by as many, so that the
                // rows being read stay where they are.
                if (!followingNewest_) {
                    rows->setValue(rows->value() - (last - first + 1));
                }
            });
    connect(&model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                fitColumnsToRows(first, last);
                if (followingNewest_ && isVisible()) {
                    table_->scrollToBottom();
                }
            });

    showCounters();
}

void TrafficLogWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Opened again, the log shows its newest rows; restored from an icon, it stays where it was.
    if (!event->spontaneous()) {
        table_->scrollToBottom();
    }
}

void TrafficLogWindow::showCounters() {
    const TrafficLogCounters counters = model_.counters();
    const QString decodedShare =
        counters.reads > 0
            ? QString::number(100.0 * double(counters.decoded) / double(counters.reads), 'f', 1) +
                  QStringLiteral(" %")
            : QStringLiteral("–");
    counters_->setText(
        tr("Reads %1 · decoded %2 (%3) · no data %4 · ignored %5 · "
           "wrong check value %6 · interrupted %7 · not sent %8")
            .arg(QString::number(counters.reads), QString::number(counters.decoded), decodedShare,
                 QString::number(counters.noData), QString::number(counters.ignored),
                 QString::number(counters.wrongCheckValue), QString::number(counters.interrupted),
                 QString::number(counters.refused)));
}

void TrafficLogWindow::fitColumnsToHeaders() {
    // Wide enough from the start for the usual contents, so that the first rows do not move the
    // columns: the time, "/dev/ttyUSB0 at 9600 Bd", a request and a 17-byte reply in hex.
    struct Width {
        int column;
        int characters;
        bool bytes;
    };
    static constexpr Width kWidths[] = {
        {TrafficLogModel::TimeColumn, 12, false},      {TrafficLogModel::DeviceColumn, 23, false},
        {TrafficLogModel::AddressColumn, 3, false},    {TrafficLogModel::SentColumn, 23, true},
        {TrafficLogModel::ReceivedColumn, 50, true},   {TrafficLogModel::OutcomeColumn, 12, false},
        {TrafficLogModel::CheckValueColumn, 5, false}, {TrafficLogModel::EchoColumn, 3, false},
        {TrafficLogModel::LatencyColumn, 5, false},
    };
    const QFontMetrics text = table_->fontMetrics();
    const QFontMetrics bytes(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QHeaderView* header = table_->horizontalHeader();
    // A selected row sets the captions in bold. Qt measures a caption so, but to its advance with
    // no room to spare; a Chinese character fills its whole advance, and the line between the
    // sections then covers the edge of the last one.
    QFont boldCaption = header->font();
    boldCaption.setBold(true);
    const QFontMetrics captionText(boldCaption);
    for (const Width& width : kWidths) {
        const QFontMetrics& metrics = width.bytes ? bytes : text;
        const int contents = metrics.horizontalAdvance(QString(width.characters, QLatin1Char('0')));
        const QString caption = model_.headerData(width.column, Qt::Horizontal).toString();
        const int captionWidth =
            captionText.horizontalAdvance(caption) + 2 * captionText.averageCharWidth();
        fittedWidths_[std::size_t(width.column)] = std::max(contents + cellPadding_, captionWidth);
        header->resizeSection(width.column, fittedWidths_[std::size_t(width.column)]);
    }
}

void TrafficLogWindow::fitColumnsToRows(int first, int last) {
    const int widest = kMaxFittedCharacters * table_->fontMetrics().averageCharWidth();
    QHeaderView* header = table_->horizontalHeader();
    // Most cells of a column repeat one another: each text in each font is measured once.
    QList<QFont> fonts;
    QList<QFontMetricsF> metrics;
    QSet<QPair<QString, qsizetype>> measured;
    for (int column = kFirstFittedColumn; column < kFittedColumns; ++column) {
        int& fitted = fittedWidths_[std::size_t(column)];
        int needed = fitted;
        measured.clear();
        for (int row = first; row <= last; ++row) {
            const QModelIndex cell = model_.index(row, column);
            const QVariant font = cell.data(Qt::FontRole);
            const QFont cellFont =
                font.isValid() ? font.value<QFont>().resolve(table_->font()) : table_->font();
            qsizetype fontNumber = fonts.indexOf(cellFont);
            if (fontNumber < 0) {
                fontNumber = fonts.size();
                fonts.append(cellFont);
                metrics.append(QFontMetricsF(cellFont));
            }
            QPair<QString, qsizetype> text(cell.data().toString(), fontNumber);
            if (measured.contains(text)) {
                continue;
            }
            const qreal width = metrics[fontNumber].horizontalAdvance(text.first);
            measured.insert(std::move(text));
            needed = std::max(needed, qCeil(width) + cellPadding_);
        }
        needed = std::min(needed, widest);
        // A column the operator narrowed stays so until a row needs more than it ever did.
        if (needed > fitted) {
            fitted = needed;
            header->resizeSection(column, fitted);
        }
    }
}

void TrafficLogWindow::save() {
    saving_->ask(tr("Save traffic log"), {tr("CSV files (*.csv)")},
                 QStringLiteral("traffic-log-%1.csv"));
}

} // namespace darq
