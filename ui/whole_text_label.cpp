#include "ui/whole_text_label.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

namespace darq {

void WholeTextLabel::paintEvent(QPaintEvent* event) {
    const QRect area = contentsRect();
    const int textWidth = fontMetrics().horizontalAdvance(text());
    if (textWidth <= area.width()) {
        QLabel::paintEvent(event);
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
