#include "ui/layout_look.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStringList>

namespace darq::look {

QRect twips(int left, int top, int width, int height) {
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                 height / kTwipsPerPixel);
}

namespace {

QColor desktopColour(quint32 number) {
    const QPalette desktop = QApplication::palette();
    switch (number) {
    case kMenuColour & 0xFF:
        return desktop.color(QPalette::Window);
    case kWindowBackground & 0xFF:
        return desktop.color(QPalette::Base);
    case kWindowText & 0xFF:
        return desktop.color(QPalette::Text);
    case kButtonText & 0xFF:
        return desktop.color(QPalette::ButtonText);
    case kButtonFace & 0xFF:
    default:
        return desktop.color(QPalette::Button);
    }
}

} // namespace

QColor colour(quint32 value) {
    if (value & 0x80000000u) {
        return desktopColour(value & 0xFFu);
    }
    return QColor(int(value & 0xFFu), int((value >> 8) & 0xFFu), int((value >> 16) & 0xFFu));
}

QString songFamily() {
    // The first family the machine has wins; the Arphic and Noto fonts come with the distribution.
    static const QString chosen = [] {
        const QStringList preferred = {QStringLiteral("宋体"),
                                       QStringLiteral("SimSun"),
                                       QStringLiteral("NSimSun"),
                                       QStringLiteral("AR PL UMing CN"),
                                       QStringLiteral("AR PL SungtiL GB"),
                                       QStringLiteral("Noto Serif CJK SC"),
                                       QStringLiteral("Source Han Serif SC")};
        const QStringList installed = QFontDatabase::families();
        for (const QString& family : preferred) {
            if (installed.contains(family, Qt::CaseInsensitive)) {
                return family;
            }
        }
        const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
        return chinese.isEmpty() ? QApplication::font().family() : chinese.first();
    }();
    return chosen;
}

QFont songFont(qreal points) {
    QFont font(songFamily());
    font.setPixelSize(qRound(points * 96.0 / 72.0));
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

QFont defaultFont() {
    return songFont(9);
}

QPalette standardPalette() {
    const QPalette desktop = QApplication::palette();
    QPalette palette;
    for (int group = 0; group < QPalette::NColorGroups; ++group) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto colourGroup = static_cast<QPalette::ColorGroup>(group);
            const auto colourRole = static_cast<QPalette::ColorRole>(role);
            palette.setColor(colourGroup, colourRole, desktop.color(colourGroup, colourRole));
        }
    }
    return palette;
}

} // namespace darq::look
