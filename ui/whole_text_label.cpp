#include "ui/whole_text_label.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>

#include <cmath>

namespace darq {

namespace {

// Far more than the glyphs of every reading in every colour the label takes.
constexpr int kMaxGlyphImages = 256;

} // namespace

QRect WholeTextLabel::textArea() const {
    QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    // QLabel's own indent: none without a frame, otherwise half an "x" on the aligned side.
    int indentation = indent();
    if (indentation < 0 && frameWidth() > 0) {
        indentation = fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2;
    }
    if (indentation > 0) {
        const Qt::Alignment aligned = QStyle::visualAlignment(layoutDirection(), alignment());
        if (aligned & Qt::AlignLeft) {
            area.setLeft(area.left() + indentation);
        }
        if (aligned & Qt::AlignRight) {
            area.setRight(area.right() - indentation);
        }
        if (aligned & Qt::AlignTop) {
            area.setTop(area.top() + indentation);
        }
        if (aligned & Qt::AlignBottom) {
            area.setBottom(area.bottom() - indentation);
        }
    }
    return area;
}

void WholeTextLabel::layOut() {
    if (laidOutText_ == text() && laidOutFont_ == font()) {
        return;
    }
    laidOutText_ = text();
    laidOutFont_ = font();
    QTextLayout layout(laidOutText_, laidOutFont_);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLeadingIncluded(false);
    layout.endLayout();
    laidOutSize_ = QSizeF(line.naturalTextWidth(), line.height());
    runs_ = layout.glyphRuns();
}

const WholeTextLabel::GlyphImage& WholeTextLabel::glyphImage(const QRawFont& font, quint32 glyph,
                                                             const QColor& colour) {
    const qreal pixelRatio = devicePixelRatioF();
    GlyphKey key{font, glyph, colour.rgba(), pixelRatio};
    const auto found = glyphs_.constFind(key);
    if (found != glyphs_.constEnd()) {
        return *found;
    }
    if (glyphs_.size() >= kMaxGlyphImages) {
        glyphs_.clear();
    }
    // A pixel of room on every side for the edge's antialiasing.
    const QRect bounds = font.boundingRect(glyph).toAlignedRect().adjusted(-1, -1, 1, 1);
    GlyphImage drawn;
    drawn.offset = bounds.topLeft();
    drawn.image = QImage(bounds.size() * pixelRatio, QImage::Format_ARGB32_Premultiplied);
    drawn.image.setDevicePixelRatio(pixelRatio);
    drawn.image.fill(Qt::transparent);
    QGlyphRun run;
    run.setRawFont(font);
    run.setGlyphIndexes({glyph});
    run.setPositions({QPointF(-bounds.left(), -bounds.top())});
    QPainter painter(&drawn.image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(colour);
    painter.drawGlyphRun(QPointF(0, 0), run);
    painter.end();
    return *glyphs_.insert(std::move(key), std::move(drawn));
}

void WholeTextLabel::paintEvent(QPaintEvent* event) {
    const QRect area = contentsRect();
    const int textWidth = fontMetrics().horizontalAdvance(text());
    if (textWidth <= area.width()) {
        if (text().isEmpty() || textFormat() == Qt::RichText || wordWrap()) {
            QLabel::paintEvent(event);
            return;
        }
        layOut();
        QPainter painter(this);
        drawFrame(&painter);
        const QRect aligned = QStyle::alignedRect(
            layoutDirection(), QStyle::visualAlignment(layoutDirection(), alignment()),
            QSize(int(std::ceil(laidOutSize_.width())), int(std::ceil(laidOutSize_.height()))),
            textArea());
        const QColor colour = palette().color(
            isEnabled() ? palette().currentColorGroup() : QPalette::Disabled, foregroundRole());
        for (const QGlyphRun& run : runs_) {
            const QList<quint32> glyphIndexes = run.glyphIndexes();
            const QList<QPointF> positions = run.positions();
            for (qsizetype glyph = 0; glyph < glyphIndexes.size(); ++glyph) {
                const GlyphImage& image = glyphImage(run.rawFont(), glyphIndexes[glyph], colour);
                const QPointF origin = QPointF(aligned.topLeft()) + positions[glyph];
                painter.drawImage(QPoint(qRound(origin.x()), qRound(origin.y())) + image.offset,
                                  image.image);
            }
        }
        return;
    }
    QFont smaller = font();
    if (smaller.pixelSize() > 0) {
        smaller.setPixelSize(qMax(1, smaller.pixelSize() * area.width() / textWidth));
    } else {
        smaller.setPointSizeF(smaller.pointSizeF() * area.width() / textWidth);
    }
    QPainter painter(this);
    drawFrame(&painter);
    painter.setFont(smaller);
    style()->drawItemText(&painter, area, int(alignment()), palette(), isEnabled(), text(),
                          foregroundRole());
}

} // namespace darq
