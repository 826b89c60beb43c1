#pragma once

#include <QGlyphRun>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QRawFont>

namespace darq {

// A label that always shows its whole text. A text wider than the label is drawn in a smaller
// size of the label's font rather than losing its leading characters: on the flow display a
// reading of 1234.56 cut to "234.56" would show a different number, and "无数据“" cut to
// "数据“" would say the opposite. The font itself stays as the layout sets it.
//
// A text that fits is drawn glyph by glyph from images of its glyphs, each made once. The flow
// display's digits are 80 pixels high, above the size up to which Qt's raster engine keeps
// glyphs, so drawn as text they were filled as outlines at every reading; a reading has a dozen
// different glyphs at most.
class WholeTextLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct GlyphKey {
        QRawFont font;
        quint32 glyph;
        QRgb colour;
        qreal pixelRatio;

        bool operator==(const GlyphKey& other) const {
            return glyph == other.glyph && colour == other.colour &&
                   pixelRatio == other.pixelRatio && font == other.font;
        }
    };
    friend size_t qHash(const GlyphKey& key, size_t seed) {
        return qHashMulti(seed, key.font, key.glyph, key.colour, key.pixelRatio);
    }
    struct GlyphImage {
        QImage image;
        QPoint offset; // from the glyph's origin on the baseline to the image's top left
    };

    // Where the text sits in the label, as QLabel puts it.
    QRect textArea() const;
    void layOut();
    const GlyphImage& glyphImage(const QRawFont& font, quint32 glyph, const QColor& colour);

    // The text last laid out, in the font it was laid out in.
    QString laidOutText_;
    QFont laidOutFont_;
    QList<QGlyphRun> runs_;
    QSizeF laidOutSize_;
    QHash<GlyphKey, GlyphImage> glyphs_;
};

} // namespace darq
