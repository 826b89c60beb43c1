#include "ui/cube_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QPoint>
#include <QPolygon>

namespace darq {

namespace {

// Corners of the cube as the eye sees it: the top face is a rhombus, the two side faces hang
// below it.
constexpr QPoint kBack(16, 1);
constexpr QPoint kLeft(2, 8);
constexpr QPoint kRight(30, 8);
constexpr QPoint kFront(16, 15);
constexpr QPoint kLeftBottom(2, 23);
constexpr QPoint kRightBottom(30, 23);
constexpr QPoint kFrontBottom(16, 30);

const QColor kTopGreen(0, 160, 0);
const QColor kLeftGreen(0, 255, 0);
const QColor kRightGreen(0, 96, 0);
const QColor kMarkGrey(160, 160, 160);

void drawFace(QPainter& painter, const QPolygon& face, const QColor& fill) {
    painter.setPen(Qt::black);
    painter.setBrush(fill);
    painter.drawPolygon(face);
}

// Every other pixel on the line from `from` to `to`.
void drawDottedLine(QPainter& painter, QPoint from, QPoint to) {
    const int steps = qMax(qAbs(to.x() - from.x()), qAbs(to.y() - from.y()));
    for (int step = 0; step <= steps; step += 2) {
        painter.drawPoint(from + (to - from) * step / steps);
    }
}

} // namespace

QImage cubeIconImage() {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);

    drawFace(painter, QPolygon({kBack, kRight, kFront, kLeft}), kTopGreen);
    drawFace(painter, QPolygon({kLeft, kFront, kFrontBottom, kLeftBottom}), kLeftGreen);
    drawFace(painter, QPolygon({kFront, kRight, kRightBottom, kFrontBottom}), kRightGreen);

    // The lit left face: its upper and front edges catch the light, with one short gleam on it.
    painter.setPen(Qt::white);
    drawDottedLine(painter, kLeft + QPoint(1, 2), kFront + QPoint(-1, 1));
    drawDottedLine(painter, kFront + QPoint(-1, 2), kFrontBottom + QPoint(-1, -2));
    painter.drawLine(QPoint(5, 13), QPoint(5, 18));

    // Grey marks on the shaded right face.
    painter.setPen(kMarkGrey);
    painter.drawLine(QPoint(20, 19), QPoint(25, 16));
    painter.drawLine(QPoint(20, 23), QPoint(26, 20));
    painter.drawLine(QPoint(21, 26), QPoint(25, 24));
    return image;
}

QIcon cubeIcon() {
    return QIcon(QPixmap::fromImage(cubeIconImage()));
}

} // namespace darq
