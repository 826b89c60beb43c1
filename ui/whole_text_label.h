#pragma once

#include <QLabel>

namespace darq {

// A label that always shows its whole text. A text wider than the label is drawn in a smaller
// size of the label's font rather than losing its leading characters: on the flow display a
// reading of 1234.56 cut to "234.56" would show a different number, and "无数据“" cut to
// "数据“" would say the opposite. The font itself stays as the layout sets it.
class WholeTextLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace darq
