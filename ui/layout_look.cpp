#include "ui/layout_look.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStringList>

#include <algorithm>
#include <cmath>

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

namespace {

double relativeLuminance(const QColor& colour) {
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

} // namespace

double contrastRatio(const QColor& one, const QColor& other) {
    const double first = relativeLuminance(one);
    const double second = relativeLuminance(other);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

QColor readableOn(const QColor& wanted, const QColor& background, double minimumRatio) {
    if (contrastRatio(wanted, background) >= minimumRatio) {
        return wanted;
    }
    // Toward black or toward white, whichever stands out more from the background; along that way
    // the contrast only grows, so halving the interval finds the least change that is enough.
    const bool darker =
        contrastRatio(Qt::black, background) >= contrastRatio(Qt::white, background);
    // Judged as drawn, in 8 bits a channel: rounding may otherwise take the last bit of contrast.
    const auto withLightness = [&wanted](double lightness) {
        return QColor(QColor::fromHslF(wanted.hslHueF(), wanted.hslSaturationF(), lightness).rgb());
    };
    double enough = darker ? 0.0 : 1.0;
    double notEnough = wanted.lightnessF();
    for (int step = 0; step < 24; ++step) {
        const double middle = (enough + notEnough) / 2;
        if (contrastRatio(withLightness(middle), background) >= minimumRatio) {
            enough = middle;
        } else {
            notEnough = middle;
        }
    }
    return withLightness(enough);
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
