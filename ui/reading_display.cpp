#include "ui/reading_display.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace darq {

namespace {

class ReadingAccessible : public QAccessibleWidget {
public:
    explicit ReadingAccessible(QLabel* display)
        : QAccessibleWidget(display, QAccessible::StaticText) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) {
            return static_cast<const QLabel*>(widget())->text();
        }
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* readingAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String(ReadingDisplay::staticMetaObject.className())) {
        return new ReadingAccessible(static_cast<ReadingDisplay*>(object));
    }
    return nullptr;
}

} // namespace

ReadingDisplay::ReadingDisplay(QWidget* parent) : WholeTextLabel(parent) {
    // Qt asks its factories for a widget's interface when assistive technology first looks at it;
    // a factory installed twice is kept once.
    QAccessible::installFactory(readingAccessible);
}

void announceReading(QLabel* display) {
    QAccessibleValueChangeEvent event(display, display->text());
    QAccessible::updateAccessibility(&event);
}

} // namespace darq
