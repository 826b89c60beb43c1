#pragma once

#include "ui/whole_text_label.h"

namespace darq {

// The flow display. To assistive technology it is a text whose name says what it shows and whose
// value is the reading shown, so that a screen reader says "Instantaneous flow, 1234.56" rather
// than reading the digits as the display's name.
class ReadingDisplay : public WholeTextLabel {
    Q_OBJECT

public:
    explicit ReadingDisplay(QWidget* parent = nullptr);
};

// Tells assistive technology that `display` shows a new reading, or the no-data text: a screen
// reader announces it as the display's new value. Call it once the text is on display.
void announceReading(QLabel* display);

} // namespace darq
