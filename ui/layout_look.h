#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRect>
#include <QString>

namespace darq::look {

// The layout is drawn in twips: 15 of them make one pixel at 96 dots per inch.
constexpr int kTwipsPerPixel = 15;

// A control's place in its container (the client area or a group box's outer corner), from the
// layout's twips.
QRect twips(int left, int top, int width, int height);

// A colour as the layout writes it: &H00BBGGRR& with blue in the high byte and red in the low
// one, or &H800000nn& for the desktop's own colour number nn.
QColor colour(quint32 value);

// Desktop colours the layout refers to by number.
constexpr quint32 kMenuColour = 0x80000004;
constexpr quint32 kWindowBackground = 0x80000005;
constexpr quint32 kWindowText = 0x80000008;
constexpr quint32 kButtonFace = 0x8000000F;
constexpr quint32 kButtonText = 0x80000012;

// WCAG 2's contrast ratio of two colours: 1 for two equal ones up to 21 for black on white.
double contrastRatio(const QColor& one, const QColor& other);
// `wanted` where it stands out from `background` by `minimumRatio` or more; otherwise the colour
// of the same hue and saturation, darker on a light background or lighter on a dark one, that
// just reaches it.
QColor readableOn(const QColor& wanted, const QColor& background, double minimumRatio);

// 宋体 where the machine has it, otherwise a Simplified Chinese serif font, sized in pixels from
// the layout's points at 96 dots per inch so that the text keeps its proportion to the controls.
QFont songFont(qreal points);
// The font of every control whose font the layout leaves to the window: 宋体 9 pt.
QFont defaultFont();
QString songFamily();

// A palette with every colour set, so that a group box's own caption and background colours do
// not run into the controls it holds: they keep the desktop's colours for their kind.
QPalette standardPalette();

} // namespace darq::look
